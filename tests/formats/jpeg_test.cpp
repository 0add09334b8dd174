// Tests of jpeg.cpp: cjpeg's files decoded into the cache exactly as djpeg
// decodes them, recognition and library errors that never end the
// process, truncated and corrupted files, the quality kept in block, and
// written files decoded by djpeg and ImageMagick.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <memory>

#include "core/imgtype.h"
#include "core/ramimg.h"
#include "formats/jpeg.h"
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

/* Band b of pixel (x, y) in a decoded cache. */
unsigned char cached(const RAMImage *r, int x, int y, int b)
{
    return r->buffer[((size_t)y * r->info.nbands + b) * r->lineBytes + x];
}

void expectCacheEquals(const RAMImage *r, const RefPicture &ref,
                       const std::string &what)
{
    ASSERT_EQ(r->info.nbands, ref.channels) << what;
    for (int y = 0; y < ref.h; y++)
        for (int x = 0; x < ref.w; x++)
            for (int b = 0; b < ref.channels; b++)
                ASSERT_EQ(cached(r, x, y, b), ref.at(x, y, b))
                    << what << " x " << x << " y " << y << " b " << b;
}

}  // namespace

TEST(readJPEG, CjpegFilesDecodeAsDjpegDecodesThem)
{
    struct { const char *file; int nbands; } cases[] = {
        {"rasters/cj_rgb.jpg", 3}, {"rasters/cj_grey.jpg", 1},
        {"rasters/cj_prog.jpg", 3},
    };
    for (const auto &c : cases) {
        Record r = openFile(fixturePath(c.file));
        ASSERT_TRUE(r) << c.file;
        const ImageInfo &info = r->info;
        EXPECT_EQ(info.imgid, IMG_JPEG);
        EXPECT_EQ(info.pixel, PIXEL_BYTE);
        EXPECT_EQ(info.bits, 8);
        EXPECT_EQ(info.nbands, c.nbands);
        EXPECT_EQ(info.columns, 37);
        EXPECT_EQ(info.rows, 23);
        EXPECT_EQ(info.block, 90);      // the quality, kept by the store
        EXPECT_EQ(info.offset, 0);
        EXPECT_EQ(info.mapid, MAP_GRID);
        EXPECT_EQ(info.msbf, msbFirst());
        EXPECT_EQ(info.nindices, 0);
        EXPECT_EQ(info.transparent, -1);
        ASSERT_EQ(readJPEG(r.get()), 1);
        ASSERT_EQ(r->slotCount, 23 * c.nbands);
        for (int i = 0; i < r->slotCount; i++)
            ASSERT_EQ(r->slotMap[i], i);
        std::string ref = fixturePath(std::string(c.file) + ".pnm");
        expectCacheEquals(r.get(), readRefPicture(ref), c.file);
    }
}

TEST(imgJPEG, RecognitionAndLibraryErrors)
{
    ScratchDir dir;
    std::string path = dir.path("x.jpg");
    CapturedOutput out;
    auto probe = [&](const std::vector<unsigned char> &bytes) {
        writeFileBytes(path, bytes);
        ImageInfo info;
        std::memset(&info, 0, sizeof info);
        int fd = open(path.c_str(), O_RDONLY);
        lseek(fd, 2, SEEK_SET);
        int rc = imgJPEG(fd, &info);
        EXPECT_EQ(lseek(fd, 0, SEEK_CUR), 2);
        close(fd);
        return rc;
    };
    std::vector<unsigned char> good =
        readFileBytes(fixturePath("rasters/cj_rgb.jpg"));
    EXPECT_EQ(probe(good), 1);
    std::vector<unsigned char> third = good;
    third[2] = 0x00;
    EXPECT_EQ(probe(third), 0);
    EXPECT_EQ(probe({0xFF, 0xD8}), 0);
    EXPECT_EQ(out.err(), "");
    // Starts like a JPEG, then garbage: the library's message, no image.
    EXPECT_EQ(probe({0xFF, 0xD8, 0xFF, 0x01, 0x02, 0x03, 0x04}), 0);
    EXPECT_NE(out.err(), "");
    EXPECT_EQ(out.err().back(), '\n');

    // A header that claims far more pixels than the file could hold.
    std::vector<unsigned char> big = good;
    for (size_t i = 0; i + 8 < big.size(); i++)
        if (big[i] == 0xFF && big[i + 1] == 0xC0) {
            big[i + 5] = big[i + 7] = 0xEA;   // 60000 x 60000
            big[i + 6] = big[i + 8] = 0x60;
            break;
        }
    out.clear();
    EXPECT_EQ(probe(big), 0);
    EXPECT_EQ(out.err(), "Error in imgJPEG: a 60000 x 60000 image of 3"
                         " components cannot come from 1023 bytes of"
                         " data.\n");

    // loadJPEG on something else.
    out.clear();
    writeFileBytes(path, third);
    int fd = open(path.c_str(), O_RDONLY);
    unsigned char line[64];
    EXPECT_EQ(loadJPEG(fd, line, sizeof line), 0);
    close(fd);
    EXPECT_EQ(out.out(), "not a jpeg file...\n");
}

TEST(readJPEG, TruncatedAndCorruptedFilesNeverEndTheProcess)
{
    ScratchDir dir;
    CapturedOutput quiet;
    std::string path = dir.path("bad.jpg");
    for (const char *name : {"rasters/cj_rgb.jpg", "rasters/cj_prog.jpg"}) {
        std::vector<unsigned char> full = readFileBytes(fixturePath(name));
        for (size_t n = 0; n < full.size(); n += 3) {
            writeFileBytes(path, std::vector<unsigned char>(
                                     full.begin(), full.begin() + (long)n));
            Record r = openFile(path);
            if (r) {
                EXPECT_EQ(readJPEG(r.get()), 1);
            }
        }
        std::srand(7);
        for (int k = 0; k < 300; k++) {
            std::vector<unsigned char> bad = full;
            for (int j = 0; j < 4; j++)
                bad[(size_t)std::rand() % bad.size()] =
                    (unsigned char)std::rand();
            writeFileBytes(path, bad);
            Record r = openFile(path);
            if (r) {
                EXPECT_EQ(readJPEG(r.get()), 1);
            }
        }
    }
    // A file replaced by one of another geometry is not decoded over the
    // cache.
    writeFileBytes(path, readFileBytes(fixturePath("rasters/cj_grey.jpg")));
    Record r = openFile(path);
    ASSERT_TRUE(r);
    writeFileBytes(path, readFileBytes(fixturePath("rasters/cj_rgb.jpg")));
    quiet.clear();
    EXPECT_EQ(readJPEG(r.get()), 1);
    EXPECT_EQ(quiet.err(), "Error in loadJPEG: the file holds a 37 x 23"
                           " image of 3 components, not the 37 x 23 of 1"
                           " expected.\n");
}

TEST(writeJPEG, QualityFromBlockAndCacheStateAfterwards)
{
    ScratchDir dir;
    std::string path = dir.path("w.jpg");
    RefPicture src = readRefPicture(fixturePath("rasters/src_rgb.ppm"));
    std::vector<unsigned char> lines((size_t)src.h * 3 * src.w);
    for (int y = 0; y < src.h; y++)
        for (int b = 0; b < 3; b++)
            for (int x = 0; x < src.w; x++)
                lines[((size_t)y * 3 + b) * src.w + x] = src.at(x, y, b);
    auto encoded = [&](int quality) {
        std::string p = dir.path("q.jpg");
        int fd = open(p.c_str(), O_RDWR | O_CREAT | O_TRUNC, 0600);
        EXPECT_EQ(dumpJPEG(fd, src.w, src.h, 3, quality, lines.data(),
                           src.w), 1);
        close(fd);
        return readFileBytes(p);
    };
    struct { int block, quality; } cases[] = {{150, 100}, {-5, 90}, {60, 60}};
    for (const auto &c : cases) {
        writeFileBytes(path, readFileBytes(fixturePath("rasters/cj_rgb.jpg")));
        Record r = openFile(path);
        ASSERT_TRUE(r);
        ASSERT_EQ(readJPEG(r.get()), 1);
        std::memcpy(r->buffer, lines.data(), lines.size());
        r->info.block = c.block;
        ramImageSetDirty(r.get(), 0);
        ramImageSetDirty(r.get(), 40);
        EXPECT_EQ(writeJPEG(r.get()), 1);
        EXPECT_EQ(readFileBytes(path), encoded(c.quality))
            << "block " << c.block;
        for (int i = 0; i < r->slotCount; i++) {
            ASSERT_EQ(r->slotMap[i], -1);
            ASSERT_FALSE(ramImageSlotDirty(r.get(), i));
        }
        EXPECT_EQ(writeJPEG(r.get()), 0);  // nothing decoded: no write
        EXPECT_EQ(readJPEG(r.get()), 1);   // the new file reads back
        EXPECT_EQ(r->slotMap[68], 68);
    }
}

TEST(writeJPEG, FilesDecodeInDjpegAndImageMagick)
{
    ScratchDir dir;
    const int w = 45, h = 29;
    auto value = [](int x, int y, int b) {
        return b == 0 ? x * 5 : b == 1 ? 250 - y * 8 : 100 + (x - y) * 2;
    };
    for (int bands : {1, 3}) {
        std::string path = dir.path("rt.jpg");
        std::vector<unsigned char> lines((size_t)h * bands * w);
        for (int y = 0; y < h; y++)
            for (int b = 0; b < bands; b++)
                for (int x = 0; x < w; x++)
                    lines[((size_t)y * bands + b) * w + x] =
                        (unsigned char)value(x, y, b);
        int fd = open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC, 0600);
        ASSERT_EQ(dumpJPEG(fd, w, h, bands, 95, lines.data(), w), 1);
        close(fd);
        std::vector<std::string> readers;
        if (haveTool("djpeg"))
            readers.push_back("djpeg -pnm " + path);
        if (haveTool(imageMagick()))
            readers.push_back(imageMagick() + " " + path + " pnm:-");
        for (const std::string &cmd : readers) {
            RefPicture got = parseRefPicture(runTool(cmd));
            ASSERT_EQ(got.channels, bands) << cmd;
            ASSERT_EQ(got.w, w);
            ASSERT_EQ(got.h, h);
            int worst = 0;
            for (int y = 0; y < h; y++)
                for (int x = 0; x < w; x++)
                    for (int b = 0; b < bands; b++)
                        worst = std::max(worst, std::abs(got.at(x, y, b)
                                                         - value(x, y, b)));
            EXPECT_LE(worst, bands == 1 ? 3 : 6) << cmd;
        }
    }
}

TEST(initJPEG, NewFilesAreBlackImagesOfTheGivenShape)
{
    ScratchDir dir;
    CapturedOutput out;
    struct { int nbands, nindices, block, wantBands, wantBlock; } cases[] = {
        {1, 0, 0, 1, 90}, {1, 4, 75, 3, 75}, {3, 0, 500, 3, 90},
        {2, 0, -1, 1, 90},
    };
    for (const auto &c : cases) {
        ImageInfo info;
        std::memset(&info, 0, sizeof info);
        std::string path = dir.path("new.jpg");
        std::snprintf(info.fileName, sizeof info.fileName, "%s",
                      path.c_str());
        info.imgid = IMG_JPEG;
        info.pixel = PIXEL_BYTE;
        info.columns = 19;
        info.rows = 11;
        info.nbands = c.nbands;
        info.nindices = c.nindices;
        info.block = c.block;
        int err;
        RAMImage *r = openRAMImageNew(&info, nullptr, 1, &err);
        ASSERT_TRUE(r) << ramimgError(err);
        EXPECT_EQ(r->info.nbands, c.wantBands);
        EXPECT_EQ(r->info.nindices, 0);
        EXPECT_EQ(r->info.block, c.wantBlock);
        struct stat st;
        ASSERT_EQ(stat(path.c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 0777, 0600u);
        ASSERT_EQ(readJPEG(r), 1);
        for (int i = 0; i < r->slotCount; i++)
            for (int x = 0; x < 19; x++)
                ASSERT_EQ(r->buffer[(size_t)i * r->lineBytes + x], 0);
        closeRAMImage(r, nullptr);
        std::vector<unsigned char> f = readFileBytes(path);
        ImageInfo probed;
        std::memset(&probed, 0, sizeof probed);
        int fd = open(path.c_str(), O_RDONLY);
        ASSERT_EQ(imgJPEG(fd, &probed), 1);
        close(fd);
        EXPECT_EQ(probed.nbands, c.wantBands);
        EXPECT_EQ(probed.columns, 19);
        EXPECT_EQ(probed.rows, 11);
    }
    // Beyond the library's limits: its message, and -1.
    ImageInfo info;
    std::memset(&info, 0, sizeof info);
    info.columns = 70000;
    info.rows = 2;
    info.nbands = 1;
    int fd = open(dir.path("huge.jpg").c_str(), O_RDWR | O_CREAT, 0600);
    out.clear();
    EXPECT_EQ(initJPEG(fd, &info), -1);
    close(fd);
    EXPECT_EQ(out.err(), "Maximum supported image dimension is 65500"
                         " pixels\n");
}
