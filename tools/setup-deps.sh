#!/usr/bin/env bash
# Installs the Debian 12 packages needed to build (and with --test, to test) Lyravox.
# Safe to run any number of times: when everything is present it changes nothing.
set -euo pipefail

usage() {
    echo "usage: $0 [--test]" >&2
    exit 2
}

with_test=0
for arg in "$@"; do
    case "$arg" in
        --test) with_test=1 ;;
        -h | --help) usage ;;
        *) echo "setup-deps: unknown argument '$arg'" >&2; usage ;;
    esac
done

# Qt6Gui's CMake config refuses to load without the OpenGL headers, even though Lyravox never
# draws with OpenGL; they are named here so a trimmed install without qt6-base-dev's
# dependencies still configures. EGL is listed for the same reason on Wayland-only set-ups.
# The help picture sets its text in DejaVu Sans Condensed, which a fresh machine lacks
# (fonts-dejavu-core has only the regular widths): the fallback is too tall for its lines.
packages=(g++ cmake make pkg-config qt6-base-dev qt6-svg-dev libsdl2-dev libasound2-dev libpulse-dev libpipewire-0.3-dev libgl-dev libegl-dev
    fonts-dejavu-extra)
if ((with_test)); then
    packages+=(googletest libgtest-dev libbenchmark-dev xvfb xauth xdotool x11-utils openbox clang libclang-rt-14-dev pulseaudio pulseaudio-utils desktop-file-utils appstream lintian dbus at-spi2-core python3-pyatspi orca speech-dispatcher dpkg-dev file clang-format pipewire pipewire-pulse wireplumber pipewire-bin)
fi

if ! command -v dpkg-query >/dev/null 2>&1; then
    echo "setup-deps: dpkg-query not found; this script supports Debian 12 only." >&2
    echo "setup-deps: install these packages by hand: ${packages[*]}" >&2
    exit 1
fi

missing=()
for pkg in "${packages[@]}"; do
    status=$(dpkg-query -W -f='${db:Status-Abbrev}' "$pkg" 2>/dev/null || true)
    # "ii " means installed and configured; anything else (absent, half-installed) needs apt.
    if [[ "$status" != ii* ]]; then
        missing+=("$pkg")
    fi
done

if ((${#missing[@]} == 0)); then
    exit 0
fi

if ((EUID == 0)); then
    as_root=()
elif command -v sudo >/dev/null 2>&1; then
    as_root=(sudo)
else
    echo "setup-deps: missing packages: ${missing[*]}" >&2
    echo "setup-deps: run this script as root, or install sudo, to install them." >&2
    exit 1
fi

echo "setup-deps: installing ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
"${as_root[@]}" env DEBIAN_FRONTEND=noninteractive apt-get update
"${as_root[@]}" env DEBIAN_FRONTEND=noninteractive \
    apt-get install -y --no-install-recommends "${missing[@]}"
