// Lines of DICOM, ELAS and FFT files read through the store: the probes'
// offsets, line sizes and layouts put every pixel where the writer did.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "core/imgtype.h"
#include "core/ramimg.h"
#include "formats/fft.h"
#include "tests/support/testSupport.h"

namespace {

// Opens the file through the store, checks its shape (rows x columns x
// bands, unless empty) and compares every line of every band, last line
// first, with the values at(info, y, b, c) points to.
void expectLines(const std::string &path, const std::string &shape,
                 const std::function<const void *(const ImageInfo &, int, int,
                                                  int)> &at)
{
    RAMImage *r = openRAMImage(nullptr, path.c_str(), nullptr, nullptr,
                               nullptr);
    ASSERT_NE(r, nullptr) << path;
    const ImageInfo &info = r->info;
    if (!shape.empty()) {
        EXPECT_EQ(std::to_string(info.rows) + "x" + std::to_string(info.columns)
                      + "x" + std::to_string(info.nbands), shape);
    }
    int size = pixelBits(info.pixel) / 8;
    for (int y = info.rows - 1; y >= 0; y--)
        for (int b = 0; b < info.nbands; b++) {
            const unsigned char *line = r->getLine(r, y, b, 1);
            for (int c = 0; c < info.columns; c++)
                ASSERT_EQ(std::memcmp(line + c * size, at(info, y, b, c),
                                      size), 0) << y << "/" << b << "/" << c;
        }
    closeRAMImage(r, nullptr);
}

} // namespace

// ELAS: bands interleaved by line, the line padding skipped.
TEST(storeLines, Elas)
{
    ScratchDir dir;
    const int32_t head[] = {1024, 12, 1, 5, 1, 10, 3, 4321};
    std::vector<unsigned char> file(1024, 0);
    std::memcpy(file.data(), head, sizeof head);
    for (int r = 0; r < 5; r++)
        for (int b = 0; b < 3; b++)
            for (int c = 0; c < 12; c++)
                file.push_back((unsigned char)(c < 10 ? r * 40 + b * 10 + c
                                                      : 0xEE));
    writeFileBytes(dir.path("lines.elas"), file);
    unsigned char v;
    expectLines(dir.path("lines.elas"), "5x10x3",
                [&](const ImageInfo &, int y, int b, int c) {
        v = (unsigned char)(y * 40 + b * 10 + c);
        return &v;
    });
}

// FFT: band 0 the real parts, band 1 the imaginary parts of each row.
TEST(storeLines, FFT)
{
    ScratchDir dir;
    const int P = 4, Q = 8;
    unsigned char h[FFT_HEADER_SIZE];
    fftInitHead(h, "x", 1, P, Q, P, Q, 0);
    std::string path = dir.path("rows.fft");
    int fd = OpenNEWFFTFile(path.c_str(), h);
    ASSERT_GE(fd, 0);
    std::vector<float> v;
    for (int k = 0; k < P * Q; k++) {
        v.push_back(0.5f * k);
        v.push_back(-1.0f * k);
    }
    PutFFTFileBlock(h, fd, v.data(), 0, P, 1);
    PutFFTHead(h, fd);
    close(fd);
    expectLines(path, "4x8x2", [&](const ImageInfo &, int y, int b, int c) {
        return &v[(y * Q + c) * 2 + b];
    });
}

// DICOM fixtures written by dcmtk: every band of every line equals the
// values dcmtk extracts (first frame of a multi-frame file; colour by
// pixel and by plane).
TEST(storeLines, Dicom)
{
    ScratchDir dir;
    for (const char *name : {"mono8", "mono16p", "mono16s", "rgb8",
                             "planar"}) {
        SCOPED_TRACE(name);
        std::string base = fixturePath(std::string("dicom/") + name);
        std::vector<unsigned char> raw = readFileBytes(base + ".raw");
        std::string path = dir.path(std::string(name) + ".dcm");
        writeFileBytes(path, readFileBytes(base + ".dcm"));
        expectLines(path, "", [&](const ImageInfo &info, int y, int b, int c) {
            size_t at = info.imgid == IMG_BSQ
                ? ((size_t)(b * info.rows + y) * info.columns + c)
                : ((size_t)(y * info.columns + c) * info.nbands + b);
            return &raw[at * info.bits / 8];
        });
    }
}
