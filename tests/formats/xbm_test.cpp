// Tests of xbm.cpp: ImageMagick's and netpbm's X bitmaps read into the
// cache, the probe's name rules, early ends of the text, the exact text
// written, and written bitmaps read back by ImageMagick and netpbm.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <cstring>
#include <memory>

#include "core/imgtype.h"
#include "core/ramimg.h"
#include "formats/xbm.h"
#include "tests/formats/rasterRef.h"

namespace {

struct RecordDeleter {
    void operator()(RAMImage *r) const { destroyRAMImage(r); }
};
using Record = std::unique_ptr<RAMImage, RecordDeleter>;

Record openFile(const std::string &path)
{
    int err;
    return Record(createRAMImage(path.c_str(), nullptr, nullptr, &err));
}

std::string text(const std::string &path)
{
    std::vector<unsigned char> b = readFileBytes(path);
    return std::string(b.begin(), b.end());
}

/* Pixel x of cached row y: bit x % 8 of byte x / 8, least significant
 * first. */
int cachedBit(const RAMImage *r, int x, int y)
{
    return (r->buffer[(size_t)y * r->lineBytes + x / 8] >> (x % 8)) & 1;
}

}  // namespace

TEST(readXBMP, ImageMagickAndNetpbmBitmapsReadWithTheWritersPixels)
{
    RefPicture src = readRefPicture(fixturePath("rasters/src_pat.pbm"));
    ASSERT_EQ(src.channels, 1);
    for (const char *name : {"rasters/im_pat.xbm", "rasters/np_pat.xbm"}) {
        Record r = openFile(fixturePath(name));
        ASSERT_TRUE(r) << name;
        const ImageInfo &info = r->info;
        EXPECT_EQ(info.imgid, IMG_XBMP);
        EXPECT_EQ(info.pixel, PIXEL_1BIT);
        EXPECT_EQ(info.bits, 1);
        EXPECT_EQ(info.nbands, 1);
        EXPECT_EQ(info.columns, 37);
        EXPECT_EQ(info.rows, 23);
        EXPECT_EQ(info.block, 5);
        EXPECT_EQ(info.offset, 0);
        EXPECT_EQ(info.msbf, 0);
        EXPECT_EQ(info.nindices, 2);
        EXPECT_EQ(info.palette[0][0], 255);
        EXPECT_EQ(info.palette[0][2], 255);
        EXPECT_EQ(info.palette[1][1], 0);
        EXPECT_EQ(info.transparent, -1);
        ASSERT_EQ(readXBMP(r.get()), 1) << name;
        ASSERT_EQ(r->slotCount, 23);
        for (int i = 0; i < 23; i++)
            ASSERT_EQ(r->slotMap[i], i);
        for (int y = 0; y < 23; y++)
            for (int x = 0; x < 37; x++)
                ASSERT_EQ(cachedBit(r.get(), x, y), src.at(x, y, 0))
                    << name << " x " << x << " y " << y;
    }
}

TEST(imgXBMP, NamesNumbersAndEarlyEnds)
{
    ScratchDir dir;
    std::string path = dir.path("t.xbm");
    auto probe = [&](const std::string &t) {
        writeFileBytes(path, std::vector<unsigned char>(t.begin(), t.end()));
        ImageInfo info;
        std::memset(&info, 0, sizeof info);
        int fd = open(path.c_str(), O_RDONLY);
        lseek(fd, 1, SEEK_SET);
        int rc = imgXBMP(fd, &info);
        EXPECT_EQ(lseek(fd, 0, SEEK_CUR), 1);
        close(fd);
        return rc ? info.columns * 1000 + info.rows : 0;
    };
    EXPECT_EQ(probe("#define logo_width 10\n#define logo_height 2\n"
                    "static char logo_bits[] = {0,0,0,0};\n"), 10002);
    EXPECT_EQ(probe("/* x */\n  #define a_height 3\n#define b_width\t9\n"
                    "{1,2,3,4,5,6}"), 9003);
    CapturedOutput out;
    EXPECT_EQ(probe("#define logo_width 10\n"), 0);            // no height
    EXPECT_EQ(probe("int logo_width 10;\n#define x_height 2\n"), 0);
    EXPECT_EQ(probe("#define logo_widths 10\n#define x_height 2\n"), 0);
    EXPECT_EQ(out.err(), "");
    EXPECT_EQ(probe("#define w_width 0\n#define w_height 2\n{0,0}"), 0);
    EXPECT_EQ(out.err(), "Error in imgXBMP: invalid size 0 x 2.\n");
    out.clear();
    std::string huge = "#define w_width 80000\n#define w_height 80000\n{0}";
    EXPECT_EQ(probe(huge), 0);
    EXPECT_EQ(out.err(), "Error in imgXBMP: a 80000 x 80000 bitmap cannot"
                         " fit in " + std::to_string(huge.size())
                         + " bytes of text.\n");
    std::string binary("#define a_width 8\n#define a_height 1\n{0x01}");
    binary[5] = '\0';
    EXPECT_EQ(probe(binary), 0);

    // Items in hexadecimal, octal and decimal; a row takes (width + 7) / 8
    // items; a text that ends early fills what it reaches and fails.
    writeFileBytes(path, {});
    std::string t = "#define a_width 9\n#define a_height 3\n"
                    "static char a_bits[] = { 0x81 , 017,\n255,0X1,\t2 ,3 };";
    writeFileBytes(path, std::vector<unsigned char>(t.begin(), t.end()));
    Record r = openFile(path);
    ASSERT_TRUE(r);
    ASSERT_EQ(readXBMP(r.get()), 1);
    const unsigned char want[] = {0x81, 017, 255, 1, 2, 3};
    for (int y = 0; y < 3; y++)
        for (int i = 0; i < 2; i++)
            EXPECT_EQ(r->buffer[y * r->lineBytes + i], want[2 * y + i]);

    t = "#define a_width 9\n#define a_height 3\n{ 0x81, 017, 255 };    ";
    writeFileBytes(path, std::vector<unsigned char>(t.begin(), t.end()));
    r = openFile(path);
    ASSERT_TRUE(r);
    out.clear();
    EXPECT_EQ(readXBMP(r.get()), 0);
    EXPECT_EQ(out.err(),
              "Error in readXBMP: the bitmap data ends after 1 of 3 rows.\n");
    EXPECT_EQ(r->buffer[r->lineBytes], 255);
    EXPECT_EQ(r->buffer[2 * r->lineBytes], 0);
}

TEST(readXBMP, EveryTruncationEndsCleanly)
{
    ScratchDir dir;
    CapturedOutput quiet;
    std::vector<unsigned char> full =
        readFileBytes(fixturePath("rasters/im_pat.xbm"));
    std::string path = dir.path("cut.xbm");
    int complete = 0;
    for (size_t n = 0; n <= full.size(); n++) {
        writeFileBytes(path, std::vector<unsigned char>(
                                 full.begin(), full.begin() + (long)n));
        Record r = openFile(path);
        if (r && readXBMP(r.get()) == 1)
            complete++;
    }
    // Only the texts that reach the last item read whole.
    EXPECT_GE(complete, 1);
    EXPECT_LE(complete, 8);
}

TEST(initXBMP, ExactText)
{
    ScratchDir dir;
    std::string path = dir.path("new.xbm");
    ImageInfo info;
    std::memset(&info, 0, sizeof info);
    std::snprintf(info.fileName, sizeof info.fileName, "%s", path.c_str());
    info.imgid = IMG_XBMP;
    info.columns = 10;
    info.rows = 2;
    info.nbands = 3;
    info.pixel = PIXEL_BYTE;
    info.transparent = 4;
    ASSERT_EQ(createImage(&info), 0);
    EXPECT_EQ(text(path), "#define xbmp_width 10\n#define xbmp_height 2\n"
                          "static char xbmp_bits[] = {\n"
                          " 0x00, 0x00, 0x00, 0x00};");
    // createImage described the new bitmap for the open that follows.
    EXPECT_EQ(info.pixel, PIXEL_1BIT);
    EXPECT_EQ(info.nbands, 1);
    EXPECT_EQ(info.block, 2);
    EXPECT_EQ(info.nindices, 2);
    EXPECT_EQ(info.transparent, -1);

    // The newline counter runs across rows; a longer old text is cut.
    std::vector<unsigned char> data(3 * 8);
    for (size_t i = 0; i < data.size(); i++)
        data[i] = (unsigned char)(i * 17);
    info.columns = 36;
    info.rows = 3;
    int fd = open(path.c_str(), O_RDWR);
    std::vector<unsigned char> junk(2000, 'x');
    pwrite(fd, junk.data(), junk.size(), 0);
    ASSERT_EQ(initXBMP(fd, &info, data.data(), 8), 0);
    close(fd);
    EXPECT_EQ(text(path), "#define xbmp_width 36\n#define xbmp_height 3\n"
                          "static char xbmp_bits[] = {\n"
                          " 0x00, 0x11, 0x22, 0x33, 0x44, 0x88, 0x99, 0xaa,"
                          " 0xbb, 0xcc, 0x10, 0x21,\n"
                          " 0x32, 0x43, 0x54};");
}

TEST(writeXBMP, RewritesTheFileFromTheCache)
{
    ScratchDir dir;
    std::string path = dir.path("w.xbm");
    writeFileBytes(path, readFileBytes(fixturePath("rasters/np_pat.xbm")));
    Record r = openFile(path);
    ASSERT_TRUE(r);
    EXPECT_EQ(writeXBMP(r.get()), 0);   // nothing cached yet: no write
    ASSERT_EQ(readXBMP(r.get()), 1);
    unsigned char *row5 = r->buffer + 5 * r->lineBytes;
    row5[0] = 0xFF;
    row5[4] = 0x1F;
    ramImageSetDirty(r.get(), 5);
    ramImageSetDirty(r.get(), 9);
    ASSERT_EQ(writeXBMP(r.get()), 1);
    EXPECT_FALSE(ramImageSlotDirty(r.get(), 5));
    EXPECT_FALSE(ramImageSlotDirty(r.get(), 9));
    std::string t = text(path);
    EXPECT_EQ(t.rfind("#define xbmp_width 37\n#define xbmp_height 23\n", 0),
              0u);
    // The three defines, 115 items, the ";" and a newline per 12 items.
    EXPECT_EQ(t.size(), 73u + 115u * 6u + 1u + 115u / 12u);
    Record back = openFile(path);
    ASSERT_TRUE(back);
    ASSERT_EQ(readXBMP(back.get()), 1);
    EXPECT_EQ(std::memcmp(back->buffer, r->buffer, 23u * 5u), 0);
}

TEST(initXBMP, BitmapsOpenInImageMagickAndNetpbm)
{
    ScratchDir dir;
    std::string path = dir.path("rt.xbm");
    const int w = 21, h = 5, rowBytes = 4;
    std::vector<unsigned char> data(h * rowBytes);
    for (int y = 0; y < h; y++)
        for (int x = 0; x < w; x++)
            if ((x * 3 + y) % 4 == 0)
                data[y * rowBytes + x / 8] |= (unsigned char)(1 << (x % 8));
    ImageInfo info;
    std::memset(&info, 0, sizeof info);
    info.columns = w;
    info.rows = h;
    int fd = open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC, 0600);
    ASSERT_EQ(initXBMP(fd, &info, data.data(), rowBytes), 0);
    close(fd);
    std::vector<std::string> readers;
    if (haveTool("xbmtopbm"))
        readers.push_back("xbmtopbm " + path);
    if (haveTool(imageMagick()))
        readers.push_back(imageMagick() + " " + path + " pbm:-");
    for (const std::string &cmd : readers) {
        RefPicture got = parseRefPicture(runTool(cmd));
        ASSERT_EQ(got.channels, 1) << cmd;
        ASSERT_EQ(got.w, w);
        ASSERT_EQ(got.h, h);
        for (int y = 0; y < h; y++)
            for (int x = 0; x < w; x++)
                ASSERT_EQ(got.at(x, y, 0), (x * 3 + y) % 4 == 0 ? 1 : 0)
                    << cmd << " x " << x << " y " << y;
    }
}
