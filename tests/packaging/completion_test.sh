#!/usr/bin/env bash
# The words the bash completion offers, with a stand-in disk tool listing two disks, failing, gone.
# usage: completion_test.sh <completion script>
set -euo pipefail
script=$(readlink -f "$1")
# Installed under a path with blanks and shell-special characters, which the script must quote.
scratch=$(mktemp -d "${TMPDIR:-/tmp}/brivane completion \$x;(&)*%'\".XXXXXX")
trap 'rm -rf "$scratch"' EXIT
tools="$scratch/bin/Brivane Sensor Companion.app/Contents/MacOS/brivane-system-tools"
mkdir -p "${tools%/*}"
cat >"$tools" <<'EOF'
#!/bin/sh
[ "$1 $2" = "diskutil list" ] && printf "disk0\tsda\ndisk1\tvda\n"
EOF
printf '#!/bin/sh\n' >"$scratch/bin/brivane-sensors"
chmod +x "$tools" "$scratch/bin/brivane-sensors"

# Counts a failure unless completing $1 (cursor at its end) offers exactly $2.
failures=0
check() {
    local got
    got=$(PATH="$scratch/bin:$PATH" bash -c '
        source "$1"
        read -ra COMP_WORDS <<<"$2"
        [[ $2 == *" " ]] && COMP_WORDS+=("")
        COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
        function=$(complete -p "${COMP_WORDS[0]}" | sed "s/.*-F \([^ ]*\) .*/\1/")
        "$function"
        echo "${COMPREPLY[*]}"' _ "$script" "$1")
    if [[ $got != "$2" ]]; then
        echo "completing '$1': got '$got', expected '$2'" >&2
        failures=$((failures + 1))
    fi
}

check "brivane-sensors " "snapshot cpu processes storage manage watch metrics export record history alerts"
check "brivane-sensors h" "history"
check "brivane-sensors history --since 3h --c" "--csv"
check "brivane-sensors history 'k10temp*' --until 07:00 --p" "--plot"
check "brivane-sensors history --since " ""
check "brivane-sensors alerts --d" "--defaults"
check "brivane-sensors record --i" "--interval"
check "brivane-sensors record --c" ""
check "brivane-sensors --raw s" "snapshot storage"
check "brivane-sensors --team T1 m" "manage metrics"
check "brivane-sensors --t" "--team --timeout"
check "brivane-sensors --listen 127.0.0.1:9 e" "export"
check "brivane-sensors processes " "memory storage energy gpu"
check "brivane-sensors storage " "disk0 disk1"
check "brivane-sensors manage " "checkForUpdates installUpdate"
check "brivane-sensors watch " "snapshot cpu processes storage"
check "brivane-sensors watch processes e" "energy"
check "brivane-sensors processes g" "gpu"
check "brivane-sensors cpu " ""
cd "$scratch" && touch night.svg
check "brivane-sensors history --plot ni" "night.svg"
check "brivane-sensor-companion --" "--status --enable --install --disable --agent --version --help"
printf '#!/bin/sh\necho "usage: diskutil"\nexit 64\n' >"$tools"
check "brivane-sensors storage " ""
rm "$tools"
check "brivane-sensors storage " ""
exit $((failures > 0))
