#!/usr/bin/env bash
# Checks the Debian package that `make package` builds: it unpacks into a temporary root with
# the expected files, names its library dependencies, and lintian reports no errors.
#
#   check-deb.sh BUILD_DIR
set -euo pipefail

build=$1
here=$(cd "$(dirname "$0")" && pwd)
shopt -s nullglob
debs=("$build"/lyravox_*.deb)
if ((${#debs[@]} != 1)); then
    echo "FAIL: expected one lyravox_*.deb in $build, found ${#debs[@]} (run cpack there first)" >&2
    exit 1
fi
deb=${debs[0]}

root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
dpkg-deb -x "$deb" "$root"
bash "$here/check-installed-tree.sh" "$root/usr" --fortified

depends=$(dpkg-deb -f "$deb" Depends)
for library in libqt6widgets6 libsdl2 libc6 libqt6svg6 qt6-qpa-plugins; do
    [[ "$depends" == *"$library"* ]] || { echo "FAIL: Depends lacks $library: $depends" >&2; exit 1; }
done
[[ "$(dpkg-deb -f "$deb" Version)" == 1.0.0 ]] || { echo "FAIL: version is not 1.0.0" >&2; exit 1; }

# The unpacked program starts on this system's libraries and keeps running until told to stop.
QT_QPA_PLATFORM=offscreen SDL_AUDIODRIVER=dummy "$root/usr/bin/lyravox" >"$root/run.log" 2>&1 &
program=$!
for _ in 1 2 3 4 5 6 7 8 9 10 11 12 13 14 15 16 17 18 19 20; do
    sleep 0.1
    kill -0 "$program" 2>/dev/null || break
done
if ! kill -0 "$program" 2>/dev/null; then
    wait "$program" || true
    echo "FAIL: the packaged program ended at start-up:" >&2
    cat "$root/run.log" >&2
    exit 1
fi
kill -TERM "$program"
wait "$program" || true

if command -v lintian >/dev/null; then
    # Errors fail the package; warnings are printed for a person to weigh.
    lintian --no-tag-display-limit --fail-on error "$deb"
else
    echo "FAIL: lintian is not installed (tools/setup-deps.sh --test installs it)" >&2
    exit 1
fi
echo "package $deb is complete"
