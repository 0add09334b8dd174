#!/bin/sh
# make_corpus.sh --
#
#	Regenerates the fuzz seed corpus fuzz/corpus/: small valid files of
#	every format the package reads, made with independent tools (GDAL,
#	ImageMagick, netpbm, libjpeg's cjpeg, libtiff's tiffcp, dcmtk).  The
#	base pictures and the two formats no outside tool writes (the BASIC
#	raw header and FFT files) are written by python from their byte
#	layouts.  Needs gdal-bin, imagemagick, netpbm, libjpeg-turbo-progs,
#	libtiff-tools, dcmtk and python3.
set -eu
here=$(cd "$(dirname "$0")" && pwd)
out=$here/corpus
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
mkdir -p "$out"
cd "$tmp"
export GDAL_PAM_ENABLED=NO

# Base pictures: 16 x 12, a grey ramp with a diagonal and a colour pattern.
python3 - <<'PY'
w, h = 16, 12
grey = bytes((x * 16 + y * 5) & 0xFF if x != y else 255
             for y in range(h) for x in range(w))
rgb = bytes(v for y in range(h) for x in range(w)
            for v in ((x * 16) & 0xFF, (y * 21) & 0xFF, ((x ^ y) * 17) & 0xFF))
open("grey.pgm", "wb").write(b"P5\n16 12\n255\n" + grey)
open("rgb.ppm", "wb").write(b"P6\n16 12\n255\n" + rgb)
open("grey2.pgm", "wb").write(b"P5\n16 12\n255\n" + bytes(255 - v for v in grey))
PY

# netpbm family: binary and plain grey, colour and bitmap.
cp grey.pgm "$out/pgm_p5.pgm"
cp rgb.ppm "$out/ppm_p6.ppm"
pnmtoplainpnm rgb.ppm >"$out/ppm_p3.ppm"
pnmtoplainpnm grey.pgm >"$out/pgm_p2.pgm"
pgmtopbm -threshold grey.pgm >bits.pbm
cp bits.pbm "$out/pbm_p4.pbm"
pnmtopnm -plain bits.pbm >"$out/pbm_p1.pbm" 2>/dev/null || pnmtoplainpnm bits.pbm >"$out/pbm_p1.pbm"

# X bitmap.
pbmtoxbm bits.pbm >"$out/bitmap.xbm"

# BMP: 24-bit, 8-bit palette, 4-bit and 1-bit.
convert rgb.ppm BMP3:"$out/dib_rgb24.bmp"
convert rgb.ppm -colors 200 -type Palette BMP3:"$out/dib_pal8.bmp"
convert grey.pgm -colors 16 -type Palette -depth 4 BMP3:"$out/dib_pal4.bmp"
convert bits.pbm -type Bilevel BMP3:"$out/dib_1bit.bmp"

# GIF: 87a, 89a with transparency, and a three-frame animation.
convert grey.pgm GIF87:"$out/gif87a.gif"
convert rgb.ppm -transparent black GIF:"$out/gif89a_transparent.gif"
convert -delay 10 grey.pgm grey2.pgm rgb.ppm -loop 0 GIF:"$out/gif89a_anim.gif"

# JPEG: grey and colour, baseline and progressive.
cjpeg -quality 80 grey.pgm >"$out/jpeg_grey.jpg"
cjpeg -quality 80 rgb.ppm >"$out/jpeg_rgb.jpg"
cjpeg -progressive rgb.ppm >"$out/jpeg_progressive.jpg"

# TIFF: strips, tiles, PackBits, big-endian, 16-bit, palette, bilevel,
# several images, GeoTIFF.
gdal_translate -q -of GTiff -co INTERLEAVE=PIXEL rgb.ppm "$out/tiff_strips.tif"
gdal_translate -q -of GTiff -co TILED=YES -co BLOCKXSIZE=16 -co BLOCKYSIZE=16 \
    grey.pgm "$out/tiff_tiled.tif"
gdal_translate -q -of GTiff -co COMPRESS=PACKBITS -co BLOCKYSIZE=4 grey.pgm \
    "$out/tiff_packbits.tif"
tiffcp -B "$out/tiff_strips.tif" "$out/tiff_bigendian.tif"
gdal_translate -q -of GTiff -ot Int16 -scale 0 255 -1000 1000 grey.pgm \
    "$out/tiff_int16.tif"
tiffcp -B "$out/tiff_int16.tif" "$out/tiff_int16_be.tif"
convert rgb.ppm -colors 16 -type Palette -compress None TIFF:"$out/tiff_palette.tif"
convert bits.pbm -type Bilevel -compress None TIFF:"$out/tiff_bilevel.tif"
tiffcp "$out/tiff_strips.tif" "$out/tiff_packbits.tif" "$out/tiff_multi.tif"
gdal_translate -q -of GTiff -a_srs EPSG:32633 -a_ullr 500000 4200000 500160 4199880 \
    grey.pgm "$out/tiff_geo.tif"

# ERDAS 7.4 (GDAL's LAN writer), 8-bit 3 bands and 16-bit.
gdal_translate -q -of LAN rgb.ppm "$out/erdas74.lan"
gdal_translate -q -of LAN -ot Int16 grey.pgm "$out/erdas74_int16.lan"

# ELAS (GDAL's writer).
gdal_translate -q -of ELAS rgb.ppm "$out/elas.elas"

# DICOM: implicit VR little endian data sets without meta header (grey
# with two frames and pixel spacing, 16-bit signed, colour), the colour one
# also with preamble and meta header and as explicit VR big endian.
python3 - <<'PY'
import struct
open("px8.raw", "wb").write(bytes((i * 5) & 0xFF for i in range(16 * 12)))
open("px16.raw", "wb").write(b"".join(struct.pack("<h", i * 200 - 20000)
                                      for i in range(16 * 12)))
PY
dicomDump() {   # frames rows bits highbit representation pixelfile
    cat <<DUMP
(0008,0016) UI =SecondaryCaptureImageStorage
(0008,0018) UI [1.2.826.0.1.3680043.2.1125.1]
(0010,0010) PN [Fuzz^Seed]
(0028,0002) US 1
(0028,0004) CS [MONOCHROME2]
(0028,0008) IS [$1]
(0028,0010) US $2
(0028,0011) US 16
(0028,0030) DS [0.5\0.25]
(0028,0100) US $3
(0028,0101) US $3
(0028,0102) US $4
(0028,0103) US $5
(7fe0,0010) OW =$6
DUMP
}
dicomDump 2 6 8 7 0 px8.raw >grey8.dump
dump2dcm -q +te grey8.dump grey8.dcm
dcmconv -q -F +ti grey8.dcm "$out/dicom_grey8_frames.dcm"
dicomDump 1 12 16 15 1 px16.raw >short16.dump
dump2dcm -q +te short16.dump short16.dcm
dcmconv -q -F +ti short16.dcm "$out/dicom_short16.dcm"
convert rgb.ppm BMP3:rgb.bmp
img2dcm -q -i BMP rgb.bmp rgbdicom.dcm
dcmconv -q -F +ti rgbdicom.dcm "$out/dicom_rgb_dataset.dcm"
dcmconv -q +F +ti rgbdicom.dcm "$out/dicom_rgb_file.dcm"
dcmconv -q +F +tb rgbdicom.dcm "$out/dicom_rgb_explicit_be.dcm"

# The formats no outside tool writes, from their byte layouts: BASIC raw
# headers in both byte orders and layouts, ERDAS 7.3 and E74BSQ headers,
# and an FFT file.
python3 - "$out" <<'PY'
import struct, sys
out = sys.argv[1]
w, h = 16, 12

def basic(name, order, imgtype, pixel, bands, msbf, data, palette=b""):
    e = ">" if order == "MSBF" else "<"
    head = b"IMAGEDEF_" + order.encode()
    head = head.ljust(16, b"\0")
    head += struct.pack(e + "10i", msbf, imgtype, 1, 860, pixel, bands, h, w, 0, 0)
    head += struct.pack(e + "4d", 500000.0, 4200000.0, 30.0, -30.0)
    head += struct.pack(e + "i", len(palette) // 3)
    head += palette.ljust(768, b"\0")
    assert len(head) == 860
    open(f"{out}/{name}", "wb").write(head + data)

byte = lambda n: bytes((i * 7) & 0xFF for i in range(n))
basic("basic_bsq_le.img", "MSBL", 1, 3, 2, 0, byte(w * h * 2))
basic("basic_bil_be_short.img", "MSBF", 2, 4, 3, 1,
      b"".join(struct.pack(">h", (i * 37) % 4000 - 2000) for i in range(w * h * 3)))
basic("basic_bip_float.img", "MSBL", 3, 6, 2, 0,
      b"".join(struct.pack("<f", i * 0.25) for i in range(w * h * 2)))
basic("basic_bsq_palette.img", "MSBF", 1, 3, 1, 0, byte(w * h),
      bytes(v for i in range(4) for v in (i * 60, 255 - i * 60, 128)))
basic("basic_bsq_1bit.img", "MSBL", 1, 1, 1, 1, byte(2 * h))
basic("basic_bil_4bits.img", "MSBF", 2, 2, 2, 1, byte(8 * h * 2))
basic("basic_bsq_ushort_le.img", "MSBL", 1, 7, 1, 0,
      b"".join(struct.pack("<H", i * 300) for i in range(w * h)))
basic("basic_bsq_long_be.img", "MSBF", 1, 5, 1, 1,
      b"".join(struct.pack(">i", i * 100000 - 5000000) for i in range(w * h)))

def erdas(name, magic, npack, bands, per_band, as_float):
    head = magic + struct.pack("<hhh", npack, bands, 0) + b"\0" * 4
    if as_float:
        head += struct.pack("<ff", w, h)
    else:
        head += struct.pack("<ii", w, h)
    head += struct.pack("<ii", 1, 1)
    head = head.ljust(112, b"\0") + struct.pack("<4f", 100.0, 200.0, 30.0, 30.0)
    assert len(head) == 128
    open(f"{out}/{name}", "wb").write(head + byte(per_band * h * bands))

erdas("erdas73.lan", b"HEADER", 0, 2, w, True)
erdas("erdas74bsq.lan", b"E74BSQ", 0, 3, w, False)
erdas("erdas74_4bits.lan", b"HEAD74", 1, 1, (w + 1) // 2, False)
erdas("erdas74_float.lan", b"HEAD74", 4, 1, 4 * w, False)

# FFT: 1024-byte header then P rows of Q (real, imaginary) float pairs.
P, Q = 8, 16
head = b"FFT IMAGE FILE".ljust(16, b"\0") + b"scene.lan".ljust(64, b"\0")
head += struct.pack("<6i", 1, P, Q, 6, 14, 1)
big = 1.7976931348623157e308
head += struct.pack("<9d", 0.0, -big, big, -big, big, 0.0, 0.0, 0.0, 0.0)
head = head.ljust(1024, b"\0")
data = b"".join(struct.pack("<ff", (r * Q + c) * 0.5, -(r + c) * 0.25)
                for r in range(P) for c in range(Q))
open(f"{out}/fft.fft", "wb").write(head + data)
PY

ls -l "$out"
