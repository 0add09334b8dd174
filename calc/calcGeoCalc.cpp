/*
 * calcGeoCalc.cpp --
 *
 *	`calc geocalc`: fits a GCP polynomial to points given as a Tcl list
 *	and returns residuals, coefficients and RMS; without arguments it
 *	runs the interactive "CML> " dialogue.  The arithmetic is the GCP
 *	store's (modules/geoCalc.h); options follow the module option table
 *	(modules/moduleFrame.h).
 */
#include "calc/calcGeoCalc.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "core/fmt.h"
#include "core/stdstream.h"
#include "modules/geoCalc.h"
#include "modules/geoCalcDialog.h"
#include "modules/moduleFrame.h"

static void geoCalcUsage(void)
{
    stdoutPrintf("Usage: geocalc -order ORDER -data DATA -file FILE\n");
    stdoutPrintf("  -order ORDER  polynomial order, 0 (bilinear) to %d "
                 "[1]\n", GEO_MAX_ORDER);
    stdoutPrintf("  -data DATA    list of GCPs {selected id x1 y1 x2 y2}\n");
    stdoutPrintf("  -file FILE    rectification parameter file to write\n");
}

static int geoCalcError(Tcl_Interp *interp, const std::string &message)
{
    Tcl_SetObjResult(interp, Tcl_NewStringObj(message.c_str(), -1));
    return TCL_ERROR;
}

/* The result text: residuals, x2 and y2 coefficients, RMS values. */
static std::string geoCalcResult(const GeoCalcStore *store)
{
    std::string out = "{";
    for (size_t i = 0; i < store->recs.size(); i++) {
        const GeoCalcRec &r = store->recs[i];
        /* A residual of a wild fit runs to hundreds of digits in %f. */
        out += fmtString("%s{%d %.3f %.3f}", i ? " " : "", r.id, r.dx, r.dy);
    }
    out += "}";
    double c[GEO_MAX_TERMS];
    for (int pass = 0; pass < 3; pass++) {
        int n = pass == 0 ? geoCalcGetX(store, c)
              : pass == 1 ? geoCalcGetY(store, c) : geoCalcGetMSR(store, c);
        out += " {";
        for (int k = 0; k < n; k++) {
            out += fmtString("%s%15.7E", k ? " " : "", c[k]);
        }
        out += "}";
    }
    return out;
}

/*
 * tclGeoCalc --
 *	calc geocalc ?-order ORDER? -data DATA ?-file FILE?
 * Results:
 *	The fit's list, or an error: usage, an invalid record or order, too
 *	few selected points, singular equations, a file that could not be
 *	written.
 */
int tclGeoCalc(Tcl_Interp *interp, int argc, const char **argv)
{
    if (argc == 2) {
        geoCalc();
        Tcl_ResetResult(interp);
        return TCL_OK;
    }
    for (int i = 2; i < argc; i++)
        if (std::strcmp(argv[i], "-help") == 0) {
            geoCalcUsage();
            Tcl_ResetResult(interp);
            return TCL_OK;
        }
    ModuleParam table[] = {
        {"-order", nullptr}, {"-data", nullptr}, {"-file", nullptr},
        {nullptr, nullptr}};
    if (parseConfig(table, argc - 2, argv + 2) != 0 || !table[1].value) {
        geoCalcUsage();
        return geoCalcError(interp,
                            "Usage: geocalc -order ORDER -data DATA -file FILE");
    }
    int order = 1;
    if (table[0].value) {
        char *end;
        errno = 0;
        long v = std::strtol(table[0].value, &end, 10);
        if (*end != '\0' || end == table[0].value || errno != 0
                || v < 0 || v > GEO_MAX_ORDER)
            return geoCalcError(interp, std::string("Invalid order ")
                                + table[0].value + ": 0 to "
                                + std::to_string(GEO_MAX_ORDER));
        order = (int)v;
    }
    int count;
    const char **items;
    if (Tcl_SplitList(interp, table[1].value, &count, &items) != TCL_OK)
        return TCL_ERROR;
    std::unique_ptr<const char *, void (*)(const char **)> itemsHold(
        items, [](const char **p) { Tcl_Free((char *)p); });
    std::unique_ptr<GeoCalcStore, void (*)(GeoCalcStore *)> store(
        geoCalcInit(), geoCalcFree);
    std::string message;
    for (int i = 0; i < count; i++)
        if (geoCalcAddRec(store.get(), items[i], &message) != GEO_OK)
            return geoCalcError(interp, message);
    if (geoCalcSelectedCount(store.get()) < geoTermCount(order))
        return geoCalcError(interp, "Not enough selected GCPs!");
    if (geoCalcEquation(store.get(), order) != 0)
        return geoCalcError(interp, geoCalcSingular);
    if (table[2].value
            && geoCalcPutFunc(store.get(), table[2].value, &message) != 0)
        return geoCalcError(interp, message);
    std::string result = geoCalcResult(store.get());
    Tcl_SetObjResult(interp, Tcl_NewStringObj(result.c_str(), -1));
    return TCL_OK;
}
