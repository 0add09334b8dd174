// Tests of meter.cpp: the meter scripts, the pause and abort poll, and
// event pumping, against an interpreter whose meter and
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
    // The calls recorded since the last look.
    std::string calls()
    {
        std::string c = Tcl_GetVar(interp, "calls", TCL_GLOBAL_ONLY);
        Tcl_SetVar(interp, "calls", "", TCL_GLOBAL_ONLY);
        return c;
    }
};

}  // namespace

TEST(meterSet, ScriptsAndStepZero)
{
    MeterInterp m;
    EXPECT_EQ(meterInc(), 0.05f);
    EXPECT_EQ(meterSet("Work", 0.25), TCL_OK);
    EXPECT_EQ(meterSet(nullptr, 1.0), TCL_OK);
    EXPECT_EQ(m.calls(), "{set .status.info.meter 0.250000 {Work }} "
                         "{set .status.info.meter 1.000000 { }}");
    EXPECT_FLOAT_EQ(meterPct, 1.0f);

    // Step 0 disables the meter: nothing is evaluated, 0 returned; so
    // does the absence of a stdio interpreter.
    Tcl_Eval(m.interp, "proc meter.set args {error broken}");
    for (bool stdio : {true, false}) {
        meter = stdio ? 0.0f : 0.05f;
        setStdIO(stdio ? m.interp : nullptr);
        EXPECT_EQ(meterReset(), 0);
        EXPECT_EQ(meterSet("Work", 0.5), 0);
    }
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
    for (auto [in, out] : {std::pair<double, float>{2.0, 0.5f}, {0.5, 0.5f},
                           {-1.0, 0.0f}, {0.1, 0.1f}})
        EXPECT_EQ(clampMeterStep(in), out) << in;
    for (auto [in, out] : {std::pair<int, int>{7, 3}, {4, 3}, {3, 3}, {-2, 0},
                           {2, 2}})
        EXPECT_EQ(clampVelkStatus(in), out) << in;
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
