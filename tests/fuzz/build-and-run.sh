#!/usr/bin/env bash
# Builds the WAVE decoder's libFuzzer target with clang (address + undefined sanitizers) and runs
# it for a fixed number of inputs from a fresh corpus seeded with a few hand-made images, so a
# run is repeatable. The short run is part of ctest (label "fuzz"); for a longer hunt run e.g.
#     bash tests/fuzz/build-and-run.sh 2000000
# A crashing input is written to BUILD_DIR/crash-* and the script fails.
#
# Usage: build-and-run.sh [RUNS] [BUILD_DIR]    (defaults: 20000, <repo>/build/fuzz)
set -euo pipefail

repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
runs=${1:-20000}
build_dir=$(mkdir -p "${2:-$repo/build/fuzz}" && cd "${2:-$repo/build/fuzz}" && pwd)

# ctest reads exit code 77 as "skipped": without clang there is no libFuzzer to build with.
compiler=""
for candidate in clang++-14 clang++; do
    if command -v "$candidate" >/dev/null; then
        compiler=$candidate
        break
    fi
done
if [[ -z $compiler ]]; then
    echo "build-and-run.sh: clang++ not found; install clang and libclang-rt-14-dev" >&2
    exit 77
fi
if command -v sdl2-config >/dev/null; then
    read -r -a sdl_cflags <<<"$(sdl2-config --cflags)"
    read -r -a sdl_libs <<<"$(sdl2-config --libs)"
else
    read -r -a sdl_cflags <<<"$(pkg-config --cflags sdl2)"
    read -r -a sdl_libs <<<"$(pkg-config --libs sdl2)"
fi

"$compiler" -std=c++20 -g -O1 -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=all \
    -I"$repo" "${sdl_cflags[@]}" \
    "$repo/platform/wave_decoder.cpp" "$repo/tests/fuzz/wave_decoder_fuzz.cpp" \
    "${sdl_libs[@]}" -o "$build_dir/wave_decoder_fuzz"

le16() { printf '\\x%02x\\x%02x' $(($1 & 255)) $((($1 >> 8) & 255)); }
le32() { le16 $(($1 & 65535)); le16 $((($1 >> 16) & 65535)); }

# write_wave FILE FORMAT_TAG CHANNELS RATE_HZ BITS DATA [EXTRA_CHUNK]
# DATA and EXTRA_CHUNK are printf escapes; EXTRA_CHUNK goes between "fmt " and "data".
write_wave() {
    local file=$1 tag=$2 channels=$3 rate=$4 bits=$5 data=$6 extra=${7:-}
    local align=$((channels * bits / 8))
    local data_bytes extra_bytes
    data_bytes=$(printf %b "$data" | wc -c)
    extra_bytes=$(printf %b "$extra" | wc -c)
    {
        printf 'RIFF'
        printf %b "$(le32 $((36 + extra_bytes + data_bytes)))"
        printf 'WAVEfmt '
        printf %b "$(le32 16)$(le16 "$tag")$(le16 "$channels")$(le32 "$rate")"
        printf %b "$(le32 $((rate * align)))$(le16 $align)$(le16 "$bits")"
        printf %b "$extra"
        printf 'data'
        printf %b "$(le32 "$data_bytes")"
        printf %b "$data"
    } >"$file"
}

# write_framed FILE FMT_BODY DATA: an input in the layout the fuzz target wraps in RIFF framing
# itself (first byte: fmt body length - 14), so mutations start from formats SDL decodes.
write_framed() {
    local file=$1 fmt=$2 data=$3
    local fmt_bytes
    fmt_bytes=$(printf %b "$fmt" | wc -c)
    printf %b "$(printf '\\x%02x' $((fmt_bytes - 14)))$fmt$data" >"$file"
}

# fmt_body TAG CHANNELS RATE_HZ BLOCK_ALIGN BITS: the 16 bytes every fmt chunk starts with.
fmt_body() {
    printf '%s' "$(le16 "$1")$(le16 "$2")$(le32 "$3")$(le32 $(($3 * $4)))$(le16 "$4")$(le16 "$5")"
}

seeds=$build_dir/seeds
corpus=$build_dir/corpus
rm -rf "$seeds" "$corpus"
mkdir -p "$seeds" "$corpus"
write_wave "$seeds/mono16-44100.wav" 1 1 44100 16 '\x00\x00\xff\x7f\x00\x80\x01\x00'
write_wave "$seeds/stereo8-22050.wav" 1 2 22050 8 '\x80\x80\xff\x00\x10\xf0'
write_wave "$seeds/float-48000.wav" 3 1 48000 32 '\x00\x00\x00\x3f\x00\x00\x00\xbf'
# A-law, with an odd-sized chunk (and its pad byte) before the data.
write_wave "$seeds/alaw-8000-list.wav" 6 1 8000 8 '\xd5\x55\x2a\xaa' 'LIST\x03\x00\x00\x00abc\x00'

write_framed "$seeds/framed-pcm24-stereo-32000" "$(fmt_body 1 2 32000 6 24)" \
    '\x00\x00\x80\xff\xff\x7f\x01\x02\x03\x04\x05\x06'
write_framed "$seeds/framed-mulaw-11025" "$(fmt_body 7 1 11025 1 8)" '\x00\x7f\x80\xff\x12'
# IMA ADPCM: cbSize 2 and 65 samples per 36-byte mono block.
write_framed "$seeds/framed-ima-adpcm" "$(fmt_body 0x11 1 44100 36 4)$(le16 2)$(le16 65)" \
    "$(le16 1000)\x10\x00$(printf '\\x%02x' $(seq 0 8 255))"
# MS ADPCM: cbSize 32, 20 samples per 16-byte mono block, the seven standard coefficient pairs.
write_framed "$seeds/framed-ms-adpcm" \
    "$(fmt_body 2 1 22050 16 4)$(le16 32)$(le16 20)$(le16 7)$(le16 256)$(le16 0)$(le16 512)\
$(le16 $((65536 - 256)))$(le16 0)$(le16 0)$(le16 192)$(le16 64)$(le16 240)$(le16 0)$(le16 460)\
$(le16 $((65536 - 208)))$(le16 392)$(le16 $((65536 - 232)))" \
    "\x01$(le16 32)$(le16 300)$(le16 $((65536 - 300)))\x12\x34\x56\x78\x9a\xbc\xde\xf0\x0f"
# WAVE_FORMAT_EXTENSIBLE carrying 16-bit PCM.
write_framed "$seeds/framed-extensible-pcm16" \
    "$(fmt_body 0xFFFE 1 48000 2 16)$(le16 22)$(le16 16)$(le32 4)\
\x01\x00\x00\x00\x00\x00\x10\x00\x80\x00\x00\xaa\x00\x38\x9b\x71" \
    "$(le16 100)$(le16 200)$(le16 300)$(le16 400)"

cd "$build_dir"
exec ./wave_decoder_fuzz -runs="$runs" -seed=1 -max_len=4096 -use_value_profile=1 \
    -dict="$repo/tests/fuzz/wave.dict" -print_final_stats=1 \
    "$corpus" "$seeds"
