/*
 * isoPrint.cpp --
 *
 *	Printers of "ISOFEATU" cluster records (layout in isoPrint.h): the
 *	class table of means, mean shifts or sums, and the private area,
 *	used by the clustering module and `rimage statinfo`.  Relies on
 *	feature.h and the package's standard streams.
 */
#include "modules/isoPrint.h"

#include <cstdint>
#include <cstring>
#include <string>

#include "core/stdstream.h"

int isoItemSize(int nb)
{
    return 12 + 16 * nb;
}

void isoPrint(Feature *record, int what)
{
    static const char *const titles[] = {"ISO_MEAN:\n", "ISO_DMEAN:\n",
                                         "ISO_SUM:\n"};
    if (what < 0 || what > 2) {
        stderrPrintf("Wrong flag for isoPrint\n");
        return;
    }
    int nb = record->nbands;
    if (record->itemSize < isoItemSize(nb))
        return;
    stdoutPrintf("%s", titles[what]);
    stdoutPrintf("  ID  SAMPLES    SRMD2");
    for (int b = 0; b < nb; b++)
        stdoutPrintf("  %4d  ", getFeatureBand(record, b) + 1);
    stdoutPrintf("\n");
    for (int k = 0; k < record->count; k++) {
        const unsigned char *item = getFeatureItem(record, k);
        stdoutPrintf("#%3d %8ld %8.3f ", k,
                     (long)isoField<int32_t>(item, ISO_SAMPLES),
                     (double)isoField<float>(item, ISO_SRMD2));
        for (int b = 0; b < nb; b++) {
            double v = what == 0 ? isoField<float>(item, ISO_MEAN(b))
                       : what == 1 ? isoField<float>(item, ISO_DMEAN(b))
                       : isoField<double>(item, ISO_SUM(b));
            stdoutPrintf("%7.3f ", v);
        }
        stdoutPrintf("\n");
    }
}

void printISOPrivate(Feature *record)
{
    const unsigned char *p = getFeaturePrivate(record);
    if (!p || getFeaturePrivateSize(record) < ISO_PRIVATE_SIZE) {
        stdoutPrintf("No private info.\n");
        return;
    }
    IsoPrivate area;
    std::memcpy(&area, p, sizeof area);
    stdoutPrintf("source: %s\n",
                 std::string(area.source, strnlen(area.source,
                                                  sizeof area.source))
                     .c_str());
    stdoutPrintf("nClasses: %d nSamples %d RMS: %.4f DIS: %.4f\n",
                 (int)area.nclasses, (int)area.total, area.rms, area.dis);
}
