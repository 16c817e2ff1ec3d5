#!/usr/bin/env bash
# Every user unit the package ships, the agent's as the binary writes them for the installed
# bundle: systemd's offline security review rates each no worse than the confinement a user
# manager can apply without a user namespace gives it (units without any rate 9.6 and above).
# usage: units_test.sh <brivane-unit-files> <launch-agent plist> <packaging/systemd/user>
set -euo pipefail
scratch=$(mktemp -d "${TMPDIR:-/tmp}/brivane-units.XXXXXX")
trap 'rm -rf "$scratch"' EXIT
"$1" "$2" "/usr/lib/brivane/Brivane Sensor Companion.app" "$scratch"
cp "$3"/* "$scratch"
mkdir -m 700 "$scratch/run"

failures=0
# The highest exposure each service may have (systemd's scale: 0 safe to 10 unsafe).
for limit in dev.qorva.brivane.SensorCompanion.service=6.3 brivane-sensors-export.service=6.2 \
    brivane-sensors-metrics.service=5.9; do
    unit=${limit%=*}
    review=$(XDG_RUNTIME_DIR=$scratch/run systemd-analyze security --user --offline=true \
        "$scratch/$unit" 2>&1) || true
    exposure=$(sed -n 's/.*Overall exposure level for .*: \([0-9.]*\) .*/\1/p' <<<"$review")
    echo "$unit: exposure ${exposure:-unknown} (at most ${limit#*=})"
    if [[ -z $exposure ]] || ! awk -v e="$exposure" -v l="${limit#*=}" 'BEGIN { exit !(e <= l) }'
    then
        echo "$review" >&2
        failures=$((failures + 1))
    fi
done
exit $((failures > 0))
