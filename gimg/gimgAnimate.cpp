/*
 * gimgAnimate.cpp --
 *
 *	Frames of multi-frame images in gimg images: `seek` shows another
 *	frame (volume) of the record, `animate` steps through the frames on
 *	Tcl timers (or idle calls) with a fixed delay or the record's own
 *	frame delays (those of a GIF file), repeating a given number of
 *	times; deleting the image stops the animation.  Relies on the
 *	store's volume selection and the GIF reader's frame delay.
 *
 *	A step shows the current frame, waits the frame's delay and moves
 *	on, so each frame stays up for its own delay.  The master is
 *	preserved while a step processes events, which may delete it.
 */
#include <cstdio>
#include <cstring>

#include "core/imgtype.h"
#include "core/lineAccess.h"
#include "core/stdstream.h"
#include "formats/gif.h"
#include "gimg/gimgQuery.h"
#include "gimg/gimgLookup.h"
#include "gimg/gimgMask.h"

static void gimgNextImage(ClientData clientData);

static int failWith(GimgMaster *m, const char *message)
{
    Tcl_ResetResult(m->interp);
    Tcl_AppendResult(m->interp, message, nullptr);
    return TCL_ERROR;
}

/* The image still exists (events may have deleted it). */
static int alive(const GimgMaster *m)
{
    return m->tkMaster && m->imageCmd && m->rimg;
}

/* The frame number shown: the record's volume, 1 when it has none. */
static int currentFrame(const RAMImage *r)
{
    return r->volume > 0 ? r->volume : 1;
}

/* The delay the record asks for its current frame, in ms (0: none). */
static int frameDelay(const RAMImage *r)
{
    return r->info.imgid == IMG_GIF89A ? gifFrameDelay(r) : 0;
}

/* Lets Tk draw what changed: the window events, then the idle calls
 * pending now, once.  Looping over idle calls would never end while
 * another image steps on idle calls (each step schedules the next). */
static void processEvents(void)
{
    while (Tcl_DoOneEvent(TCL_DONT_WAIT | TCL_WINDOW_EVENTS))
        ;
    Tcl_DoOneEvent(TCL_DONT_WAIT | TCL_IDLE_EVENTS);
    while (Tcl_DoOneEvent(TCL_DONT_WAIT | TCL_WINDOW_EVENTS))
        ;
}

/*
 * showFrame --
 *	Shows the record's current frame: the display is updated when the
 *	colour table stayed the same, else the frame's colour table and
 *	transparent index are taken and re-applied.
 */
static void showFrame(GimgMaster *m)
{
    RAMImage *r = m->rimg;
    ImageInfo *b = &m->block;
    int t = r->info.transparent;
    int same = r->info.nindices == b->nindices && t == b->transparent;
    for (int i = 0; same && i < r->info.nindices && i < 256; i++)
        same = i == t || std::memcmp(r->info.palette[i], b->palette[i], 3) == 0;
    if (same) {
        gimgUpdateDisplay(m);
        return;
    }
    b->transparent = t;
    b->nindices = r->info.nindices;
    std::memcpy(b->palette, r->info.palette, sizeof b->palette);
    if (t != m->transparentInForce) {
        if (m->transparentInForce >= 0 && m->transparentInForce < 256)
            m->classVisible[m->transparentInForce] = 1;
        m->transparentInForce = t;
    }
    gimgTransparentColour(m);
    if (t >= 0) {
        makeDataMask(m, m->classVisible);
        makeMaskBitmap(m);
    }
    gimgSetIndicesConfig(m);
}

/*
 * gimgSeekVolume --
 *	seek ?volumeID?: the current frame number, or shows frame volumeID
 *	(0 the next one, wrapping to 1 at the end).
 */
int gimgSeekVolume(GimgMaster *m, int argc, const char **argv)
{
    Tcl_Interp *interp = m->interp;
    char buf[GIMG_NAME_SIZE + 64];
    if (argc > 3) {
        std::snprintf(buf, sizeof buf, "Usage: %s seek volumeID\n", argv[0]);
        return failWith(m, buf);
    }
    if (!m->rimg)
        return failWith(m, "Image has not been defined.\n");
    RAMImage *r = m->rimg;
    if (argc == 3) {
        int v;
        if (Tcl_GetInt(interp, argv[2], &v) != TCL_OK)
            return TCL_ERROR;
        int before = currentFrame(r);
        if (!(v == before && r->info.volumes < 2 && !r->seek)) {
            int rc = getRAMImageVolume(r, v);
            if (rc == -2 && v == 0)
                rc = getRAMImageVolume(r, 1);
            if (rc == 0 || rc == -1)
                return failWith(m, "Error in seek image\n");
        }
        if (currentFrame(r) != before) {
            showFrame(m);
            processEvents();
            if (!alive(m))
                return TCL_OK;
        }
    }
    std::snprintf(buf, sizeof buf, "%d", currentFrame(m->rimg));
    Tcl_ResetResult(interp);
    Tcl_AppendResult(interp, buf, nullptr);
    return TCL_OK;
}

/* Schedules the next step after delay ms (an idle call below 1). */
static void schedule(GimgMaster *m, int delay)
{
    if (delay < 1) {
        Tcl_DoWhenIdle(gimgNextImage, m);
        m->animIdle = 1;
        return;
    }
    m->animTimer = Tcl_CreateTimerHandler(delay, gimgNextImage, m);
    if (!m->animTimer)
        stderrPrintf("Error in creating gimg animation timer handler.\n");
}

void gimgRemoveFromAnimationQueue(GimgMaster *m)
{
    m->animDelay = -1;
    if (m->animTimer)
        Tcl_DeleteTimerHandler(m->animTimer);
    m->animTimer = nullptr;
    if (m->animIdle)
        Tcl_CancelIdleCall(gimgNextImage, m);
    m->animIdle = 0;
}

/*
 * gimgNextImage --
 *	One animation step: shows the current frame, moves to the next one
 *	(at the end: counts a repeat and starts over from frame 1, or stops)
 *	and schedules the next step after the frame's delay.
 */
static void gimgNextImage(ClientData clientData)
{
    GimgMaster *m = static_cast<GimgMaster *>(clientData);
    m->animTimer = nullptr;
    m->animIdle = 0;
    if (!alive(m) || m->animDelay == -1)
        return;
    Tcl_Preserve(m);
    showFrame(m);
    processEvents();
    if (!alive(m) || m->animDelay == -1 || m->animTimer || m->animIdle) {
        Tcl_Release(m);
        return;
    }
    RAMImage *r = m->rimg;
    int delay = m->animDelay >= 1 ? m->animDelay : frameDelay(r);
    int rc = getRAMImageVolume(r, 0);
    if (rc == -2) {
        if (m->animRepeat > 0)
            m->animRepeat--;
        if (currentFrame(r) == 1 || m->animRepeat == 0) {
            m->animDelay = -1;
            Tcl_Release(m);
            return;
        }
        rc = getRAMImageVolume(r, 1);
    }
    if (rc == 0 || rc == -1) {
        stderrPrintf("Error in getRAMImageVolume\n");
        m->animDelay = -1;
    } else {
        schedule(m, delay);
    }
    Tcl_Release(m);
}

/*
 * gimgAnimate --
 *	animate ?milliSeconds|default? ?repeat?: sets the delay (default:
 *	the record's own; negative: stop) and the repeat count (negative:
 *	no end) and starts a stopped animation.
 */
int gimgAnimate(GimgMaster *m, int argc, const char **argv)
{
    Tcl_Interp *interp = m->interp;
    if (argc > 4) {
        char buf[GIMG_NAME_SIZE + 64];
        std::snprintf(buf, sizeof buf,
                      "Usage: %s animate [milliSeconds|default] [repeat]\n",
                      argv[0]);
        return failWith(m, buf);
    }
    if (!m->rimg)
        return failWith(m, "Image has not been defined.\n");
    int delay = -2, repeat = 0;
    int haveRepeat = argc > 3;
    if (argc > 2 && std::strcmp(argv[2], "default") != 0
            && Tcl_GetInt(interp, argv[2], &delay) != TCL_OK)
        return TCL_ERROR;
    if (haveRepeat && Tcl_GetInt(interp, argv[3], &repeat) != TCL_OK)
        return TCL_ERROR;
    RAMImage *r = m->rimg;
    if (m->animRepeat == 0 && r->volumeCount >= 1
            && r->volume >= r->volumeCount)
        getRAMImageVolume(r, 1);
    if (haveRepeat)
        m->animRepeat = repeat;
    else if (m->animRepeat == 0)
        m->animRepeat = 1;
    Tcl_ResetResult(interp);
    if (argc > 2 && delay < 0 && std::strcmp(argv[2], "default") != 0) {
        gimgRemoveFromAnimationQueue(m);
        return TCL_OK;
    }
    m->animDelay = delay;
    if (!m->animTimer && !m->animIdle)
        schedule(m, 0);
    return TCL_OK;
}
