#!/usr/bin/env bash
# Takes a picture of the main window as it starts, on a private X server, for the README:
#
#   tools/screenshot.sh [BUILD_DIR] [FILE]     defaults: build/dev docs/main-window.png
#
# BUILD_DIR must hold a build of the program and of tools/window_shot (make build). Needs Xvfb and
# xdotool (tools/setup-deps.sh --test). No sound device is opened: SDL's dummy driver plays into
# nothing.
set -euo pipefail

build_dir=${1:-build/dev}
file=${2:-docs/main-window.png}
program=$build_dir/app/lyravox
shooter=$build_dir/tools/window_shot/window_shot
for needed in "$program" "$shooter"; do
    [[ -x $needed ]] || { echo "$needed is missing: build first (make build)" >&2; exit 1; }
done

xvfb_pid=
program_pid=
cleanup() {
    [[ -n $program_pid ]] && kill "$program_pid" 2>/dev/null || true
    [[ -n $xvfb_pid ]] && kill "$xvfb_pid" 2>/dev/null || true
    wait 2>/dev/null || true
}
trap cleanup EXIT

# Xvfb picks a free display and writes its number once it accepts clients.
display_file=$(mktemp)
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp -ac 3>"$display_file" 2>/dev/null &
xvfb_pid=$!
for _ in $(seq 100); do
    [[ $(wc -l <"$display_file") -ge 1 ]] && break
    sleep 0.1
done
display=:$(head -n1 "$display_file")
rm -f "$display_file"
[[ $display != : ]] || { echo "Xvfb did not start" >&2; exit 1; }
export DISPLAY=$display

QT_QPA_PLATFORM=xcb SDL_AUDIODRIVER=dummy "$program" 2>/dev/null &
program_pid=$!

window=
for _ in $(seq 200); do
    window=$(xdotool search --onlyvisible --name '^Lyravox$' 2>/dev/null | head -n1) || true
    [[ -n $window ]] && break
    sleep 0.1
done
[[ -n $window ]] || { echo "the main window did not appear" >&2; exit 1; }
# Long enough for the first paint; the window shows its start state and nothing moves.
sleep 1

mkdir -p "$(dirname "$file")"
QT_QPA_PLATFORM=xcb "$shooter" "$window" "$file"
echo "$file"
