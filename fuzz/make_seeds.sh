#!/usr/bin/env bash
# Writes the seed photographs of the fuzz_count target into fuzz/corpus/count/: small stack
# photographs drawn with ImageMagick's convert (dark floor rows at the bottom, dark wall rows
# at the top, light boards between, dark joints of four rows), some coded anew by jpegtran, each
# behind the three settings bytes the target reads first (BDLINE as little-endian int16, then
# THRESHOLD).
#
#     fuzz/make_seeds.sh        # needs convert and jpegtran (Debian: imagemagick,
#                               # libjpeg-turbo-progs)
#
# The drawings and settings are fixed, so running it again gives the same files.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
out=$here/corpus/count
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
command -v convert >/dev/null || { echo "make_seeds.sh: convert (ImageMagick) is missing" >&2; exit 1; }
command -v jpegtran >/dev/null || { echo "make_seeds.sh: jpegtran (libjpeg-turbo-progs) is missing" >&2; exit 1; }
mkdir -p "$out"

# stack WIDTH HEIGHT JOINT_ROWS... : draws a stack; the top and bottom eighth are background,
# each joint is four dark rows starting at the given row, and the two left columns are dark
# (columns the band never includes).
stack() {
    local width=$1 height=$2
    shift 2
    local edge=$((height / 8))
    local draw=(-draw "rectangle 0,0 $((width - 1)),$((edge - 1))"
                -draw "rectangle 0,$((height - edge)) $((width - 1)),$((height - 1))"
                -draw "rectangle 0,0 1,$((height - 1))")
    for row in "$@"; do
        draw+=(-draw "rectangle 0,$row $((width - 1)),$((row + 3))")
    done
    convert -size "${width}x${height}" xc:'rgb(205,190,160)' -fill 'rgb(40,35,30)' "${draw[@]}" \
        "$work/stack.ppm"
}

# seed NAME BDLINE THRESHOLD CONVERT-OPTIONS...: encodes $work/stack.ppm and prefixes it.
seed() {
    local name=$1 bdline=$2 threshold=$3
    shift 3
    convert "$work/stack.ppm" -strip "$@" "$work/$name.jpg"
    settings "$bdline" "$threshold" >"$out/$name"
    cat "$work/$name.jpg" >>"$out/$name"
}

settings() {
    local word=$(($1 & 0xFFFF))
    printf "\\x$(printf %02x $((word & 0xFF)))\\x$(printf %02x $((word >> 8)))"
    printf "\\x$(printf %02x "$2")"
}

stack 64 48 18 28
seed stack_64x48 40 128 -quality 80

stack 96 72 20 32 44
seed stack_96x72 40 128 -quality 80
seed stack_96x72_bdline20_threshold100 20 100 -quality 60
seed stack_96x72_420 40 128 -quality 70 -sampling-factor 2x2
seed grey_96x72 40 128 -quality 75 -colorspace Gray
seed progressive_96x72 40 128 -quality 75 -interlace Plane
seed cmyk_64x48 30 128 -resize 64x48! -quality 70 -colorspace CMYK
seed stack_96x72_bdline_max 32767 245 -quality 50
seed stack_96x72_bdline_negative -5 0 -quality 50

# The same photograph with the metadata the decoder reads before any pixel, even from the
# header alone: Exif (with Exif and GPS sub-directories), IPTC in a Photoshop block, XMP and a
# comment. The segments are built here byte by byte.
convert "$work/stack.ppm" -strip -quality 60 -set comment "stack of fibreboard" "$work/plain.jpg"
python3 - "$work/plain.jpg" "$work/meta.jpg" <<'PYTHON'
import struct, sys

def segment(marker, payload):
    return struct.pack(">BBH", 0xFF, marker, len(payload) + 2) + payload

def ifd(entries, next_offset=0):
    # entries: (tag, type, count, 4-byte value or offset) in little-endian TIFF order
    out = struct.pack("<H", len(entries))
    for tag, kind, count, value in entries:
        out += struct.pack("<HHI", tag, kind, count) + value
    return out + struct.pack("<I", next_offset)

# TIFF header at 0, IFD0 at 8 (4 entries: 54 bytes), Exif IFD at 62 (2 entries: 30 bytes),
# GPS IFD at 92 (1 entry: 18 bytes), then the data: make at 110, date at 119, note at 139.
make, date, note = b"Lathmark\0", b"2024:01:31 12:00:00\0", b"NOTE\x01\x02\x03\x04"
tiff = b"II*\0" + struct.pack("<I", 8)
tiff += ifd([(0x010F, 2, len(make), struct.pack("<I", 110)),
             (0x0112, 3, 1, struct.pack("<HH", 1, 0)),
             (0x8769, 4, 1, struct.pack("<I", 62)),
             (0x8825, 4, 1, struct.pack("<I", 92))])
tiff += ifd([(0x9003, 2, len(date), struct.pack("<I", 119)),
             (0x927C, 7, len(note), struct.pack("<I", 139))])
tiff += ifd([(0x0000, 1, 4, bytes([2, 2, 0, 0]))])
assert len(tiff) == 110
tiff += make + date + note
exif = segment(0xE1, b"Exif\0\0" + tiff)

iptc = b"\x1c\x02\x05" + struct.pack(">H", 5) + b"stack" + b"\x1c\x02\x19" + struct.pack(">H", 5) + b"board"
if len(iptc) % 2: iptc += b"\0"
photoshop = segment(0xED, b"Photoshop 3.0\0" + b"8BIM" + struct.pack(">H", 0x0404) + b"\0\0" +
                    struct.pack(">I", len(iptc)) + iptc)
xmp = segment(0xE1, b"http://ns.adobe.com/xap/1.0/\0" +
              b'<x:xmpmeta xmlns:x="adobe:ns:meta/"></x:xmpmeta>')

jpeg = open(sys.argv[1], "rb").read()
assert jpeg[:2] == b"\xff\xd8"
open(sys.argv[2], "wb").write(jpeg[:2] + exif + xmp + photoshop + jpeg[2:])
PYTHON
settings 40 128 >"$out/metadata_96x72"
cat "$work/meta.jpg" >>"$out/metadata_96x72"

# A photograph whose data stops in the middle of the scan: refused as cut off.
convert "$work/stack.ppm" -strip -quality 80 "$work/whole.jpg"
settings 40 128 >"$out/truncated_96x72"
head -c $(($(stat -c %s "$work/whole.jpg") * 2 / 3)) "$work/whole.jpg" >>"$out/truncated_96x72"

# The same stack with a light grain, as a photograph has (so that its arithmetic code does not
# end in the long runs of zero bytes a drawing's does), coded as the JPEG library can also code
# it: arithmetic-coded, sequential and progressive, and with a restart marker after every row of
# blocks, Huffman- and arithmetic-coded. Then the arithmetic-coded one cut off (refused), and a
# progressive one of 120 scans (refused before decoding: more than a photograph may have).
convert "$work/stack.ppm" -seed 7 -attenuate 0.4 +noise Gaussian -strip -quality 80 \
    "$work/grain.jpg"
recode() {  # NAME JPEGTRAN-OPTIONS...
    local name=$1
    shift
    jpegtran "$@" "$work/grain.jpg" >"$work/$name.jpg"
    settings 40 128 >"$out/$name"
    cat "$work/$name.jpg" >>"$out/$name"
}
recode arithmetic_96x72 -arithmetic
recode arithmetic_progressive_96x72 -arithmetic -progressive
recode arithmetic_restart_96x72 -arithmetic -restart 1
recode restart_96x72 -restart 1
settings 40 128 >"$out/arithmetic_truncated_96x72"
head -c $(($(stat -c %s "$work/arithmetic_96x72.jpg") * 2 / 3)) "$work/arithmetic_96x72.jpg" \
    >>"$out/arithmetic_truncated_96x72"
jpegtran -progressive "$work/grain.jpg" >"$work/progressive.jpg"
python3 - "$work/progressive.jpg" "$work/many_scans.jpg" <<'PYTHON'
import sys
# Copies of the last scan's header, each with a few bytes of data, before the end marker.
jpeg = open(sys.argv[1], "rb").read()
last = jpeg.rindex(b"\xff\xda")
scan = jpeg[last:last + 2 + int.from_bytes(jpeg[last + 2:last + 4], "big")] + b"\x12" * 4
more = 120 - jpeg.count(b"\xff\xda")
open(sys.argv[2], "wb").write(jpeg[:-2] + scan * more + jpeg[-2:])
PYTHON
settings 40 128 >"$out/many_scans_96x72"
cat "$work/many_scans.jpg" >>"$out/many_scans_96x72"

# Too narrow for a band, and all background: both refused.
stack 4 40
seed narrow_4x40 40 128 -quality 80
convert -size 48x32 xc:'rgb(40,35,30)' -strip -quality 80 "$work/dark.jpg"
settings 40 128 >"$out/all_dark_48x32"
cat "$work/dark.jpg" >>"$out/all_dark_48x32"

ls -l "$out" | awk 'NR > 1 { total += $5 } END { print "count seeds: " NR - 1 " files, " total " bytes" }'

# The seeds of fuzz_segments are the JPEGs above without their settings bytes; those of
# fuzz_landscape the same JPEGs behind six settings bytes (three THRESHOLD and BDLINE pairs:
# the sample settings, a low THRESHOLD with a low BDLINE, a high THRESHOLD with a high one) and
# a STRETCH byte (STRETCH 1; two stacks at STRETCH 2 and 4 as well).
derive() {
    local segments=$here/corpus/segments landscape=$here/corpus/landscape seed name
    mkdir -p "$segments" "$landscape"
    for seed in "$out"/*; do
        name=$(basename "$seed")
        [[ $name =~ ^[0-9a-f]{40}$ ]] && continue  # merged from fuzz runs, not drawn here
        tail -c +4 "$seed" >"$segments/$name"
        { printf '\x80\x30\x40\x0c\xf0\x60\x00'; tail -c +4 "$seed"; } >"$landscape/$name"
    done
    { printf '\x80\x30\x40\x0c\xf0\x60\x01'; tail -c +4 "$out/stack_96x72"; } \
        >"$landscape/stack_96x72_stretch2"
    { printf '\x80\x30\x40\x0c\xf0\x60\x03'; tail -c +4 "$out/stack_64x48"; } \
        >"$landscape/stack_64x48_stretch4"
    echo "segments and landscape seeds: $(ls "$segments" | wc -l) each"
}
derive
