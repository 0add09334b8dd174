// Tests of erdas.cpp: the probe on hand-made headers of the three
// variants, the header writer's byte layout and refusals, and the
// direct-access routines, including the ones that end the process (run
// in forked children).
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <vector>

#include "core/imgtype.h"
#include "core/ramimg.h"
#include "core/stdstream.h"
#include "formats/erdas.h"
#include "tests/support/testSupport.h"

namespace {

typedef std::vector<unsigned char> Bytes;

void setLE16(Bytes &h, int off, uint16_t v)
{
    h[off] = v & 0xFF;
    h[off + 1] = v >> 8;
}

void setLE32(Bytes &h, int off, uint32_t v)
{
    for (int i = 0; i < 4; i++)
        h[off + i] = (v >> (8 * i)) & 0xFF;
}

void setFloat(Bytes &h, int off, float f)
{
    uint32_t v;
    std::memcpy(&v, &f, 4);
    setLE32(h, off, v);
}

uint32_t getLE32(const Bytes &h, int off)
{
    return h[off] | h[off + 1] << 8 | h[off + 2] << 16
           | (uint32_t)h[off + 3] << 24;
}

float getFloat(const Bytes &h, int off)
{
    uint32_t v = getLE32(h, off);
    float f;
    std::memcpy(&f, &v, 4);
    return f;
}

// A header with the given magic and pack type, counts as int32.
Bytes header(const char *magic, int npack, int bands, int columns, int rows)
{
    Bytes h(128, 0);
    std::memcpy(h.data(), magic, 6);
    setLE16(h, 6, (uint16_t)npack);
    setLE16(h, 8, (uint16_t)bands);
    setLE32(h, 16, (uint32_t)columns);
    setLE32(h, 20, (uint32_t)rows);
    return h;
}

int probe(const std::string &path, ImageInfo *info, off_t start = 0)
{
    int fd = open(path.c_str(), O_RDWR);
    lseek(fd, start, SEEK_SET);
    std::memset(info, 0, sizeof *info);
    int rc = imgErdas(fd, info);
    EXPECT_EQ(lseek(fd, 0, SEEK_CUR), start);
    close(fd);
    return rc;
}

ImageInfo describe(int imgid, int pixel, int bands, int columns, int rows)
{
    ImageInfo info;
    std::memset(&info, 0, sizeof info);
    info.imgid = imgid;
    info.pixel = pixel;
    info.nbands = bands;
    info.columns = columns;
    info.rows = rows;
    info.transparent = -1;
    return info;
}

}  // namespace

TEST(imgErdas, ReadsEveryFieldOfA74Header)
{
    ScratchDir dir;
    Bytes h = header("HEAD74", 5, 3, 40, 30);
    setLE32(h, 24, 17);          // left
    setLE32(h, 28, (uint32_t)-4); // top
    setFloat(h, 112, 500000.5f);
    setFloat(h, 116, 4200000.0f);
    setFloat(h, 120, 30.0f);
    setFloat(h, 124, 28.5f);
    h.resize(128 + 40 * 2 * 3 * 30);
    writeFileBytes(dir.path("a.lan"), h);
    ImageInfo info;
    EXPECT_EQ(probe(dir.path("a.lan"), &info, 77), IMG_E74);
    EXPECT_EQ(info.imgid, IMG_E74);
    EXPECT_EQ(info.pixel, PIXEL_SHORT);
    EXPECT_EQ(info.bits, 16);
    EXPECT_EQ(info.nbands, 3);
    EXPECT_EQ(info.columns, 40);
    EXPECT_EQ(info.rows, 30);
    EXPECT_EQ(info.left, 17);
    EXPECT_EQ(info.top, -4);
    EXPECT_EQ(info.offset, 128);
    EXPECT_EQ(info.block, 80);
    EXPECT_EQ(info.mapid, MAP_GRID);
    EXPECT_EQ(info.msbf, msbFirst());
    EXPECT_EQ(info.nindices, 0);
    EXPECT_EQ(info.transparent, -1);
    EXPECT_DOUBLE_EQ(info.x0, 500000.5);
    EXPECT_DOUBLE_EQ(info.y0, 4200000.0);
    EXPECT_DOUBLE_EQ(info.dx, 30.0);
    EXPECT_DOUBLE_EQ(info.dy, 28.5);
}

TEST(imgErdas, VariantsPackTypesAndRefusals)
{
    ScratchDir dir;
    std::string p = dir.path("b.lan");
    ImageInfo info;

    // 7.3: float counts truncated toward zero.
    Bytes h = header("HEADER", 0, 2, 0, 0);
    setFloat(h, 16, 100.9f);
    setFloat(h, 20, 50.5f);
    writeFileBytes(p, h);
    EXPECT_EQ(probe(p, &info), IMG_E73);
    EXPECT_EQ(info.columns, 100);
    EXPECT_EQ(info.rows, 50);
    EXPECT_EQ(info.block, 100);

    // 4 bits, odd width: 3 bytes per line, high nibble first.
    writeFileBytes(p, header("E74BSQ", 1, 1, 5, 2));
    EXPECT_EQ(probe(p, &info), IMG_E74BSQ);
    EXPECT_EQ(info.pixel, PIXEL_4BITS);
    EXPECT_EQ(info.block, 3);
    EXPECT_EQ(info.msbf, 1);

    const int pixels[] = {PIXEL_BYTE, PIXEL_4BITS, PIXEL_USHORT, PIXEL_LONG,
                          PIXEL_FLOAT, PIXEL_SHORT};
    const int blocks[] = {9, 5, 18, 36, 36, 18};
    for (int npack = 0; npack < 6; npack++) {
        writeFileBytes(p, header("HEAD74", npack, 1, 9, 1));
        EXPECT_EQ(probe(p, &info), IMG_E74) << npack;
        EXPECT_EQ(info.pixel, pixels[npack]) << npack;
        EXPECT_EQ(info.block, blocks[npack]) << npack;
    }

    // Bands are sign-extended 16-bit.
    writeFileBytes(p, header("HEAD74", 0, 0xFFFF, 9, 1));
    EXPECT_EQ(probe(p, &info), IMG_E74);
    EXPECT_EQ(info.nbands, -1);

    // Unknown pack types, magic, and short files are not ERDAS.
    writeFileBytes(p, header("HEAD74", 9, 1, 9, 1));
    EXPECT_EQ(probe(p, &info), 0);
    writeFileBytes(p, header("HEAD74", 0xFFFF, 1, 9, 1));
    EXPECT_EQ(probe(p, &info), 0);
    writeFileBytes(p, header("HEAD75", 0, 1, 9, 1));
    EXPECT_EQ(probe(p, &info), 0);
    Bytes shortFile = header("HEAD74", 0, 1, 9, 1);
    shortFile.resize(127);
    writeFileBytes(p, shortFile);
    EXPECT_EQ(probe(p, &info), 0);
}

TEST(imgErdas, StoreRefusesImpossibleGeometry)
{
    // Headers the probe takes but no raster can have: open fails cleanly.
    ScratchDir dir;
    std::string p = dir.path("c.lan");
    Bytes h = header("HEADER", 0, 1, 0, 0);
    setFloat(h, 16, 1e30f);
    setFloat(h, 20, 5.0f);
    writeFileBytes(p, h);
    int err = 0;
    EXPECT_EQ(openRAMImage(nullptr, p.c_str(), nullptr, nullptr, &err),
              nullptr);
    EXPECT_EQ(err, RAMIMG_EHANDLE);
    writeFileBytes(p, header("HEAD74", 0, 0, 10, 10));
    EXPECT_EQ(openRAMImage(nullptr, p.c_str(), nullptr, nullptr, &err),
              nullptr);
    EXPECT_EQ(getRAMImageByName(p.c_str()), nullptr);
}

TEST(initErdasHead, WritesTheLayoutOfEachVariant)
{
    ScratchDir dir;
    struct Case {
        int imgid;
        const char *magic;
    } cases[] = {{IMG_E74, "HEAD74"}, {IMG_E73, "HEADER"},
                 {IMG_E74BSQ, "E74BSQ"}};
    for (const Case &c : cases) {
        std::string p = dir.path("h.lan");
        writeFileBytes(p, Bytes(300, 0xEE));
        ImageInfo info = describe(c.imgid, PIXEL_USHORT, 3, 21, 11);
        std::snprintf(info.fileName, sizeof info.fileName, "%s", p.c_str());
        info.top = 7;
        info.left = -2;
        info.x0 = 10.25;
        info.y0 = -3.5;
        info.dx = 0.5;
        info.dy = 2.0;
        info.offset = 0;
        int fd = open(p.c_str(), O_RDWR);
        lseek(fd, 200, SEEK_SET);
        EXPECT_EQ(initErdasHead(fd, 1, &info), 128);
        EXPECT_EQ(lseek(fd, 0, SEEK_CUR), 200);
        close(fd);
        EXPECT_EQ(info.block, 42);
        EXPECT_EQ(info.offset, 128);
        EXPECT_EQ(info.msbf, msbFirst());

        Bytes h = readFileBytes(p);
        ASSERT_EQ(h.size(), 300u);
        EXPECT_EQ(std::string(h.begin(), h.begin() + 6), c.magic);
        EXPECT_EQ(h[6], 2);
        EXPECT_EQ(h[7], 0);
        EXPECT_EQ(h[8], 3);
        EXPECT_EQ(h[9], 0);
        if (c.imgid == IMG_E73) {
            EXPECT_EQ(getFloat(h, 16), 21.0f);
            EXPECT_EQ(getFloat(h, 20), 11.0f);
        } else {
            EXPECT_EQ(getLE32(h, 16), 21u);
            EXPECT_EQ(getLE32(h, 20), 11u);
        }
        EXPECT_EQ(getLE32(h, 24), (uint32_t)-2);
        EXPECT_EQ(getLE32(h, 28), 7u);
        EXPECT_EQ(getFloat(h, 112), 10.25f);
        EXPECT_EQ(getFloat(h, 116), -3.5f);
        EXPECT_EQ(getFloat(h, 120), 0.5f);
        EXPECT_EQ(getFloat(h, 124), 2.0f);
        for (int i = 10; i < 112; i++) {
            if (i >= 16 && i < 32)
                continue;
            EXPECT_EQ(h[i], 0) << "byte " << i;
        }
        EXPECT_EQ(h[128], 0xEE);  // the pixel area is not the writer's

        // What was written reads back the same.
        ImageInfo back;
        EXPECT_EQ(probe(p, &back), c.imgid);
        EXPECT_EQ(back.columns, 21);
        EXPECT_EQ(back.rows, 11);
        EXPECT_EQ(back.top, 7);
        EXPECT_EQ(back.left, -2);
        EXPECT_EQ(back.pixel, PIXEL_USHORT);
    }
}

TEST(initErdasHead, RefusesPixelTypesAndMissingSpace)
{
    ScratchDir dir;
    std::string p = dir.path("r.lan");
    const int bad[] = {PIXEL_UNKNOWN, PIXEL_1BIT, PIXEL_ULONG, PIXEL_SBYTE};
    for (int pixel : bad) {
        writeFileBytes(p, Bytes(200, 0x55));
        ImageInfo info = describe(IMG_E74, pixel, 1, 10, 10);
        int fd = open(p.c_str(), O_RDWR);
        EXPECT_EQ(initErdasHead(fd, 0, &info), -1) << pixel;
        close(fd);
        EXPECT_EQ(readFileBytes(p), Bytes(200, 0x55)) << pixel;
    }

    // Free space unknown (the path's folder does not exist): refused.
    CapturedOutput output;
    ImageInfo info = describe(IMG_E74, PIXEL_BYTE, 2, 10, 5);
    std::snprintf(info.fileName, sizeof info.fileName, "%s",
                  dir.path("none/x.lan").c_str());
    writeFileBytes(p, Bytes(10, 1));
    int fd = open(p.c_str(), O_RDWR);
    EXPECT_EQ(initErdasHead(fd, 1, &info), -1);
    EXPECT_EQ(output.err(),
              "Insufficient disk space. Requested:228 Available:-1\n");
    // More than any disk holds.
    output.clear();
    info = describe(IMG_E74, PIXEL_FLOAT, 30000, 1 << 20, 1 << 20);
    std::snprintf(info.fileName, sizeof info.fileName, "%s", p.c_str());
    EXPECT_EQ(initErdasHead(fd, 1, &info), -1);
    EXPECT_EQ(output.err().rfind("Insufficient disk space. Requested:"
                                 "131941395333120128 Available:", 0), 0u)
        << output.err();
    close(fd);
    EXPECT_EQ(readFileBytes(p), Bytes(10, 1));

    // Through the registry: a created file is removed again.
    info = describe(IMG_E74, PIXEL_SBYTE, 1, 4, 4);
    std::snprintf(info.fileName, sizeof info.fileName, "%s",
                  dir.path("s.lan").c_str());
    EXPECT_EQ(createImage(&info), -1);
    EXPECT_NE(access(info.fileName, F_OK), 0);
}

TEST(createImage, ErdasFileSizesAndZeroData)
{
    ScratchDir dir;
    ImageInfo info = describe(IMG_E74BSQ, PIXEL_4BITS, 3, 5, 10);
    std::snprintf(info.fileName, sizeof info.fileName, "%s",
                  dir.path("n.lan").c_str());
    EXPECT_EQ(createImage(&info), 128);
    Bytes b = readFileBytes(info.fileName);
    EXPECT_EQ(b.size(), 128u + 3 * 3 * 10);
    for (size_t i = 128; i < b.size(); i++)
        ASSERT_EQ(b[i], 0);
}

TEST(hdrv, ReversesExactlyTheNumericFields)
{
    Bytes h(128);
    for (int i = 0; i < 128; i++)
        h[i] = (unsigned char)i;
    Bytes r = h;
    hdrv(r.data());
    const int f16[] = {6, 8, 10, 88, 90, 106};
    const int f32[] = {16, 20, 24, 28, 36, 40, 108, 112, 116, 120, 124};
    Bytes expect = h;
    for (int o : f16)
        std::swap(expect[o], expect[o + 1]);
    for (int o : f32) {
        std::swap(expect[o], expect[o + 3]);
        std::swap(expect[o + 1], expect[o + 2]);
    }
    EXPECT_EQ(r, expect);
    hdrv(r.data());
    EXPECT_EQ(r, h);
}

TEST(OpenOLDERDAS, ReadsHeadersAndLines)
{
    ScratchDir dir;
    std::string p = dir.path("d.lan");
    // 7.3 header: every count a float; BYTE, 2 bands, 4 x 3.
    Bytes h = header("HEADER", 0, 2, 0, 0);
    setFloat(h, 16, 4.7f);
    setFloat(h, 20, 3.2f);
    setFloat(h, 24, 2.0f);
    setFloat(h, 28, 9.9f);
    for (int row = 0; row < 3; row++)
        for (int band = 0; band < 2; band++)
            for (int x = 0; x < 4; x++)
                h.push_back((unsigned char)(row * 100 + band * 10 + x));
    writeFileBytes(p, h);
    unsigned char buf[128];
    int fd = OpenOLDERDAS(p.c_str(), buf);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(std::string((char *)buf, 6), "HEAD74");
    Bytes got(buf, buf + 128);
    EXPECT_EQ(getLE32(got, 16), 4u);
    EXPECT_EQ(getLE32(got, 20), 3u);
    EXPECT_EQ(getLE32(got, 24), 2u);
    EXPECT_EQ(getLE32(got, 28), 9u);
    EXPECT_EQ(nBitsErdas(buf), 8);
    EXPECT_EQ(pixelType(buf), 0);
    unsigned char line[8];
    EXPECT_EQ(GetErdasLine(buf, fd, 1, 2, line), 4);
    EXPECT_EQ(Bytes(line, line + 4), (Bytes{210, 211, 212, 213}));
    EXPECT_EQ(GetErdasLine(buf, fd, 0, 1, line), 4);
    EXPECT_EQ(line[0], 100);
    close(fd);
    EXPECT_EQ(readFileBytes(p), h);  // the file is not changed

    // 4-bit lines are (columns + 1) / 2 bytes.
    Bytes h4 = header("HEAD74", 1, 1, 5, 2);
    h4.insert(h4.end(), {0x12, 0x34, 0x50, 0x67, 0x89, 0xA0});
    writeFileBytes(p, h4);
    fd = OpenOLDERDAS(p.c_str(), buf);
    EXPECT_EQ(nBitsErdas(buf), 4);
    EXPECT_EQ(GetErdasLine(buf, fd, 0, 1, line), 3);
    EXPECT_EQ(Bytes(line, line + 3), (Bytes{0x67, 0x89, 0xA0}));
    close(fd);

    CapturedOutput output;
    EXPECT_EQ(OpenOLDERDAS(dir.path("missing.lan").c_str(), buf), -1);
    EXPECT_EQ(output.err(),
              dir.path("missing.lan") + ": No such file or directory\n");
}

namespace {

// In a forked child the package's streams go to the real descriptors.
void toRealStreams(int which, const char *text, int length)
{
    if (write(which == 8 ? 2 : 1, text, (size_t)length) < 0)
        return;
}

}  // namespace

TEST(OpenOLDERDASDeathTest, ProcessEndingFailures)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    ScratchDir dir;
    std::string p = dir.path("e.lan");
    writeFileBytes(p, header("E74BSQ", 0, 1, 4, 4));
    unsigned char buf[128];
    EXPECT_EXIT(
        {
            setStdStreamSink(toRealStreams);
            OpenOLDERDAS(p.c_str(), buf);
        },
        testing::ExitedWithCode(255), "^Not an ERDAS file.\n$");

    Bytes h5 = header("HEAD74", 5, 1, 4, 4);
    EXPECT_EXIT(
        {
            setStdStreamSink(toRealStreams);
            nBitsErdas(h5.data());
        },
        testing::ExitedWithCode(1), "^Unsupported NPACK 5\n$");

    // A line beyond the end of the file: short read.
    Bytes h = header("HEAD74", 0, 2, 4, 3);
    h.resize(128 + 2 * 4 * 3);
    writeFileBytes(p, h);
    EXPECT_EXIT(
        {
            setStdStreamSink(toRealStreams);
            int fd = OpenOLDERDAS(p.c_str(), buf);
            GetErdasLine(buf, fd, 1, 3, buf);
        },
        testing::ExitedWithCode(1), "^read in GetErdasLine: ");
}
