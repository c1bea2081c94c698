#!/usr/bin/env bash
# A private PulseAudio server with one null sink, for the sound tests and benchmark: nothing
# reaches a loudspeaker, the sink's monitor records exactly what was played, and the desktop's own
# server (if any) is never touched.
#
#   pulse-null-sink.sh start DIR [OWNER_PID [RATE [SUSPEND_S]]]
#                                             start a server in DIR; prints its socket path
#   pulse-null-sink.sh stop DIR [TERM|KILL]   stop it (KILL: as if it had crashed) and wait
#
# Starting again with the same DIR gives a new server at the same socket path. With OWNER_PID the
# server also stops when that process ends, so a test that crashes leaves no server behind.
#
# The sink runs at 44100 Hz mono 16-bit, the program's own format, so nothing is resampled or
# remixed and the monitor carries the program's samples unchanged; RATE gives another rate (48000,
# as most desktops run, to see what resampling does). With SUSPEND_S the server suspends the sink
# after that many seconds without a playing stream, as desktops' servers do
# (module-suspend-on-idle); a recording of the monitor counts as a use and keeps it awake. norewinds=1 makes an underrun
# show in a recording as a clean gap instead of rewritten audio.
set -euo pipefail

readonly sink_name=lyravox_null
readonly ready_timeout_s=10
readonly usage_text="start DIR [OWNER_PID [RATE [SUSPEND_S]]] | stop DIR [TERM|KILL]"
# shellcheck source=tools/private-server-common.sh
source "$(dirname "${BASH_SOURCE[0]}")/private-server-common.sh"

start() {
    local dir=$1 owner=${2:-} rate=${3:-44100} suspend_s=${4:-}
    local suspend_module=()
    [[ -n "$suspend_s" ]] && suspend_module=(--load="module-suspend-on-idle timeout=$suspend_s")
    require_tool pulseaudio || return 1
    require_tool pactl pulseaudio-utils || return 1
    dir=$(prepare_dir "$dir" pid) || return 1
    local socket=$dir/native
    rm -f "$dir/pid" "$socket"

    # The supervisor is the server's parent, so the server is reaped however it ends.
    (
        use_private_folders "$dir" "$dir/home/.config"
        export PULSE_STATE_PATH=$dir/state PULSE_RUNTIME_PATH=$dir/runtime/pulse
        unset DBUS_SESSION_BUS_ADDRESS
        # As root PulseAudio warns but runs; --system=no keeps it a private per-user server.
        pulseaudio -n --daemonize=no --system=no --use-pid-file=no --exit-idle-time=-1 \
            --disable-shm=yes --realtime=yes --high-priority=yes --log-target=stderr \
            --load="module-null-sink sink_name=$sink_name rate=$rate channels=1 format=s16le norewinds=1" \
            --load="module-native-protocol-unix auth-anonymous=1 socket=$socket" \
            "${suspend_module[@]}" \
            >"$dir/server.log" 2>&1 &
        local server=$!
        echo "$server" >"$dir/pid"
        watch_until_ended "$dir" "$owner" "$server"
    ) </dev/null >/dev/null 2>&1 &

    local deadline=$((SECONDS + ready_timeout_s))
    until PULSE_SERVER=unix:$socket pactl info >/dev/null 2>&1; do
        if ((SECONDS >= deadline)) || { [[ -f "$dir/pid" ]] && ! alive "$(cat "$dir/pid")"; }; then
            echo "the PulseAudio server did not start; its log:" >&2
            cat "$dir/server.log" >&2 2>/dev/null || true
            stop_server "$dir" KILL
            return 1
        fi
        sleep 0.05
    done
    echo "$socket"
}

stop_server() {
    stop_pid_file pulseaudio "$1/pid" "$2"
}

run_server_command "$@"
