# shellcheck shell=sh
# The calls into users' service managers, written into postinst and prerm where they say
# @USER_MANAGERS@. A user's command runs under root's timeout, which kills it after a grace:
# the user's own processes may stop or trace anything that runs as that user (a timeout of
# theirs included), but not root's. A user whose manager does not answer in time is skipped
# with one line, and the walk over all users has a budget of its own, so that no user can hold
# dpkg, or any later upgrade, for long.
user_limit=30  # seconds for all calls into one user's manager
grace=5        # seconds after the limit until what still runs is killed
loop_limit=120 # seconds for all users together

# each_user_manager <function>: calls the function once for every user but root whose service
# manager runs, with user and runtime set; the function's as_user calls share the user's time.
each_user_manager() {
    loop_end=$(($(date +%s) + loop_limit))
    late=""
    for private in /run/user/*/systemd/private; do
        [ -S "$private" ] || continue
        runtime=${private%/systemd/private}
        user=$(stat -c %U "$runtime" 2>/dev/null) || continue
        case $user in root | UNKNOWN) continue ;; esac
        now=$(date +%s)
        if [ "$now" -ge "$loop_end" ]; then
            late="$late $user"
            continue
        fi
        user_end=$((now + user_limit))
        [ "$user_end" -le "$loop_end" ] || user_end=$loop_end
        answering=yes
        "$1" || true
        [ "$answering" = yes ] ||
            echo "brivane-sensor-companion: skipped $user, whose service manager did not answer in time" >&2
    done
    [ -z "$late" ] || echo "brivane-sensor-companion: no time was left for the service managers of:$late" >&2
}

# as_user_into <file> <command...>: runs the command as $user against that user's manager,
# standard output into the file, within what is left of the user's time. Nothing the user runs
# holds a pipe of ours, so a process of theirs that outlives the kill cannot keep us waiting.
# Once a call runs out of time, the user's further calls fail at once.
as_user_into() {
    output=$1
    shift
    [ "$answering" = yes ] || return 1
    left=$((user_end - $(date +%s)))
    if [ "$left" -le 0 ]; then
        answering=no
        return 1
    fi
    call_status=0
    timeout -k "$grace" "$left" runuser -u "$user" -- env XDG_RUNTIME_DIR="$runtime" "$@" \
        </dev/null >"$output" 2>/dev/null || call_status=$?
    # 124: ended by the limit; 137: killed after the grace (timeout kills itself with it).
    case $call_status in 124 | 137) answering=no ;; esac
    return "$call_status"
}

# as_user <command...>: as_user_into, the output discarded.
as_user() {
    as_user_into /dev/null "$@"
}
