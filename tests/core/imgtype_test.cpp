// Tests of imgtype.cpp and rawBasic.cpp: keywords, the custom option
// procedures, the probe registry and the BASIC raw format.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <cstring>
#include <string>

#include "core/imgtype.h"
#include "core/ramimg.h"
#include "tests/support/testSupport.h"

TEST(parseID, KeywordsAndUnknown)
{
    EXPECT_EQ(parseImgID("UNKNOWN"), 0);
    EXPECT_EQ(parseImgID("MRGB1"), IMG_MRGB1);
    EXPECT_EQ(parseImgID("GIF89a"), IMG_GIF89A);
    EXPECT_EQ(parsePixelID("UNKNOWN"), -1);
    EXPECT_EQ(parseMapID("UNKNOWN"), -1);
    EXPECT_EQ(parsePixelID("byte"), -1);
    EXPECT_EQ(parsePixelID("SBYTE"), PIXEL_SBYTE);
    EXPECT_EQ(parseMapID("UTM33"), 35);
    EXPECT_EQ(parseMapID("DICOM"), MAP_DICOM);
    EXPECT_STREQ(strMapID(61), "UTM59");
    EXPECT_STREQ(strMapID(-1), "UNKNOWN");
    EXPECT_STREQ(strImgID(99), "UNKNOWN");
    EXPECT_EQ(pixelBits(PIXEL_4BITS), 4);
    EXPECT_EQ(pixelBits(PIXEL_ULONG), 32);
    EXPECT_EQ(pixelBits(42), 0);
}

TEST(ParseID, StoresOrReportsAndPrints)
{
    Tcl_Interp *interp = testInterp();
    ImageInfo info;
    std::memset(&info, 0, sizeof info);
    info.pixel = PIXEL_BYTE;
    char *rec = reinterpret_cast<char *>(&info);
    int off = (int)offsetof(ImageInfo, pixel);
    EXPECT_EQ(ParseID(&pixelID, interp, nullptr, "FLOAT", rec, off), 0);
    EXPECT_EQ(info.pixel, PIXEL_FLOAT);
    Tcl_ResetResult(interp);
    EXPECT_EQ(ParseID(&pixelID, interp, nullptr, "float", rec, off), 1);
    EXPECT_STREQ(Tcl_GetStringResult(interp), "Invalid value: float for pixel");
    EXPECT_EQ(info.pixel, PIXEL_FLOAT);
    Tcl_FreeProc *freeProc = nullptr;
    const char *s = GetIDStr(&pixelID, nullptr, rec, off, &freeProc);
    EXPECT_STREQ(s, "FLOAT");
    EXPECT_EQ(freeProc, TCL_DYNAMIC);
    Tcl_Free(const_cast<char *>(s));
}

namespace {

// Probes that record their calls, for the registry order.
std::string calls;
int probeA(int, const char *, ImageInfo *, void **) { calls += "A"; return 0; }
int probeB(int, const char *, ImageInfo *, void **) { calls += "B"; return 0; }
int probeYes(int, const char *, ImageInfo *info, void **)
{
    calls += "Y";
    info->imgid = IMG_BIL;
    return IMG_BIL;
}
int probeAbort(int, const char *, ImageInfo *, void **)
{
    imageTypeInitAbort(imgTypeAbortPoint(), "probe gave up\n");
    return 0;
}

int probeFile(const std::string &path, ImageInfo *info)
{
    int fd = open(path.c_str(), O_RDWR);
    void *priv = nullptr;
    int rc = imgTypes(fd, path.c_str(), info, &priv);
    EXPECT_EQ(lseek(fd, 0, SEEK_CUR), 0);  // probes keep the position
    close(fd);
    return rc;
}

}  // namespace

TEST(imgTypes, RunTimeProbeListsInOrder)
{
    ScratchDir dir;
    writeFileBytes(dir.path("junk"), std::vector<unsigned char>(100, 7));
    ImageInfo info;
    calls.clear();
    imgTypeAdd(probeA, 0);
    imgTypeAdd(probeB, 0);
    imgTypeAdd(probeB, 0);      // registered once
    EXPECT_EQ(probeFile(dir.path("junk"), &info), 0);
    EXPECT_EQ(calls, "BA");     // latest front probe first
    imgTypeAdd(probeA, 1);      // moves to the back list
    calls.clear();
    EXPECT_EQ(probeFile(dir.path("junk"), &info), 0);
    EXPECT_EQ(calls, "BA");
    imgTypeAdd(probeYes, 0);
    calls.clear();
    EXPECT_EQ(probeFile(dir.path("junk"), &info), IMG_BIL);
    EXPECT_EQ(calls, "Y");
    imgTypeRemove(probeYes);
    imgTypeAdd(probeAbort, 1);
    calls.clear();
    CapturedOutput cap;
    EXPECT_EQ(probeFile(dir.path("junk"), &info), -1);
    EXPECT_EQ(calls, "BA");
    EXPECT_EQ(cap.err(), "probe gave up\n");
    int err;
    EXPECT_EQ(openRAMImage(nullptr, dir.path("junk").c_str(), nullptr,
                           nullptr, &err), nullptr);
    EXPECT_EQ(err, RAMIMG_EHANDLE);
    imgTypeFree();
    calls.clear();
    EXPECT_EQ(probeFile(dir.path("junk"), &info), 0);
    EXPECT_EQ(calls, "");
}

namespace {

ImageInfo basicInfo(const std::string &file, int imgid, int pixel)
{
    ImageInfo info;
    std::memset(&info, 0, sizeof info);
    std::snprintf(info.fileName, sizeof info.fileName, "%s", file.c_str());
    info.imgid = imgid;
    info.pixel = pixel;
    info.mapid = 35;
    info.offset = BASIC_HEADER_SIZE;
    info.rows = 50;
    info.columns = 100;
    info.nbands = 3;
    info.msbf = 1;
    info.top = 7;
    info.left = -2;
    info.x0 = 500000.5;
    info.y0 = 4000000.25;
    info.dx = 30;
    info.dy = -30;
    info.nindices = 2;
    info.palette[1][0] = 10;
    info.palette[1][1] = 20;
    info.palette[1][2] = 30;
    info.transparent = -1;
    return info;
}

int32_t le32(const std::vector<unsigned char> &b, size_t off)
{
    return (int32_t)(b[off] | b[off + 1] << 8 | b[off + 2] << 16
                     | (uint32_t)b[off + 3] << 24);
}

}  // namespace

TEST(initBASIC, HeaderLayoutAndDataArea)
{
    ScratchDir dir;
    ImageInfo info = basicInfo(dir.path("a.bil"), IMG_BIL, PIXEL_BYTE);
    ASSERT_EQ(createImage(&info), BASIC_HEADER_SIZE);
    std::vector<unsigned char> b = readFileBytes(info.fileName);
    ASSERT_EQ(b.size(), 860u + 15000u);
    EXPECT_EQ(std::string(reinterpret_cast<char *>(b.data())), "IMAGEDEF_MSBL");
    for (int i = 13; i < 16; i++)
        EXPECT_EQ(b[i], 0);
    EXPECT_EQ(le32(b, 16), 1);      // msbf of the pixels
    EXPECT_EQ(le32(b, 20), IMG_BIL);
    EXPECT_EQ(le32(b, 24), 35);
    EXPECT_EQ(le32(b, 28), 860);
    EXPECT_EQ(le32(b, 32), PIXEL_BYTE);
    EXPECT_EQ(le32(b, 36), 3);
    EXPECT_EQ(le32(b, 40), 50);
    EXPECT_EQ(le32(b, 44), 100);
    EXPECT_EQ(le32(b, 48), 7);
    EXPECT_EQ(le32(b, 52), -2);
    double d;
    std::memcpy(&d, &b[56], 8);
    EXPECT_EQ(d, 500000.5);
    std::memcpy(&d, &b[80], 8);
    EXPECT_EQ(d, -30.0);
    EXPECT_EQ(le32(b, 88), 2);
    EXPECT_EQ(b[92 + 3], 10);
    EXPECT_EQ(b[92 + 5], 30);
    for (size_t i = 860; i < b.size(); i++)
        ASSERT_EQ(b[i], 0);
    EXPECT_EQ(info.block, 100);

    // A larger requested header keeps its size; BIP lines hold all bands.
    ImageInfo bip = basicInfo(dir.path("b.bip"), IMG_BIP, PIXEL_SHORT);
    bip.offset = 1000;
    ASSERT_EQ(createImage(&bip), 1000);
    EXPECT_EQ(bip.block, 600);
    EXPECT_EQ(readFileBytes(bip.fileName).size(), 1000u + 600u * 50u);

    // Pixel types the format cannot take still get a header (the raw
    // format is generic); an unwritable file fails.
    ImageInfo bad = basicInfo(dir.path("none/x.bil"), IMG_BIL, PIXEL_BYTE);
    EXPECT_EQ(createImage(&bad), -1);
}

TEST(imgBASIC, BothByteOrdersAndRejections)
{
    ScratchDir dir;
    ImageInfo info = basicInfo(dir.path("a.bsq"), IMG_BSQ, PIXEL_FLOAT);
    ASSERT_EQ(createImage(&info), BASIC_HEADER_SIZE);
    ImageInfo got;
    ASSERT_EQ(probeFile(info.fileName, &got), IMG_BSQ);
    EXPECT_EQ(got.pixel, PIXEL_FLOAT);
    EXPECT_EQ(got.bits, 32);
    EXPECT_EQ(got.block, 400);
    EXPECT_EQ(got.rows, 50);
    EXPECT_EQ(got.columns, 100);
    EXPECT_EQ(got.nbands, 3);
    EXPECT_EQ(got.msbf, 1);
    EXPECT_EQ(got.mapid, 35);
    EXPECT_EQ(got.top, 7);
    EXPECT_EQ(got.left, -2);
    EXPECT_EQ(got.y0, 4000000.25);
    EXPECT_EQ(got.dy, -30.0);
    EXPECT_EQ(got.nindices, 2);
    EXPECT_EQ(got.palette[1][2], 30);
    EXPECT_EQ(got.transparent, -1);

    // A header written on a big-endian host, made by hand.
    std::vector<unsigned char> h(860, 0);
    std::memcpy(h.data(), "IMAGEDEF_MSBF", 13);
    std::vector<unsigned char> ints;
    for (uint32_t v : {1u, (uint32_t)IMG_BIP, 1u, 900u, (uint32_t)PIXEL_SHORT,
                       2u, 4u, 3u, 1u, 2u})
        putBE32(ints, v);
    std::memcpy(&h[16], ints.data(), ints.size());
    const unsigned char dx[8] = {0x40, 0x3E, 0, 0, 0, 0, 0, 0};  // 30.0
    std::memcpy(&h[72], dx, 8);
    h[91] = 0;
    h.resize(900 + 4 * 12, 0);
    writeFileBytes(dir.path("be.bip"), h);
    ASSERT_EQ(probeFile(dir.path("be.bip"), &got), IMG_BIP);
    EXPECT_EQ(got.msbf, 1);
    EXPECT_EQ(got.offset, 900);
    EXPECT_EQ(got.pixel, PIXEL_SHORT);
    EXPECT_EQ(got.nbands, 2);
    EXPECT_EQ(got.rows, 4);
    EXPECT_EQ(got.columns, 3);
    EXPECT_EQ(got.top, 1);
    EXPECT_EQ(got.left, 2);
    EXPECT_EQ(got.dx, 30.0);
    EXPECT_EQ(got.block, 12);

    // Type 4, a truncated header and nonsense geometry are not BASIC.
    std::vector<unsigned char> t4 = h;
    t4[23] = 4;
    writeFileBytes(dir.path("t4"), t4);
    EXPECT_EQ(probeFile(dir.path("t4"), &got), 0);
    writeFileBytes(dir.path("short"),
                   std::vector<unsigned char>(h.begin(), h.begin() + 859));
    EXPECT_EQ(probeFile(dir.path("short"), &got), 0);
    std::vector<unsigned char> neg = h;
    neg[40] = 0xFF;  // rows negative
    writeFileBytes(dir.path("neg"), neg);
    EXPECT_EQ(probeFile(dir.path("neg"), &got), 0);
}
