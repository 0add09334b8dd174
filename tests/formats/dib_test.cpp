// Tests of dib.cpp: the probe on BMPs of ImageMagick and netpbm, the
// refusals, the header writer's byte layout read back by ImageMagick, and
// the colour-table rewrite.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <cstring>

#include "core/imgtype.h"
#include "core/ramimg.h"
#include "formats/dib.h"
#include "tests/formats/rasterRef.h"

namespace {

struct Fd {
    int fd;
    explicit Fd(const std::string &path, int flags = O_RDWR)
        : fd(open(path.c_str(), flags, 0600)) {}
    ~Fd() { if (fd >= 0) close(fd); }
};

ImageInfo probe(const std::string &path, int *rc)
{
    ImageInfo info;
    std::memset(&info, 0, sizeof info);
    Fd f(path);
    *rc = imgDIB(f.fd, &info);
    return info;
}

/* The colour of pixel (x, y) where the description says it is: rows
 * bottom-up `block` apart from `offset`, packed high bits first, mapped
 * through the palette, or (blue, green, red) bytes for three bands. */
void pixelRGB(const ImageInfo &info, const std::vector<unsigned char> &file,
              int x, int y, unsigned char rgb[3])
{
    const unsigned char *row = file.data() + info.offset
                               + (size_t)(info.rows - 1 - y) * info.block;
    if (info.nbands == 3) {
        rgb[0] = row[3 * x + 2];
        rgb[1] = row[3 * x + 1];
        rgb[2] = row[3 * x];
        return;
    }
    int index;
    if (info.pixel == PIXEL_1BIT)
        index = (row[x / 8] >> (7 - x % 8)) & 1;
    else if (info.pixel == PIXEL_4BITS)
        index = x % 2 ? row[x / 2] & 15 : row[x / 2] >> 4;
    else
        index = row[x];
    std::memcpy(rgb, info.palette[index], 3);
}

/* Every pixel of the BMP equals the picture it was written from. */
void expectPixels(const std::string &bmp, const std::string &source)
{
    int rc;
    ImageInfo info = probe(fixturePath(bmp), &rc);
    ASSERT_EQ(rc, 1) << bmp;
    RefPicture src = readRefPicture(fixturePath(source));
    ASSERT_EQ(src.channels, 3);
    ASSERT_EQ(info.columns, src.w);
    ASSERT_EQ(info.rows, src.h);
    std::vector<unsigned char> file = readFileBytes(fixturePath(bmp));
    for (int y = 0; y < src.h; y++)
        for (int x = 0; x < src.w; x++) {
            unsigned char rgb[3];
            pixelRGB(info, file, x, y, rgb);
            for (int c = 0; c < 3; c++)
                ASSERT_EQ(rgb[c], src.at(x, y, c))
                    << bmp << " x " << x << " y " << y << " c " << c;
        }
}

/* A BMP of the 40-byte form built by hand. */
std::vector<unsigned char> handBMP(int width, int height, int bitCount,
                                   int compression, int clrUsed,
                                   int tableEntries, int dataBytes)
{
    std::vector<unsigned char> v{'B', 'M'};
    int offset = 54 + 4 * tableEntries;
    putLE32(v, (uint32_t)(offset + dataBytes));
    putLE32(v, 0);
    putLE32(v, (uint32_t)offset);
    putLE32(v, 40);
    putLE32(v, (uint32_t)width);
    putLE32(v, (uint32_t)height);
    putLE16(v, 1);
    putLE16(v, (uint16_t)bitCount);
    putLE32(v, (uint32_t)compression);
    putLE32(v, 0);
    putLE32(v, 0);
    putLE32(v, 0);
    putLE32(v, (uint32_t)clrUsed);
    putLE32(v, 0);
    for (int i = 0; i < tableEntries; i++) {
        v.push_back((unsigned char)(10 * i));
        v.push_back((unsigned char)(10 * i + 1));
        v.push_back((unsigned char)(10 * i + 2));
        v.push_back(0xA5);
    }
    v.resize(v.size() + (size_t)dataBytes, 0x77);
    return v;
}

}  // namespace

TEST(imgDIB, ImageMagickAndNetpbmFilesReadWithTheWritersPixels)
{
    struct {
        const char *file;
        int pixel, nbands, nindices, msbf, block, offset;
    } cases[] = {
        {"rasters/im_pal2.bmp", PIXEL_1BIT, 1, 2, 1, 8, 14 + 124 + 8},
        {"rasters/im_pal16.bmp", PIXEL_4BITS, 1, 16, 1, 20, 14 + 124 + 64},
        {"rasters/im_pal256.bmp", PIXEL_BYTE, 1, 256, 0, 40, 14 + 124 + 1024},
        {"rasters/np_pal256.bmp", PIXEL_BYTE, 1, 256, 0, 40, 54 + 1024},
        {"rasters/im_rgb.bmp", PIXEL_BYTE, 3, 0, 0, 112, 14 + 124},
        {"rasters/np_rgb.bmp", PIXEL_BYTE, 3, 0, 0, 112, 54},
    };
    for (const auto &c : cases) {
        int rc;
        ImageInfo info = probe(fixturePath(c.file), &rc);
        ASSERT_EQ(rc, 1) << c.file;
        EXPECT_EQ(info.imgid, IMG_DIB) << c.file;
        EXPECT_EQ(info.pixel, c.pixel) << c.file;
        EXPECT_EQ(info.bits, pixelBits(c.pixel)) << c.file;
        EXPECT_EQ(info.nbands, c.nbands) << c.file;
        EXPECT_EQ(info.nindices, c.nindices) << c.file;
        EXPECT_EQ(info.msbf, c.msbf) << c.file;
        EXPECT_EQ(info.block, c.block) << c.file;
        EXPECT_EQ(info.offset, c.offset) << c.file;
        EXPECT_EQ(info.columns, 37) << c.file;
        EXPECT_EQ(info.rows, 23) << c.file;
        EXPECT_EQ(info.mapid, MAP_GRID) << c.file;
        EXPECT_EQ(info.transparent, -1) << c.file;
        EXPECT_EQ(info.dx, 1.0) << c.file;
    }
    expectPixels("rasters/im_pal2.bmp", "rasters/src_pal2.ppm");
    expectPixels("rasters/im_pal16.bmp", "rasters/src_pal16.ppm");
    expectPixels("rasters/im_pal256.bmp", "rasters/src_pal256.ppm");
    expectPixels("rasters/np_pal256.bmp", "rasters/src_pal256.ppm");
    expectPixels("rasters/im_rgb.bmp", "rasters/src_rgb.ppm");
    expectPixels("rasters/np_rgb.bmp", "rasters/src_rgb.ppm");
}

TEST(imgDIB, ColourTableBoundsAndFilePosition)
{
    ScratchDir dir;
    // Colours used 3 of 256: the rest of the palette is black, not pixel
    // bytes; nindices stays 256.
    std::string path = dir.path("few.bmp");
    writeFileBytes(path, handBMP(4, 2, 8, 0, 3, 3, 8));
    Fd f(path);
    lseek(f.fd, 7, SEEK_SET);
    ImageInfo info;
    std::memset(&info, 0, sizeof info);
    ASSERT_EQ(imgDIB(f.fd, &info), 1);
    EXPECT_EQ(lseek(f.fd, 0, SEEK_CUR), 7);
    EXPECT_EQ(info.nindices, 256);
    EXPECT_EQ(info.offset, 54 + 12);
    EXPECT_EQ(info.palette[2][0], 22);   // red from byte 2 of entry 2
    EXPECT_EQ(info.palette[2][1], 21);
    EXPECT_EQ(info.palette[2][2], 20);
    EXPECT_EQ(info.palette[3][0], 0);
    EXPECT_EQ(info.palette[255][2], 0);

    // A 24-bit BMP of width 3 has 12 bytes per row.
    std::string w3 = dir.path("w3.bmp");
    writeFileBytes(w3, handBMP(3, 2, 24, 0, 0, 0, 24));
    int rc;
    info = probe(w3, &rc);
    ASSERT_EQ(rc, 1);
    EXPECT_EQ(info.block, 12);
    EXPECT_EQ(info.nbands, 3);
}

TEST(imgDIB, RefusesWhatTheLineAccessCannotRead)
{
    ScratchDir dir;
    CapturedOutput out;
    struct {
        std::vector<unsigned char> bytes;
        const char *message;
    } cases[] = {
        {handBMP(4, 2, 16, 0, 0, 0, 16),
         "Error in initDIB_Bi: invalid BitCount.\n"},
        {handBMP(4, 2, 32, 0, 0, 0, 32),
         "Error in initDIB_Bi: invalid BitCount.\n"},
        {handBMP(4, 2, 8, 1, 0, 256, 8),
         "Error in imgDIB: compressed bitmaps (compression 1) are not"
         " supported.\n"},
        {handBMP(4, -2, 8, 0, 0, 256, 8),
         "Error in imgDIB: top-down bitmaps are not supported.\n"},
        {handBMP(0, 2, 8, 0, 0, 256, 8),
         "Error in imgDIB: invalid size 0 x 2.\n"},
        {handBMP(4, 2, 8, 0, 0, 256, 7),
         "Error in imgDIB: the pixel data is truncated (7 of 8 bytes).\n"},
        {handBMP(0x7FFFFFFF, 0x7FFFFFFF, 24, 0, 0, 0, 8),
         "Error in imgDIB: invalid size 2147483647 x 2147483647.\n"},
        {handBMP(60000, 60000, 24, 0, 0, 0, 8),
         "Error in imgDIB: the pixel data is truncated (8 of 10800000000"
         " bytes).\n"},
    };
    std::string path = dir.path("bad.bmp");
    for (const auto &c : cases) {
        writeFileBytes(path, c.bytes);
        out.clear();
        int rc;
        probe(path, &rc);
        EXPECT_EQ(rc, 0) << c.message;
        EXPECT_EQ(out.err(), c.message);
    }
    // Not BMPs at all: silent.
    out.clear();
    writeFileBytes(path, {'B', 'A', 0, 0});
    int rc;
    probe(path, &rc);
    EXPECT_EQ(rc, 0);
    EXPECT_EQ(out.err(), "");
}

TEST(imgDIB, EveryTruncationIsRefused)
{
    ScratchDir dir;
    CapturedOutput quiet;
    for (const char *name : {"rasters/im_pal16.bmp", "rasters/np_rgb.bmp"}) {
        std::vector<unsigned char> full = readFileBytes(fixturePath(name));
        std::string path = dir.path("cut.bmp");
        for (size_t n = 0; n < full.size(); n++) {
            writeFileBytes(path, std::vector<unsigned char>(
                                     full.begin(), full.begin() + (long)n));
            int rc;
            probe(path, &rc);
            ASSERT_EQ(rc, 0) << name << " cut at " << n;
        }
    }
}

TEST(initDIBHead, ByteLayoutOfEachDepth)
{
    ScratchDir dir;
    struct {
        int pixel, nbands, columns, bitCount, rowBytes, entries;
    } cases[] = {
        {PIXEL_BYTE, 1, 5, 8, 8, 3},
        {PIXEL_BYTE, 3, 3, 24, 12, 0},
        {PIXEL_1BIT, 1, 33, 1, 8, 2},
        {PIXEL_4BITS, 1, 9, 4, 8, 16},
    };
    for (const auto &c : cases) {
        ImageInfo info;
        std::memset(&info, 0, sizeof info);
        std::string path = dir.path("new.bmp");
        std::snprintf(info.fileName, sizeof info.fileName, "%s",
                      path.c_str());
        info.imgid = IMG_DIB;
        info.pixel = c.pixel;
        info.nbands = c.nbands;
        info.columns = c.columns;
        info.rows = 2;
        info.nindices = c.pixel == PIXEL_BYTE && c.nbands == 1 ? 3 : 16;
        for (int i = 0; i < 16; i++) {
            info.palette[i][0] = (unsigned char)(i + 100);
            info.palette[i][1] = (unsigned char)(i + 50);
            info.palette[i][2] = (unsigned char)i;
        }
        Fd f(path, O_RDWR | O_CREAT | O_TRUNC);
        lseek(f.fd, 3, SEEK_SET);
        ASSERT_EQ(initDIBHead(f.fd, 1, &info), 1080);
        EXPECT_EQ(lseek(f.fd, 0, SEEK_CUR), 3);
        EXPECT_EQ(info.block, c.rowBytes);
        EXPECT_EQ(info.offset, 1080);
        EXPECT_EQ(info.msbf, c.bitCount < 8 ? 1 : msbFirst());

        std::vector<unsigned char> want{'B', 'M'};
        putLE32(want, (uint32_t)(1080 + 2 * c.rowBytes));
        putLE32(want, 0);
        putLE32(want, 1080);
        putLE32(want, 40);
        putLE32(want, (uint32_t)c.columns);
        putLE32(want, 2);
        putLE16(want, 1);
        putLE16(want, (uint16_t)c.bitCount);
        want.resize(54, 0);
        int n = c.entries < info.nindices ? c.entries : info.nindices;
        for (int i = 0; i < n; i++) {
            want.push_back((unsigned char)i);
            want.push_back((unsigned char)(i + 50));
            want.push_back((unsigned char)(i + 100));
            want.push_back(0);
        }
        EXPECT_EQ(readFileBytes(path), want) << "bit count " << c.bitCount;
    }
}

TEST(initDIBHead, RefusesOtherLayouts)
{
    ScratchDir dir;
    CapturedOutput out;
    std::string path = dir.path("no.bmp");
    Fd f(path, O_RDWR | O_CREAT | O_TRUNC);
    struct { int pixel, nbands; } cases[] = {
        {PIXEL_SHORT, 1}, {PIXEL_FLOAT, 1}, {PIXEL_BYTE, 2},
        {PIXEL_BYTE, 4}, {PIXEL_1BIT, 3},
    };
    for (const auto &c : cases) {
        ImageInfo info;
        std::memset(&info, 0, sizeof info);
        info.pixel = c.pixel;
        info.nbands = c.nbands;
        info.columns = info.rows = 4;
        out.clear();
        EXPECT_EQ(initDIBHead(f.fd, 0, &info), -1);
        EXPECT_EQ(out.err(), "Error in initDIBHead: a DIB holds one band of"
                             " 1BIT, 4BITS or BYTE pixels or three bands of"
                             " BYTE.\n");
    }
    EXPECT_EQ(readFileBytes(path).size(), 0u);
}

TEST(initDIBHead, FilesOpenInImageMagickWithTheirPixels)
{
    std::string im = imageMagick();
    if (!haveTool(im))
        GTEST_SKIP() << "ImageMagick is not installed";
    ScratchDir dir;
    // A 4-bit, an 8-bit without palette (grey ramp) and a 24-bit file,
    // pixels stored where the header says.
    struct { int pixel, nbands, nindices; } cases[] = {
        {PIXEL_4BITS, 1, 16}, {PIXEL_BYTE, 1, 0}, {PIXEL_BYTE, 3, 0},
    };
    for (const auto &c : cases) {
        ImageInfo info;
        std::memset(&info, 0, sizeof info);
        std::string path = dir.path("rt.bmp");
        std::snprintf(info.fileName, sizeof info.fileName, "%s",
                      path.c_str());
        info.imgid = IMG_DIB;
        info.pixel = c.pixel;
        info.nbands = c.nbands;
        info.columns = 7;
        info.rows = 3;
        info.nindices = c.nindices;
        for (int i = 0; i < 16; i++) {
            info.palette[i][0] = (unsigned char)(i * 16);
            info.palette[i][1] = (unsigned char)(255 - i * 16);
            info.palette[i][2] = (unsigned char)(i * 5);
        }
        ASSERT_EQ(createImage(&info), 1080);
        std::vector<unsigned char> file = readFileBytes(path);
        ASSERT_EQ(file.size(), 1080u + 3u * info.block);
        for (int y = 0; y < 3; y++) {
            unsigned char *row = file.data() + 1080 + (2 - y) * info.block;
            for (int x = 0; x < 7; x++) {
                int v = x * 3 + y * 5;
                if (c.pixel == PIXEL_4BITS)
                    row[x / 2] |= (unsigned char)(x % 2 ? v % 16
                                                        : (v % 16) << 4);
                else if (c.nbands == 1)
                    row[x] = (unsigned char)(v * 9);
                else
                    for (int b = 0; b < 3; b++)
                        row[3 * x + b] = (unsigned char)(v * 9 + b * 40);
            }
        }
        writeFileBytes(path, file);
        RefPicture got = parseRefPicture(
            runTool(im + " " + path + " -depth 8 ppm:-"));
        ASSERT_EQ(got.channels, 3);
        ASSERT_EQ(got.w, 7);
        ASSERT_EQ(got.h, 3);
        for (int y = 0; y < 3; y++)
            for (int x = 0; x < 7; x++) {
                int v = x * 3 + y * 5;
                unsigned char want[3];
                if (c.pixel == PIXEL_4BITS) {
                    std::memcpy(want, info.palette[v % 16], 3);
                } else if (c.nbands == 1) {
                    std::memset(want, v * 9, 3);
                } else {
                    want[0] = (unsigned char)(v * 9 + 80);
                    want[1] = (unsigned char)(v * 9 + 40);
                    want[2] = (unsigned char)(v * 9);
                }
                for (int k = 0; k < 3; k++)
                    ASSERT_EQ(got.at(x, y, k), want[k])
                        << "pixel " << c.pixel << " x " << x << " y " << y;
            }
    }
}

TEST(updateDIBIndices, RewritesTheTableInPlace)
{
    ScratchDir dir;
    std::string path = dir.path("pal.bmp");
    std::vector<unsigned char> orig =
        readFileBytes(fixturePath("rasters/im_pal256.bmp"));
    writeFileBytes(path, orig);
    int rc;
    ImageInfo info = probe(path, &rc);
    ASSERT_EQ(rc, 1);
    for (int i = 0; i < 256; i++) {
        info.palette[i][0] = (unsigned char)i;
        info.palette[i][1] = (unsigned char)(i ^ 0x55);
        info.palette[i][2] = (unsigned char)(255 - i);
    }
    {
        Fd f(path);
        lseek(f.fd, 11, SEEK_SET);
        EXPECT_EQ(updateDIBIndices(f.fd, &info), 256);
        EXPECT_EQ(lseek(f.fd, 0, SEEK_CUR), 11);
    }
    std::vector<unsigned char> now = readFileBytes(path);
    ASSERT_EQ(now.size(), orig.size());
    const size_t table = 14 + 124;
    for (size_t i = 0; i < now.size(); i++) {
        if (i >= table && i < table + 1024 && (i - table) % 4 != 3)
            continue;
        ASSERT_EQ(now[i], orig[i]) << "byte " << i;  // reserved bytes kept
    }
    ImageInfo back = probe(path, &rc);
    EXPECT_EQ(std::memcmp(back.palette, info.palette, sizeof info.palette),
              0);

    // A table shorter than the bit count allows: only what fits between
    // the headers and the pixels is written, and colours used follows.
    std::string few = dir.path("few.bmp");
    writeFileBytes(few, handBMP(4, 2, 8, 0, 2, 2, 8));
    ImageInfo fi = probe(few, &rc);
    ASSERT_EQ(rc, 1);
    fi.palette[1][0] = 9;
    {
        Fd f(few);
        EXPECT_EQ(updateDIBIndices(f.fd, &fi), 2);
    }
    std::vector<unsigned char> fb = readFileBytes(few);
    EXPECT_EQ(fb[54 + 4 + 2], 9);
    EXPECT_EQ(fb[54 + 4 + 3], 0xA5);
    EXPECT_EQ(fb[62], 0x77);  // first pixel byte untouched

    // Nothing is written for a mismatch or a three-band file.
    Fd f(path);
    info.nindices = 16;
    EXPECT_EQ(updateDIBIndices(f.fd, &info), 0);
    info.nindices = 256;
    info.pixel = PIXEL_4BITS;
    EXPECT_EQ(updateDIBIndices(f.fd, &info), 0);
    Fd rgb(fixturePath("rasters/im_rgb.bmp"), O_RDONLY);
    ImageInfo ri = probe(fixturePath("rasters/im_rgb.bmp"), &rc);
    EXPECT_EQ(updateDIBIndices(rgb.fd, &ri), 0);
    EXPECT_EQ(readFileBytes(path), now);
}
