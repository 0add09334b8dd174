/*
 * imgFuzz.cpp --
 *
 *	libFuzzer target of the image probes and readers.  The package is
 *	started once in a Tcl interpreter without Tk (as in tclsh, without
 *	the application scripts); each input is written to a scratch file
 *	and handed to exerciseImageFile, which reads whatever the store
 *	accepts.  The package's printed diagnostics are formatted and
 *	dropped; no line cache beyond 1 GiB is tried.
 */
#undef USE_TCL_STUBS
#undef USE_TK_STUBS
#include <tcl.h>
#undef Tcl_InitStubs

#include <fcntl.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "core/ramimg.h"
#include "core/stdstream.h"
#include "core/velk.h"
#include "fuzz/exercise.h"

extern "C" const char *Tcl_InitStubs(Tcl_Interp *, const char *, int);

static std::string scratchDir, inputPath;

static void dropOutput(int, const char *, int)
{
}

static void removeScratch(void)
{
    unlink(inputPath.c_str());
    rmdir(scratchDir.c_str());
}

extern "C" int LLVMFuzzerInitialize(int *, char ***argv)
{
    Tcl_FindExecutable((*argv)[0]);
    Tcl_Interp *interp = Tcl_CreateInterp();
    if (!Tcl_InitStubs(interp, "8.6", 0))
        std::abort();
    /* No script libraries: the readers need none. */
    Tcl_SetVar(interp, "velkAppScripts", "", TCL_GLOBAL_ONLY);
    if (Velk_Init(interp) != TCL_OK) {
        std::fprintf(stderr, "Velk_Init: %s\n", Tcl_GetStringResult(interp));
        std::abort();
    }
    setStdStreamSink(dropOutput);
    /* Half the fuzzer's memory limit: a larger claim fails cleanly as
     * out of memory (the open's checks keep claims far below it). */
    setRAMImageBufLimit((int64_t)1 << 30);

    const char *tmp = std::getenv("TMPDIR");
    std::string tmpl = std::string(tmp ? tmp : "/tmp") + "/velkfuzz.XXXXXX";
    if (!mkdtemp(&tmpl[0]))
        std::abort();
    scratchDir = tmpl;
    inputPath = scratchDir + "/input";
    std::atexit(removeScratch);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    int fd = open(inputPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (fd < 0)
        std::abort();
    for (size_t done = 0; done < size;) {
        ssize_t n = write(fd, data + done, size - done);
        if (n <= 0)
            std::abort();
        done += (size_t)n;
    }
    close(fd);
    exerciseImageFile(inputPath.c_str());
    return 0;
}
