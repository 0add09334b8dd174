// Tests of erdas.cpp: the probe on hand-made headers of the three
// variants, the header writer's byte layout and refusals, and the
// direct-access routines, including the ones that end the process (run
// in forked children).
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "core/hostField.h"
#include "core/imgtype.h"
#include "core/ramimg.h"
#include "core/stdstream.h"
#include "formats/erdas.h"
#include "tests/support/imageRecords.h"
#include "tests/support/probeSupport.h"
#include "tests/support/testSupport.h"

namespace {

typedef std::vector<unsigned char> Bytes;

// A header in host order with the given magic and pack type, counts as
// int32, then `pixelBytes` zero bytes.
Bytes header(const char *magic, int npack, int bands, int columns, int rows,
             size_t pixelBytes = 0)
{
    Bytes h(128 + pixelBytes, 0);
    std::memcpy(h.data(), magic, 6);
    putHostField<int16_t>(h.data(), 6, (int16_t)npack);
    putHostField<int16_t>(h.data(), 8, (int16_t)bands);
    putHostField<int32_t>(h.data(), 16, columns);
    putHostField<int32_t>(h.data(), 20, rows);
    return h;
}

void putFloats(Bytes &h, int off, std::initializer_list<float> values)
{
    for (float v : values) {
        putHostField<float>(h.data(), off, v);
        off += 4;
    }
}

const std::string hostMsbf = std::to_string(msbFirst());

}  // namespace

// Every field of a 7.4 header, probed at file position 77; 7.3 float
// counts; the pack types; refusals.
TEST(imgErdas, HeadersOfEachVariant)
{
    Bytes h = header("HEAD74", 5, 3, 40, 30, 40 * 2 * 3 * 30);
    putHostField<int32_t>(h.data(), 24, 17);  // left
    putHostField<int32_t>(h.data(), 28, -4);  // top
    putFloats(h, 112, {500000.5f, 4200000.0f, 30.0f, 28.5f});
    MemoryFile f(h);
    ImageInfo info;
    EXPECT_EQ(probeAt(f.path, &info, imgErdas, 77), IMG_E74);
    EXPECT_EQ(infoLine(info), "E74 SHORT/16 40x30x3 off 128 block 80 msbf "
              + hostMsbf + " GRID nind 0 tr -1 frame -4,17 vol 0"
              " map 500000.5,4200000 cell 30,28.5");

    // 7.3: float counts truncated toward zero.
    h = header("HEADER", 0, 2, 0, 0);
    putFloats(h, 16, {100.9f, 50.5f});
    f.set(h);
    EXPECT_EQ(probeAt(f.path, &info, imgErdas), IMG_E73);
    EXPECT_EQ(info.columns, 100);
    EXPECT_EQ(info.rows, 50);
    EXPECT_EQ(info.block, 100);

    // 9 columns, one line: the pack types, 4 bits high nibble first with
    // an odd width, bands sign-extended 16-bit; unknown pack types and
    // magic, and a short file, are not ERDAS.
    struct {
        const char *magic;
        int npack, bands, type, pixel, block;
    } cases[] = {
        {"HEAD74", 0, 1, IMG_E74, PIXEL_BYTE, 9},
        {"E74BSQ", 1, 1, IMG_E74BSQ, PIXEL_4BITS, 5},
        {"HEAD74", 2, 1, IMG_E74, PIXEL_USHORT, 18},
        {"HEAD74", 3, 1, IMG_E74, PIXEL_LONG, 36},
        {"HEAD74", 4, 1, IMG_E74, PIXEL_FLOAT, 36},
        {"HEAD74", 5, 1, IMG_E74, PIXEL_SHORT, 18},
        {"HEAD74", 0, 0xFFFF, IMG_E74, PIXEL_BYTE, 9},
        {"HEAD74", 9, 1, 0, 0, 0},
        {"HEAD74", 0xFFFF, 1, 0, 0, 0},
        {"HEAD75", 0, 1, 0, 0, 0},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(std::string(c.magic) + " " + std::to_string(c.npack));
        f.set(header(c.magic, c.npack, c.bands, 9, 1));
        ASSERT_EQ(probeAt(f.path, &info, imgErdas), c.type);
        if (!c.type)
            continue;
        EXPECT_EQ(info.pixel, c.pixel);
        EXPECT_EQ(info.block, c.block);
        EXPECT_EQ(info.nbands, (int16_t)c.bands);
        EXPECT_EQ(info.msbf, c.pixel == PIXEL_4BITS ? 1 : msbFirst());
    }
    h = header("HEAD74", 0, 1, 9, 1);
    h.resize(127);
    f.set(h);
    EXPECT_EQ(probeAt(f.path, &info, imgErdas), 0);
}

TEST(imgErdas, StoreRefusesImpossibleGeometry)
{
    // Headers the probe takes but no raster can have: open fails cleanly.
    ScratchDir dir;
    std::string p = dir.path("c.lan");
    Bytes h = header("HEADER", 0, 1, 0, 0);
    putFloats(h, 16, {1e30f, 5.0f});
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
    std::string p = dir.path("h.lan");
    struct {
        int imgid;
        const char *magic;
    } cases[] = {{IMG_E74, "HEAD74"}, {IMG_E73, "HEADER"},
                 {IMG_E74BSQ, "E74BSQ"}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.magic);
        writeFileBytes(p, Bytes(300, 0xEE));
        ImageInfo info = describeImage(p, c.imgid, PIXEL_USHORT, 11, 21, 3,
                                       0, 0, 0);
        info.top = 7;
        info.left = -2;
        info.x0 = 10.25;
        info.y0 = -3.5;
        info.dx = 0.5;
        info.dy = 2.0;
        int fd = open(p.c_str(), O_RDWR);
        lseek(fd, 200, SEEK_SET);
        EXPECT_EQ(initErdasHead(fd, 1, &info), 128);
        EXPECT_EQ(lseek(fd, 0, SEEK_CUR), 200);
        close(fd);
        EXPECT_EQ(info.block, 42);
        EXPECT_EQ(info.offset, 128);
        EXPECT_EQ(info.msbf, msbFirst());

        // Every header byte; the pixel area is not the writer's.
        Bytes want = header(c.magic, 2, 3, 21, 11);
        if (c.imgid == IMG_E73)
            putFloats(want, 16, {21.0f, 11.0f});
        putHostField<int32_t>(want.data(), 24, -2);
        putHostField<int32_t>(want.data(), 28, 7);
        putFloats(want, 112, {10.25f, -3.5f, 0.5f, 2.0f});
        want.resize(300, 0xEE);
        EXPECT_EQ(readFileBytes(p), want);

        ImageInfo back;
        EXPECT_EQ(probeAt(p, &back, imgErdas), c.imgid);
        EXPECT_EQ(infoLine(back), std::string(strImgID(c.imgid))
                  + " USHORT/16 21x11x3 off 128 block 42 msbf " + hostMsbf
                  + " GRID nind 0 tr -1 frame 7,-2 vol 0 map 10.25,-3.5"
                  " cell 0.5,2");
    }
}

TEST(initErdasHead, RefusesPixelTypesAndMissingSpace)
{
    ScratchDir dir;
    std::string p = dir.path("r.lan");
    for (int pixel : {PIXEL_UNKNOWN, PIXEL_1BIT, PIXEL_ULONG, PIXEL_SBYTE}) {
        writeFileBytes(p, Bytes(200, 0x55));
        ImageInfo info = describeImage("", IMG_E74, pixel, 10, 10, 1, 0, 0, 0);
        int fd = open(p.c_str(), O_RDWR);
        EXPECT_EQ(initErdasHead(fd, 0, &info), -1) << pixel;
        close(fd);
        EXPECT_EQ(readFileBytes(p), Bytes(200, 0x55)) << pixel;
    }

    // Free space unknown (the path's folder does not exist): refused.
    CapturedOutput output;
    ImageInfo info = describeImage(dir.path("none/x.lan"), IMG_E74,
                                   PIXEL_BYTE, 5, 10, 2, 0, 0, 0);
    writeFileBytes(p, Bytes(10, 1));
    int fd = open(p.c_str(), O_RDWR);
    EXPECT_EQ(initErdasHead(fd, 1, &info), -1);
    EXPECT_EQ(output.err(),
              "Insufficient disk space. Requested:228 Available:-1\n");
    // More than any disk holds.
    output.clear();
    info = describeImage(p, IMG_E74, PIXEL_FLOAT, 1 << 20, 1 << 20, 30000,
                         0, 0, 0);
    EXPECT_EQ(initErdasHead(fd, 1, &info), -1);
    EXPECT_EQ(output.err().rfind("Insufficient disk space. Requested:"
                                 "131941395333120128 Available:", 0), 0u)
        << output.err();
    close(fd);
    EXPECT_EQ(readFileBytes(p), Bytes(10, 1));

    // Through the registry: a created file is removed again; a good one
    // is the header and zero lines of (columns + 1) / 2 bytes for 4 bits.
    info = describeImage(dir.path("s.lan"), IMG_E74, PIXEL_SBYTE, 4, 4, 1,
                         0, 0, 0);
    EXPECT_EQ(createImage(&info), -1);
    EXPECT_NE(access(info.fileName, F_OK), 0);
    info = describeImage(dir.path("n.lan"), IMG_E74BSQ, PIXEL_4BITS, 10, 5, 3,
                         0, 0, 0);
    EXPECT_EQ(createImage(&info), 128);
    Bytes b = readFileBytes(info.fileName);
    ASSERT_EQ(b.size(), 128u + 3 * 3 * 10);
    EXPECT_EQ(Bytes(b.begin() + 128, b.end()), Bytes(90, 0));
}

TEST(hdrv, ReversesExactlyTheNumericFields)
{
    Bytes h(128);
    for (int i = 0; i < 128; i++)
        h[i] = (unsigned char)i;
    Bytes r = h, expect = h;
    hdrv(r.data());
    for (int o : {6, 8, 10, 88, 90, 106})
        std::swap(expect[o], expect[o + 1]);
    for (int o : {16, 20, 24, 28, 36, 40, 108, 112, 116, 120, 124})
        std::reverse(expect.begin() + o, expect.begin() + o + 4);
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
    putFloats(h, 16, {4.7f, 3.2f, 2.0f, 9.9f});
    for (int row = 0; row < 3; row++)
        for (int band = 0; band < 2; band++)
            for (int x = 0; x < 4; x++)
                h.push_back((unsigned char)(row * 100 + band * 10 + x));
    writeFileBytes(p, h);
    unsigned char buf[128];
    int fd = OpenOLDERDAS(p.c_str(), buf);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(std::string((char *)buf, 6), "HEAD74");
    EXPECT_EQ(hostField<int32_t>(buf, 16), 4);
    EXPECT_EQ(hostField<int32_t>(buf, 20), 3);
    EXPECT_EQ(hostField<int32_t>(buf, 24), 2);
    EXPECT_EQ(hostField<int32_t>(buf, 28), 9);
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

TEST(OpenOLDERDASDeathTest, ProcessEndingFailures)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    ScratchDir dir;
    std::string p = dir.path("e.lan");
    writeFileBytes(p, header("E74BSQ", 0, 1, 4, 4));
    unsigned char buf[128];
    auto child = [] { setStdStreamSink(streamsToDescriptors); };
    EXPECT_EXIT({ child(); OpenOLDERDAS(p.c_str(), buf); },
                testing::ExitedWithCode(255), "^Not an ERDAS file.\n$");
    Bytes h5 = header("HEAD74", 5, 1, 4, 4);
    EXPECT_EXIT({ child(); nBitsErdas(h5.data()); },
                testing::ExitedWithCode(1), "^Unsupported NPACK 5\n$");
    // A line beyond the end of the file: short read.
    writeFileBytes(p, header("HEAD74", 0, 2, 4, 3, 2 * 4 * 3));
    EXPECT_EXIT({ child(); int fd = OpenOLDERDAS(p.c_str(), buf);
                  GetErdasLine(buf, fd, 1, 3, buf); },
                testing::ExitedWithCode(1), "^read in GetErdasLine: ");
}
