#!/usr/bin/env bash
# The maintainer scripts against users who keep them waiting: daemon's manager takes connections
# and never answers; nobody's systemctl ignores SIGTERM and stops its parent (a user may stop,
# or trace, whatever runs as them); sys's agent leaves a process holding its output open. bin's
# manager answers. postinst and prerm must end within their limits (shortened here), skip each
# silent user with one line and still reach every other; with no time left for the whole
# walk, the remaining users are named in one line.
# usage: maintainer_scripts_test.sh <folder of the generated maintainer scripts>
set -euo pipefail
scripts=$1
fail() {
    echo "maintainer scripts test: $*" >&2
    exit 1
}
if [[ ${2:-} != --inside ]]; then
    if [[ $(id -u) -ne 0 ]] || ! unshare --mount true 2>/dev/null; then
        echo "maintainer scripts test: skipped, it needs root"
        exit 77
    fi
    exec unshare --mount --propagation private bash "$0" "$scripts" --inside
fi

scratch=$(mktemp -d "${TMPDIR:-/tmp}/brivane-maintainer.XXXXXX")
chmod 755 "$scratch"
install -d -m 1777 "$scratch/pids"
install -m 666 /dev/null "$scratch/calls"
listener=
cleanup() {
    # shellcheck disable=SC2046 # pids
    kill -KILL $listener $(cat "$scratch"/pids/* 2>/dev/null) 2>/dev/null || true
    rm -rf "$scratch"
}
trap cleanup EXIT

mkdir -p /run/user
mount -t tmpfs -o mode=755 tmpfs /run/user
sockets=()
for who in daemon bin sys nobody; do
    runtime=/run/user/$(id -u "$who")
    install -d -o "$who" -m 700 "$runtime" "$runtime/systemd"
    sockets+=("$runtime/systemd/private")
done
# Sockets that take connections and never answer.
/usr/bin/python3 -c '
import os, socket, sys, time
held = []
for path in sys.argv[1:]:
    s = socket.socket(socket.AF_UNIX)
    s.bind(path)
    os.chmod(path, 0o666)
    s.listen(64)
    held.append(s)
time.sleep(600)' "${sockets[@]}" &
listener=$!
for socket in "${sockets[@]}"; do
    for _ in $(seq 100); do [[ -S $socket ]] && break; sleep 0.05; done
done

mkdir "$scratch/bin"
cat >"$scratch/bin/systemctl" <<FAKE
#!/bin/sh
echo "\$(id -un) systemctl \$*" >>"$scratch/calls"
case \$(id -un) in
daemon) exec /usr/bin/systemctl "\$@" ;;
nobody)
    trap '' TERM
    kill -STOP "\$PPID" 2>/dev/null
    echo \$\$ >>"$scratch/pids/systemctl"
    exec sleep 300
    ;;
esac
exit 0
FAKE
# The system's own tools, recorded rather than run: no account or unit of this machine changes.
for tool in adduser deluser delgroup deb-systemd-invoke deb-systemd-helper; do
    # shellcheck disable=SC2016 # expanded by the fake, when it runs
    printf '#!/bin/sh\necho "$(id -un) %s $*" >>"%s/calls"\n' "$tool" "$scratch" >"$scratch/bin/$tool"
    chmod 755 "$scratch/bin/$tool"
done
agent="$scratch/root/usr/lib/brivane/Brivane Sensor Companion.app/Contents/MacOS/brivane-sensor-companion"
mkdir -p "${agent%/*}" "$scratch/root/var/lib"
cat >"$agent" <<FAKE
#!/bin/sh
echo "\$(id -un) agent \$*" >>"$scratch/calls"
if [ "\$1" = --status ]; then
    if [ "\$(id -un)" = sys ]; then
        setsid sleep 300 &
        echo \$! >>"$scratch/pids/agent"
    fi
    echo enabled
fi
exit 0
FAKE
chmod 755 "$scratch/bin/systemctl" "$agent"
chmod -R a+rX "$scratch/root"

# run <script> <argument> <loop limit>: the script with limits of 3 s per user (1 s grace) and
# the loop limit given; stderr into $scratch/err. Fails when it outlives every limit.
run() {
    sed -e 's/^user_limit=30 /user_limit=3 /' -e 's/^grace=5 /grace=1 /' \
        -e "s/^loop_limit=120 /loop_limit=$3 /" "$scripts/$1" >"$scratch/$1"
    : >"$scratch/calls"
    local start=$SECONDS
    PATH="$scratch/bin:$PATH" DPKG_ROOT="$scratch/root" timeout -k 1 40 sh "$scratch/$1" "$2" \
        >/dev/null 2>"$scratch/err" || fail "$1 $2 exits $? after $((SECONDS - start)) s: $(cat "$scratch/err")"
    took=$((SECONDS - start))
}
skipped() { grep -c "skipped" "$scratch/err" || true; }
called() { grep -qxF "$1" "$scratch/calls" || fail "$2 never ran '$1': $(cat "$scratch/calls")"; }

run postinst configure 60
((took <= 15)) || fail "postinst took $took s"
if ! grep -q "skipped daemon," "$scratch/err" || ! grep -q "skipped nobody," "$scratch/err" ||
    [[ $(skipped) != 2 ]]; then
    fail "postinst's lines: $(cat "$scratch/err")"
fi
for who in bin sys; do
    called "$who systemctl --user try-restart dev.qorva.brivane.SensorCompanion.service brivane-sensors-export.service brivane-sensors-record.service" postinst
done
called "root adduser --quiet --system --group --no-create-home --home /nonexistent --gecos Brivane sensors, machine-wide brivane-sensors" postinst

textfiles=$scratch/root/var/lib/brivane-textfile
install -d -m 1777 "$textfiles"
touch "$textfiles/brivane-bin.prom" "$textfiles/brivane-machine.prom"
run prerm remove 60
((took <= 15)) || fail "prerm took $took s"
[[ $(skipped) == 2 ]] || fail "prerm's lines: $(cat "$scratch/err")"
for who in bin sys; do called "$who agent --disable" prerm; done
# Removal takes the textfiles but keeps the folder node_exporter reads; a purge takes it too,
# unless something else keeps files there.
[[ -d $textfiles && -z $(ls -A "$textfiles") ]] || fail "after prerm remove: $(ls -A "$textfiles" 2>&1)"
touch "$textfiles/brivane-bin.prom" "$textfiles/other.prom"
run postrm purge 60
[[ $(ls -A "$textfiles") == other.prom ]] || fail "postrm purge beside another file: $(ls -A "$textfiles" 2>&1)"
rm "$textfiles/other.prom"
run postrm purge 60
[[ ! -e $textfiles ]] || fail "the textfile folder stays after postrm purge"

# The walk's own limit: the first silent user takes it all, the rest are named at once.
run postinst configure 2
((took <= 6)) || fail "postinst with no time left took $took s"
grep -q "no time was left for the service managers of: bin sys nobody$" "$scratch/err" ||
    fail "postinst with no time left: $(cat "$scratch/err")"
echo "maintainer scripts test: passed"
