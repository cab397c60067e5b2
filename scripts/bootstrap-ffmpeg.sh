#!/usr/bin/env bash
# Provides FFmpeg 7.1 (libavcodec 61, libavutil 59, libswscale 8, ...) for the build.
#
# Debian 12 ships FFmpeg 5.1, so unless pkg-config already finds the right
# majors we build a minimal LGPL FFmpeg from Debian's own trixie source
# package into a cache prefix shared by every clone on the machine.
#
# Prints the prefix to use (empty when the system's FFmpeg fits) on stdout.
#
# Variables:
#   VANTOR_FFMPEG_CACHE  cache directory (default: $HOME/.cache/vantor-ffmpeg)
#   VANTOR_FFMPEG_ARCH   "native" (default) or "aarch64" for a cross build
set -euo pipefail

readonly VERSION=7.1.5
readonly DEB_VERSION=7:7.1.5-0+deb13u1
readonly ORIG_SHA256=de668509caf9e35e3cd162473441fdb29538c6d96ed080292b3cf9e6fc5d558f
readonly ARCH=${VANTOR_FFMPEG_ARCH:-native}
readonly CACHE=${VANTOR_FFMPEG_CACHE:-$HOME/.cache/vantor-ffmpeg}

log() { echo "bootstrap-ffmpeg: $*" >&2; }

wanted_majors() {
  pkg-config --exists 'libavcodec >= 61' 'libavcodec < 62' \
    'libavutil >= 59' 'libavutil < 60' 'libswscale >= 8' 'libswscale < 9' \
    'libswresample >= 5' 'libswresample < 6' 'libavformat >= 61' 'libavformat < 62' \
    'libavfilter >= 10' 'libavfilter < 11' 'libavdevice >= 61' 'libavdevice < 62' 2>/dev/null
}

configure_flags() {
  local flags=(
    --disable-everything --disable-doc --disable-static --enable-shared
    --disable-gpl --disable-nonfree --disable-autodetect --disable-debug
    --enable-pic --enable-pthreads
    --enable-avcodec --enable-avutil --enable-swscale --enable-swresample
    --enable-avformat --enable-avfilter --enable-avdevice
    --enable-ffmpeg --enable-ffprobe --disable-ffplay
    --enable-decoder=h264,hevc,mjpeg,rawvideo,wrapped_avframe
    --enable-encoder=mjpeg,rawvideo,wrapped_avframe
    --enable-parser=h264,hevc,mjpeg
    --enable-demuxer=mov,matroska,mpegts,flv,h264,hevc,rawvideo
    --enable-muxer=framemd5,rawvideo,image2,null,mp4,matroska
    --enable-protocol=file,pipe
    --enable-bsf=h264_mp4toannexb,hevc_mp4toannexb
    --enable-filter=scale,pad,format,fps,null,testsrc2,aresample
    --enable-indev=lavfi
  )
  if [[ $ARCH == aarch64 ]]; then
    flags+=(--enable-cross-compile --arch=aarch64 --target-os=linux
            --cross-prefix=aarch64-linux-gnu- --enable-neon)
  else
    flags+=(--enable-x86asm)
  fi
  printf '%s\n' "${flags[@]}"
}

if [[ $ARCH == native ]] && wanted_majors; then
  log "pkg-config finds FFmpeg 7.1's majors; using the system's FFmpeg"
  echo ""
  exit 0
fi

# The stamp keys the cached prefix on version and configuration, so any
# clone reuses it while both match and rebuilds when either changes.
stamp_text="$VERSION $ARCH $(configure_flags | tr '\n' ' ')"
key=$(echo "$stamp_text" | sha256sum | cut -c1-16)
prefix=$CACHE/$VERSION-$ARCH-$key
if [[ -f $prefix/.complete ]]; then
  log "reusing $prefix"
  echo "$prefix"
  exit 0
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# A private apt state: the machine's own apt configuration stays untouched,
# and the mirror comes from that configuration rather than from this repo.
uri=$(awk '/^URIs:/ { print $2; exit }' /etc/apt/sources.list.d/*.sources 2>/dev/null || true)
if [[ -z $uri ]]; then
  uri=$(awk '$1 == "deb" { print $2; exit }' /etc/apt/sources.list 2>/dev/null || true)
fi
[[ -n $uri ]] || { log "cannot find a Debian mirror in the apt configuration"; exit 1; }
mkdir -p "$work/lists/partial" "$work/parts" "$work/cache/archives/partial" "$work/src"
cat > "$work/parts/trixie.sources" <<SRC
Types: deb-src
URIs: $uri
Suites: trixie
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg
SRC
apt_opts=(-o APT::Sandbox::User=root -o "Dir::State::Lists=$work/lists" -o "Dir::Etc::SourceParts=$work/parts"
          -o Dir::Etc::SourceList=/dev/null -o "Dir::Cache=$work/cache")
log "downloading Debian's ffmpeg $DEB_VERSION source"
apt-get "${apt_opts[@]}" -qq update >&2
(cd "$work/src" && apt-get "${apt_opts[@]}" -qq source --download-only "ffmpeg=$DEB_VERSION" >&2)
tarball=$work/src/ffmpeg_$VERSION.orig.tar.xz
echo "$ORIG_SHA256  $tarball" | sha256sum --check --quiet >&2 \
  || { log "SHA-256 of $tarball does not match the pinned value"; exit 1; }

tar -xJf "$tarball" -C "$work/src"
srcdir=$(find "$work/src" -maxdepth 1 -type d -name 'ffmpeg-*' | head -1)
log "configuring and building into $prefix"
start=$(date +%s)
rm -rf "$prefix.tmp"
(
  cd "$srcdir"
  mapfile -t flags < <(configure_flags)
  ./configure --prefix="$prefix" "${flags[@]}" >&2
  make -j"$(nproc)" >&2
  make install >&2
)
echo "$stamp_text" > "$prefix/.complete"
log "built in $(( $(date +%s) - start )) s"
echo "$prefix"
