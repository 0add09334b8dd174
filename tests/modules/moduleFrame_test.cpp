// Tests of moduleFrame.cpp: both option-table styles, comma lists, the
// band-list syntax with its limits, the stepped meter with the abort
// poll, and the output rule (an existing image is written into, a created
// one is removed again when the run fails).
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstring>
#include <string>
#include <vector>

#include "core/imgtype.h"
#include "core/lineAccess.h"
#include "core/meter.h"
#include "core/ramimg.h"
#include "core/velk.h"
#include "modules/moduleFrame.h"
#include "tests/support/testSupport.h"

TEST(parseConfig, PairsDuplicatesAndMissingValues)
{
    ModuleParam table[] = {{"-in", nullptr}, {"-b", nullptr},
                           {"-out", "stale"}, {nullptr, nullptr}};
    const char *words[] = {"-b", "1", "-b", "2", "-x", "3", "-in"};
    EXPECT_EQ(parseConfig(table, 7, words), 3);
    EXPECT_STREQ(table[1].value, "1");
    EXPECT_EQ(table[0].value, nullptr);     // last word without a value
    EXPECT_EQ(table[2].value, nullptr);     // cleared first

    const char *good[] = {"-out", "o", "-in", "i"};
    EXPECT_EQ(parseConfig(table, 4, good), 0);
    EXPECT_STREQ(table[0].value, "i");
    EXPECT_STREQ(table[2].value, "o");
    EXPECT_EQ(table[2].value, good[1]);     // the word itself, not a copy
}

TEST(parseParams, KeywordEqualsValue)
{
    ModuleParam table[] = {{"file", nullptr}, {"rows=", nullptr},
                           {"r=", nullptr}, {"cols=", nullptr}};
    const char *words[] = {"scene.lan", "rows=12", "r=3", "bad=1", "cols="};
    EXPECT_EQ(parseParams(5, words, table, 4), 4);
    EXPECT_STREQ(table[0].value, "scene.lan");
    EXPECT_STREQ(table[1].value, "12");
    EXPECT_STREQ(table[2].value, "3");
    EXPECT_STREQ(table[3].value, "");
    EXPECT_EQ(paramParser(table, 4, "rowsx"), -1);
}

TEST(passLongs, CountsPiecesBeyondRoom)
{
    long l[2] = {0, 0};
    EXPECT_EQ(passLongs("1,2,3", l, 2), 3);
    EXPECT_EQ(l[0], 1);
    EXPECT_EQ(l[1], 2);
    float f[3];
    EXPECT_EQ(passFloats("0.5,,-2e1", f, 3), 3);
    EXPECT_FLOAT_EQ(f[0], 0.5f);
    EXPECT_FLOAT_EQ(f[1], 0.0f);
    EXPECT_FLOAT_EQ(f[2], -20.0f);
    EXPECT_EQ(passFloats(nullptr, f, 3), 0);
}

TEST(parseBands, SyntaxRangesAndLimits)
{
    CapturedOutput output;
    std::vector<int> in(MODULE_MAX_BANDS), out(MODULE_MAX_BANDS);
    auto lists = [&](int n) {
        std::string s;
        for (int i = 0; i < n; i++)
            s += std::to_string(in[i]) + ">" + std::to_string(out[i]) + " ";
        return s;
    };
    EXPECT_EQ(parseBands(7, 7, in.data(), out.data(), "3-1:1-3"), 3);
    EXPECT_EQ(lists(3), "2>0 1>1 0>2 ");
    EXPECT_EQ(parseBands(7, 7, in.data(), out.data(), "1-2,7;5:4 6:1"), 5);
    EXPECT_EQ(lists(5), "0>0 1>1 6>6 4>3 5>0 ");
    EXPECT_EQ(parseBands(7, 7, in.data(), out.data(), "1:2,3:4"), 2);
    EXPECT_EQ(lists(2), "0>1 2>3 ");
    EXPECT_EQ(parseBands(5, 3, in.data(), out.data(), nullptr), 3);
    EXPECT_EQ(lists(3), "0>0 1>1 2>2 ");
    EXPECT_EQ(output.err(), "");

    // Out of range: 0 without a message.
    for (const char *text : {"0", "8", "1:8", ""})
        EXPECT_EQ(parseBands(7, 7, in.data(), out.data(), text), 0) << text;
    EXPECT_EQ(output.err(), "");
    // Malformed text or sides of different length: the message.
    for (const char *text : {"1,2:1", "1-", "a", "2x", "1--3", "1:2:3",
                             "1,", "1-9000"}) {
        output.clear();
        EXPECT_EQ(parseBands(9000, 9000, in.data(), out.data(), text), 0)
            << text;
        EXPECT_EQ(output.err(), "Error in band params.\n") << text;
    }
    // Exactly the limit is fine, and absurd numbers do not overflow.
    EXPECT_EQ(parseBands(9000, 9000, in.data(), out.data(), "8192-1"),
              MODULE_MAX_BANDS);
    EXPECT_EQ(in[0], 8191);
    EXPECT_EQ(parseBands(9, 9, in.data(), out.data(), "99999999999999"), 0);

    int list[4];
    EXPECT_EQ(parseBandDef("1-4,7", list, 4), 5);
    EXPECT_EQ(list[3], 4);
    const char *cursor = "12-3";
    int value;
    EXPECT_EQ(getNextBand(&cursor, &value), '-');
    EXPECT_EQ(value, 12);
    EXPECT_STREQ(cursor, "-3");
}

namespace {

// A stdio interpreter whose meter.set records its fractions and whose
// velkPause flips the status to abort, as a user pressing the button.
struct RecordingMeter {
    Tcl_Interp *interp = Tcl_CreateInterp();
    Tcl_Interp *previous;
    RecordingMeter()
    {
        Tcl_Eval(interp, "set calls {}\n"
                         "proc meter.set {w f l} {lappend ::calls $f}\n"
                         "proc meter.reset {w} {}\n"
                         "proc velkPause {} {lappend ::calls pause}\n"
                         "proc velkAbort {} {lappend ::calls abort}\n");
        previous = setStdIO(interp);
    }
    ~RecordingMeter()
    {
        setStdIO(previous);
        velkStatus = 0;
        Tcl_DeleteInterp(interp);
    }
    std::string calls()
    {
        return Tcl_GetVar(interp, "calls", TCL_GLOBAL_ONLY);
    }
};

}  // namespace

TEST(moduleMeter, StepsAndAbort)
{
    RecordingMeter rec;
    ModuleMeter m;
    moduleMeterStart(&m, "gstats");
    for (int row = 0; row < 10; row++)
        ASSERT_EQ(moduleMeterRow(&m, row + 1, 10), 1);
    moduleMeterEnd(&m);
    // One call per row while the fraction keeps up with the threshold.
    EXPECT_EQ(rec.calls(), "0.050000 0.100000 0.150000 0.200000 0.250000 "
                           "0.300000 0.350000 0.400000 0.450000 0.500000 "
                           "1.000000");

    velkStatus = 3;
    EXPECT_EQ(moduleMeterRow(&m, 11, 20), 0);
    EXPECT_EQ(rec.calls().substr(rec.calls().size() - 5), "abort");
    velkStatus = 1;     // polls without pausing or aborting
    EXPECT_EQ(moduleMeterRow(&m, 12, 20), 1);
}

TEST(moduleOutput, ExistingKeptCreatedDiscarded)
{
    ScratchDir dir;
    CapturedOutput output;
    ImageInfo input{};
    std::string in = dir.path("in.img");
    std::strcpy(input.fileName, in.c_str());
    input.pixel = PIXEL_SHORT;
    input.imgid = IMG_BSQ;
    input.offset = BASIC_HEADER_SIZE;
    input.rows = 3;
    input.columns = 5;
    input.nbands = 4;
    input.transparent = -1;
    input.extraFd = 9;
    ASSERT_GT(createImage(&input), 0);

    // A new output takes the input's geometry and the module's types.
    ImageInfo info;
    std::string outName = dir.path("out.bmp");
    moduleOutputInfo(&info, &input, "ignored", PIXEL_BYTE, IMG_DIB, 1);
    EXPECT_EQ(info.extraFd, -1);
    ModuleOutput out;
    int err;
    RAMImage *r = moduleOpenOutput(&out, outName.c_str(), &info, &err);
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(out.created, 1);
    EXPECT_EQ(r->info.imgid, IMG_DIB);
    EXPECT_EQ(r->info.pixel, PIXEL_BYTE);
    EXPECT_EQ(r->info.nbands, 1);
    EXPECT_EQ(r->info.rows, 3);
    EXPECT_EQ(r->info.columns, 5);
    moduleDiscardOutput(&out);
    EXPECT_NE(access(outName.c_str(), F_OK), 0);
    EXPECT_EQ(getRAMImageByName(outName.c_str()), nullptr);

    // An existing image is opened, written into and kept on failure.
    r = moduleOpenOutput(&out, in.c_str(), &info, &err);
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(out.created, 0);
    EXPECT_EQ(r->info.pixel, PIXEL_SHORT);
    float v[5] = {1, 2, 3, 4, 5};
    putFloatBILData(r, 2, 0, 5, 3, v);
    moduleDiscardOutput(&out);
    EXPECT_EQ(access(in.c_str(), F_OK), 0);
    std::vector<unsigned char> b = readFileBytes(in);
    size_t last = BASIC_HEADER_SIZE + (3 * 3 + 2) * 10;
    ASSERT_EQ(b.size(), last + 10);
    EXPECT_EQ(b[last + 8], 5);

    // A file that is no image is neither opened nor replaced.
    std::string junk = dir.path("junk.txt");
    writeFileBytes(junk, {'h', 'i'});
    EXPECT_EQ(moduleOpenOutput(&out, junk.c_str(), &info, &err), nullptr);
    EXPECT_EQ(readFileBytes(junk).size(), 2u);
}
