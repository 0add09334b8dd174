// Tests of velkInit.cpp: start-up failure paths, the stdio interpreter
// across several interpreters, the exit handler, globals, the panic text
// and file name translation.  Each test starts the package in fresh
// interpreters and undoes the process-wide state afterwards.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "core/meter.h"
#include "core/ramimg.h"
#include "core/velk.h"
#include "core/velkDisplay.h"
#include "tests/support/testSupport.h"

namespace {

// Undoes what Velk_Init leaves in the process: exit handler, stdio
// interpreter, panic procedure.
struct PackageReset {
    ~PackageReset()
    {
        if (velkInitialised()) {
            Tcl_DeleteExitHandler(velkExitProc, nullptr);
            velkExitProc(nullptr);
        }
        setStdIO(nullptr);
        Tcl_SetPanicProc(nullptr);
    }
};

struct Interp {
    Tcl_Interp *interp = Tcl_CreateInterp();
    ~Interp()
    {
        if (interp)
            Tcl_DeleteInterp(interp);
    }
    std::string eval(const char *script)
    {
        Tcl_Eval(interp, script);
        return Tcl_GetStringResult(interp);
    }
    std::string var(const char *name)
    {
        const char *v = Tcl_GetVar(interp, name, TCL_GLOBAL_ONLY);
        return v ? v : "<unset>";
    }
};

// An interpreter whose `puts` records what the package writes through it.
void recordPuts(Interp &in)
{
    in.eval("set ::printed {}; proc puts args {lappend ::printed $args}");
}

}  // namespace

TEST(Velk_Init, MissingScriptLibraryFailsTheLoad)
{
    PackageReset reset;
    ScratchDir scratch;
    Interp sentinel, in;
    Tcl_SetVar(in.interp, "gimgHome", scratch.dir().c_str(), TCL_GLOBAL_ONLY);
    Tcl_SetVar(in.interp, "velkAppScripts", "nosuch.lib", TCL_GLOBAL_ONLY);
    recordPuts(in);
    setStdIO(sentinel.interp);
    ASSERT_FALSE(velkInitialised());

    EXPECT_EQ(Velk_Init(in.interp), TCL_ERROR);
    EXPECT_EQ(std::string(Tcl_GetStringResult(in.interp)), "Error in open.\n");
    EXPECT_NE(in.var("errorInfo").find("calc decompload"), std::string::npos);
    // The report went through the loading interpreter while it loaded.
    EXPECT_EQ(in.var("printed"),
              "{-nonewline stderr {deCompLoad: No such file or directory\n}}");
    // Commands stay, the stdio interpreter is restored, and no exit
    // handler was registered.
    EXPECT_NE(Tcl_FindCommand(in.interp, "calc", nullptr, 0), nullptr);
    EXPECT_EQ(tclInterp, sentinel.interp);
    EXPECT_FALSE(velkInitialised());
    EXPECT_EQ(in.eval("package present Velk"), "3.4");

    // A failing module initialiser: no command can be created in an
    // interpreter that is being deleted.
    Interp dying;
    Tcl_Preserve(dying.interp);
    Tcl_DeleteInterp(dying.interp);
    EXPECT_NE(initVelkModules(dying.interp), 0);
    EXPECT_NE(Velk_Init(dying.interp), TCL_OK);
    EXPECT_EQ(tclInterp, sentinel.interp);
    EXPECT_FALSE(velkInitialised());
    Tcl_Release(dying.interp);
    dying.interp = nullptr;
}

TEST(Velk_Init, StdioFollowsLoadsAndSurvivesDeletion)
{
    PackageReset reset;
    Interp first;
    auto *second = new Interp;
    for (Interp *in : {&first, second})
        Tcl_SetVar(in->interp, "velkAppScripts", "", TCL_GLOBAL_ONLY);

    ASSERT_EQ(Velk_Init(first.interp), TCL_OK);
    EXPECT_TRUE(velkInitialised());
    EXPECT_EQ(tclInterp, first.interp);
    // Without Tk nothing of the display is recorded.
    EXPECT_EQ(disp, nullptr);
    EXPECT_EQ(depth, 0);
    EXPECT_EQ(rgb24, 0);

    ASSERT_EQ(Velk_Init(second->interp), TCL_OK);
    EXPECT_EQ(tclInterp, second->interp);
    EXPECT_NE(Tcl_FindCommand(second->interp, "calc", nullptr, 0), nullptr);
    EXPECT_EQ(second->eval("package present Velk"), "3.4");

    // Deleting the stdio interpreter hands stdio back to the first, and
    // the package's output reaches it.
    delete second;
    EXPECT_EQ(tclInterp, first.interp);
    recordPuts(first);
    first.eval("calc decompload /nonexistent/x.lib");
    EXPECT_EQ(first.var("printed"),
              "{-nonewline stderr {deCompLoad: No such file or directory\n}}");
}

// Two loads register one exit handler: with that one removed, finalising
// Tcl leaves the package initialised; with it, finalising clears the flag
// and the stdio interpreter.  Run in child processes.
TEST(velkExitProc, RegisteredOnceAndClearsTheState)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    auto loadAndFinalise = [](int loads, bool removeHandler) {
        for (int i = 0; i < loads; i++) {
            Tcl_Interp *in = Tcl_CreateInterp();
            Tcl_SetVar(in, "velkAppScripts", "", TCL_GLOBAL_ONLY);
            if (Velk_Init(in) != TCL_OK)
                std::_Exit(3);
        }
        if (removeHandler)
            Tcl_DeleteExitHandler(velkExitProc, nullptr);
        Tcl_Finalize();
        bool ok = removeHandler ? velkInitialised()
                                : !velkInitialised() && tclInterp == nullptr;
        std::_Exit(ok ? 0 : 1);
    };
    EXPECT_EXIT(loadAndFinalise(2, true), testing::ExitedWithCode(0), "");
    EXPECT_EXIT(loadAndFinalise(1, false), testing::ExitedWithCode(0), "");
}

TEST(copyVelkGlobal, DefaultsAndCopies)
{
    Interp src, dst;
    Tcl_SetVar(src.interp, "gimgHome", "/opt/velk", TCL_GLOBAL_ONLY);
    copyVelkGlobal(src.interp, dst.interp);
    EXPECT_EQ(dst.var("gimgHome"), "/opt/velk");
    EXPECT_EQ(dst.var("velkAppScripts"), "program.lib");
    EXPECT_EQ(dst.var("velkConScripts"), "program.lib contk.lib");
    // The source keeps its own globals unset.
    EXPECT_EQ(src.var("velkAppScripts"), "<unset>");

    Tcl_SetVar(src.interp, "velkAppScripts", "a.lib b.lib", TCL_GLOBAL_ONLY);
    Tcl_SetVar(src.interp, "velkConScripts", "", TCL_GLOBAL_ONLY);
    copyVelkGlobal(src.interp, dst.interp);
    EXPECT_EQ(dst.var("velkAppScripts"), "a.lib b.lib");
    EXPECT_EQ(dst.var("velkConScripts"), "");
}

TEST(userPanic, TextOnStandardErrorOfTheStdioInterpreter)
{
    Interp in;
    recordPuts(in);
    setStdIO(in.interp);
    userPanic("bad value %d in %s", 7, "band");
    EXPECT_EQ(in.var("printed"),
              "{-nonewline stderr {panic:bad value 7 in band\n}}");

    // A message longer than the 4104-byte buffer is cut, newline kept.
    in.eval("set ::printed {}");
    std::string big(5000, 'x');
    userPanic("%s", big.c_str());
    std::string text = in.eval("lindex $::printed 0 2");
    EXPECT_EQ(text.size(), 4103u);
    EXPECT_EQ(text.compare(0, 7, "panic:x"), 0);
    EXPECT_EQ(text.back(), '\n');
    setStdIO(nullptr);

    // Without a stdio interpreter the text goes nowhere, and userPanic
    // returns.
    userPanic("nobody listens");
}

TEST(translateFileName, TildeAndFailure)
{
    Interp in;
    Tcl_DString buf;
    Tcl_DStringInit(&buf);
    const char *home = std::getenv("HOME");
    ASSERT_NE(home, nullptr);
    char *s = translateFileName(in.interp, &buf, "~/scene.lan");
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(std::string(s), std::string(home) + "/scene.lan");
    Tcl_DStringFree(&buf);

    EXPECT_EQ(translateFileName(in.interp, &buf, "~noSuchUserHere/x"),
              nullptr);
    EXPECT_NE(in.var("errorInfo").find("Fail to translate file name."),
              std::string::npos);
    Tcl_DStringFree(&buf);
}
