#!/usr/bin/env bash
# Draws the launcher's icon (32x32, 32 bits per pixel) and writes it to
# resources/launcher.ico. Run by hand when the picture changes; the result
# is committed, so the build never runs it.
set -euo pipefail
cd "$(dirname "$0")/.."

out=resources/launcher.ico
size=32

byte() { printf "\\x$(printf %02x "$1")"; }
word() { byte $(($1 & 255)); byte $(($1 >> 8 & 255)); }
dword() { word $(($1 & 65535)); word $(($1 >> 16 & 65535)); }

pixels=$((size * size * 4))
mask=$((size * 4))            # one bit per pixel, rows padded to 32 bits
image=$((40 + pixels + mask))

{
    # icon directory: reserved, type 1 (icon), one image
    word 0; word 1; word 1
    # directory entry: width, height, colours, reserved, planes, bits, size, offset
    byte $size; byte $size; byte 0; byte 0; word 1; word 32; dword $image; dword 22
    # bitmap header; the height counts the colour rows and the mask rows
    dword 40; dword $size; dword $((size * 2)); word 1; word 32; dword 0; dword $((pixels + mask))
    dword 0; dword 0; dword 0; dword 0
    # colour rows, bottom row first, blue green red alpha: a teal disc with
    # a white ring and a tail
    for ((row = size - 1; row >= 0; row--)); do
        for ((col = 0; col < size; col++)); do
            x=$((2 * col - size + 1)); y=$((2 * row - size + 1)); r=$((x * x + y * y))
            if ((r > 900)); then
                byte 0; byte 0; byte 0; byte 0
            elif (((r >= 361 && r <= 625) || (x > 6 && y > 6 && x - y <= 4 && y - x <= 4))); then
                byte 255; byte 255; byte 255; byte 255
            else
                byte 140; byte 110; byte 0; byte 255
            fi
        done
    done
    # transparency mask for painters without alpha: set bits are the
    # see-through pixels outside the disc, most significant bit first
    for ((row = size - 1; row >= 0; row--)); do
        for ((col = 0; col < size; col += 8)); do
            bits=0
            for ((b = 0; b < 8; b++)); do
                x=$((2 * (col + b) - size + 1)); y=$((2 * row - size + 1))
                ((x * x + y * y > 900)) && bits=$((bits | 128 >> b))
            done
            byte $bits
        done
    done
} >"$out"
echo "wrote $out ($(stat -c %s "$out") bytes)"
