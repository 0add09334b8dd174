// Tests of xbm.cpp: ImageMagick's and netpbm's bitmaps read into the
// cache, the probe's name rules, texts that end early, the exact text
// written, and written bitmaps read by ImageMagick and netpbm.
#include <gtest/gtest.h>

#include "core/lineAccess.h"
#include "formats/xbm.h"
#include "tests/formats/rasterRef.h"

namespace {

std::string text(const std::string &path)
{
    std::vector<unsigned char> b = readFileBytes(path);
    return std::string(b.begin(), b.end());
}

/* Pixel x of cached row y: least significant bit first. */
int cachedBit(const RAMImage *r, int x, int y)
{
    return (r->buffer[(size_t)y * r->lineBytes + x / 8] >> (x % 8)) & 1;
}

}  // namespace

TEST(readXBMP, ImageMagickAndNetpbmBitmapsHoldTheWritersPixels)
{
    RefPicture src = readRefPicture(fixturePath("rasters/src_pat.pbm"));
    for (const char *name : {"rasters/im_pat.xbm", "rasters/np_pat.xbm"}) {
        Record r = openRecord(fixturePath(name));
        ASSERT_TRUE(r) << name;
        const ImageInfo &info = r->info;
        EXPECT_EQ(describe(info), "XBMP 1BIT/1 37x23x1 off 0 block 5 nind 2"
                                  " msbf 0 GRID tr -1 at 0,0 by 1,1");
        EXPECT_EQ(std::vector<int>({info.palette[0][0], info.palette[0][2],
                                    info.palette[1][1]}),
                  std::vector<int>({255, 255, 0}));
        // Through the store: the first line read brings in every row.
        EXPECT_EQ(storeMismatches(r.get(), [&](int x, int y, int) {
                      return src.at(x, y, 0);
                  }), 0) << name;
        for (int y = 0; y < 23; y++) {
            ASSERT_EQ(r->slotMap[y], y);
            for (int x = 0; x < 37; x++)
                ASSERT_EQ(cachedBit(r.get(), x, y), src.at(x, y, 0));
        }
    }
}

TEST(imgXBMP, NamesItemsAndEarlyEnds)
{
    ScratchDir dir;
    std::string path = dir.path("t.xbm");
    auto probe = [&](const std::string &t) {
        ImageInfo info;
        int rc = probeBytes(imgXBMP, path, bytesOf(t), &info);
        return rc ? info.columns * 1000 + info.rows : 0;
    };
    EXPECT_EQ(probe("#define logo_width 10\n#define logo_height 2\n"
                    "static char logo_bits[] = {0,0,0,0};\n"), 10002);
    EXPECT_EQ(probe("/* x */\n  #define a_height 3\n#define b_width\t9\n"
                    "{1,2,3,4,5,6}"), 9003);
    CapturedOutput out;
    EXPECT_EQ(probe("#define logo_width 10\n"), 0);
    EXPECT_EQ(probe("int logo_width 10;\n#define x_height 2\n{0,0}"), 0);
    EXPECT_EQ(probe("#define a_widths 10\n#define x_height 2\n{0,0}"), 0);
    EXPECT_EQ(probe(std::string("#define a_width 8\n#define a_height 1\n{1}\0",
                                41)), 0);
    EXPECT_EQ(out.err(), "");
    EXPECT_EQ(probe("#define w_width 0\n#define w_height 2\n{0,0}"), 0);
    EXPECT_EQ(out.err(), "Error in imgXBMP: invalid size 0 x 2.\n");
    out.clear();
    std::string huge = "#define w_width 80000\n#define w_height 80000\n{0}";
    EXPECT_EQ(probe(huge), 0);
    EXPECT_EQ(out.err(), "Error in imgXBMP: a 80000 x 80000 bitmap cannot fit"
                         " in " + std::to_string(huge.size())
                         + " bytes of text.\n");

    // Hexadecimal, octal and decimal items, (width + 7) / 8 to a row.
    rewriteFile(path, bytesOf("#define a_width 9\n#define a_height 3\n"
                                 "char a_bits[] = { 0x81 , 017,\n255,0X1,\t2 ,3 };"));
    Record r = openRecord(path);
    ASSERT_TRUE(r);
    ASSERT_EQ(readXBMP(r.get()), 1);
    const int want[] = {0x81, 017, 255, 1, 2, 3};
    for (int i = 0; i < 6; i++)
        EXPECT_EQ(r->buffer[i / 2 * r->lineBytes + i % 2], want[i]);
    // A text that ends early fills the rows it reaches.
    rewriteFile(path, bytesOf("#define a_width 9\n#define a_height 3\n"
                                 "{ 0x81, 017, 255 };     "));
    r = openRecord(path);
    ASSERT_TRUE(r);
    out.clear();
    EXPECT_EQ(readXBMP(r.get()), 0);
    EXPECT_EQ(out.err(),
              "Error in readXBMP: the bitmap data ends after 1 of 3 rows.\n");
    EXPECT_EQ(r->buffer[r->lineBytes] * 1000 + r->buffer[2 * r->lineBytes],
              255000);
    // Every truncation of ImageMagick's file ends cleanly; only texts that
    // reach the last item read whole.
    std::vector<unsigned char> full =
        readFileBytes(fixturePath("rasters/im_pat.xbm"));
    int whole = 0;
    for (size_t n = 0; n <= full.size(); n++) {
        rewriteFile(path, {full.begin(), full.begin() + (long)n});
        r = openRecord(path);
        whole += r && readXBMP(r.get()) == 1;
    }
    EXPECT_EQ(whole, 5);  // those that end in ", };\n" or part of it
}

TEST(initXBMP, ExactTextAndRewriteFromTheCache)
{
    ScratchDir dir;
    std::string path = dir.path("new.xbm");
    ImageInfo info = newImageInfo(path, IMG_XBMP, PIXEL_BYTE, 10, 2, 3);
    info.transparent = 4;
    ASSERT_EQ(createImage(&info), 0);
    EXPECT_EQ(text(path), "#define xbmp_width 10\n#define xbmp_height 2\n"
                          "static char xbmp_bits[] = {\n"
                          " 0x00, 0x00, 0x00, 0x00};");
    // Described for the open that follows the creation.
    EXPECT_EQ(info.pixel, PIXEL_1BIT);
    EXPECT_EQ(info.nbands * 100 + info.block * 10 + info.nindices, 122);
    EXPECT_EQ(info.transparent, -1);

    // Rows `rowBytes` apart, the newline counter across rows, a longer old
    // text cut off.
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
                          " 0xbb, 0xcc, 0x10, 0x21,\n 0x32, 0x43, 0x54};");

    // writeXBMP: rows nobody claimed come from the file; every slot is
    // clean afterwards.
    rewriteFile(path, readFileBytes(fixturePath("rasters/np_pat.xbm")));
    Record r = openRecord(path);
    ASSERT_TRUE(r);
    r->slotMap[2] = 2;
    r->buffer[2 * r->lineBytes] = 0x5A;
    EXPECT_EQ(writeXBMP(r.get()), 1);
    Record first = openRecord(path);
    ASSERT_EQ(readXBMP(first.get()), 1);
    EXPECT_EQ(first->buffer[2 * r->lineBytes], 0x5A);
    EXPECT_EQ(std::memcmp(first->buffer + 3 * 5, r->buffer + 3 * 5, 20 * 5), 0);
    ASSERT_EQ(readXBMP(r.get()), 1);
    r->buffer[5 * r->lineBytes] = 0xFF;
    r->buffer[5 * r->lineBytes + 4] = 0x1F;
    ramImageSetDirty(r.get(), 5);
    ramImageSetDirty(r.get(), 9);
    ASSERT_EQ(writeXBMP(r.get()), 1);
    EXPECT_FALSE(ramImageSlotDirty(r.get(), 5) || ramImageSlotDirty(r.get(), 9));
    EXPECT_EQ(text(path).size(), 73u + 115u * 6u + 1u + 115u / 12u);
    Record back = openRecord(path);
    ASSERT_TRUE(back);
    ASSERT_EQ(readXBMP(back.get()), 1);
    EXPECT_EQ(std::memcmp(back->buffer, r->buffer, 23u * 5u), 0);
}

TEST(initXBMP, BitmapsOpenInImageMagickAndNetpbm)
{
    ScratchDir dir;
    std::string path = dir.path("rt.xbm");
    const int w = 21, h = 5;
    auto black = [](int x, int y, int) { return (x * 3 + y) % 4 == 0; };
    // A new bitmap written through the store, which picks pixel and bands.
    ImageInfo info = newImageInfo(path, IMG_XBMP, PIXEL_UNKNOWN, w, h, 0);
    int err;
    RAMImage *r = openRAMImageNew(&info, nullptr, 1, &err);
    ASSERT_TRUE(r) << ramimgError(err);
    putValues(r, black);
    closeRAMImage(r, nullptr);
    expectOracles({"xbmtopbm @", "convert @ pbm:-"}, path, w, h, 1, black);
}
