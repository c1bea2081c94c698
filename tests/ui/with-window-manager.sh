#!/usr/bin/env bash
# Runs a command on a private X server (Xvfb) with a window manager (Openbox) that frames its
# windows, as a desktop does: the only way to see where a window's frame ends up.
#   tests/ui/with-window-manager.sh COMMAND [ARGS...]
# Exits 77 (skipped) when Xvfb, Openbox or xprop is missing.
set -euo pipefail

for tool in Xvfb openbox xprop; do
    if ! command -v "$tool" >/dev/null 2>&1; then
        echo "SKIP: $tool not found (tools/setup-deps.sh --test installs it)"
        exit 77
    fi
done

home=$(mktemp -d)
xvfb_pid=
wm_pid=
cleanup() {
    [[ -n $wm_pid ]] && kill "$wm_pid" 2>/dev/null || true
    [[ -n $xvfb_pid ]] && kill "$xvfb_pid" 2>/dev/null || true
    wait 2>/dev/null || true
    rm -rf "$home"
}
trap cleanup EXIT

# Xvfb picks a free display itself and writes its number once it accepts clients.
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$home/display" 2>/dev/null &
xvfb_pid=$!
for _ in $(seq 100); do
    [[ -s $home/display ]] && break
    sleep 0.05
done
[[ -s $home/display ]] || { echo "Xvfb did not start" >&2; exit 1; }
export DISPLAY=:$(head -n 1 "$home/display")

mkdir -p "$home/runtime" && chmod 700 "$home/runtime"
export HOME=$home XDG_CONFIG_HOME=$home/config XDG_CACHE_HOME=$home/cache \
    XDG_DATA_HOME=$home/data XDG_RUNTIME_DIR=$home/runtime
openbox --sm-disable >"$home/openbox.log" 2>&1 &
wm_pid=$!
# The window manager is up once it names itself on the root window.
for _ in $(seq 100); do
    xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id' && break
    sleep 0.05
done
xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id' ||
    { echo "Openbox did not start:" >&2; cat "$home/openbox.log" >&2; exit 1; }

QT_QPA_PLATFORM=xcb "$@"
