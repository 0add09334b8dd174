/*
 * gimgInspectStandIn.cpp --
 *
 *	Temporary inspection, dump and animation subcommands of gimg images,
 *	standing in until that module exists: each answers that it is not
 *	available, and stopping an animation cancels a pending step.
 *	Replaced as a whole by the inspection module.
 */
#include "gimg/gimgInspect.h"

static int notAvailable(GimgMaster *m, const char *name)
{
    Tcl_ResetResult(m->interp);
    Tcl_AppendResult(m->interp, name, ": not available in this build",
                     nullptr);
    return TCL_ERROR;
}

#define NOT_AVAILABLE(proc, name)                                          \
    int proc(GimgMaster *m, int, const char **)                            \
    {                                                                      \
        return notAvailable(m, name);                                      \
    }

NOT_AVAILABLE(gimgCopyimg, "copy")
NOT_AVAILABLE(gimgCopysub, "crop")
NOT_AVAILABLE(gimgCapturePixmap, "capture")
NOT_AVAILABLE(gimgDump, "dump")
NOT_AVAILABLE(gimgGraph, "graph")
NOT_AVAILABLE(gimgPrintHist, "hist")
NOT_AVAILABLE(gimgSeekVolume, "seek")
NOT_AVAILABLE(gimgSetPixel, "setPixel")
NOT_AVAILABLE(gimgPrintSection, "section")
NOT_AVAILABLE(gimgPrintPixel, "pixel")
NOT_AVAILABLE(gimgPrintProfile, "profile")
NOT_AVAILABLE(gimgResident, "resident")
NOT_AVAILABLE(gimgAnimate, "animate")

/* lineh and linev, stats std mean min max share a procedure. */
int gimgPrintLine(GimgMaster *m, int, const char **argv)
{
    return notAvailable(m, argv[1][4] == 'v' ? "linev" : "lineh");
}

int gimgStats(GimgMaster *m, int, const char **argv)
{
    const char *w = argv[1];
    const char *name = w[0] == 'm' ? w : w[1] == 't' && w[2] == 'd' ? "std"
                                                                    : "stats";
    return notAvailable(m, name);
}

static void animationStep(ClientData)
{
}

void gimgRemoveFromAnimationQueue(GimgMaster *m)
{
    m->animDelay = -1;
    if (m->animTimer)
        Tcl_DeleteTimerHandler(m->animTimer);
    m->animTimer = nullptr;
    if (m->animIdle)
        Tcl_CancelIdleCall(animationStep, m);
    m->animIdle = 0;
}
