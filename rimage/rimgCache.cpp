/*
 * rimgCache.cpp --
 *
 *	rimage cache, hist, volume and update: the share of each record's
 *	rows held in its line cache and resizing it, recomputing histograms
 *	and listing statistics or bins, stepping through volumes, and
 *	telling a record's clients about changes.
 */
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>

#include "core/fmt.h"
#include "core/hist.h"
#include "core/lineAccess.h"
#include "core/ramimg.h"
#include "rimage/rimgInt.h"

static void appendCacheShare(std::string &out, const RAMImage *r)
{
    double share = r->info.rows > 0 ? r->cacheLines * 100.0 / r->info.rows
                                    : 0.0;
    out += fmtString("{%s %.2f} ", r->tag, share);
}

/*
 * rimgCache --
 *	rimage cache ?-imgid idList? ?-pct PCT?
 * Results:
 *	Without -pct, "{tag share} " per record (all or the listed ones).
 * Side effects:
 *	With -pct, each listed record's cache is rebuilt to that share of
 *	its rows (at least one line per band).
 */
int rimgCache(ImageInfo *, Tcl_Interp *interp, int argc, const char **argv)
{
    static const char tail[] = " [-imgid idList] [-pct PCT]";
    const char *ids = nullptr, *pctText = nullptr;
    if ((argc - 2) % 2 != 0)
        return rimgUsage(interp, argv, tail, TCL_ERROR);
    for (int i = 2; i < argc; i += 2) {
        if (std::strcmp(argv[i], "-imgid") == 0)
            ids = argv[i + 1];
        else if (std::strcmp(argv[i], "-pct") == 0)
            pctText = argv[i + 1];
        else
            return rimgUsage(interp, argv, tail, TCL_ERROR);
    }
    std::string out;
    if (!pctText && !ids) {
        for (RAMImage *r = getRAMImage(); r; r = r->next)
            appendCacheShare(out, r);
        Tcl_SetObjResult(interp, Tcl_NewStringObj(out.data(),
                                                  (int)out.size()));
        return TCL_OK;
    }
    if (!ids)
        return rimgError(interp, "image id missing!");
    double pct = 0;
    if (pctText && Tcl_GetDouble(interp, pctText, &pct) != TCL_OK)
        return TCL_ERROR;
    pct = pct < 0 ? 0 : pct > 100 ? 100 : pct;
    int count;
    const char **names;
    if (Tcl_SplitList(interp, ids, &count, &names) != TCL_OK)
        return TCL_ERROR;
    int rc = TCL_OK;
    for (int i = 0; i < count && rc == TCL_OK; i++) {
        RAMImage *r = rimgFind(names[i]);
        if (!r) {
            rc = rimgNameError(interp, "Fail to find rimage: ", names[i]);
        } else if (!pctText) {
            appendCacheShare(out, r);
        } else {
            int lines = (int)std::floor(r->info.rows * pct / 100.0);
            if (lines < 1)
                lines = 1;
            if (!setRAMImageBuf(r, lines))
                rc = rimgNameError(interp, "Fail to set ramimg buffer: ",
                                   names[i]);
        }
    }
    Tcl_Free(reinterpret_cast<char *>(names));
    if (rc == TCL_OK)
        Tcl_SetObjResult(interp, Tcl_NewStringObj(out.data(),
                                                  (int)out.size()));
    return rc;
}

/* "{n0  n1 n2 ...} " per band: the bins of images of at most 8 bits. */
static void listBins(std::string &out, const RAMImage *r, const Hist *h)
{
    char buf[32];
    for (int b = 0; b < r->info.nbands; b++) {
        if (h[b].nbins < 1 || !h[b].bins)
            continue;
        std::snprintf(buf, sizeof buf, "{%d ", h[b].bins[0]);
        out += buf;
        for (int k = 1; k < h[b].nbins; k++) {
            std::snprintf(buf, sizeof buf, " %d", h[b].bins[k]);
            out += buf;
        }
        out += "} ";
    }
}

/* One "std mean min max" element per band, or per palette component. */
static void listStats(Tcl_Interp *interp, RAMImage *r)
{
    int n = r->info.nindices > 0 ? 3 : r->info.nbands;
    for (int b = 0; b < n; b++) {
        double std = 0, mean = 0, min = 0, max = 0;
        ramImageStats(r, b, &std, &mean, &min, &max);
        /* Whole numbers, however large: a no-data value of -3.4e38 alone
         * takes 45 characters. */
        Tcl_AppendElement(interp, fmtString("%.4f %.4f %.4f %.4f", std, mean,
                                            min, max).c_str());
    }
}

/*
 * rimgHist --
 *	rimage hist -imgid ID ?-dx DX? ?-dy DY? ?-u UPDATE? ?-list stats|hist?
 * Results:
 *	Empty, or the statistics or bins asked for by -list; the usage text
 *	(TCL_OK) without an image.
 * Side effects:
 *	The record's histograms are recomputed; with UPDATE non-zero its
 *	clients are told to reconfigure.
 */
int rimgHist(ImageInfo *, Tcl_Interp *interp, int argc, const char **argv)
{
    static const char tail[] =
        " -imgid imgid [-dx DX] [-dy DY] [-u UPDATE] [-list stats|hist]";
    const char *id = nullptr, *list = nullptr;
    int dx = 1, dy = 1, update = 0;
    if (argc < 4 || (argc - 2) % 2 != 0)
        return rimgUsage(interp, argv, tail, TCL_OK);
    for (int i = 2; i < argc; i += 2) {
        const char *opt = argv[i], *value = argv[i + 1];
        int *target = nullptr;
        if (std::strcmp(opt, "-imgid") == 0)
            id = value;
        else if (std::strcmp(opt, "-list") == 0)
            list = value;
        else if (std::strcmp(opt, "-dx") == 0)
            target = &dx;
        else if (std::strcmp(opt, "-dy") == 0)
            target = &dy;
        else if (std::strcmp(opt, "-u") == 0)
            target = &update;
        else
            return rimgError(interp, "syntax error");
        if (target && Tcl_GetInt(interp, value, target) != TCL_OK)
            return TCL_ERROR;
    }
    if (!id)
        return rimgUsage(interp, argv, tail, TCL_OK);
    int listStatsMode = list && strcasecmp(list, "stats") == 0;
    int listBinsMode = list && strcasecmp(list, "hist") == 0;
    if (list && !listStatsMode && !listBinsMode)
        return rimgError(interp, "syntax error");
    RAMImage *r = rimgFind(id);
    if (!r)
        return rimgNameError(interp, "Fail to find RAMIMG: ", id);
    Hist *h = ramImageHist(r, 2, dx < 1 ? 1 : dx, dy < 1 ? 1 : dy);
    if (!h)
        return rimgError(interp, "Fail to compute the histograms.");
    if (update)
        updateClient(r, nullptr, 1);
    Tcl_ResetResult(interp);
    if (listStatsMode) {
        listStats(interp, r);
    } else if (listBinsMode && r->info.bits <= 8) {
        std::string out;
        listBins(out, r, h);
        Tcl_SetObjResult(interp, Tcl_NewStringObj(out.data(),
                                                  (int)out.size()));
    }
    return TCL_OK;
}

/*
 * rimgVolume --
 *	rimage volume TAG|FILE ?n?: selects volume n (0 the next one,
 *	wrapping to 1 after the last).
 * Results:
 *	The current volume.
 */
int rimgVolume(ImageInfo *, Tcl_Interp *interp, int argc, const char **argv)
{
    if (argc < 3 || argc > 4)
        return rimgUsage(interp, argv, " imgID [vID]", TCL_OK);
    RAMImage *r = rimgFind(argv[2]);
    if (!r)
        return rimgNameError(interp, "Can't found RAMIMG: ", argv[2]);
    if (argc == 4) {
        int n;
        if (Tcl_GetInt(interp, argv[3], &n) != TCL_OK)
            return TCL_ERROR;
        /* -2: no next volume (or a single one); 0 and -1: seek failed. */
        int v = getRAMImageVolume(r, n);
        if (v == -2 && n == 0)
            v = getRAMImageVolume(r, 1);
        if (v == -2 && r->volume > 0)
            v = r->volume;
        if (v <= 0)
            return rimgError(interp, "Error in seek");
        updateClient(r, nullptr, 1);
    }
    Tcl_SetObjResult(interp, Tcl_NewIntObj(r->volume));
    return TCL_OK;
}

/*
 * rimgUpdate --
 *	rimage update TAG|FILE ?DISPLAY|CONFIG|ALL|DATA?: notifies the
 *	record's clients; DATA first empties its cache.
 */
int rimgUpdate(ImageInfo *, Tcl_Interp *interp, int argc, const char **argv)
{
    if (argc < 3 || argc > 4)
        return rimgUsage(interp, argv,
                         " imgID [DISPLAY|CONFIG|ALL|DATA] (def: DISPLAY)",
                         TCL_OK);
    RAMImage *r = rimgFind(argv[2]);
    if (!r)
        return rimgNameError(interp, "Can't found RAMIMG: ", argv[2]);
    const char *what = argc == 4 ? argv[3] : "DISPLAY";
    int flags;
    if (std::strcmp(what, "DISPLAY") == 0) {
        flags = 2;
    } else if (std::strcmp(what, "CONFIG") == 0) {
        flags = 1;
    } else if (std::strcmp(what, "ALL") == 0) {
        flags = 3;
    } else if (std::strcmp(what, "DATA") == 0) {
        flushRAMImage(r);
        if (r->fd != -1)
            inValidateRAMImage(r);
        flags = 2;
    } else {
        return rimgNameError(interp, "Invalid option: ", what);
    }
    updateClient(r, nullptr, flags);
    Tcl_ResetResult(interp);
    return TCL_OK;
}
