// Tests of ppm.cpp: netpbm files and hand-made headers, refusals and
// truncations, and written headers read back by netpbm and ImageMagick.
#include <gtest/gtest.h>

#include "core/lineAccess.h"
#include "formats/ppm.h"
#include "tests/formats/rasterRef.h"

TEST(imgPPM, NetpbmFilesAndHeaderText)
{
    // Headers "P6\n37 23\n255\n" and the like, then the pixels as netpbm
    // reads them; above 255, two bytes per sample, most significant first.
    struct { const char *file, *ref, *description; float scale; } files[] = {
        {"np_rgb.ppm", "np_rgb.ppm", "BYTE/8 37x23x3 off 13 block 111 nind 0"
                                     " msbf 0", 1},
        {"np_grey.pgm", "np_grey.pgm", "BYTE/8 37x23x1 off 13 block 37 nind 0"
                                       " msbf 0", 1},
        {"im_rgb16.ppm", "src_rgb.ppm", "USHORT/16 37x23x3 off 15 block 222"
                                        " nind 0 msbf 1", 257},
    };
    ImageInfo info;
    for (const auto &c : files) {
        SCOPED_TRACE(c.file);
        std::string path = fixturePath(std::string("rasters/") + c.file);
        ASSERT_EQ(probeFile(imgPPM, path, &info), 1);
        EXPECT_EQ(describe(info), std::string("PPM ") + c.description
                                      + " GRID tr -1 at 0,0 by 1,1");
        RefPicture ref = readRefPicture(fixturePath(std::string("rasters/")
                                                    + c.ref));
        Record r = openRecord(path);
        ASSERT_TRUE(r);
        EXPECT_EQ(storeMismatches(r.get(), [&](int x, int y, int b) {
                      return ref.at(x, y, b);
                  }, c.scale), 0);
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
        ASSERT_EQ(probeBytes(imgPPM, path, v, &info), 1) << c.header;
        EXPECT_EQ(info.nbands * 1000000 + info.columns * 1000 + info.rows,
                  c.nbands * 1000000 + c.columns * 1000 + c.rows);
        EXPECT_EQ(info.offset, (int)c.header.size()) << c.header;
    }
    // Not PPM, silently: other magics, text PPM, words that are not
    // numbers, a header without its final separator.
    CapturedOutput out;
    for (const char *h : {"P3\n3 2\n255\n", "P4\n3 2\n", "P6\n3 x\n255\n",
                          "P6\n3 2 255", "P6\n3 2\n255x\n", "P66 3 2 255\n",
                          "", "#only a comment\n"})
        EXPECT_EQ(probeBytes(imgPPM, path, bytesOf(h + std::string(18, '\0')),
                             &info), 0) << h;
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
    ImageInfo info;
    for (const auto &k : c) {
        out.clear();
        EXPECT_EQ(probeBytes(imgPPM, path,
                             bytesOf(k.header + std::string(k.data, '\1')),
                             &info), 0) << k.header;
        EXPECT_EQ(out.err(), k.message);
    }
    std::vector<unsigned char> full =
        readFileBytes(fixturePath("rasters/np_rgb.ppm"));
    for (size_t n = 0; n < full.size(); n += n < 64 ? 1 : 37)
        ASSERT_EQ(probeBytes(imgPPM, path,
                             {full.begin(), full.begin() + (long)n}, &info),
                  0) << "cut at " << n;
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
        ImageInfo info = newImageInfo(path, IMG_PPM, PIXEL_SHORT, 5, 4,
                                      c.nbands);
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
        ASSERT_EQ(probeFile(imgPPM, path, &back), 1);
        EXPECT_EQ(back.offset, size);
        // Pixels written through the store, read by netpbm and ImageMagick.
        auto value = [&](int x, int y, int b) {
            return (((y * 5 + x) * c.nbands + b) * 7 + 1) % 256;
        };
        Record r = openRecord(path);
        ASSERT_TRUE(r);
        putValues(r.get(), value);
        r.reset();
        expectOracles({"pnmtopnm @", "convert @ pnm:-"}, path, 5, 4, c.nbands,
                      value);
    }
    // A header size below the text, other band counts.
    int fd = open(path.c_str(), O_RDWR);
    ImageInfo info = newImageInfo(path, IMG_PPM, PIXEL_BYTE, 640, 480, 3);
    info.offset = 14;
    EXPECT_EQ(initPPMHead(fd, &info), -1);
    info.offset = 0;
    for (int nbands : {2, 4}) {
        info.nbands = nbands;
        EXPECT_EQ(initPPMHead(fd, &info), -1);
    }
    close(fd);
}
