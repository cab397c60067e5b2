#!/usr/bin/env bash
# Runs the README's GNU parallel form across machines for real: an sshd of
# its own on 127.0.0.1 (a spare port, keys made here), two logins to it, the
# inputs copied over with --transferfile and the JPEG folders brought back
# with --return. Every good input's pictures must come back, and a broken
# input must be reported without stopping the others.
# Usage: scripts/check-scaleout.sh BUILD_DIR
set -euo pipefail
cd "$(dirname "$0")/.."
build=$(cd "$1" && pwd)
tool=$build/bin/vantor-transcode
fail() { echo "check-scaleout: $*" >&2; exit 1; }
for program in sshd ssh ssh-keygen rsync parallel; do
  command -v "$program" > /dev/null || [[ -x /usr/sbin/$program ]] || fail "$program is not installed (scripts/setup.sh installs it)"
done

work=$(mktemp -d)
sshd_pid=
cleanup() {
  [[ -n $sshd_pid ]] && kill "$sshd_pid" 2> /dev/null
  rm -rf "$work"
}
trap cleanup EXIT

# A port nobody listens on, from the kernel.
port=$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
ssh-keygen -q -t ed25519 -N '' -f "$work/host_key"
ssh-keygen -q -t ed25519 -N '' -f "$work/client_key"
cp "$work/client_key.pub" "$work/authorized_keys"
chmod 600 "$work/authorized_keys"
cat > "$work/sshd_config" <<CONFIG
ListenAddress 127.0.0.1
Port $port
HostKey $work/host_key
AuthorizedKeysFile $work/authorized_keys
PasswordAuthentication no
KbdInteractiveAuthentication no
PermitRootLogin prohibit-password
UsePAM no
StrictModes no
PidFile $work/sshd.pid
CONFIG
mkdir -p /run/sshd  # privilege separation needs it; a fresh machine has no running sshd
/usr/sbin/sshd -D -e -f "$work/sshd_config" 2> "$work/sshd.log" &
sshd_pid=$!

ssh_command="ssh -i $work/client_key -p $port -o StrictHostKeyChecking=no -o UserKnownHostsFile=/dev/null \
-o LogLevel=ERROR -o BatchMode=yes"
user=$(id -un)
for _ in $(seq 50); do
  $ssh_command "$user@127.0.0.1" true 2> /dev/null && break
  sleep 0.1
done
$ssh_command "$user@127.0.0.1" true || { cat "$work/sshd.log" >&2; fail "cannot log in to the test sshd"; }

# Four copies of the bundled clip and one broken input, under relative names.
mkdir -p "$work/local/inputs"
clip=tests/data/h264_high_bframes.mp4
for n in 1 2 3 4; do cp "$clip" "$work/local/inputs/clip$n.mp4"; done
head -c 3000 /dev/urandom > "$work/local/inputs/broken.mp4"
(cd "$work/local" && ls inputs/*.mp4) > "$work/local/list.txt"
read -r frames < <(awk -F'\t' '$1 == "h264_high_bframes.mp4" { print $7 }' tests/data/clips.tsv)

# Two logins to the one host, as two machines with two jobs each. The tool
# has the same path on every machine, as the README asks.
status=0
(cd "$work/local" && parallel --ssh "$ssh_command" --sshlogin "2/$user@127.0.0.1,2/$user@localhost" \
  --workdir ... --transferfile {} --return thumbs/{/} --cleanup --joblog jobs.tsv \
  "$tool" {} -o thumbs/{/} --size 160x90 --fit :::: list.txt) > "$work/parallel.out" 2>&1 || status=$?

[[ $status == 1 ]] || { cat "$work/parallel.out" >&2; fail "parallel's exit status is $status, expected 1 (one failed input)"; }
for n in 1 2 3 4; do
  count=$(find "$work/local/thumbs/clip$n.mp4" -name '*.jpg' 2> /dev/null | wc -l)
  [[ $count == "$frames" ]] || { cat "$work/parallel.out" >&2; fail "clip$n.mp4: $count pictures came back, expected $frames"; }
done
# The broken input is reported with the tool's own message and status.
grep -q 'inputs/broken.mp4' "$work/parallel.out" || fail "the broken input's message did not come back"
awk -F'\t' 'NR > 1 && $9 ~ /broken/ { exit ($7 == 1 ? 0 : 1) }' "$work/local/jobs.tsv" ||
  fail "the job log does not give the broken input exit status 1"
hosts=$(awk -F'\t' 'NR > 1 { print $2 }' "$work/local/jobs.tsv" | sort -u | wc -l)
[[ $hosts == 2 ]] || fail "the jobs ran on $hosts logins, expected 2"
# --cleanup leaves nothing behind on the remote side.
! find ~/.parallel/tmp -mindepth 1 -maxdepth 1 -newer "$work/local/list.txt" 2> /dev/null | grep -q . ||
  fail "--cleanup left job folders in ~/.parallel/tmp"
echo "check-scaleout: 4 inputs came back over two ssh logins, the broken one failed alone"
