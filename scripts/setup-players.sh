#!/usr/bin/env bash
# What the player test (tests/players) needs on an x86-64 machine: Debian's
# chromium to run the players headless, Debian's ffmpeg to make and package
# the test's video, and node and npm to install the players from their lock
# file. Elsewhere the test is not built, and nothing is installed.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/lib.sh

[[ $(dpkg --print-architecture) == amd64 ]] || exit 0
packages=(chromium ffmpeg)
# A machine may have node and npm from elsewhere; Debian's are enough.
command -v node > /dev/null || packages+=(nodejs)
command -v npm > /dev/null || packages+=(npm)
ensure_packages setup-players "${packages[@]}"
