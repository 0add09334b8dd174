/*
 * statInfo.cpp --
 *
 *	`rimage statinfo` (statInfoAp): prints a feature file of any kind:
 *	statistics items (means, variances, covariances, correlations, or
 *	their inverses), the eigen-vector table, or the cluster summary.
 *	Reads the file whole and writes nothing.  Relies on the module frame
 *	and the feature-file printers (feature.h, isoPrint.h).
 */
#include "modules/statInfo.h"

#include <strings.h>

#include <cstring>
#include <string>

#include "core/stdstream.h"
#include "modules/feature.h"
#include "modules/isoPrint.h"
#include "modules/moduleFrame.h"

/* Parameters of one printing. */
struct StatInfoParams {
    const char *path;
    const char *statName;   /* null: every item */
    int invert;             /* 1: inverse covariances */
    int flags;              /* 1 mean, 2 std, 4 cov, 8 cor */
};

/* The -info words: flags, or -1 for an unknown word. */
static int infoFlags(const char *text)
{
    std::string words(text);
    int flags = 0;
    size_t pos = 0;
    while (pos <= words.size()) {
        size_t end = words.find_first_of("|,;:", pos);
        if (end == std::string::npos)
            end = words.size();
        std::string w = words.substr(pos, end - pos);
        pos = end + 1;
        if (w.empty())
            continue;
        if (strcasecmp(w.c_str(), "MEAN") == 0)
            flags |= 1;
        else if (strcasecmp(w.c_str(), "STD") == 0)
            flags |= 2;
        else if (strcasecmp(w.c_str(), "COV") == 0)
            flags |= 4;
        else if (strcasecmp(w.c_str(), "COR") == 0)
            flags |= 8;
        else if (strcasecmp(w.c_str(), "ALL") == 0)
            flags |= 15;
        else if (strcasecmp(w.c_str(), "DEF") == 0)
            flags = 1;
        else
            return -1;
    }
    return flags;
}

/* Prints one statistics item, inverted first when asked. */
static void statInfoItem(Feature *f, int i, const StatInfoParams *p)
{
    if (p->invert) {
        double det = 0.0;
        if (invertStatItem(f, i, &det))
            stdoutPrintf("Det: %13.7e\n", det);
        else
            stdoutPrintf("feature %d can not be inverted!\n", i);
    }
    printStatItem(f, i, p->flags);
}

/*
 * statInfo --
 *	Prints the file by its kind.
 * Results:
 *	1, or 0 after a message.
 */
int statInfo(const StatInfoParams *p)
{
    Feature *f = getFeatures(p->path, nullptr);
    if (!f) {
        stderrPrintf("Error in get features\n");
        return 0;
    }
    struct Holder {
        Feature *f;
        ~Holder() { freeFeature(f); }
    } holder{f};
    switch (getFeatureInfo(f, 5)) {
    case FEATURE_STAT: {
        int only = -1;
        if (p->statName && (only = getStatID(f, p->statName)) < 0) {
            stderrPrintf("Can't find the stat: %s", p->statName);
            return 0;
        }
        printStatPrivate(f);
        printStatBands(f);
        for (int i = 0; i < f->count; i++)
            if (only < 0 || i == only)
                statInfoItem(f, i, p);
        return 1;
    }
    case FEATURE_EIGEN:
        printEVPrivate(f);
        printEVBands(f);
        printEVInfo(f, 1);
        return 1;
    default:
        stdoutPrintf("ISO INFO - ");
        printISOPrivate(f);
        if (p->flags & 1)
            isoPrint(f, 0);
        if (p->flags & 2) {
            isoPrint(f, 1);
            isoPrint(f, 2);
        }
        return 1;
    }
}

static const char *const usageLines[] = {
    "-in   feature file (statistics, eigen vectors or clusters)",
    "-stat name of the one statistics item to show (default: all)",
    "-inv  Y: show inverse covariances (default N)",
    "-info MEAN|STD|COV|COR, ALL or DEF (default MEAN)",
    nullptr};

/*
 * statInfoAp --
 *	rimage statinfo.
 * Results:
 *	2 usage printed, 1 success, 0 failure.
 */
int statInfoAp(const char *command, int argc, const char **argv)
{
    if (argc < 1) {
        moduleUsage(command, "-in IN -stat STAT -inv INV -info INFO\n",
                    usageLines);
        return 2;
    }
    ModuleParam table[] = {{"-in", nullptr}, {"-stat", nullptr},
                           {"-inv", nullptr}, {"-info", nullptr},
                           {nullptr, nullptr}};
    int unknown = parseConfig(table, argc, argv);
    if (unknown) {
        stderrPrintf("Error: %d unknown param(s).\n", unknown);
        return 0;
    }
    StatInfoParams p;
    p.path = table[0].value;
    p.statName = table[1].value;
    p.invert = table[2].value && strcasecmp(table[2].value, "Y") == 0;
    p.flags = table[3].value ? infoFlags(table[3].value) : 1;
    if (!p.path) {
        stderrPrintf("Statistical file name missing.\n");
        return 0;
    }
    if (p.flags < 0) {
        stderrPrintf("Unknown option for -info\n");
        return 0;
    }
    if (p.invert)
        p.flags = 15;
    return statInfo(&p);
}
