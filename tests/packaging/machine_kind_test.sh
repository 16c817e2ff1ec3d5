#!/usr/bin/env bash
# What scripts/machine-kind says of roots without systemd-detect-virt's help.
# usage: machine_kind_test.sh <scripts/machine-kind>
set -euo pipefail
script=$1
scratch=$(mktemp -d) && trap 'rm -rf "$scratch"' EXIT
failures=0
# check <expected kind> <file=content>...: a root holding just those files.
check() {
    local expected=$1 root && shift
    root=$(mktemp -d "$scratch/root.XXXXXX")
    for file in "$@"; do
        mkdir -p "$root/$(dirname "${file%%=*}")" && echo "${file#*=}" >"$root/${file%%=*}"
    done
    [[ $("$script" "$root") == "$expected" ]] || { echo "not '$expected': $*" >&2; failures=$((failures + 1)); }
}
dmi=sys/class/dmi/id
check "QEMU/KVM virtual machine" "$dmi/sys_vendor=QEMU" "proc/cpuinfo=flags : hypervisor"
check "Hyper-V virtual machine" "$dmi/sys_vendor=Microsoft Corporation" "$dmi/product_name=Virtual Machine"
check "virtual machine (hypervisor unknown)" "proc/cpuinfo=flags : fpu vme hypervisor lahf_lm"
check "Docker container" ".dockerenv=" "proc/cpuinfo=flags : hypervisor"
check "" "$dmi/sys_vendor=LENOVO" "proc/cpuinfo=flags : fpu vme"
exit "$failures"
