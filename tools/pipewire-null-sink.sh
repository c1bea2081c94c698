#!/usr/bin/env bash
# A private headless PipeWire (pipewire, wireplumber and pipewire-pulse on a private session bus)
# with one null sink, test_null, for the sound tests and benchmarks: nothing reaches a
# loudspeaker, the sink's monitor records what was played, and the desktop's own server (if any)
# is never touched.
#
#   pipewire-null-sink.sh start DIR [OWNER_PID] [RATE_HZ]  start in DIR; prints the runtime folder
#   pipewire-null-sink.sh stop DIR [TERM|KILL]             stop all of it (KILL: as in a crash)
#
# Clients reach it with PIPEWIRE_RUNTIME_DIR=<runtime folder> (native) or
# PULSE_SERVER=unix:<runtime folder>/pulse/native (pulse layer). Starting again with the same DIR
# gives a new server at the same sockets, as when a desktop's server restarts. With OWNER_PID the
# server also stops when that process ends, so a test that crashes leaves nothing behind.
#
# RATE_HZ is the graph's rate: 48000, PipeWire's own default and what most desktops run, or
# 44100, the program's own rate, where nothing is resampled and the monitor carries the program's
# samples unchanged. wireplumber suspends the sink a few seconds after its last client stops.
set -euo pipefail

readonly sink_name=test_null
readonly ready_timeout_s=15
readonly stop_timeout_s=5
# Stopped in this order, the reverse of starting.
readonly processes=(pipewire-pulse wireplumber pipewire dbus)

usage() {
    echo "usage: $0 start DIR [OWNER_PID] [RATE_HZ] | stop DIR [TERM|KILL]" >&2
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
    local path=$1 deadline=$((SECONDS + ready_timeout_s))
    until [[ -e "$path" ]]; do
        ((SECONDS < deadline)) || return 1
        sleep 0.02
    done
}

write_config() {
    local dir=$1 rate=$2
    mkdir -p "$dir/config/pipewire/pipewire.conf.d" "$dir/config/wireplumber/main.lua.d"
    cat >"$dir/config/pipewire/pipewire.conf.d/10-null-sink.conf" <<EOF
context.properties = {
    default.clock.rate = $rate
    default.clock.allowed-rates = [ $rate ]
}
context.objects = [
    { factory = adapter
      args = {
          factory.name = support.null-audio-sink
          node.name = "$sink_name"
          node.description = "Lyravox test sink"
          media.class = Audio/Sink
          audio.position = [ MONO ]
          audio.rate = $rate
          object.linger = true
          monitor.channel-volumes = true
      }
    }
]
EOF
    # No sound card, camera or Bluetooth on a test machine: nothing for wireplumber to look for.
    cat >"$dir/config/wireplumber/main.lua.d/90-lyravox-test.lua" <<'EOF'
alsa_monitor.enabled = false
v4l2_monitor.enabled = false
libcamera_monitor.enabled = false
EOF
}

# Runs as the background supervisor: the parent of every server process, so each is reaped
# however it ends, and the one that watches OWNER_PID.
supervise() {
    local dir=$1 owner=$2
    export HOME=$dir/home XDG_RUNTIME_DIR=$dir/runtime XDG_STATE_HOME=$dir/state
    export XDG_CONFIG_HOME=$dir/config PIPEWIRE_RUNTIME_DIR=$dir/runtime
    export DBUS_SESSION_BUS_ADDRESS=unix:path=$dir/runtime/bus
    unset PULSE_SERVER PIPEWIRE_REMOTE DISPLAY WAYLAND_DISPLAY PULSE_RUNTIME_PATH
    local pids=()
    launch() {
        local name=$1
        shift
        "$@" >"$dir/$name.log" 2>&1 &
        echo $! >"$dir/pid.$name"
        pids+=($!)
    }
    launch dbus dbus-daemon --session --nofork --nopidfile --address="$DBUS_SESSION_BUS_ADDRESS"
    wait_for_file "$dir/runtime/bus" || { echo "dbus-daemon did not start" >"$dir/failed"; return; }
    launch pipewire pipewire
    wait_for_file "$dir/runtime/pipewire-0" || { echo "pipewire did not start" >"$dir/failed"; return; }
    launch wireplumber wireplumber
    launch pipewire-pulse pipewire-pulse
    touch "$dir/launched"
    local any
    while :; do
        any=0
        for pid in "${pids[@]}"; do alive "$pid" && any=1; done
        ((any)) || break
        if [[ -n "$owner" ]] && ! alive "$owner"; then
            stop_processes "$dir" TERM
        fi
        sleep 0.2
    done
    wait 2>/dev/null || true
}

stop_processes() {
    local dir=$1 signal=$2 failed=0 pid
    for name in "${processes[@]}"; do
        [[ -f "$dir/pid.$name" ]] || continue
        pid=$(cat "$dir/pid.$name")
        # A stopped (SIGSTOP) process must be able to act on the signal.
        kill "-$signal" "$pid" 2>/dev/null || true
        kill -CONT "$pid" 2>/dev/null || true
        if ! wait_gone "$pid" "$stop_timeout_s"; then
            kill -KILL "$pid" 2>/dev/null || true
            wait_gone "$pid" "$stop_timeout_s" || { echo "$name ($pid) does not stop" >&2; failed=1; }
        fi
        rm -f "$dir/pid.$name"
    done
    return "$failed"
}

start() {
    local dir=$1 owner=${2:-} rate=${3:-48000}
    for tool in pipewire wireplumber pipewire-pulse dbus-daemon pactl; do
        command -v "$tool" >/dev/null || { echo "$tool is not installed" >&2; return 1; }
    done
    [[ "$rate" =~ ^[0-9]+$ ]] || usage
    mkdir -p "$dir/home" "$dir/runtime" "$dir/state"
    dir=$(cd "$dir" && pwd)
    chmod 700 "$dir/runtime"
    if [[ -f "$dir/pid.pipewire" ]] && alive "$(cat "$dir/pid.pipewire")"; then
        echo "a server is already running in $dir" >&2
        return 1
    fi
    rm -rf "$dir/runtime/"* "$dir/launched" "$dir/failed" "$dir"/pid.*
    write_config "$dir" "$rate"

    (supervise "$dir" "$owner") </dev/null >/dev/null 2>&1 &

    # Up when the pulse layer answers and names the null sink as its default, which needs
    # wireplumber to have linked the graph; then the sink is made the default explicitly.
    export PULSE_SERVER=unix:$dir/runtime/pulse/native
    local deadline=$((SECONDS + ready_timeout_s)) info
    while :; do
        if [[ -f "$dir/failed" ]] || ((SECONDS >= deadline)); then
            echo "the PipeWire server did not start: $(cat "$dir/failed" 2>/dev/null || echo timeout)" >&2
            for name in "${processes[@]}"; do
                [[ -s "$dir/$name.log" ]] && { echo "--- $name:" >&2; tail -n 20 "$dir/$name.log" >&2; }
            done
            stop_processes "$dir" KILL || true
            return 1
        fi
        if [[ -f "$dir/launched" ]] && info=$(pactl info 2>/dev/null) &&
            grep -q "^Default Sink: $sink_name\$" <<<"$info"; then
            break
        fi
        sleep 0.05
    done
    pactl set-default-sink "$sink_name" >/dev/null 2>&1 || true
    echo "$dir/runtime"
}

stop() {
    local dir=$1 signal=${2:-TERM}
    [[ "$signal" == TERM || "$signal" == KILL ]] || usage
    [[ -d "$dir" ]] || return 0
    stop_processes "$dir" "$signal"
}

(($# >= 2)) || usage
case "$1" in
    start) start "$2" "${3:-}" "${4:-48000}" ;;
    stop) stop "$2" "${3:-TERM}" ;;
    *) usage ;;
esac
