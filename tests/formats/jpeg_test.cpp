// Tests of jpeg.cpp: cjpeg's files decoded into the cache exactly as djpeg
// decodes them, recognition and library errors that never end the
// process, truncated and corrupted files, the quality kept in block, and
// written files decoded by djpeg and ImageMagick.
#include <gtest/gtest.h>

#include "core/lineAccess.h"
#include "formats/jpeg.h"
#include "tests/formats/rasterRef.h"

namespace {

/* Band-separated lines (line y * bands + b) of a picture. */
std::vector<unsigned char> linesOf(const RefPicture &p, int bands)
{
    std::vector<unsigned char> v;
    for (int y = 0; y < p.h; y++)
        for (int b = 0; b < bands; b++)
            for (int x = 0; x < p.w; x++)
                v.push_back((unsigned char)p.at(x, y, b));
    return v;
}

}  // namespace

TEST(readJPEG, CjpegFilesDecodeAsDjpegDecodesThem)
{
    for (const char *name : {"cj_rgb.jpg", "cj_grey.jpg", "cj_prog.jpg"}) {
        std::string path = fixturePath(std::string("rasters/") + name);
        RefPicture ref = readRefPicture(path + ".pnm");
        Record r = openRecord(path);
        ASSERT_TRUE(r) << name;
        // block 90: the quality, kept by the store.
        EXPECT_EQ(describe(r->info),
                  "JPEG BYTE/8 37x23x" + std::to_string(ref.channels)
                      + " off 0 block 90 nind 0 msbf "
                      + std::to_string(msbFirst())
                      + " GRID tr -1 at 0,0 by 1,1");
        // Through the store: the first line read decodes the picture.
        EXPECT_EQ(storeMismatches(r.get(), [&](int x, int y, int b) {
                      return ref.at(x, y, b);
                  }), 0) << name;
        ASSERT_EQ(r->slotCount, 23 * ref.channels);
        for (int i = 0; i < r->slotCount; i++)
            ASSERT_EQ(r->slotMap[i], i);
    }
}

TEST(imgJPEG, RecognitionAndLibraryErrors)
{
    ScratchDir dir;
    std::string path = dir.path("x.jpg");
    CapturedOutput out;
    ImageInfo info;
    auto probe = [&](const std::vector<unsigned char> &bytes) {
        return probeBytes(imgJPEG, path, bytes, &info);
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
    const unsigned char marker[] = {0xFF, 0xC0};
    auto sof = std::search(big.begin(), big.end(), marker, marker + 2);
    ASSERT_NE(sof, big.end());
    sof[5] = sof[7] = 0xEA;   // 60000 x 60000
    sof[6] = sof[8] = 0x60;
    out.clear();
    EXPECT_EQ(probe(big), 0);
    EXPECT_EQ(out.err(), "Error in imgJPEG: a 60000 x 60000 image of 3"
                         " components cannot come from 1023 bytes of data.\n");

    out.clear();
    rewriteFile(path, third);
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
    std::srand(7);
    for (const char *name : {"rasters/cj_rgb.jpg", "rasters/cj_prog.jpg"}) {
        std::vector<unsigned char> full = readFileBytes(fixturePath(name));
        for (size_t k = 0; k < full.size() + 300; k++) {
            std::vector<unsigned char> bad = full;
            if (k < full.size())
                bad.resize(k);
            else
                for (int j = 0; j < 4; j++)
                    bad[(size_t)std::rand() % bad.size()] =
                        (unsigned char)std::rand();
            rewriteFile(path, bad);
            Record r = openRecord(path);
            if (r) {
                ASSERT_EQ(readJPEG(r.get()), 1);
            }
        }
    }
    // A file replaced by one of another shape is not decoded over the cache.
    rewriteFile(path, readFileBytes(fixturePath("rasters/cj_grey.jpg")));
    Record r = openRecord(path);
    ASSERT_TRUE(r);
    writeFileBytes(path, readFileBytes(fixturePath("rasters/cj_rgb.jpg")));
    quiet.clear();
    EXPECT_EQ(readJPEG(r.get()), 1);
    EXPECT_EQ(quiet.err(), "Error in loadJPEG: the file holds a 37 x 23 image"
                           " of 3 components, not the 37 x 23 of 1"
                           " expected.\n");
}

TEST(writeJPEG, QualityFromBlockAndTheCacheAfterwards)
{
    ScratchDir dir;
    std::string path = dir.path("w.jpg");
    std::vector<unsigned char> lines =
        linesOf(readRefPicture(fixturePath("rasters/src_rgb.ppm")), 3);
    struct { int block, quality; } cases[] = {{150, 100}, {-5, 90}, {60, 60}};
    for (const auto &c : cases) {
        std::string ref = dir.path("q.jpg");
        int fd = open(ref.c_str(), O_RDWR | O_CREAT | O_TRUNC, 0600);
        ASSERT_EQ(dumpJPEG(fd, 37, 23, 3, c.quality, lines.data(), 37), 1);
        close(fd);
        rewriteFile(path, readFileBytes(fixturePath("rasters/cj_rgb.jpg")));
        Record r = openRecord(path);
        ASSERT_TRUE(r);
        ASSERT_EQ(readJPEG(r.get()), 1);
        std::memcpy(r->buffer, lines.data(), lines.size());
        r->info.block = c.block;
        ramImageSetDirty(r.get(), 40);
        EXPECT_EQ(writeJPEG(r.get()), 1);
        EXPECT_EQ(readFileBytes(path), readFileBytes(ref)) << c.block;
        for (int i = 0; i < r->slotCount; i++) {
            ASSERT_EQ(r->slotMap[i], -1);
            ASSERT_FALSE(ramImageSlotDirty(r.get(), i));
        }
    }
    // Only line 13 claimed: the others come from the file, so writing one
    // line keeps the rest of the picture.
    rewriteFile(path, readFileBytes(fixturePath("rasters/cj_grey.jpg")));
    Record before = openRecord(path), one = openRecord(path);
    ASSERT_TRUE(before && one);
    ASSERT_EQ(readJPEG(before.get()), 1);
    one->slotMap[13] = 13;
    std::memset(one->buffer + 13 * 37, 200, 37);
    ramImageSetDirty(one.get(), 13);
    EXPECT_EQ(writeJPEG(one.get()), 1);
    ASSERT_EQ(readJPEG(one.get()), 1);
    int worst = 0;
    for (int i = 0; i < 23 * 37; i++) {
        int want = i / 37 == 13 ? 200 : before->buffer[i];
        worst = std::max(worst, std::abs(one->buffer[i] - want));
    }
    EXPECT_LE(worst, 24);   // one line unlike its neighbours, re-encoded
    // A file that cannot be recreated: one message, the cache kept.
    Record r = openRecord(path);
    ASSERT_TRUE(r);
    ASSERT_EQ(readJPEG(r.get()), 1);
    std::string gone = dir.path("gone/w.jpg");
    std::snprintf(r->info.fileName, sizeof r->info.fileName, "%s", gone.c_str());
    ramImageSetDirty(r.get(), 3);
    ramImageSetDirty(r.get(), 4);
    CapturedOutput out;
    EXPECT_EQ(writeJPEG(r.get()), 0);
    EXPECT_EQ(out.err(), gone + ": No such file or directory\n");
    EXPECT_FALSE(ramImageSlotDirty(r.get(), 4));
    EXPECT_EQ(r->slotMap[4], 4);
}

TEST(writeJPEG, FilesDecodeInDjpegAndImageMagick)
{
    ScratchDir dir;
    std::string path = dir.path("rt.jpg");
    auto value = [](int x, int y, int b) {
        return b == 0 ? x * 5 : b == 1 ? 250 - y * 8 : 100 + (x - y) * 2;
    };
    for (int bands : {1, 3}) {
        // A new JPEG written through the store.
        ImageInfo info =
            newImageInfo(path, IMG_JPEG, PIXEL_BYTE, 45, 29, bands);
        info.block = 95;
        int err;
        RAMImage *r = openRAMImageNew(&info, nullptr, 1, &err);
        ASSERT_TRUE(r) << ramimgError(err);
        putValues(r, value);
        closeRAMImage(r, nullptr);
        expectOracles({"djpeg -pnm @", "convert @ pnm:-"}, path, 45, 29, bands,
                      value, bands == 1 ? 3 : 6);
    }
}

TEST(initJPEG, NewFilesAreBlackImagesOfTheGivenShape)
{
    ScratchDir dir;
    struct { int nbands, nindices, block, wantBands, wantBlock; } cases[] = {
        {1, 0, 0, 1, 90}, {1, 4, 75, 3, 75}, {3, 0, 500, 3, 90},
        {2, 0, -1, 1, 90},
    };
    std::string path = dir.path("new.jpg");
    for (const auto &c : cases) {
        ImageInfo info = newImageInfo(path, IMG_JPEG, PIXEL_BYTE, 19, 11,
                                      c.nbands);
        info.nindices = c.nindices;
        info.block = c.block;
        int err;
        RAMImage *r = openRAMImageNew(&info, nullptr, 1, &err);
        ASSERT_TRUE(r) << ramimgError(err);
        EXPECT_EQ(r->info.nbands, c.wantBands);
        EXPECT_EQ(r->info.nindices, 0);
        EXPECT_EQ(r->info.block, c.wantBlock);
        ASSERT_EQ(readJPEG(r), 1);
        for (int i = 0; i < r->slotCount * r->lineBytes; i++)
            ASSERT_EQ(r->buffer[i], 0);
        closeRAMImage(r, nullptr);
        Record back = openRecord(path);
        ASSERT_TRUE(back);
        EXPECT_EQ(back->info.nbands * 10000 + back->info.columns * 100
                      + back->info.rows, c.wantBands * 10000 + 1911);
    }
    // Beyond the library's limits: its message, and -1.
    ImageInfo info = newImageInfo(path, IMG_JPEG, PIXEL_BYTE, 70000, 2, 1);
    int fd = open(path.c_str(), O_RDWR | O_TRUNC);
    CapturedOutput out;
    EXPECT_EQ(initJPEG(fd, &info), -1);
    close(fd);
    EXPECT_EQ(out.err(), "Maximum supported image dimension is 65500 pixels\n");
}
