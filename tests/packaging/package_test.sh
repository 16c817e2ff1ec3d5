#!/usr/bin/env bash
# Packs the built tree as a Debian package, checks its contents and dependencies, and runs the
# commands unpacked into a scratch root: versions, registration, and a snapshot from the agent
# the written units socket-activate.
# usage: package_test.sh <source dir> <build dir> <version>
set -euo pipefail
source=$1
build=$2
version=$3
app="Brivane Sensor Companion.app"
agent_in_root="usr/lib/brivane/$app/Contents/MacOS/brivane-sensor-companion"

scratch=$(mktemp -d "${TMPDIR:-/tmp}/brivane-package.XXXXXX")
activator=""
cleanup() {
    if [[ -n $activator ]]; then
        kill -TERM -- "-$activator" 2>/dev/null || true
        wait "$activator" 2>/dev/null || true
    fi
    rm -rf "$scratch"
}
trap cleanup EXIT
fail() {
    echo "package test: $*" >&2
    exit 1
}

cpack -G DEB --config "$build/CPackConfig.cmake" -B "$scratch/out" >"$scratch/cpack.log" 2>&1 ||
    { cat "$scratch/cpack.log" >&2; fail "cpack failed"; }
deb=("$scratch"/out/brivane-sensor-companion_"$version"_*.deb)
[[ -f ${deb[0]} ]] || fail "no package in $scratch/out"
dpkg-deb -c "${deb[0]}" >"$scratch/contents"
# The commands, the signature and the bundle are run or compared below; these are not.
packaged=(share/man/man1/brivane-sensors.1 share/man/man1/brivane-sensor-companion.1
    share/bash-completion/completions/brivane-sensors)
for unit in "$source"/packaging/systemd/user/*; do
    packaged+=("lib/systemd/user/${unit##*/}")
done
for path in "${packaged[@]}"; do
    grep -qF -- " ./usr/$path" "$scratch/contents" || fail "missing from the package: $path"
done
! grep -q '\.wants/' "$scratch/contents" || fail "the package enables a unit"
depends=$(dpkg-deb -f "${deb[0]}" Depends)
for library in libc6 libcurl4 libplist3 libssl3; do
    [[ $depends == *"$library "* ]] || fail "Depends lacks $library: $depends"
done
if [[ $(id -u) -eq 0 ]] && command -v apt-get >/dev/null; then
    apt-get install -s "${deb[0]}" >"$scratch/apt.log" 2>&1 ||
        { cat "$scratch/apt.log" >&2; fail "apt cannot install the package"; }
fi

root=$scratch/root
dpkg-deb -x "${deb[0]}" "$root"
# Every bundle file arrives byte for byte, so the signatures stay valid.
(cd "$build/bundle/$app" && find . -type f -exec sha256sum {} +) | sort -k2 >"$scratch/built"
(cd "$root/usr/lib/brivane/$app" && find . -type f -exec sha256sum {} +) | sort -k2 >"$scratch/got"
diff "$scratch/built" "$scratch/got" || fail "the installed bundle differs from the built one"
"$root/usr/lib/brivane/$app/Contents/MacOS/brivane-codesign" verify \
    "$root/usr/lib/brivane/brivane-sensors" >/dev/null || fail "the installed client's signature"

# Only the exporter, which `brivane-sensors export` hands over to, loads an HTTP server.
needed() { readelf -d "$1" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p'; }
needed "$root/usr/lib/brivane/brivane-sensors-export" | grep -q civetweb || fail "exporter links"
! needed "$root/usr/lib/brivane/brivane-sensors" | grep -qE 'civetweb|prometheus' ||
    fail "the client links an HTTP server"

for command in brivane-sensors brivane-sensor-companion; do
    [[ $("$root/usr/bin/$command" --version) == "$command $version" ]] || fail "$command --version"
done

# The agent refuses root: as root, everything below runs as nobody. No user manager runs here:
# a systemctl on PATH stands in for it, noting each call, and fails while no-manager exists.
chmod 755 "$scratch"
mkdir -m 700 "$scratch/home" "$scratch/run"
mkdir -m 755 "$scratch/bin"
printf '#!/bin/sh\necho "$*" >>"%s/systemctl.log"\n[ ! -e "%s/no-manager" ]\n' \
    "$scratch" "$scratch" >"$scratch/bin/systemctl"
chmod 755 "$scratch/bin/systemctl"
install -m 666 /dev/null "$scratch/systemctl.log"
as_user=(env HOME="$scratch/home" XDG_CONFIG_HOME="$scratch/home/.config"
    XDG_RUNTIME_DIR="$scratch/run" PATH="$scratch/bin":/usr/sbin:/usr/bin:/sbin:/bin)
if [[ $(id -u) -eq 0 ]]; then
    chown nobody:"$(id -gn nobody)" "$scratch/home" "$scratch/run"
    as_user=(setpriv --reuid=nobody --regid="$(id -gn nobody)" --clear-groups "${as_user[@]}")
fi
companion() { "${as_user[@]}" "$root/usr/bin/brivane-sensor-companion" "$@"; }

[[ $(companion --status) == disabled ]] || fail "--status before --install"
units=$scratch/home/.config/systemd/user
label=dev.qorva.brivane.SensorCompanion
touch "$scratch/no-manager"
! companion --install 2>"$scratch/refused" && grep -q "not reachable" "$scratch/refused" &&
    [[ ! -e $units/$label.service ]] || fail "--install without a user manager"
rm "$scratch/no-manager"
[[ $(companion --install) == enabled ]] || fail "--install"
grep -qx -- "--user start $label.socket" "$scratch/systemctl.log" || fail "the socket was not started"
[[ -L $units/sockets.target.wants/$label.socket ]] || fail "the socket unit is not enabled"
grep -qF "ExecStart=\"$root/$agent_in_root\" \"--agent\"" "$units/$label.service" ||
    fail "the service does not run the installed agent: $(cat "$units/$label.service")"
"${as_user[@]}" systemd-analyze verify --user "$units/$label.socket" "$units/$label.service" ||
    fail "systemd-analyze rejects the units"

# No user manager runs here: systemd's own activator stands in for it, with the socket and
# command of the units, and starts the agent on the first connection.
socket=$(sed -n 's/^ListenStream=%t\//\//p' "$units/$label.socket")
"${as_user[@]}" setsid systemd-socket-activate -l "$scratch/run$socket" \
    "$root/$agent_in_root" --agent >"$scratch/activator.log" 2>&1 &
activator=$!
for _ in $(seq 100); do
    [[ -S $scratch/run$socket ]] && break
    sleep 0.05
done
"${as_user[@]}" "$root/usr/bin/brivane-sensors" --timeout 20 snapshot >"$scratch/snapshot" ||
    { cat "$scratch/activator.log" >&2; fail "no snapshot through the activated agent"; }
grep -q "^Brivane Sensor Companion $version " "$scratch/snapshot" ||
    fail "$(cat "$scratch/snapshot")"

companion --disable || fail "--disable"
[[ ! -e $units/$label.service && $(companion --status) == disabled ]] || fail "units left behind"
echo "package test: passed"
