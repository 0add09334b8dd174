// Tests of elas.cpp: the probe on headers built here (no independent
// writer exists), byte order and short files.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "core/hostField.h"
#include "core/imgtype.h"
#include "formats/elas.h"
#include "tests/support/probeSupport.h"

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
    int off = 0;
    for (int32_t x : {h.headerSize, h.lineBytes, h.firstLine, h.lastLine,
                      h.firstElement, h.lastElement, h.bands, h.check, 0,
                      h.mapY, 0, h.mapX}) {
        putHostField(v.data(), off, x);
        off += 4;
    }
    putHostField(v.data(), 48, h.cellHeight);
    putHostField(v.data(), 52, h.cellWidth);
    v.insert(v.end(), pixels.begin(), pixels.end());
    return v;
}

int probe(const std::vector<unsigned char> &bytes, ImageInfo *info)
{
    MemoryFile f(bytes);
    return probeAt(f.path, info, imgElas, 7);
}

} // namespace

// The layout's fields land in ImageInfo as tabled: 512 x 512 from line 1
// and element 1, three bands, map origin and cell size; then a frame that
// does not start at 1.
TEST(imgElas, HeaderMapping)
{
    ElasHead h;
    h.lineBytes = 520;
    h.lastLine = h.lastElement = 512;
    h.bands = 3;
    h.mapY = 5200000;
    h.mapX = 430000;
    h.cellHeight = 28.5f;
    h.cellWidth = 30.0f;
    ImageInfo info;
    const std::string host = " msbf " + std::to_string(msbFirst());
    ASSERT_EQ(probe(elasFile(h, {}), &info), 1);
    EXPECT_EQ(infoLine(info), "ELAS BYTE/8 512x512x3 off 1024 block 520" + host
              + " GRID nind 0 tr -1 frame 1,1 vol 0 map 430000,5200000"
              " cell 30,28.5");
    h.firstLine = 101;
    h.lastLine = 150;
    h.firstElement = -9;
    h.lastElement = 10;
    ASSERT_EQ(probe(elasFile(h, {}), &info), 1);
    EXPECT_EQ(infoLine(info), "ELAS BYTE/8 20x50x3 off 1024 block 520" + host
              + " GRID nind 0 tr -1 frame 101,-9 vol 0 map 430000,5200000"
              " cell 30,28.5");
}

// The check value in the other byte order, a header one byte short, and
// impossible geometry are not ELAS; the registry finds ELAS after the
// probes before it.
TEST(imgElas, RejectedAndRegistry)
{
    ElasHead h;
    h.lineBytes = 8;
    h.lastLine = 2;
    h.lastElement = 8;
    std::vector<unsigned char> good = elasFile(h, std::vector<unsigned char>(16, 7));
    ImageInfo info;
    std::vector<unsigned char> swapped = good;
    std::reverse(swapped.begin() + 28, swapped.begin() + 32);
    EXPECT_EQ(probe(swapped, &info), 0);
    EXPECT_EQ(probe({good.begin(), good.begin() + 1023}, &info), 0);

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
        EXPECT_EQ(probe(v, &info), 0) << b.value;
    }

    MemoryFile f(good);
    void *priv = nullptr;
    EXPECT_EQ(imgTypes(f.fd, "g.elas", &info, &priv), IMG_ELAS);
    EXPECT_EQ(priv, nullptr);
}
