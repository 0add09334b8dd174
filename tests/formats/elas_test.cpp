// Tests of elas.cpp: the probe on headers built here (no independent
// writer exists), byte order and short files.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "core/imgtype.h"
#include "core/ramimg.h"
#include "formats/elas.h"
#include "tests/support/testSupport.h"

namespace {

struct ElasHead {
    int32_t headerSize = 1024, lineBytes = 0, firstLine = 1, lastLine = 0;
    int32_t firstElement = 1, lastElement = 0, bands = 1, check = 4321;
    int32_t mapY = 0, mapX = 0;
    float cellHeight = 1, cellWidth = 1;
};

/* A header in host order (as ELAS writes it), zero elsewhere, then the
 * pixel bytes. */
std::vector<unsigned char> elasFile(const ElasHead &h,
                                    const std::vector<unsigned char> &pixels)
{
    std::vector<unsigned char> v((size_t)std::max(h.headerSize, 1024), 0);
    auto put = [&v](int off, const void *p) { std::memcpy(&v[off], p, 4); };
    put(0, &h.headerSize);
    put(4, &h.lineBytes);
    put(8, &h.firstLine);
    put(12, &h.lastLine);
    put(16, &h.firstElement);
    put(20, &h.lastElement);
    put(24, &h.bands);
    put(28, &h.check);
    put(36, &h.mapY);
    put(44, &h.mapX);
    put(48, &h.cellHeight);
    put(52, &h.cellWidth);
    v.resize((size_t)std::max(h.headerSize, 1024));
    v.insert(v.end(), pixels.begin(), pixels.end());
    return v;
}

int probe(const std::string &path, ImageInfo *info)
{
    int fd = open(path.c_str(), O_RDONLY);
    EXPECT_GE(fd, 0);
    lseek(fd, 7, SEEK_SET);
    std::memset(info, 0, sizeof *info);
    int rc = imgElas(fd, info);
    EXPECT_EQ(lseek(fd, 0, SEEK_CUR), 7) << "file position moved";
    close(fd);
    return rc;
}

} // namespace

// The layout's fields land in ImageInfo as tabled: 512 x 512 from line 1
// and element 1, three bands, map origin and cell size.
TEST(imgElas, HeaderMapping)
{
    ScratchDir dir;
    ElasHead h;
    h.lineBytes = 520;
    h.lastLine = 512;
    h.lastElement = 512;
    h.bands = 3;
    h.mapY = 5200000;
    h.mapX = 430000;
    h.cellHeight = 28.5f;
    h.cellWidth = 30.0f;
    writeFileBytes(dir.path("a.elas"), elasFile(h, {}));
    ImageInfo info;
    ASSERT_EQ(probe(dir.path("a.elas"), &info), 1);
    EXPECT_EQ(info.imgid, IMG_ELAS);
    EXPECT_EQ(info.pixel, PIXEL_BYTE);
    EXPECT_EQ(info.mapid, MAP_GRID);
    EXPECT_EQ(info.offset, 1024);
    EXPECT_EQ(info.block, 520);
    EXPECT_EQ(info.rows, 512);
    EXPECT_EQ(info.columns, 512);
    EXPECT_EQ(info.top, 1);
    EXPECT_EQ(info.left, 1);
    EXPECT_EQ(info.nbands, 3);
    EXPECT_EQ(info.msbf, msbFirst());
    EXPECT_DOUBLE_EQ(info.x0, 430000.0);
    EXPECT_DOUBLE_EQ(info.y0, 5200000.0);
    EXPECT_DOUBLE_EQ(info.dx, 30.0);
    EXPECT_DOUBLE_EQ(info.dy, 28.5);

    // A frame that does not start at 1.
    h.firstLine = 101;
    h.lastLine = 150;
    h.firstElement = -9;
    h.lastElement = 10;
    writeFileBytes(dir.path("b.elas"), elasFile(h, {}));
    ASSERT_EQ(probe(dir.path("b.elas"), &info), 1);
    EXPECT_EQ(info.rows, 50);
    EXPECT_EQ(info.columns, 20);
    EXPECT_EQ(info.top, 101);
    EXPECT_EQ(info.left, -9);
}

// The check value in the other byte order, a header one byte short, and
// impossible geometry are not ELAS; the registry finds ELAS after the
// probes before it.
TEST(imgElas, RejectedAndRegistry)
{
    ScratchDir dir;
    ElasHead h;
    h.lineBytes = 8;
    h.lastLine = 2;
    h.lastElement = 8;
    std::vector<unsigned char> good = elasFile(h, std::vector<unsigned char>(16, 7));
    ImageInfo info;

    std::vector<unsigned char> swapped = good;
    std::reverse(swapped.begin() + 28, swapped.begin() + 32);
    writeFileBytes(dir.path("s.elas"), swapped);
    EXPECT_EQ(probe(dir.path("s.elas"), &info), 0);

    writeFileBytes(dir.path("short.elas"),
                   std::vector<unsigned char>(good.begin(), good.begin() + 1023));
    EXPECT_EQ(probe(dir.path("short.elas"), &info), 0);

    struct { int32_t ElasHead::*field; int32_t value; } bad[] = {
        {&ElasHead::lastLine, 0}, {&ElasHead::lastElement, -5},
        {&ElasHead::bands, 0}, {&ElasHead::headerSize, -1},
        {&ElasHead::lineBytes, -1},
    };
    for (const auto &b : bad) {
        ElasHead w = h;
        w.*(b.field) = b.value;
        std::vector<unsigned char> v = elasFile(w, {});
        v.resize(1024);
        writeFileBytes(dir.path("bad.elas"), v);
        EXPECT_EQ(probe(dir.path("bad.elas"), &info), 0) << b.value;
    }

    writeFileBytes(dir.path("g.elas"), good);
    int fd = open(dir.path("g.elas").c_str(), O_RDONLY);
    void *priv = nullptr;
    EXPECT_EQ(imgTypes(fd, "g.elas", &info, &priv), IMG_ELAS);
    EXPECT_EQ(priv, nullptr);
    close(fd);
}
