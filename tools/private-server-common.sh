# What pulse-null-sink.sh and pipewire-null-sink.sh share, sourced by both: the private folders,
# the background supervisor's watch over OWNER_PID, stopping with a kill as the last resort, and
# the command line. A sourcing script sets `usage_text` and defines start DIR ... and
# stop_server DIR TERM|KILL (which ends every process it started and removes their pid files),
# then calls `run_server_command "$@"`.

readonly stop_timeout_s=5

usage() {
    echo "usage: $0 $usage_text" >&2
    exit 2
}

# A process that ended but was not reaped (PID 1 in a container may never reap) still answers
# kill -0, so its state is read instead.
alive() {
    local stat
    stat=$(cat "/proc/$1/stat" 2>/dev/null) || return 1
    [[ "${stat##*) }" != Z* ]]
}

wait_gone() {
    local pid=$1 deadline=$((SECONDS + $2))
    while alive "$pid"; do
        ((SECONDS < deadline)) || return 1
        sleep 0.05
    done
}

wait_for_file() {
    local path=$1 deadline=$((SECONDS + $2))
    until [[ -e "$path" ]]; do
        ((SECONDS < deadline)) || return 1
        sleep 0.02
    done
}

# require_tool TOOL [PACKAGE]: fails, saying so, when TOOL is not on the PATH.
require_tool() {
    command -v "$1" >/dev/null && return 0
    echo "$1${2:+ ($2)} is not installed" >&2
    return 1
}

# Makes DIR with its home, runtime and state folders and prints its absolute path; fails when the
# process PID_FILE names is still alive, since two servers cannot share one DIR.
prepare_dir() {
    local dir=$1 pid_file=$2
    mkdir -p "$dir/home" "$dir/runtime" "$dir/state"
    dir=$(cd "$dir" && pwd)
    if [[ -f "$dir/$pid_file" ]] && alive "$(cat "$dir/$pid_file")"; then
        echo "a server is already running in $dir" >&2
        return 1
    fi
    echo "$dir"
}

# For the supervisor: the server's processes see DIR's folders, never the desktop's, and reach no
# desktop server or display.
use_private_folders() {
    local dir=$1 config=$2
    export HOME=$dir/home XDG_RUNTIME_DIR=$dir/runtime XDG_STATE_HOME=$dir/state
    export XDG_CONFIG_HOME=$config
    unset PULSE_SERVER DISPLAY
}

# stop_pid_file NAME PID_FILE SIGNAL: ends the process PID_FILE names and removes the file; KILL
# when SIGNAL is not obeyed in time. Fails if even that does not end it.
stop_pid_file() {
    local name=$1 pid_file=$2 signal=$3 pid
    [[ -f "$pid_file" ]] || return 0
    pid=$(cat "$pid_file")
    # A stopped (SIGSTOP) process must be able to act on the signal.
    kill "-$signal" "$pid" 2>/dev/null || true
    kill -CONT "$pid" 2>/dev/null || true
    if ! wait_gone "$pid" "$stop_timeout_s"; then
        kill -KILL "$pid" 2>/dev/null || true
        wait_gone "$pid" "$stop_timeout_s" || { echo "$name ($pid) does not stop" >&2; return 1; }
    fi
    rm -f "$pid_file"
}

# watch_until_ended DIR OWNER PID...: the supervisor's loop, the parent of every PID, so each is
# reaped however it ends. Returns once all have ended; stops them when OWNER (if given) ends.
watch_until_ended() {
    local dir=$1 owner=$2 any pid
    shift 2
    while :; do
        any=0
        for pid in "$@"; do alive "$pid" && any=1; done
        ((any)) || break
        if [[ -n "$owner" ]] && ! alive "$owner"; then
            stop_server "$dir" TERM || true
        fi
        sleep 0.2
    done
    wait 2>/dev/null || true
}

stop() {
    local dir=$1 signal=${2:-TERM}
    [[ "$signal" == TERM || "$signal" == KILL ]] || usage
    [[ -d "$dir" ]] || return 0
    stop_server "$dir" "$signal"
}

run_server_command() {
    (($# >= 2)) || usage
    case "$1" in
        start) start "${@:2}" ;;
        stop) stop "${@:2}" ;;
        *) usage ;;
    esac
}
