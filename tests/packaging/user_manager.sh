# shellcheck shell=bash
# Private systemd user managers for the package test, started by root inside a mount namespace
# of the caller's: /run/systemd/system tells systemd it runs as init, each runtime folder is a
# tmpfs at /run/user/<uid> as logind makes it, and each user gets a cgroup of their own.

# use_user <user> <home>: makes user the one as_user runs commands as, against their manager;
# sets user, group, home, runtime and units for the caller.
use_user() {
    user=$1 home=$2
    group=$(id -gn "$user") runtime=/run/user/$(id -u "$user")
    # shellcheck disable=SC2034 # for the caller
    units=$home/.config/systemd/user
}
as_user() {
    setpriv --reuid="$user" --regid="$group" --clear-groups env HOME="$home" \
        XDG_RUNTIME_DIR="$runtime" PATH=/usr/sbin:/usr/bin:/sbin:/bin "$@"
}

# start_user_manager <user> <home>: starts that user's manager, stopped at exit, and uses the
# user (use_user). Fails when no manager comes up.
start_user_manager() {
    local hierarchy own=()
    use_user "$1" "$2"
    if [[ -z ${managers_run:-} ]]; then
        managers_run=1 managers=() cgroups=()
        mkdir -p /run/systemd /run/user
        mount -t tmpfs tmpfs /run/systemd
        mkdir /run/systemd/system
        mount -t tmpfs -o mode=755 tmpfs /run/user
        trap stop_user_managers EXIT
    fi
    mkdir "$runtime"
    mount -t tmpfs -o mode=700 tmpfs "$runtime"
    chown "$user:$group" "$runtime"
    install -d -o "$user" -g "$group" -m 700 "$home"
    # Hybrid hierarchies (systemd's named one and the unified one), else the unified root.
    for hierarchy in /sys/fs/cgroup/systemd /sys/fs/cgroup/unified /sys/fs/cgroup; do
        [[ -e $hierarchy/cgroup.procs && ! ($hierarchy == /sys/fs/cgroup && ${#own[@]} -gt 0) ]] || continue
        own+=("$hierarchy/brivane-test-$$-$user")
        mkdir "${own[-1]}"
        chown -R "$user" "${own[-1]}"
    done
    cgroups+=("${own[@]}")
    (
        for cgroup in "${own[@]}"; do echo "$BASHPID" >"$cgroup/cgroup.procs"; done
        exec setpriv --reuid="$user" --regid="$group" --clear-groups env -i HOME="$home" \
            XDG_RUNTIME_DIR="$runtime" PATH=/usr/sbin:/usr/bin:/sbin:/bin /lib/systemd/systemd --user
    ) >"$home.manager.log" 2>&1 &
    managers+=($!)
    for _ in $(seq 100); do [[ -S $runtime/systemd/private ]] && return 0; sleep 0.05; done
    return 1
}

# Ends the managers and everything they started, and removes their cgroups.
stop_user_managers() {
    local cgroup
    kill -TERM "${managers[@]}" 2>/dev/null || true
    for _ in $(seq 50); do
        kill -0 "${managers[@]}" 2>/dev/null || break # the first has ended; the kill below ends the rest
        sleep 0.1
    done
    for cgroup in "${cgroups[@]}"; do
        # shellcheck disable=SC2038 # the files hold process ids
        find "$cgroup" -name cgroup.procs -exec cat {} + 2>/dev/null | xargs -r kill -KILL 2>/dev/null || true
    done
    sleep 0.2
    for cgroup in "${cgroups[@]}"; do
        find "$cgroup" -depth -type d -exec rmdir {} + 2>/dev/null || true
    done
}
