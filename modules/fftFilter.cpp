/*
 * fftFilter.cpp --
 *
 *	Frequency-domain filters and the power/phase conversions of the
 *	Fourier module.  A filter multiplies each complex value by a factor
 *	of its transform position: with u, v the offsets from the centre
 *	along the rotated axes divided by the radii, rho = u^2 + v^2 and
 *	e = exp(-rho^n), the bell takes e, the high-emphasis filter 1 - a e,
 *	and the notch 1 - a e inside the nearer of its two symmetric
 *	rejection ellipses (rho <= 1).  The row (X) and column (Y) forms use
 *	only the coordinate of their direction.  Values are independent, so
 *	the work is spread over the row threads.
 */
#include "modules/fftFilter.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <strings.h>
#include <string>
#include <vector>

#include "core/rowThreads.h"
#include "core/stdstream.h"

int fftTypeIsPP(int type)
{
    return type == FFT_SFPP || type == FFT_FSPP || type == FFT_SFPPX
           || type == FFT_SFPPY;
}

int fftTypeRI(int type)
{
    switch (type) {
    case FFT_SFPP: return FFT_SFRI;
    case FFT_FSPP: return FFT_FSRI;
    case FFT_SFPPX: return FFT_SFRIX;
    case FFT_SFPPY: return FFT_SFRIY;
    default: return type;
    }
}

int fftTypePP(int type)
{
    switch (type) {
    case FFT_SFRI: return FFT_SFPP;
    case FFT_INIT: case FFT_FSRI: return FFT_FSPP;
    case FFT_SFRIX: return FFT_SFPPX;
    case FFT_SFRIY: return FFT_SFPPY;
    default: return type;
    }
}

/* ---------------------------------------------------------------------
 * Parsing
 * --------------------------------------------------------------------- */

/* Reads a whole number; false when the text is not one. */
static bool filterNumber(const std::string &text, double *value)
{
    const char *s = text.c_str();
    char *end;
    errno = 0;
    *value = std::strtod(s, &end);
    while (end != s && std::isspace((unsigned char)*end))
        end++;
    return end != s && *end == '\0' && errno == 0 && std::isfinite(*value);
}

int parseFilter(const char *text, double angle, int P, int Q,
                FFTFilter *filter)
{
    if (!text)
        return -1;
    std::vector<std::string> pieces;
    std::string piece;
    for (const char *s = text;; s++) {
        if (*s == ',' || *s == '\0') {
            pieces.push_back(piece);
            piece.clear();
            if (*s == '\0')
                break;
        } else
            piece += *s;
    }
    static const struct {
        const char *word;
        int kind, numbers;  /* numbers of the circular form */
    } kinds[] = {{"bell", FILTER_BELL, 2}, {"high", FILTER_HIGH, 3},
                 {"notch", FILTER_NOTCH, 5}};
    int k = 0;
    while (k < 3 && strcasecmp(pieces[0].c_str(), kinds[k].word) != 0)
        k++;
    int count = (int)pieces.size() - 1;
    if (k == 3 || (count != kinds[k].numbers && count != kinds[k].numbers + 1))
        return -1;
    double v[6] = {0, 0, 0, 0, 0, 0};
    for (int i = 0; i < count; i++)
        if (!filterNumber(pieces[i + 1], &v[i]))
            return -1;
    FFTFilter f;
    f.kind = kinds[k].kind;
    int next = 0;
    f.rx = v[next++];
    f.ry = count == kinds[k].numbers ? f.rx : v[next++];
    f.order = v[next++];
    f.amplitude = f.kind == FILTER_BELL ? 1.0 : v[next++];
    if (f.kind == FILTER_NOTCH) {
        f.cx = v[next++];
        f.cy = v[next++];
    } else {
        f.cx = Q / 2;
        f.cy = P / 2;
    }
    if (!(f.rx > 0) || !(f.ry > 0))
        return -1;
    f.mx = Q - 1 - f.cx;
    f.my = P - 1 - f.cy;
    f.rm = (f.rx + f.ry) / 2;
    double theta = angle * M_PI / 180.0;
    f.cosine = std::cos(theta);
    f.sine = std::sin(theta);
    *filter = f;
    return 0;
}

/* ---------------------------------------------------------------------
 * Factors
 * --------------------------------------------------------------------- */

/* rho of the offset (dx, dy) from a centre. */
static inline double filterRho(const FFTFilter *f, double dx, double dy)
{
    double u = (f->cosine * dx + f->sine * dy) / f->rx;
    double v = (-f->sine * dx + f->cosine * dy) / f->ry;
    return u * u + v * v;
}

/* exp(-rho^n), 0 where the exponent would underflow. */
static inline double filterBell(const FFTFilter *f, double rho)
{
    double e = -std::pow(rho, f->order);
    return e > -708.39 ? std::exp(e) : 0.0;
}

/* The factor at offsets from the centre (and from the mirror point for
 * the notch); the one-direction forms pass 0 for the other offset. */
static inline double filterAt(const FFTFilter *f, double dx, double dy,
                              double mdx, double mdy)
{
    double rho = filterRho(f, dx, dy);
    switch (f->kind) {
    case FILTER_BELL:
        return filterBell(f, rho);
    case FILTER_HIGH:
        return 1.0 - f->amplitude * filterBell(f, rho);
    default: {
        double mirror = filterRho(f, mdx, mdy);
        if (mirror < rho)
            rho = mirror;
        return rho <= 1.0 ? 1.0 - f->amplitude * filterBell(f, rho) : 1.0;
    }
    }
}

double fftFilterFactor(const FFTFilter *f, double x, double y)
{
    return filterAt(f, x - f->cx, y - f->cy, x - f->mx, y - f->my);
}

enum { FORM_XY, FORM_X, FORM_Y };

/* Multiplies the block by the factors of one form, rows on the threads. */
static void filterBlock(const FFTFilter *f, int form, float *block, int col0,
                        int cols, int row0, int rows)
{
    rowThreadsRun(rows, 8, [&](int begin, int end) {
        std::vector<double> factor(cols);
        for (int i = begin; i < end; i++) {
            double y = row0 + i;
            for (int j = 0; j < cols; j++) {
                double x = col0 + j;
                switch (form) {
                case FORM_XY:
                    factor[j] = fftFilterFactor(f, x, y);
                    break;
                case FORM_X:
                    factor[j] = filterAt(f, x - f->cx, 0.0, x - f->mx, 0.0);
                    break;
                default:
                    factor[j] = filterAt(f, 0.0, y - f->cy, 0.0, y - f->my);
                    break;
                }
            }
            float *v = block + 2 * (size_t)i * cols;
            for (int j = 0; j < cols; j++) {
                v[2 * j] = (float)(v[2 * j] * factor[j]);
                v[2 * j + 1] = (float)(v[2 * j + 1] * factor[j]);
            }
        }
    });
}

#define FILTER_FORM(name, form)                                             \
    void name(const FFTFilter *f, float *block, int col0, int cols,         \
              int row0, int rows)                                           \
    {                                                                       \
        filterBlock(f, form, block, col0, cols, row0, rows);                \
    }

/* The kind is in the parameters; the names keep the table's rows. */
FILTER_FORM(fbell, FORM_XY)
FILTER_FORM(high, FORM_XY)
FILTER_FORM(notch, FORM_XY)
FILTER_FORM(xfbell, FORM_X)
FILTER_FORM(xhigh, FORM_X)
FILTER_FORM(xnotch, FORM_X)
FILTER_FORM(yfbell, FORM_Y)
FILTER_FORM(yhigh, FORM_Y)
FILTER_FORM(ynotch, FORM_Y)

FFTFilterProc *const fltrSuite[3][3] = {
    {fbell, xfbell, yfbell},
    {high, xhigh, yhigh},
    {notch, xnotch, ynotch},
};

FFTFilterProc *configFilter(const FFTFilter *f, int type)
{
    int form;
    switch (fftTypeRI(type)) {
    case FFT_SFRI: form = FORM_XY; break;
    case FFT_SFRIX: form = FORM_X; break;
    case FFT_SFRIY: form = FORM_Y; break;
    default:
        stderrPrintf("wrong type of FFT image for filtering.\n");
        return nullptr;
    }
    return fltrSuite[f->kind][form];
}

/* ---------------------------------------------------------------------
 * Power and phase
 * --------------------------------------------------------------------- */

void riTOpp(float *values, long count)
{
    rowThreadsRun((int)((count + 4095) / 4096), 4, [&](int begin, int end) {
        long last = std::min<long>(count, (long)end * 4096);
        for (long i = (long)begin * 4096; i < last; i++) {
            double re = values[2 * i], im = values[2 * i + 1];
            double power = std::sqrt(re * re + im * im);
            values[2 * i] = (float)power;
            values[2 * i + 1] = power > 0 ? (float)std::atan2(im, re) : 0.0f;
        }
    });
}

void ppTOri(float *values, long count)
{
    rowThreadsRun((int)((count + 4095) / 4096), 4, [&](int begin, int end) {
        long last = std::min<long>(count, (long)end * 4096);
        for (long i = (long)begin * 4096; i < last; i++) {
            double power = values[2 * i], phase = values[2 * i + 1];
            values[2 * i] = (float)(power * std::cos(phase));
            values[2 * i + 1] = (float)(power * std::sin(phase));
        }
    });
}
