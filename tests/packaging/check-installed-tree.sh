#!/usr/bin/env bash
# Checks a tree as `cmake --install` or the .deb lays it out: the program, its menu entry, its
# icons, its software-centre description, and the program's hardening.
#
#   check-installed-tree.sh ROOT [--fortified]
#
# ROOT is the install prefix (for example a temporary directory, or the .deb's usr/). With
# --fortified the program must also call fortified libc functions (optimised builds only).
set -euo pipefail

root=$1
fortified=${2:-}
failures=0

fail() {
    echo "FAIL: $*" >&2
    failures=$((failures + 1))
}

for file in bin/lyravox share/applications/lyravox.desktop \
    share/metainfo/com.example.lyravox.metainfo.xml \
    share/icons/hicolor/scalable/apps/lyravox.svg share/icons/hicolor/32x32/apps/lyravox.png; do
    [[ -f "$root/$file" ]] || fail "missing $file"
done
[[ -x "$root/bin/lyravox" ]] || fail "bin/lyravox is not executable"

png=$root/share/icons/hicolor/32x32/apps/lyravox.png
if [[ -f "$png" ]]; then
    # PNG signature, then the IHDR chunk: width and height as 32-bit big-endian numbers, then
    # bit depth and colour type (6: RGBA, so the icon has transparency).
    header=$(od -An -tx1 -N26 "$png" | tr -d ' \n')
    [[ ${header:0:16} == 89504e470d0a1a0a ]] || fail "lyravox.png is not a PNG"
    [[ ${header:32:16} == 0000002000000020 ]] || fail "lyravox.png is not 32 x 32"
    [[ ${header:50:2} == 06 ]] || fail "lyravox.png has no alpha channel"
fi

program=$root/bin/lyravox
if [[ -f "$program" ]]; then
    # Read whole before matching: `readelf | grep -q` under pipefail fails when grep stops early.
    header=$(readelf -h "$program")
    dynamic=$(readelf -d "$program")
    segments=$(readelf -lW "$program")
    symbols=$(readelf -sW --dyn-syms "$program")
    grep -q 'Type:.*DYN' <<<"$header" || fail "not position-independent (PIE)"
    grep -q 'FLAGS_1.*PIE' <<<"$dynamic" || fail "not marked PIE"
    grep -q 'GNU_RELRO' <<<"$segments" || fail "no RELRO segment"
    grep -Eq 'BIND_NOW|FLAGS.*NOW' <<<"$dynamic" || fail "relocations not bound at start (no full RELRO)"
    grep -q '__stack_chk_fail' <<<"$symbols" || fail "no stack protector"
    if [[ "$fortified" == --fortified ]]; then
        grep -Eq '__[a-z_]+_chk@' <<<"$symbols" || fail "no fortified libc calls"
    fi
fi

if ((failures > 0)); then
    echo "$failures problem(s) in $root" >&2
    exit 1
fi
echo "installed tree in $root is complete and hardened"
