/*
 * isoPrint.cpp --
 *
 *	Printers of "ISOFEATU" cluster records (layout in isoPrint.h): the
 *	class table of means, mean shifts or sums, and the private area.
 *	Fields are read with memcpy, as the sums are not 8-byte aligned.
 *	Relies on feature.h and the package's standard streams.
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
        int32_t samples;
        float srmd2;
        std::memcpy(&samples, item, 4);
        std::memcpy(&srmd2, item + 8, 4);
        stdoutPrintf("#%3d %8ld %8.3f ", k, (long)samples, (double)srmd2);
        for (int b = 0; b < nb; b++) {
            const unsigned char *at = item + 12 + 16 * b;
            double v;
            if (what == 2) {
                std::memcpy(&v, at + 8, 8);
            } else {
                float f;
                std::memcpy(&f, at + 4 * what, 4);
                v = f;
            }
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
    double rms, dis;
    int32_t total, classes;
    std::memcpy(&rms, p, 8);
    std::memcpy(&dis, p + 8, 8);
    std::memcpy(&total, p + 16, 4);
    std::memcpy(&classes, p + 20, 4);
    const char *source = reinterpret_cast<const char *>(p + 24);
    stdoutPrintf("source: %s\n",
                 std::string(source, strnlen(source, 128)).c_str());
    stdoutPrintf("nClasses: %d nSamples %d RMS: %.4f DIS: %.4f\n",
                 (int)classes, (int)total, rms, dis);
}
