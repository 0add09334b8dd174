// Tests of imgtype.cpp and rawBasic.cpp: keywords, the custom option
// procedures, the probe registry, the format table and the BASIC raw
// format.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <cstring>
#include <string>

#include "core/hostField.h"
#include "core/imgFormat.h"
#include "core/imgtype.h"
#include "core/ramimg.h"
#include "tests/support/imageRecords.h"
#include "tests/support/probeSupport.h"
#include "tests/support/testSupport.h"

TEST(parseID, KeywordsUnknownAndOptionProcs)
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

    // The option procedures store a keyword's number or report it, and
    // print the keyword of a number.
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
    return probeAt(path, info, [&path](int fd, ImageInfo *i) {
        void *priv = nullptr;
        return imgTypes(fd, path.c_str(), i, &priv);
    });
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

// The probe order and the storage layout of every image type, as the
// registry and the line access are specified.
TEST(imgFormat, ProbeOrderAndLayoutOfEveryType)
{
    std::string order;
    for (int i = 0; i < imgFormatCount; i++) {
        const ImgFormat *f = imgFormatList[i];
        if (!f)
            order += "<back> ";
        else if (f->probe || f->privateProbe)
            order += std::string(f->name) + " ";
    }
    EXPECT_EQ(order, "DICOM DIB XBM ERDAS GIF87a FFT ELAS TIFF JPEG BASIC "
                     "PPM <back> MPEG ");
    static const int layout[IMG_NTYPES] = {
        LAYOUT_NONE, LAYOUT_BSQ, LAYOUT_BIL, LAYOUT_BIP, LAYOUT_BIL,
        LAYOUT_BIL, LAYOUT_BIL, LAYOUT_DIB, LAYOUT_PICTURE, LAYOUT_BLOCKS,
        LAYOUT_PICTURE, LAYOUT_FRAMES, LAYOUT_BIP, LAYOUT_BIP, LAYOUT_PICTURE,
        LAYOUT_BSQ, LAYOUT_NONE, LAYOUT_BIL, LAYOUT_NONE, LAYOUT_FRAMES,
        LAYOUT_NONE, LAYOUT_NONE, LAYOUT_NONE, LAYOUT_NONE, LAYOUT_NONE,
        LAYOUT_NONE, LAYOUT_NONE};
    for (int t = 1; t < IMG_NTYPES; t++) {
        SCOPED_TRACE(strImgID(t));
        EXPECT_NE(imgFormat(t), nullptr);
        EXPECT_EQ(imgLayout(t), layout[t]);
    }
    EXPECT_EQ(imgFormat(0), nullptr);
    EXPECT_EQ(imgFormat(IMG_NTYPES), nullptr);
    EXPECT_EQ(imgFormat(IMG_GIF87A)->seek, nullptr);   // only 89a has frames
    EXPECT_NE(imgFormat(IMG_GIF89A)->seek, nullptr);
    ASSERT_NE(imgMapFormat(MAP_DICOM), nullptr);
    EXPECT_STREQ(imgMapFormat(MAP_DICOM)->name, "DICOM");
    EXPECT_EQ(imgMapFormat(MAP_GRID), nullptr);
}

namespace {

ImageInfo basicInfo(const std::string &file, int imgid, int pixel)
{
    ImageInfo info = describeImage(file, imgid, pixel, 50, 100, 3, 1,
                                   BASIC_HEADER_SIZE, 0);
    info.mapid = 35;
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
    return info;
}

}  // namespace

TEST(initBASIC, HeaderLayoutAndDataArea)
{
    ScratchDir dir;
    ImageInfo info = basicInfo(dir.path("a.bil"), IMG_BIL, PIXEL_BYTE);
    ASSERT_EQ(createImage(&info), BASIC_HEADER_SIZE);
    EXPECT_EQ(info.block, 100);
    // Every header byte (numbers in host order, little-endian here), then
    // zero pixels.
    std::vector<unsigned char> want(860, 0);
    std::memcpy(want.data(), "IMAGEDEF_MSBL", 13);
    int off = 16;
    for (int32_t v : {1, (int)IMG_BIL, 35, 860, (int)PIXEL_BYTE, 3, 50, 100,
                      7, -2}) {
        putHostField(want.data(), off, v);
        off += 4;
    }
    for (double v : {500000.5, 4000000.25, 30.0, -30.0}) {
        putHostField(want.data(), off, v);
        off += 8;
    }
    putHostField<int32_t>(want.data(), 88, 2);
    want[95] = 10;
    want[96] = 20;
    want[97] = 30;
    want.resize(860 + 15000, 0);
    EXPECT_EQ(readFileBytes(info.fileName), want);

    // A larger requested header keeps its size; BIP lines hold all bands.
    ImageInfo bip = basicInfo(dir.path("b.bip"), IMG_BIP, PIXEL_SHORT);
    bip.offset = 1000;
    ASSERT_EQ(createImage(&bip), 1000);
    EXPECT_EQ(bip.block, 600);
    EXPECT_EQ(readFileBytes(bip.fileName).size(), 1000u + 600u * 50u);

    // An unwritable file fails.
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
    EXPECT_EQ(infoLine(got), "BSQ FLOAT/32 100x50x3 off 860 block 400 msbf 1"
              " UTM33 nind 2 tr -1 frame 7,-2 vol 0 map 500000.5,4000000.25"
              " cell 30,-30");
    EXPECT_EQ(got.palette[1][2], 30);

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
    h.resize(900 + 4 * 12, 0);
    writeFileBytes(dir.path("be.bip"), h);
    ASSERT_EQ(probeFile(dir.path("be.bip"), &got), IMG_BIP);
    EXPECT_EQ(infoLine(got), "BIP SHORT/16 3x4x2 off 900 block 12 msbf 1 GRID"
              " nind 0 tr -1 frame 1,2 vol 0 map 0,0 cell 30,0");

    // Type 4, a truncated header and nonsense geometry are not BASIC.
    std::vector<unsigned char> t4 = h, neg = h;
    t4[23] = 4;
    neg[40] = 0xFF;  // rows negative
    for (const auto &bad : {t4, neg, std::vector<unsigned char>(
                                         h.begin(), h.begin() + 859)}) {
        writeFileBytes(dir.path("bad"), bad);
        EXPECT_EQ(probeFile(dir.path("bad"), &got), 0);
    }
}
