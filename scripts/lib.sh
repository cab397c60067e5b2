# Shared by the project's scripts (source it; bash only).
#
#   ensure_packages NAME PACKAGE...  installs the Debian packages not yet
#                                    installed; NAME prefixes its messages
#   ffmpeg_prefix_of BUILD_DIR       prints the FFmpeg prefix of a build tree,
#                                    running scripts/setup.sh once per tree
#                                    and keeping its answer in .ffmpeg-prefix

ensure_packages() {
  local name=$1
  shift
  local missing=()
  for package in "$@"; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" \
      || missing+=("$package")
  done
  if ((${#missing[@]})); then
    echo "$name: installing ${missing[*]}" >&2
    apt-get update -qq >&2
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}" >&2
  fi
}

ffmpeg_prefix_of() {
  local dir=$1
  mkdir -p "$dir"
  if [[ ! -f $dir/.ffmpeg-prefix ]]; then
    scripts/setup.sh > "$dir/.ffmpeg-prefix.tmp"
    mv "$dir/.ffmpeg-prefix.tmp" "$dir/.ffmpeg-prefix"
  fi
  cat "$dir/.ffmpeg-prefix"
}
