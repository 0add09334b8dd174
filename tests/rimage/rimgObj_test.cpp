// Raster objects seen from the store: a logging client records every
// notice an operation, a rejected operation and a configure send; the
// histograms of the bands an operation wrote are reset and the others
// kept; the operand raster and the object release their holds.
#include <gtest/gtest.h>

#include <string>

#include "core/hist.h"
#include "core/imgtype.h"
#include "core/ramimg.h"
#include "rimage/rimg.h"
#include "tests/support/imageRecords.h"
#include "tests/support/testSupport.h"

namespace {

struct Log {
    int configured = 0;
    int updated = 0;
};

void logConfigure(void *data)
{
    static_cast<Log *>(data)->configured++;
}

void logUpdate(void *data)
{
    static_cast<Log *>(data)->updated++;
}

// A fresh interpreter with the rimage command.
struct RimageInterp {
    Tcl_Interp *interp;
    RimageInterp() : interp(Tcl_CreateInterp()) { Rimg_Init(interp); }
    ~RimageInterp() { Tcl_DeleteInterp(interp); }
    int eval(const std::string &script)
    {
        return Tcl_Eval(interp, script.c_str());
    }
    std::string result() const { return Tcl_GetStringResult(interp); }
};

}  // namespace

TEST(rimgObj, ClientNoticesHistogramsAndHolds)
{
    RimageInterp t;
    ASSERT_EQ(t.eval("rimage open m MBSQ -rows 6 -columns 9 -nbands 3"),
              TCL_OK);
    ASSERT_EQ(t.eval("rimage open s MBSQ -rows 2 -columns 4 -nbands 1"),
              TCL_OK);
    RAMImage *m = getRAMImageByTag("m");
    RAMImage *s = getRAMImageByTag("s");
    ASSERT_TRUE(m && s);

    // A display stand-in: a client with its own owner token.
    Log log;
    int token;
    RAMImageClient client = {logConfigure, logUpdate, &token, &log, nullptr};
    ASSERT_EQ(linkRAMImageClient(&client, m), 1);
    m->links++;     // the client's link, given back by linkRAMImageClient

    ASSERT_EQ(t.eval("rimage bind -file m -obj o -bands {2:1}"), TCL_OK)
        << t.result();
    EXPECT_EQ(log.configured, 0);
    ASSERT_TRUE(ramImageHist(m, 0, 1, 1));
    ASSERT_EQ(t.eval("o + 3"), TCL_OK) << t.result();
    EXPECT_EQ(t.result(), "o");
    EXPECT_EQ(log.configured, 1);
    EXPECT_EQ(log.updated, 0);
    EXPECT_EQ(m->histograms[0].valid, 1);
    EXPECT_EQ(m->histograms[1].valid, 0);
    EXPECT_EQ(m->histograms[1].count, 0);
    EXPECT_EQ(m->histograms[2].valid, 1);

    // Operand rasters: held for the operation only, released also when
    // the operation is refused.
    int sLinks = s->links;
    ASSERT_EQ(t.eval("o = s"), TCL_OK) << t.result();
    ASSERT_EQ(t.eval("o @0:8,*,0 max s @3:0,1,0"), TCL_OK) << t.result();
    EXPECT_EQ(t.eval("o == s 1 x"), TCL_ERROR);
    EXPECT_EQ(t.eval("o bands 1:2"), TCL_OK);
    EXPECT_EQ(t.eval("o - s"), TCL_ERROR);
    EXPECT_EQ(t.result(), "In consistent operand rimage");
    EXPECT_EQ(s->links, sLinks);
    EXPECT_EQ(ramImageClientCount(s), 0);
    EXPECT_EQ(log.configured, 3);

    // configure reaches every client; a query reaches none.
    ASSERT_EQ(t.eval("o configure -nbands 7"), TCL_OK) << t.result();
    EXPECT_EQ(log.configured, 4);
    ASSERT_EQ(t.eval("o configure -nbands"), TCL_OK);
    EXPECT_EQ(log.configured, 4);

    // Deleting the command gives the raster back.
    EXPECT_EQ(ramImageClientCount(m), 2);
    ASSERT_EQ(t.eval("rename o {}"), TCL_OK);
    EXPECT_EQ(ramImageClientCount(m), 1);
    closeRAMImage(m, &client);
    ASSERT_EQ(t.eval("rimage close m; rimage close s"), TCL_OK);
    EXPECT_EQ(getRAMImageByTag("m"), nullptr);
    EXPECT_EQ(getRAMImageByTag("s"), nullptr);
}

TEST(rimgObj, DeletingTheInterpreterReleasesTheRaster)
{
    RAMImage *m;
    {
        RimageInterp t;
        ASSERT_EQ(t.eval("rimage open m2 MBSQ -rows 2 -columns 3"), TCL_OK);
        ASSERT_EQ(t.eval("rimage bind -file m2 -obj p"), TCL_OK);
        m = getRAMImageByTag("m2");
        ASSERT_TRUE(m);
        EXPECT_EQ(ramImageClientCount(m), 1);
        EXPECT_EQ(m->links, 0);
    }
    // The script's open remains; the object's client is gone.
    EXPECT_EQ(ramImageClientCount(m), 0);
    m->opens--;
    closeRAMImage(m, nullptr);
    EXPECT_EQ(getRAMImageByTag("m2"), nullptr);
}
