#!/usr/bin/env bash
# Checks every deliverable of a build tree: its machine, and the run path
# "$ORIGIN/../lib". Usage: check-elf.sh BUILD_DIR MACHINE (e.g. AArch64, X86-64).
set -euo pipefail
build=$1
machine=$2
status=0
shopt -s nullglob
for file in "$build"/lib/libvantor*.so "$build"/lib/libpellix.so "$build"/plugins/*.so "$build"/bin/vantor-transcode; do
  actual=$(readelf -h "$file" | awk -F: '/Machine:/ { gsub(/^ +/, "", $2); print $2 }')
  runpath=$(readelf -d "$file" | sed -n 's/.*(RUNPATH).*\[\(.*\)\]/\1/p')
  if [[ $actual != *"$machine"* || $runpath != '$ORIGIN/../lib' ]]; then
    echo "check-elf: $file: machine '$actual', RUNPATH '$runpath'" >&2
    status=1
  else
    echo "check-elf: $file: $actual, RUNPATH $runpath"
  fi
done
exit $status
