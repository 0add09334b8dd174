// Tests of ppm.cpp: netpbm files and hand-made headers, refusals and
// truncations, and written headers read back by netpbm and ImageMagick.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>

#include "core/imgtype.h"
#include "core/lineAccess.h"
#include "formats/ppm.h"
#include "tests/formats/rasterRef.h"

namespace {

int probePPM(const std::string &path, ImageInfo *info)
{
    std::memset(info, 0, sizeof *info);
    int fd = open(path.c_str(), O_RDONLY);
    lseek(fd, 5, SEEK_SET);
    int rc = imgPPM(fd, info);
    EXPECT_EQ(lseek(fd, 0, SEEK_CUR), 5);
    close(fd);
    return rc;
}

}  // namespace

TEST(imgPPM, NetpbmFilesAndHeaderText)
{
    // Header "P6\n37 23\n255\n", then the pixels as netpbm reads them.
    struct { const char *file, *description; } files[] = {
        {"rasters/np_rgb.ppm", "37x23x3 off 13 block 111"},
        {"rasters/np_grey.pgm", "37x23x1 off 13 block 37"},
    };
    for (const auto &c : files) {
        std::string path = fixturePath(c.file);
        ImageInfo info;
        ASSERT_EQ(probePPM(path, &info), 1) << c.file;
        EXPECT_EQ(describe(info), std::string("PPM BYTE/8 ") + c.description
                                      + " nind 0 msbf 0 GRID tr -1 at 0,0 by 1,1");
        RefPicture ref = readRefPicture(path);
        Record r = openRecord(path);
        ASSERT_TRUE(r);
        for (int i = 0; i < 37 * 23 * ref.channels; i++) {
            unsigned char v;
            int x = i / ref.channels % 37, y = i / ref.channels / 37;
            getByteBILData(r.get(), y, x, 1, i % ref.channels, &v);
            ASSERT_EQ(v, ref.data[i]) << c.file << " value " << i;
        }
    }
    // Above 255, two bytes per sample, most significant first.
    RefPicture src = readRefPicture(fixturePath("rasters/src_rgb.ppm"));
    Record r16 = openRecord(fixturePath("rasters/im_rgb16.ppm"));
    ASSERT_TRUE(r16);
    EXPECT_EQ(describe(r16->info), "PPM USHORT/16 37x23x3 off 15 block 222"
                                   " nind 0 msbf 1 GRID tr -1 at 0,0 by 1,1");
    for (int i = 0; i < 37 * 23 * 3; i++) {
        float v;
        getFloatBILData(r16.get(), i / 111, i / 3 % 37, 1, i % 3, &v);
        ASSERT_EQ(v, src.data[i] * 257.0f) << "value " << i;
    }
    ScratchDir dir;
    std::string path = dir.path("h.ppm");
    struct { std::string header; int nbands, columns, rows; } ok[] = {
        {"P6 # a comment to the end of the line\n640\n480\n255\n", 3, 640, 480},
        {"P5\n#c1\n#c2\n 3\t2 255 ", 1, 3, 2},
        {"\n  P5 3 2\n# max\n15\n", 1, 3, 2},
        {"P6\r\n3 2\r\n255\r", 3, 3, 2},
    };
    for (const auto &c : ok) {
        std::vector<unsigned char> v = bytesOf(c.header);
        v.resize(v.size() + (size_t)c.columns * c.rows * c.nbands);
        rewriteFile(path, v);
        ImageInfo info;
        ASSERT_EQ(probePPM(path, &info), 1) << c.header;
        EXPECT_EQ(info.nbands * 1000000 + info.columns * 1000 + info.rows,
                  c.nbands * 1000000 + c.columns * 1000 + c.rows);
        EXPECT_EQ(info.offset, (int)c.header.size()) << c.header;
    }
    // Not PPM, silently: other magics, text PPM, words that are not
    // numbers, a header without its final separator.
    CapturedOutput out;
    for (const char *h : {"P3\n3 2\n255\n", "P4\n3 2\n", "P6\n3 x\n255\n",
                          "P6\n3 2 255", "P6\n3 2\n255x\n", "P66 3 2 255\n",
                          "", "#only a comment\n"}) {
        rewriteFile(path, bytesOf(h + std::string(18, '\0')));
        ImageInfo info;
        EXPECT_EQ(probePPM(path, &info), 0) << h;
    }
    EXPECT_EQ(out.err(), "");
}

TEST(imgPPM, RefusalsAndTruncations)
{
    ScratchDir dir;
    CapturedOutput out;
    std::string path = dir.path("bad.ppm");
    struct { std::string header; size_t data; const char *message; } c[] = {
        {"P5\n3 2\n65536\n", 12,
         "Error in imgPPM: invalid maximum value 65536.\n"},
        {"P6\n3 2\n0\n", 18, "Error in imgPPM: invalid maximum value 0.\n"},
        {"P6\n3 2\n256\n", 35,
         "Error in imgPPM: the pixel data is truncated (35 of 36 bytes).\n"},
        {"P6\n3 -2\n255\n", 18, "Error in imgPPM: invalid size 3 x -2.\n"},
        {"P6\n99999999999 2\n255\n", 18,
         "Error in imgPPM: invalid size 99999999999 x 2.\n"},
        {"P6\n3 2\n255\n", 17,
         "Error in imgPPM: the pixel data is truncated (17 of 18 bytes).\n"},
        {"P5\n65535 65535\n255\n", 4, "Error in imgPPM: the pixel data is"
         " truncated (4 of 4294836225 bytes).\n"},
    };
    for (const auto &k : c) {
        out.clear();
        rewriteFile(path, bytesOf(k.header + std::string(k.data, '\1')));
        ImageInfo info;
        EXPECT_EQ(probePPM(path, &info), 0) << k.header;
        EXPECT_EQ(out.err(), k.message);
    }
    std::vector<unsigned char> full =
        readFileBytes(fixturePath("rasters/np_rgb.ppm"));
    for (size_t n = 0; n < full.size(); n += n < 64 ? 1 : 37) {
        rewriteFile(path, {full.begin(), full.begin() + (long)n});
        ImageInfo info;
        ASSERT_EQ(probePPM(path, &info), 0) << "cut at " << n;
    }
}

TEST(initPPMHead, HeaderBytesPaddingAndOtherReaders)
{
    ScratchDir dir;
    std::string path = dir.path("new.pnm");
    struct { int nbands, offset; std::string header; } cases[] = {
        {3, 0, "P6\n5 4\n255\n"},
        {1, 0, "P5\n5 4\n255\n"},
        {3, 40, "P6" + std::string(29, ' ') + "\n5 4\n255\n"},
    };
    for (const auto &c : cases) {
        ImageInfo info;
        std::memset(&info, 0, sizeof info);
        std::snprintf(info.fileName, sizeof info.fileName, "%s", path.c_str());
        info.imgid = IMG_PPM;
        info.pixel = PIXEL_SHORT;
        info.nbands = c.nbands;
        info.columns = 5;
        info.rows = 4;
        info.offset = c.offset;
        info.nindices = 5;
        info.msbf = 1;
        int size = (int)c.header.size();
        ASSERT_EQ(createImage(&info), size);
        EXPECT_EQ(info.offset, size);
        EXPECT_EQ(info.pixel, PIXEL_BYTE);
        EXPECT_EQ(info.block, 5 * c.nbands);
        EXPECT_EQ(info.nindices + info.msbf, 0);
        std::vector<unsigned char> f = readFileBytes(path);
        ASSERT_EQ(f.size(), (size_t)size + 20 * c.nbands);
        EXPECT_EQ(std::string(f.begin(), f.begin() + size), c.header);
        ImageInfo back;
        ASSERT_EQ(probePPM(path, &back), 1);
        EXPECT_EQ(back.offset, size);
        // Pixels written through the store, read by netpbm and ImageMagick.
        Record r = openRecord(path);
        ASSERT_TRUE(r);
        std::vector<unsigned char> want;
        for (int y = 0; y < 4; y++)
            for (int x = 0; x < 5; x++)
                for (int b = 0; b < c.nbands; b++) {
                    want.push_back((unsigned char)(want.size() * 7 + 1));
                    putByteBILData(r.get(), y, x, 1, b, &want.back());
                }
        r.reset();
        for (const std::string &cmd :
             oracles({"pnmtopnm @", "convert @ pnm:-"}, path)) {
            RefPicture got = parseRefPicture(runTool(cmd));
            ASSERT_EQ(got.channels, c.nbands) << cmd;
            ASSERT_EQ(got.w * 10 + got.h, 54) << cmd;
            EXPECT_EQ(got.data, want) << cmd;
        }
    }
    // A header size below the text, other band counts.
    int fd = open(path.c_str(), O_RDWR);
    ImageInfo info;
    std::memset(&info, 0, sizeof info);
    info.nbands = 3;
    info.columns = 640;
    info.rows = 480;
    info.offset = 14;
    EXPECT_EQ(initPPMHead(fd, &info), -1);
    info.offset = 0;
    for (int nbands : {2, 4}) {
        info.nbands = nbands;
        EXPECT_EQ(initPPMHead(fd, &info), -1);
    }
    close(fd);
}
