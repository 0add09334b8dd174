/*
 * data.cpp --
 *
 *	The data module behind `rimage data`.  Its one mode, -sample, writes
 *	a deterministic synthetic scene as an ERDAS file: fractal terrain
 *	with hill shading, a sea and a river, forest and meadows on the
 *	slopes, rocky summits, a patchwork of fields in the lowland, a town
 *	with a street grid by the river, and sensor noise, in up to four
 *	BYTE bands (blue, green, red, near infrared) with the reflectance
 *	each cover type has in them.  The same options always give the same
 *	bytes: the generator is a counter-based hash, no library random.
 */
#include "modules/data.h"

#include <fcntl.h>
#include <unistd.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "core/imgtype.h"
#include "core/meter.h"
#include "core/ramimg.h"
#include "core/stdstream.h"
#include "formats/erdas.h"

namespace {

/* Cover types and their mean reflectance (DN) in blue, green, red and
 * near infrared. */
enum Cover {
    DEEP_WATER, SHALLOW_WATER, SAND, ROCK, FOREST, MEADOW, BARE_SOIL,
    GREEN_CROP, RIPE_CROP, URBAN, ROAD, NCOVERS
};

const float signature[NCOVERS][4] = {
    {58, 42, 26, 10},     /* deep water */
    {72, 60, 42, 18},     /* shallow water, river */
    {150, 148, 150, 160}, /* sand */
    {104, 106, 114, 122}, /* rock */
    {44, 52, 34, 128},    /* forest */
    {56, 74, 56, 168},    /* meadow */
    {84, 92, 112, 124},   /* bare soil */
    {50, 84, 48, 196},    /* green crop */
    {76, 92, 96, 150},    /* ripe crop */
    {112, 108, 114, 98},  /* built-up */
    {134, 132, 132, 112}, /* road */
};

uint32_t mix(uint32_t h)
{
    h ^= h >> 16;
    h *= 0x7feb352dU;
    h ^= h >> 15;
    h *= 0x846ca68bU;
    h ^= h >> 16;
    return h;
}

/* A reproducible value in [0, 1) for lattice point (x, y) of a layer. */
double hash01(int x, int y, uint32_t layer)
{
    uint32_t h = mix((uint32_t)x * 0x9E3779B1U ^ mix((uint32_t)y + layer));
    return (h >> 8) * (1.0 / 16777216.0);
}

double smooth(double t)
{
    return t * t * (3 - 2 * t);
}

/* Value noise: smoothly interpolated lattice values. */
double valueNoise(double x, double y, uint32_t layer)
{
    int ix = (int)std::floor(x), iy = (int)std::floor(y);
    double fx = smooth(x - ix), fy = smooth(y - iy);
    double a = hash01(ix, iy, layer), b = hash01(ix + 1, iy, layer);
    double c = hash01(ix, iy + 1, layer), d = hash01(ix + 1, iy + 1, layer);
    return (a + (b - a) * fx) * (1 - fy) + (c + (d - c) * fx) * fy;
}

/* Fractal sum of octaves, about 0..1. */
double fbm(double x, double y, int octaves, uint32_t layer)
{
    double sum = 0, amplitude = 0.5, norm = 0;
    for (int o = 0; o < octaves; o++) {
        sum += amplitude * valueNoise(x, y, layer + (uint32_t)o * 7919U);
        norm += amplitude;
        x *= 2.03;
        y *= 2.03;
        amplitude *= 0.5;
    }
    return sum / norm;
}

struct Scene {
    int rows, columns;
    uint32_t seed;
    std::vector<float> elevation;   /* rows x columns, about 0..1 */
};

const double seaLevel = 0.36;

double elevationAt(const Scene &s, double u, double v)
{
    /* Land rises to the north-west; the sea lies in the south-east. */
    double ramp = (1 - u) * 0.55 + (1 - v) * 0.45;
    return 0.55 * fbm(u * 4, v * 4, 5, s.seed) + 0.5 * ramp;
}

void buildElevation(Scene &s)
{
    s.elevation.resize((size_t)s.rows * s.columns);
    for (int y = 0; y < s.rows; y++)
        for (int x = 0; x < s.columns; x++)
            s.elevation[(size_t)y * s.columns + x] = (float)elevationAt(
                s, (x + 0.5) / s.columns, (y + 0.5) / s.rows);
}

float elev(const Scene &s, int x, int y)
{
    x = x < 0 ? 0 : x >= s.columns ? s.columns - 1 : x;
    y = y < 0 ? 0 : y >= s.rows ? s.rows - 1 : y;
    return s.elevation[(size_t)y * s.columns + x];
}

/* Hill shading with light from the north-west. */
double shade(const Scene &s, int x, int y)
{
    double scale = 0.1 * (s.columns + s.rows);
    double dzdx = (elev(s, x + 1, y) - elev(s, x - 1, y)) * scale;
    double dzdy = (elev(s, x, y + 1) - elev(s, x, y - 1)) * scale;
    double light = 1.0 - 0.35 * (dzdx + dzdy);
    return light < 0.6 ? 0.6 : light > 1.35 ? 1.35 : light;
}

/* Column of the river's centre on row v (0..1). */
double riverCentre(const Scene &s, double v)
{
    const double twoPi = 6.283185307179586;
    return s.columns * (0.42 + 0.07 * std::sin(v * twoPi * 1.3)
                        + 0.025 * std::sin(v * twoPi * 4.1 + 1.0));
}

Cover coverAt(const Scene &s, int x, int y)
{
    double u = (x + 0.5) / s.columns, v = (y + 0.5) / s.rows;
    double e = elev(s, x, y);
    if (e < seaLevel - 0.03)
        return DEEP_WATER;
    if (e < seaLevel)
        return SHALLOW_WATER;
    double riverHalfWidth = 1.5 + 4.0 * v * (s.columns / 512.0);
    if (std::fabs(x + 0.5 - riverCentre(s, v)) < riverHalfWidth)
        return SHALLOW_WATER;
    if (e < seaLevel + 0.012)
        return SAND;

    /* The town: a ragged disc by the river, with a street grid. */
    double tu = u - riverCentre(s, 0.55) / s.columns - 0.06, tv = v - 0.55;
    double townRadius = 0.10 + 0.04 * valueNoise(u * 9, v * 9, s.seed + 31);
    if (tu * tu + tv * tv < townRadius * townRadius && e < 0.78) {
        int grid = s.columns / 32 > 6 ? s.columns / 32 : 6;
        if (x % grid < 2 || y % grid < 2)
            return ROAD;
        return hash01(x / grid, y / grid, s.seed + 5) < 0.12 ? MEADOW
                                                              : URBAN;
    }
    if (e > 0.80)
        return ROCK;
    if (e > 0.60) {
        double clearing = fbm(u * 12, v * 12, 3, s.seed + 77);
        return clearing > 0.66 ? MEADOW : FOREST;
    }

    /* Lowland fields: parcels of a jittered grid, hedges between. */
    int cell = s.columns / 16 > 8 ? s.columns / 16 : 8;
    int cx = x / cell, cy = y / cell;
    int split = (int)(hash01(cx, cy, s.seed + 11) * (cell - 6)) + 3;
    int px = x % cell, py = y % cell;
    if (px == 0 || py == 0)
        return MEADOW;
    int half = (hash01(cx, cy, s.seed + 13) < 0.5 ? px : py) < split;
    double pick = hash01(cx * 2 + half, cy, s.seed + 17);
    if (pick < 0.28)
        return BARE_SOIL;
    if (pick < 0.62)
        return GREEN_CROP;
    if (pick < 0.85)
        return RIPE_CROP;
    return fbm(u * 20, v * 20, 2, s.seed + 19) > 0.55 ? FOREST : MEADOW;
}

/* Sensor noise of about +-4 DN, reproducible per pixel and band. */
double noiseAt(const Scene &s, int x, int y, int band)
{
    uint32_t layer = s.seed * 131U + (uint32_t)band * 977U + 3U;
    double n = hash01(x, y, layer) + hash01(x, y, layer + 1)
               + hash01(x, y, layer + 2);
    return (n - 1.5) * 5.0;
}

/* One row of every band, band after band, columns bytes each. */
void sampleRow(const Scene &s, int y, int nbands, unsigned char *out)
{
    for (int x = 0; x < s.columns; x++) {
        Cover c = coverAt(s, x, y);
        bool water = c == DEEP_WATER || c == SHALLOW_WATER;
        double light = water ? 1.0 : shade(s, x, y);
        /* Texture inside a cover type. */
        double texture = 0.92 + 0.16 * valueNoise(x * 0.35, y * 0.35,
                                                  s.seed + 23 + (int)c);
        for (int b = 0; b < nbands; b++) {
            double dn = signature[c][b] * light * texture
                        + noiseAt(s, x, y, b);
            long v = std::lround(dn);
            out[(size_t)b * s.columns + x] =
                (unsigned char)(v < 0 ? 0 : v > 255 ? 255 : v);
        }
    }
}

const char usageText[] =
    " -sample [-out FILE] [-rows N] [-columns N] [-bands 1-4] [-seed N]"
    " [-imgid E74|E73|E74BSQ]\n";

int usage(const char *command)
{
    stdoutPrintf("Usage: %s%s", command, usageText);
    return 2;
}

/* An integer option value within [low, high]. */
bool intValue(const char *text, int low, int high, int *out)
{
    char *end;
    long v = std::strtol(text, &end, 10);
    if (end == text || *end != '\0' || v < low || v > high)
        return false;
    *out = (int)v;
    return true;
}

}  // namespace

/*
 * dataWriteSample --
 *	Creates info's file (header and zeroed data, with the free-space
 *	check) and writes the scene into it line by line.
 * Results:
 *	1, or 0 after a message on standard error.
 * Side effects:
 *	A record of the store holding that file is reloaded and its clients
 *	told.
 */
int dataWriteSample(ImageInfo *info, unsigned seed)
{
    if (createImage(info) < 0) {
        stderrPrintf("Error in creating the sample file %s\n",
                     info->fileName);
        return 0;
    }
    int fd = open(info->fileName, O_RDWR);
    if (fd < 0) {
        stderrPerror(info->fileName);
        return 0;
    }
    Scene s;
    s.rows = info->rows;
    s.columns = info->columns;
    s.seed = seed;
    buildElevation(s);
    std::vector<unsigned char> row((size_t)info->nbands * s.columns);
    int64_t line = info->block;
    meterReset();
    int ok = 1;
    for (int y = 0; y < s.rows && ok; y++) {
        sampleRow(s, y, info->nbands, row.data());
        for (int b = 0; b < info->nbands && ok; b++) {
            int64_t index = info->imgid == IMG_E74BSQ
                                ? (int64_t)b * s.rows + y
                                : (int64_t)y * info->nbands + b;
            off_t at = (off_t)(info->offset + index * line);
            ok = pwrite(fd, row.data() + (size_t)b * s.columns,
                        (size_t)s.columns, at) == (ssize_t)s.columns;
        }
        if ((y & 31) == 31)
            meterSet("Sample", (double)(y + 1) / s.rows);
    }
    meterReset();
    if (!ok)
        stderrPerror(info->fileName);
    close(fd);
    if (RAMImage *r = getRAMImageByName(info->fileName)) {
        int err;
        if (createRAMImage(info->fileName, nullptr, r, &err))
            updateClient(r, nullptr, 3);
    }
    return ok;
}

/*
 * dataAp --
 *	rimage data -sample ?-out FILE? ?-rows N? ?-columns N? ?-bands N?
 *	?-seed N? ?-imgid TYPE?
 * Results:
 *	2 after the usage, 1 when the scene was written, 0 on failure.
 */
int dataAp(const char *command, int argc, const char **argv)
{
    if (argc < 1 || std::strcmp(argv[0], "-sample") != 0)
        return usage(command);
    ImageInfo info;
    std::memset(&info, 0, sizeof info);
    std::strcpy(info.fileName, "sample.lan");
    info.imgid = IMG_E74;
    info.pixel = PIXEL_BYTE;
    info.bits = 8;
    info.mapid = MAP_GRID;
    info.rows = info.columns = 512;
    info.nbands = 4;
    info.transparent = -1;
    info.extraFd = -1;
    info.dx = info.dy = 30.0;
    info.x0 = 500000.0;
    info.y0 = 4200000.0;
    int seed = 1;
    if ((argc - 1) % 2 != 0) {
        stderrPrintf("Error: value for %s missing.\n", argv[argc - 1]);
        return usage(command);
    }
    for (int i = 1; i < argc; i += 2) {
        const char *opt = argv[i], *value = argv[i + 1];
        bool ok = true;
        if (std::strcmp(opt, "-out") == 0) {
            ok = std::strlen(value) > 0
                 && std::strlen(value) < sizeof info.fileName;
            if (ok)
                std::strcpy(info.fileName, value);
        } else if (std::strcmp(opt, "-rows") == 0) {
            ok = intValue(value, 16, 32767, &info.rows);
        } else if (std::strcmp(opt, "-columns") == 0) {
            ok = intValue(value, 16, 32767, &info.columns);
        } else if (std::strcmp(opt, "-bands") == 0) {
            ok = intValue(value, 1, 4, &info.nbands);
        } else if (std::strcmp(opt, "-seed") == 0) {
            ok = intValue(value, 0, 0x7FFFFFFF, &seed);
        } else if (std::strcmp(opt, "-imgid") == 0) {
            info.imgid = parseImgID(value);
            ok = info.imgid == IMG_E74 || info.imgid == IMG_E73
                 || info.imgid == IMG_E74BSQ;
        } else {
            stderrPrintf("Error: unknown option %s.\n", opt);
            return usage(command);
        }
        if (!ok) {
            stderrPrintf("Error: invalid value %s for %s.\n", value, opt);
            return 0;
        }
    }
    return dataWriteSample(&info, (unsigned)seed);
}
