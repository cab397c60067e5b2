#!/usr/bin/env bash
# The player test: headless Chromium runs shaka-player and dash.js (pinned in
# package-lock.json) on a video that Debian's ffmpeg packages for DASH and
# HLS, with the tool's thumbnail tracks added. Usage: run.sh BUILD_DIR
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "$1" && pwd)
players=$build/players

for program in /usr/bin/chromium /usr/bin/ffmpeg node npm; do
  if ! command -v "$program" > /dev/null; then
    echo "players: $program is missing; scripts/setup-players.sh installs what this test needs" >&2
    exit 1
  fi
done

# The players, installed from the lock file once per change of it.
mkdir -p "$players"
if ! cmp -s "$here/package-lock.json" "$players/package-lock.json" || [[ ! -d $players/node_modules ]]; then
  cp "$here/package.json" "$here/package-lock.json" "$here/.npmrc" "$players/"
  (cd "$players" && npm ci --no-audit --no-fund --loglevel=error) >&2
fi

exec node "$here/thumbnail_tracks.mjs" "$build"
