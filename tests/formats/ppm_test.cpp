// Tests of ppm.cpp: the probe on netpbm files and on hand-made headers,
// refusals, and the header writer's bytes read back by netpbm and
// ImageMagick.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <cstring>

#include "core/imgtype.h"
#include "core/ramimg.h"
#include "formats/ppm.h"
#include "tests/formats/rasterRef.h"

namespace {

int probeFile(const std::string &path, ImageInfo *info)
{
    std::memset(info, 0, sizeof *info);
    int fd = open(path.c_str(), O_RDONLY);
    lseek(fd, 5, SEEK_SET);
    int rc = imgPPM(fd, info);
    EXPECT_EQ(lseek(fd, 0, SEEK_CUR), 5) << path;
    close(fd);
    return rc;
}

/* A file of the header text followed by `data` bytes of pixels. */
std::string headerFile(const ScratchDir &dir, const std::string &header,
                       size_t data)
{
    std::string path = dir.path("h.ppm");
    std::vector<unsigned char> v(header.begin(), header.end());
    v.resize(v.size() + data, 7);
    writeFileBytes(path, v);
    return path;
}

}  // namespace

TEST(imgPPM, NetpbmFilesReadWithTheWritersPixels)
{
    struct { const char *file; int nbands; } cases[] = {
        {"rasters/np_rgb.ppm", 3}, {"rasters/np_grey.pgm", 1},
    };
    for (const auto &c : cases) {
        ImageInfo info;
        ASSERT_EQ(probeFile(fixturePath(c.file), &info), 1) << c.file;
        EXPECT_EQ(info.imgid, IMG_PPM);
        EXPECT_EQ(info.pixel, PIXEL_BYTE);
        EXPECT_EQ(info.nbands, c.nbands);
        EXPECT_EQ(info.columns, 37);
        EXPECT_EQ(info.rows, 23);
        EXPECT_EQ(info.block, 37 * c.nbands);
        EXPECT_EQ(info.offset, 13);   // "P6\n37 23\n255\n"
        EXPECT_EQ(info.mapid, MAP_GRID);
        EXPECT_EQ(info.msbf, 0);
        EXPECT_EQ(info.nindices, 0);
        EXPECT_EQ(info.transparent, -1);
        EXPECT_EQ(info.dy, 1.0);
        // The pixels are where the description says, row after row.
        RefPicture ref = readRefPicture(fixturePath(c.file));
        std::vector<unsigned char> file = readFileBytes(fixturePath(c.file));
        ASSERT_EQ(file.size(), (size_t)info.offset
                                   + (size_t)info.block * info.rows);
        EXPECT_TRUE(std::equal(ref.data.begin(), ref.data.end(),
                               file.begin() + info.offset));
    }
}

TEST(imgPPM, HeaderWordsCommentsAndSeparators)
{
    ScratchDir dir;
    struct { std::string header; int nbands, columns, rows; } ok[] = {
        {"P6 # a comment to the end of the line\n640\n480\n255\n", 3, 640,
         480},
        {"P5\n#c1\n#c2\n 3\t2 255 ", 1, 3, 2},
        {"\n  P5 3 2\n# max\n15\n", 1, 3, 2},
        {"P6\r\n3 2\r\n255\r", 3, 3, 2},
    };
    for (const auto &c : ok) {
        ImageInfo info;
        std::string path = headerFile(
            dir, c.header, (size_t)c.columns * c.rows * c.nbands);
        ASSERT_EQ(probeFile(path, &info), 1) << c.header;
        EXPECT_EQ(info.nbands, c.nbands) << c.header;
        EXPECT_EQ(info.columns, c.columns) << c.header;
        EXPECT_EQ(info.rows, c.rows) << c.header;
        EXPECT_EQ(info.offset, (int)c.header.size()) << c.header;
    }
    // Not recognised, silently: other magics, text PPM, words that are not
    // numbers, a header without its final separator, an empty file.
    CapturedOutput out;
    for (const char *h : {"P3\n3 2\n255\n", "P4\n3 2\n", "P6\n3 x\n255\n",
                          "P6\n3 2 255", "P6\n3 2\n255x\n", "P6\n3 2\n",
                          "P66 3 2 255\n", "", "#only a comment\n"}) {
        ImageInfo info;
        EXPECT_EQ(probeFile(headerFile(dir, h, 0), &info), 0) << h;
    }
    EXPECT_EQ(out.err(), "");
}

TEST(imgPPM, RefusesWhatCannotBeRead)
{
    ScratchDir dir;
    CapturedOutput out;
    struct { std::string header; size_t data; const char *message; } c[] = {
        {"P5\n3 2\n65535\n", 12,
         "Error in imgPPM: maximum value 65535 is not supported (samples"
         " must be single bytes).\n"},
        {"P6\n3 2\n0\n", 18,
         "Error in imgPPM: maximum value 0 is not supported (samples must be"
         " single bytes).\n"},
        {"P6\n0 2\n255\n", 18, "Error in imgPPM: invalid size 0 x 2.\n"},
        {"P6\n3 -2\n255\n", 18, "Error in imgPPM: invalid size 3 x -2.\n"},
        {"P6\n99999999999 2\n255\n", 18,
         "Error in imgPPM: invalid size 99999999999 x 2.\n"},
        {"P6\n3 2\n255\n", 17,
         "Error in imgPPM: the pixel data is truncated (17 of 18 bytes).\n"},
        {"P5\n65535 65535\n255\n", 4,
         "Error in imgPPM: the pixel data is truncated (4 of 4294836225"
         " bytes).\n"},
    };
    for (const auto &k : c) {
        out.clear();
        ImageInfo info;
        EXPECT_EQ(probeFile(headerFile(dir, k.header, k.data), &info), 0)
            << k.header;
        EXPECT_EQ(out.err(), k.message);
    }
    // Every truncation of a netpbm file is refused.
    std::vector<unsigned char> full =
        readFileBytes(fixturePath("rasters/np_rgb.ppm"));
    std::string path = dir.path("cut.ppm");
    for (size_t n = 0; n < full.size(); n++) {
        writeFileBytes(path, std::vector<unsigned char>(
                                 full.begin(), full.begin() + (long)n));
        ImageInfo info;
        ASSERT_EQ(probeFile(path, &info), 0) << "cut at " << n;
    }
}

TEST(initPPMHead, HeaderBytesAndPadding)
{
    ScratchDir dir;
    std::string path = dir.path("new.ppm");
    int fd = open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC, 0600);
    ImageInfo info;
    std::memset(&info, 0, sizeof info);
    info.nbands = 3;
    info.columns = 640;
    info.rows = 480;
    info.pixel = PIXEL_SHORT;
    info.nindices = 5;
    info.msbf = 1;
    lseek(fd, 2, SEEK_SET);
    ASSERT_EQ(initPPMHead(fd, &info), 15);
    EXPECT_EQ(lseek(fd, 0, SEEK_CUR), 2);
    EXPECT_EQ(info.offset, 15);
    EXPECT_EQ(info.pixel, PIXEL_BYTE);
    EXPECT_EQ(info.imgid, IMG_PPM);
    EXPECT_EQ(info.block, 1920);
    EXPECT_EQ(info.nindices, 0);
    EXPECT_EQ(info.msbf, 0);
    std::vector<unsigned char> b = readFileBytes(path);
    EXPECT_EQ(std::string(b.begin(), b.end()), "P6\n640 480\n255\n");

    // One band; a header size larger than the text is padded after the
    // magic so that the probe finds the pixels there.
    ftruncate(fd, 0);
    info.nbands = 1;
    info.offset = 40;
    ASSERT_EQ(initPPMHead(fd, &info), 40);
    b = readFileBytes(path);
    EXPECT_EQ(std::string(b.begin(), b.end()),
              "P5" + std::string(25, ' ') + "\n640 480\n255\n");
    ftruncate(fd, 40 + 640 * 480);
    ImageInfo back;
    ASSERT_EQ(probeFile(path, &back), 1);
    EXPECT_EQ(back.offset, 40);
    EXPECT_EQ(back.nbands, 1);

    // Too small a header size, other band counts.
    info.offset = 14;
    EXPECT_EQ(initPPMHead(fd, &info), -1);
    info.offset = 0;
    info.nbands = 2;
    EXPECT_EQ(initPPMHead(fd, &info), -1);
    info.nbands = 4;
    EXPECT_EQ(initPPMHead(fd, &info), -1);
    close(fd);
}

TEST(initPPMHead, FilesOpenInNetpbmAndImageMagick)
{
    ScratchDir dir;
    for (int nbands : {1, 3}) {
        for (int offset : {0, 64}) {
            ImageInfo info;
            std::memset(&info, 0, sizeof info);
            std::string path = dir.path("rt.pnm");
            std::snprintf(info.fileName, sizeof info.fileName, "%s",
                          path.c_str());
            info.imgid = IMG_PPM;
            info.nbands = nbands;
            info.columns = 5;
            info.rows = 4;
            info.offset = offset;
            int size = createImage(&info);
            ASSERT_EQ(size, offset ? offset : 11);  // "P6\n5 4\n255\n"
            std::vector<unsigned char> file = readFileBytes(path);
            ASSERT_EQ(file.size(), (size_t)size + 5 * 4 * nbands);
            for (size_t i = (size_t)size; i < file.size(); i++)
                file[i] = (unsigned char)(i * 7);
            writeFileBytes(path, file);
            std::vector<std::string> readers;
            if (haveTool("pnmtopnm"))
                readers.push_back("pnmtopnm " + path);
            if (haveTool(imageMagick()))
                readers.push_back(imageMagick() + " " + path + " pnm:-");
            for (const std::string &cmd : readers) {
                RefPicture got = parseRefPicture(runTool(cmd));
                ASSERT_EQ(got.channels, nbands) << cmd;
                ASSERT_EQ(got.w, 5) << cmd;
                ASSERT_EQ(got.h, 4) << cmd;
                EXPECT_TRUE(std::equal(got.data.begin(), got.data.end(),
                                       file.begin() + size))
                    << cmd;
            }
        }
    }
}
