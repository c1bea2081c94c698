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

if command -v lintian >/dev/null; then
    # Errors fail the package; warnings are printed for a person to weigh.
    lintian --no-tag-display-limit --fail-on error "$deb"
else
    echo "FAIL: lintian is not installed (tools/setup-deps.sh --test installs it)" >&2
    exit 1
fi
echo "package $deb is complete"
