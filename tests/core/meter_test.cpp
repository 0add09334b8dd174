// Tests of meter.cpp: the meter scripts a long loop causes, the pause and
// abort poll, and event pumping, against an interpreter whose meter and
// status procedures record their calls.
#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <string>

#include "core/meter.h"
#include "core/velk.h"

namespace {

// A stdio interpreter with recording meter.reset, meter.set, velkPause
// and velkAbort procedures; restores the package state when done.
struct MeterInterp {
    Tcl_Interp *interp = Tcl_CreateInterp();
    Tcl_Interp *previous;
    MeterInterp()
    {
        Tcl_Eval(interp,
                 "set calls {}\n"
                 "proc meter.reset {w} {lappend ::calls [list reset $w]}\n"
                 "proc meter.set {w f l} {lappend ::calls [list set $w $f $l]}\n"
                 "proc velkPause {} {lappend ::calls pause}\n"
                 "proc velkAbort {} {lappend ::calls abort}\n");
        previous = setStdIO(interp);
    }
    ~MeterInterp()
    {
        setStdIO(previous);
        meter = 0.05f;
        velkStatus = 0;
        Tcl_DeleteInterp(interp);
    }
    std::string calls()
    {
        return Tcl_GetVar(interp, "calls", TCL_GLOBAL_ONLY);
    }
    void clear()
    {
        Tcl_SetVar(interp, "calls", "", TCL_GLOBAL_ONLY);
    }
};

// The loop convention of the analysis modules over n units of work.
void meterLoop(int n)
{
    float t = 0.0f;
    for (int i = 0; i < n; i++) {
        double done = (double)(i + 1) / n;
        if (done >= t) {
            meterSet("Work", t);
            t += meterInc();
        }
    }
    meterSet("Work", 1.0);
}

}  // namespace

TEST(meterSet, TwentyLineLoopAndStepZero)
{
    MeterInterp m;
    meterLoop(20);
    std::string want;
    for (int k = 0; k < 20; k++) {
        char f[16];
        std::snprintf(f, sizeof f, "%.6f", k * 0.05);
        want += std::string(k ? " " : "") + "{set .status.info.meter " + f + " {Work }}";
    }
    want += " {set .status.info.meter 1.000000 {Work }}";
    EXPECT_EQ(m.calls(), want);
    EXPECT_FLOAT_EQ(meterPct, 1.0f);

    // Step 0 disables the meter: nothing is evaluated, 0 returned.
    m.clear();
    meter = 0.0f;
    EXPECT_EQ(meterReset(), 0);
    EXPECT_EQ(meterSet("Work", 0.5), 0);
    EXPECT_EQ(m.calls(), "");

    // So does the absence of a stdio interpreter.
    meter = 0.05f;
    setStdIO(nullptr);
    EXPECT_EQ(meterReset(), 0);
    EXPECT_EQ(meterSet("Work", 0.5), 0);
    setStdIO(m.interp);
    EXPECT_EQ(m.calls(), "");
}

TEST(meterReset, ClearsErrnoAndKeepsTheResult)
{
    MeterInterp m;
    Tcl_SetResult(m.interp, (char *)"busy", TCL_STATIC);
    meterPct = 0.7f;
    Tcl_SetErrno(EIO);
    EXPECT_EQ(meterReset(), TCL_OK);
    EXPECT_EQ(Tcl_GetErrno(), 0);
    EXPECT_EQ(meterPct, 0.0f);
    EXPECT_EQ(m.calls(), "{reset .status.info.meter}");
    // The command running in the interpreter keeps its result.
    EXPECT_STREQ(Tcl_GetStringResult(m.interp), "busy");

    // A failing meter script's code is returned, and nothing else.
    Tcl_Eval(m.interp, "proc meter.set args {error broken}");
    Tcl_SetResult(m.interp, (char *)"busy", TCL_STATIC);
    EXPECT_EQ(meterSet("x", 0.25), TCL_ERROR);
    EXPECT_FLOAT_EQ(meterPct, 0.25f);
    EXPECT_STREQ(Tcl_GetStringResult(m.interp), "busy");
}

TEST(meterStep, ClampsOfTheSettings)
{
    EXPECT_EQ(clampMeterStep(2.0), 0.5f);
    EXPECT_EQ(clampMeterStep(-1.0), 0.0f);
    EXPECT_EQ(clampMeterStep(0.1), 0.1f);
    EXPECT_EQ(clampVelkStatus(7), 3);
    EXPECT_EQ(clampVelkStatus(4), 3);
    EXPECT_EQ(clampVelkStatus(-2), 0);
    EXPECT_EQ(clampVelkStatus(2), 2);
}

static void requestAbort(ClientData)
{
    velkStatus = 3;
}

TEST(checkRimageStatus, PumpsEventsThenPausesOrAborts)
{
    MeterInterp m;
    // Idle: nothing is run, not even pending events.
    int ran = 0;
    Tcl_DoWhenIdle([](ClientData p) { ++*static_cast<int *>(p); }, &ran);
    EXPECT_EQ(checkRimageStatus(), 0);
    EXPECT_EQ(ran, 0);

    // Running: pending events run, no script.
    velkStatus = 1;
    EXPECT_EQ(checkRimageStatus(), 1);
    EXPECT_EQ(ran, 1);
    EXPECT_EQ(m.calls(), "");

    velkStatus = 2;
    EXPECT_EQ(checkRimageStatus(), 2);
    EXPECT_EQ(m.calls(), "pause");

    // An interface callback run by the poll asks for the abort.
    m.clear();
    velkStatus = 1;
    Tcl_DoWhenIdle(requestAbort, nullptr);
    EXPECT_EQ(checkRimageStatus(), 3);
    EXPECT_EQ(m.calls(), "abort");

    // Without a stdio interpreter the poll reports 0.
    setStdIO(nullptr);
    EXPECT_EQ(checkRimageStatus(), 0);
    setStdIO(m.interp);
}

TEST(tclUpdating, PumpsUntilTheTimerFires)
{
    MeterInterp m;
    int ran = 0;
    auto count = [](ClientData p) { ++*static_cast<int *>(p); };
    for (int i = 0; i < 3; i++)
        Tcl_DoWhenIdle(count, &ran);
    Tcl_SetResult(m.interp, (char *)"stale", TCL_STATIC);
    tclUpdate(m.interp, TCL_ALL_EVENTS);
    EXPECT_EQ(ran, 3);
    EXPECT_STREQ(Tcl_GetStringResult(m.interp), "");

    // A timer due within the wait runs; the wait lasts at least its time.
    int early = 0;
    Tcl_CreateTimerHandler(5, setTimerFlag, &early);
    auto start = std::chrono::steady_clock::now();
    tclUpdating(nullptr, TCL_ALL_EVENTS, 30);
    auto waited = std::chrono::steady_clock::now() - start;
    EXPECT_EQ(early, 1);
    EXPECT_GE(waited, std::chrono::milliseconds(30));
}
