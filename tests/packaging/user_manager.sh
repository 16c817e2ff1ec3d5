# shellcheck shell=bash
# A private systemd user manager for the package test, started by root inside a mount namespace
# of the caller's: /run/systemd/system tells systemd it runs as init, the runtime folder is a
# tmpfs at /run/user/<uid> as logind makes it, and a cgroup of its own is given to the user.

# start_user_manager <user> <home>: sets user, home, runtime, units and as_user (runs a command
# as the user against the manager); stops the manager at exit. Fails when no manager comes up.
start_user_manager() {
    local hierarchy
    user=$1
    home=$2
    group=$(id -gn "$user")
    runtime=/run/user/$(id -u "$user")
    # shellcheck disable=SC2034 # for the caller
    units=$home/.config/systemd/user
    mkdir -p /run/systemd /run/user
    mount -t tmpfs tmpfs /run/systemd
    mkdir /run/systemd/system
    mount -t tmpfs -o mode=755 tmpfs /run/user
    mkdir "$runtime"
    mount -t tmpfs -o mode=700 tmpfs "$runtime"
    chown "$user:$group" "$runtime"
    install -d -o "$user" -g "$group" -m 700 "$home"
    as_user() {
        setpriv --reuid="$user" --regid="$group" --clear-groups env HOME="$home" \
            XDG_RUNTIME_DIR="$runtime" PATH=/usr/sbin:/usr/bin:/sbin:/bin "$@"
    }
    cgroups=()
    # Hybrid hierarchies (systemd's named one and the unified one), else the unified root.
    for hierarchy in /sys/fs/cgroup/systemd /sys/fs/cgroup/unified /sys/fs/cgroup; do
        if [[ -e $hierarchy/cgroup.procs && ! ($hierarchy == /sys/fs/cgroup && ${#cgroups[@]} -gt 0) ]]; then
            mkdir "$hierarchy/brivane-test-$$"
            chown -R "$user" "$hierarchy/brivane-test-$$"
            cgroups+=("$hierarchy/brivane-test-$$")
        fi
    done
    trap stop_user_manager EXIT
    (
        for cgroup in "${cgroups[@]}"; do
            echo "$BASHPID" >"$cgroup/cgroup.procs"
        done
        exec setpriv --reuid="$user" --regid="$group" --clear-groups env -i HOME="$home" \
            XDG_RUNTIME_DIR="$runtime" PATH=/usr/sbin:/usr/bin:/sbin:/bin /lib/systemd/systemd --user
    ) >"$home.manager.log" 2>&1 &
    manager=$!
    for _ in $(seq 100); do
        [[ -S $runtime/systemd/private ]] && return 0
        sleep 0.05
    done
    return 1
}

# Ends the manager and everything it started, and removes its cgroups.
stop_user_manager() {
    local cgroup
    kill -TERM "$manager" 2>/dev/null || true
    for _ in $(seq 50); do
        kill -0 "$manager" 2>/dev/null || break
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
