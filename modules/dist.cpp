/*
 * dist.cpp --
 *
 *	The distance module behind `rimage dist`.  Two passes over the class
 *	band, downward then upward, each keep per column the vertical
 *	distance to the nearest class pixel seen so far; a row step turns
 *	those into the Euclidean distance by scanning sideways only as far
 *	as a closer pixel can lie.  The output is a one-band BYTE image
 *	(distances above 255 stored as 255), created as a DIB with a red
 *	ramp when it does not exist.  Relies on the module frame.
 */
#include "modules/dist.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "core/hist.h"
#include "core/imgtype.h"
#include "core/lineAccess.h"
#include "core/meter.h"
#include "core/ramimg.h"
#include "core/stdstream.h"
#include "modules/moduleFrame.h"

namespace {

enum { O_IN, O_OUT, O_B, O_C, O_BLUR };

int usage(const char *command)
{
    stdoutPrintf("Usage: %s -in IN -out OUT -b BAND -c CLASS -blur BLUR\n",
                 command);
    stdoutPrintf("    where\n"
                 "    IN         the input file.\n"
                 "    OUT        the output file.\n"
                 "    BAND       the band number.\n"
                 "    CLASS      the class number(s) n1,n2,....\n"
                 "    BLUR       the gain of bluring.\n");
    return 2;
}

/* Marks the classes of a list "n,a-b c" (commas or blanks).
 * Results: 1, or 0 after a message. */
int parseClasses(const char *text, unsigned char *marked)
{
    std::string copy(text);
    char *save = nullptr;
    for (char *token = strtok_r(&copy[0], ", \t\n", &save); token;
         token = strtok_r(nullptr, ", \t\n", &save)) {
        int first, last;
        int got = std::sscanf(token, "%d-%d", &first, &last);
        if (got < 1) {
            stderrPrintf("Error in parsing class definition.\n");
            return 0;
        }
        if (got == 1)
            last = first;
        if (first < 0 || first > last || last > 255) {
            stderrPrintf("Illigal class definition.\n");
            return 0;
        }
        for (int c = first; c <= last; c++)
            marked[c] = 1;
    }
    return 1;
}

/* The two passes.  Results: 1, or 0 when aborted. */
int distPasses(RAMImage *in, int band, RAMImage *out,
               const unsigned char *marked, double blur,
               const char *command)
{
    const int rows = in->info.rows, n = in->info.columns;
    std::vector<unsigned char> inRow(n), outRow(n);
    std::vector<int> vertical(n);
    ModuleMeter meter;
    moduleMeterStart(&meter, "dist");
    long steps = 2L * rows, done = 0;
    for (int pass = 0; pass < 2; pass++) {
        std::fill(vertical.begin(), vertical.end(), rows);
        for (int k = 0; k < rows; k++) {
            int r = pass == 0 ? k : rows - 1 - k;
            getByteBILData(in, r, 0, n, band, inRow.data());
            distVertical(inRow.data(), marked, n, vertical.data());
            if (pass == 0)
                std::fill(outRow.begin(), outRow.end(), 255);
            else
                getByteBILData(out, r, 0, n, 0, outRow.data());
            distRowStep(vertical.data(), outRow.data(), n, blur);
            putByteBILData(out, r, 0, n, 0, outRow.data());
            if (!moduleMeterRow(&meter, ++done, steps)) {
                moduleReportCanceled(command);
                return 0;
            }
        }
    }
    moduleMeterEnd(&meter);
    if (out->histograms)
        invalidateHist(&out->histograms[0]);
    return 1;
}

int gdistRun(const ModuleParam *t, const char *command)
{
    if (!t[O_IN].value) {
        stderrPrintf("Input image file missing!\n");
        return 0;
    }
    if (!t[O_OUT].value) {
        stderrPrintf("Missing output image file!\n");
        return 0;
    }
    if (!t[O_C].value) {
        stderrPrintf("Missing class number!");
        return 0;
    }
    ModuleImage input;
    RAMImage *in = moduleOpenInput(&input, t[O_IN].value,
                                   "Error in DIST - open:%s\n");
    if (!in)
        return 0;
    int band = t[O_B].value ? std::atoi(t[O_B].value) : 1;
    if (band < 1 || band > in->info.nbands) {
        stderrPrintf("band is out of range (1 to %d).\n", in->info.nbands);
        return 0;
    }
    if (std::strcmp(t[O_OUT].value, t[O_IN].value) == 0) {
        stderrPrintf("Illegal output file.\n");
        return 0;
    }
    unsigned char marked[256] = {0};
    if (!parseClasses(t[O_C].value, marked))
        return 0;
    double blur = t[O_BLUR].value ? std::atof(t[O_BLUR].value) : 0.0;

    ImageInfo info;
    moduleOutputInfo(&info, &in->info, t[O_OUT].value, PIXEL_BYTE, IMG_DIB,
                     1);
    info.nindices = 256;
    info.transparent = -1;
    for (int i = 0; i < 256; i++) {
        info.palette[i][0] = (unsigned char)((256 - i) % 256);
        info.palette[i][1] = info.palette[i][2] = 0;
    }
    ModuleHeldOutput output;
    int err;
    RAMImage *out = moduleOpenOutput(&output, t[O_OUT].value, &info, &err);
    if (!out) {
        stderrPrintf("Error in DIST - open: %s\n", t[O_OUT].value);
        ramimgErrorReport(err);
        return 0;
    }
    if (out == in) {
        stderrPrintf("Illegal output file.\n");
        return 0;
    }
    if (!distPasses(in, band - 1, out, marked, blur, command))
        return 0;
    moduleFinishOutput(&output);
    return 1;
}

}  // namespace

/*
 * gdistAp --
 *	rimage dist -in IN -out OUT -c CLASSES ?-b BAND? ?-blur GAIN?
 * Results:
 *	2 after the usage, 1 after a run, 0 when parameters or memory fail.
 */
int gdistAp(const char *command, int argc, const char **argv)
{
    ModuleParam table[] = {{"-in", nullptr}, {"-out", nullptr},
                           {"-b", nullptr}, {"-c", nullptr},
                           {"-blur", nullptr}, {nullptr, nullptr}};
    return moduleEntry(command, argc, argv, table, usage, gdistRun,
                       "Error in malloc.\n");
}

/* ---------------------------------------------------------------------
 * Row arithmetic
 * --------------------------------------------------------------------- */

void distVertical(const unsigned char *row, const unsigned char *marked,
                  int n, int *vertical)
{
    for (int i = 0; i < n; i++)
        vertical[i] = marked[row[i]] ? 0 : vertical[i] + 1;
}

void distRowStep(const int *vertical, unsigned char *out, int n,
                 double blur)
{
    for (int i = 0; i < n; i++) {
        int64_t start = std::min(vertical[i], (int)out[i]);
        int64_t best = start * start;
        for (int64_t j = i + 1, dj = 1; j < n && dj * dj < best;
             j++, dj++)
            best = std::min(best, dj * dj + (int64_t)vertical[j] * vertical[j]);
        for (int64_t j = i - 1, dj = 1; j >= 0 && dj * dj < best;
             j--, dj++)
            best = std::min(best, dj * dj + (int64_t)vertical[j] * vertical[j]);
        double noise = blur != 0 ? random() * blur / 2147483648.0 : 0.0;
        double value = std::trunc(std::sqrt((double)best) + 0.5 + noise);
        out[i] = value > 255 ? 255 : value < 0 ? 0 : (unsigned char)value;
    }
}
