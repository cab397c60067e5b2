#!/usr/bin/env bash
# Makes the real-world input corpus: the kinds of files users have (phone
# videos, trimmed clips, stream segments, broken files), small and synthetic,
# made with Debian's ffmpeg, x264 and x265, and the reference results of
# Debian's ffmpeg for each (see corpus_lib.sh).
#
# Usage: tests/data/corpus/make_corpus.sh [SECTION...]
#   With no argument every section (make_<section>.sh here) runs.
set -euo pipefail

HERE=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
source "$HERE/../../../scripts/lib.sh"
ensure_packages corpus ffmpeg x264 x265
source "$HERE/corpus_lib.sh"

sections=("$@")
if ((${#sections[@]} == 0)); then
  for script in "$HERE"/make_*.sh; do
    name=$(basename "$script" .sh)
    [[ $name == make_corpus ]] || sections+=("${name#make_}")
  done
fi
for section in "${sections[@]}"; do
  echo "make_corpus.sh: section $section"
  WORK_DIR=$(mktemp -d)
  # shellcheck source=/dev/null
  (cd "$WORK_DIR" && source "$HERE/make_$section.sh")
  rm -rf "$WORK_DIR"
done
