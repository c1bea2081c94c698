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
# Stopped in this order, the reverse of starting.
readonly processes=(pipewire-pulse wireplumber pipewire dbus)

readonly usage_text="start DIR [OWNER_PID] [RATE_HZ] | stop DIR [TERM|KILL]"
# shellcheck source=tools/private-server-common.sh
source "$(dirname "${BASH_SOURCE[0]}")/private-server-common.sh"

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

# Runs as the background supervisor: the parent of every server process, and the one that
# watches OWNER_PID.
supervise() {
    local dir=$1 owner=$2
    use_private_folders "$dir" "$dir/config"
    export PIPEWIRE_RUNTIME_DIR=$dir/runtime
    export DBUS_SESSION_BUS_ADDRESS=unix:path=$dir/runtime/bus
    unset PIPEWIRE_REMOTE WAYLAND_DISPLAY PULSE_RUNTIME_PATH
    local pids=()
    launch() {
        local name=$1
        shift
        "$@" >"$dir/$name.log" 2>&1 &
        echo $! >"$dir/pid.$name"
        pids+=($!)
    }
    launch dbus dbus-daemon --session --nofork --nopidfile --address="$DBUS_SESSION_BUS_ADDRESS"
    wait_for_file "$dir/runtime/bus" "$ready_timeout_s" ||
        { echo "dbus-daemon did not start" >"$dir/failed"; return; }
    launch pipewire pipewire
    wait_for_file "$dir/runtime/pipewire-0" "$ready_timeout_s" ||
        { echo "pipewire did not start" >"$dir/failed"; return; }
    launch wireplumber wireplumber
    launch pipewire-pulse pipewire-pulse
    touch "$dir/launched"
    watch_until_ended "$dir" "$owner" "${pids[@]}"
}

stop_server() {
    local dir=$1 signal=$2 failed=0
    for name in "${processes[@]}"; do
        stop_pid_file "$name" "$dir/pid.$name" "$signal" || failed=1
    done
    return "$failed"
}

start() {
    local dir=$1 owner=${2:-} rate=${3:-48000}
    for tool in pipewire wireplumber pipewire-pulse dbus-daemon pactl; do
        require_tool "$tool" || return 1
    done
    [[ "$rate" =~ ^[0-9]+$ ]] || usage
    dir=$(prepare_dir "$dir" pid.pipewire) || return 1
    chmod 700 "$dir/runtime"
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
            stop_server "$dir" KILL || true
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

run_server_command "$@"
