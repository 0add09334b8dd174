/*
 * moduleFrame.cpp --
 *
 *	The frame shared by the analysis modules: option tables (pairs of
 *	words, or keyword=value words), comma lists of numbers, the band-list
 *	syntax, the stepped progress meter with the pause/abort poll, and the
 *	output-image rule (open what exists, else create from the input's
 *	description; discard a created file when the run fails).  Relies on
 *	the raster store (core/ramimg.h), the meter (core/meter.h) and the
 *	package's standard streams.
 */
#include "modules/moduleFrame.h"

#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>

#include "core/imgtype.h"
#include "core/meter.h"
#include "core/stdstream.h"

/* ---------------------------------------------------------------------
 * Option tables
 * --------------------------------------------------------------------- */

/*
 * parseConfig --
 *	Fills the values of an option table from word pairs.
 * Results:
 *	The number of pairs that matched no unset entry.
 */
int parseConfig(ModuleParam *table, int argc, const char **argv)
{
    for (ModuleParam *p = table; p->option; p++)
        p->value = nullptr;
    int unknown = 0;
    for (int i = 0; i < argc; i += 2) {
        ModuleParam *hit = nullptr;
        for (ModuleParam *p = table; p->option; p++) {
            if (!p->value && std::strcmp(p->option, argv[i]) == 0) {
                hit = p;
                break;
            }
        }
        if (hit && i + 1 < argc)
            hit->value = argv[i + 1];
        else
            unknown++;
    }
    return unknown;
}

int paramParser(ModuleParam *table, int count, const char *word)
{
    for (int i = 0; i < count && table[i].option; i++) {
        size_t n = std::strlen(table[i].option);
        if (std::strncmp(word, table[i].option, n) == 0) {
            table[i].value = word + n;
            return i;
        }
    }
    return -1;
}

int parseParams(int argc, const char **argv, ModuleParam *table, int count)
{
    if (argc < 1 || count < 1)
        return 0;
    table[0].value = argv[0];
    int matched = 1;
    for (int i = 1; i < argc; i++)
        if (paramParser(table, count, argv[i]) >= 0)
            matched++;
    return matched;
}

void moduleUsage(const char *command, const char *options,
                 const char *const *lines)
{
    stdoutPrintf("Usage: %s %s", command, options);
    for (; lines && *lines; lines++)
        stdoutPrintf("  %s\n", *lines);
}

/* Splits a copy of text at commas and converts the first max pieces. */
template <typename T, typename Convert>
static int passList(const char *text, T *values, int max,
                    const char *mallocMessage, Convert convert)
{
    if (!text)
        return 0;
    char *copy = strdup(text);
    if (!copy) {
        stderrPrintf("%s", mallocMessage);
        return -1;
    }
    int n = 0;
    char *piece = copy;
    for (;;) {
        char *comma = std::strchr(piece, ',');
        if (comma)
            *comma = '\0';
        if (n < max)
            values[n] = convert(piece);
        n++;
        if (!comma)
            break;
        piece = comma + 1;
    }
    std::free(copy);
    return n;
}

int passFloats(const char *text, float *values, int max)
{
    return passList(text, values, max, "Error in passFloats: malloc\n",
                    [](const char *s) { return (float)std::atof(s); });
}

int passLongs(const char *text, long *values, int max)
{
    return passList(text, values, max, "Error in passLongs: malloc.\n",
                    [](const char *s) { return std::atol(s); });
}

/* ---------------------------------------------------------------------
 * Band lists
 * --------------------------------------------------------------------- */

int getNextBand(const char **cursor, int *value)
{
    const char *p = *cursor;
    if (*p < '0' || *p > '9')
        return -1;
    long v = 0;
    for (; *p >= '0' && *p <= '9'; p++)
        if (v < INT_MAX / 10)      /* absurd numbers saturate */
            v = v * 10 + (*p - '0');
    *value = (int)v;
    *cursor = p;
    if (*p != '\0' && *p != ',' && *p != '-')
        return -1;
    return (unsigned char)*p;
}

/* Stores the band `value` at position n when there is room. */
static inline void storeBand(int *list, int max, long n, int value)
{
    if (n < max)
        list[n] = value;
}

int parseBandDef(const char *text, int *list, int max)
{
    const char *p = text;
    long n = 0;
    for (;;) {
        int a, b;
        int c = getNextBand(&p, &a);
        if (c < 0)
            return -1;
        if (c == '-') {
            p++;
            c = getNextBand(&p, &b);
            if (c < 0 || c == '-')
                return -1;
            int step = a <= b ? 1 : -1;
            long span = (long)(a <= b ? b - a : a - b) + 1;
            for (long k = 0; k < span && n + k < max; k++)
                storeBand(list, max, n + k, a + (int)k * step);
            n += span;
        } else {
            storeBand(list, max, n, a);
            n++;
        }
        if (n > INT_MAX / 2)
            return -1;
        if (c == '\0')
            return (int)n;
        p++;                        /* past the comma */
    }
}

int parseBandsDef(int *inList, int *outList, int max, const char *token)
{
    std::string in(token);
    std::string out;
    size_t colon = in.find(':');
    if (colon != std::string::npos) {
        out = in.substr(colon + 1);
        in.erase(colon);
    }
    int n = parseBandDef(in.c_str(), inList, max);
    if (n < 0)
        return -1;
    if (colon == std::string::npos) {
        for (int i = 0; i < n && i < max; i++)
            outList[i] = inList[i];
        return n;
    }
    int m = parseBandDef(out.c_str(), outList, max);
    return m == n ? n : -1;
}

/* Where the band-list token starting at pos ends.  Semicolons and blanks
 * always end a token.  A comma joins the items of a list, except after a
 * complete "list:list" when a further colon follows: "1:2,3:4" is two
 * tokens, "1,2:1" one (rejected, as its sides differ). */
static size_t tokenEnd(const std::string &text, size_t pos)
{
    static const char *separators = "; \t\n";
    bool colon = false;
    for (size_t i = pos; i < text.size(); i++) {
        char c = text[i];
        if (std::strchr(separators, c))
            return i;
        if (c == ':')
            colon = true;
        if (c == ',' && colon) {
            size_t next = text.find_first_of(",; \t\n", i + 1);
            size_t nextColon = text.find(':', i + 1);
            if (nextColon != std::string::npos && nextColon < next)
                return i;
        }
    }
    return text.size();
}

/*
 * parseBands --
 *	Fills 0-based input and output band lists from the band-list text.
 * Results:
 *	The common length; 0 on any error.
 */
int parseBands(int inBands, int outBands, int *inList, int *outList,
               const char *text)
{
    if (!text) {
        int n = inBands < outBands ? inBands : outBands;
        if (n > MODULE_MAX_BANDS)
            n = MODULE_MAX_BANDS;
        for (int i = 0; i < n; i++)
            inList[i] = outList[i] = i;
        return n > 0 ? n : 0;
    }
    std::string copy(text);
    int total = 0;
    size_t pos = 0;
    while (pos < copy.size()) {
        size_t end = tokenEnd(copy, pos);
        std::string token = copy.substr(pos, end - pos);
        pos = end + 1;
        if (token.empty())
            continue;
        int room = MODULE_MAX_BANDS - total;
        int n = parseBandsDef(inList + total, outList + total, room,
                              token.c_str());
        if (n < 0 || n > room) {
            stderrPrintf("Error in band params.\n");
            return 0;
        }
        for (int i = total; i < total + n; i++) {
            if (inList[i] < 1 || inList[i] > inBands || outList[i] < 1
                    || outList[i] > outBands)
                return 0;
            inList[i]--;
            outList[i]--;
        }
        total += n;
    }
    return total;
}

/* ---------------------------------------------------------------------
 * Meter and run status
 * --------------------------------------------------------------------- */

void moduleMeterStart(ModuleMeter *m, const char *label)
{
    m->label = label;
    m->threshold = 0.05;
}

int moduleMeterRow(ModuleMeter *m, long done, long total)
{
    double fraction = total > 0 ? (double)done / (double)total : 1.0;
    if (fraction >= m->threshold) {
        meterSet(m->label, m->threshold);
        m->threshold += meterInc();
    }
    return checkRimageStatus() != 3;
}

void moduleMeterEnd(ModuleMeter *m)
{
    meterSet(m->label, 1.0);
}

void moduleReportCanceled(const char *command)
{
    stderrPrintf("%s canceled...\n", command);
}

int moduleEntry(const char *command, int argc, const char **argv,
                ModuleParam *table, int (*usage)(const char *command),
                int (*run)(const ModuleParam *table, const char *command),
                const char *noMemory)
{
    if (argc < 1)
        return usage(command);
    int unknown = parseConfig(table, argc, argv);
    if (unknown) {
        stderrPrintf("Error: %d unknown param(s).\n", unknown);
        return 0;
    }
    int ok;
    try {
        ok = run(table, command);
    } catch (const std::bad_alloc &) {
        stderrPrintf("%s", noMemory);
        ok = 0;
    }
    meterReset();
    return ok;
}

/* ---------------------------------------------------------------------
 * Images
 * --------------------------------------------------------------------- */

RAMImage *moduleOpenImage(const char *name, int *errorOut)
{
    return openRAMImage(name, name, nullptr, nullptr, errorOut);
}

RAMImage *moduleOpenInput(ModuleImage *image, const char *name,
                          const char *message)
{
    int err;
    image->r = moduleOpenImage(name, &err);
    if (!image->r) {
        stderrPrintf(message, name);
        ramimgErrorReport(err);
    }
    return image->r;
}

void moduleOutputInfo(ImageInfo *info, const ImageInfo *input,
                      const char *fileName, int pixel, int imgid, int nbands)
{
    *info = *input;
    std::strncpy(info->fileName, fileName, sizeof info->fileName - 1);
    info->fileName[sizeof info->fileName - 1] = '\0';
    info->pixel = pixel;
    info->bits = pixelBits(pixel);
    info->imgid = imgid;
    info->nbands = nbands;
    info->block = 0;
    info->extraFd = -1;
    info->volumes = 0;
}

RAMImage *moduleOpenOutput(ModuleOutput *out, const char *name,
                           ImageInfo *info, int *errorOut)
{
    int localError;
    int *err = errorOut ? errorOut : &localError;
    out->image = nullptr;
    out->created = 0;
    out->fileName[0] = '\0';
    RAMImage *r = getRAMImageByTag(name);
    if (!r)
        r = getRAMImageByName(name);
    if (r || access(name, F_OK) == 0) {
        /* An image of this name exists: it is written into, never
         * replaced. */
        out->image = moduleOpenImage(name, err);
        return out->image;
    }
    std::strncpy(info->fileName, name, sizeof info->fileName - 1);
    info->fileName[sizeof info->fileName - 1] = '\0';
    r = openRAMImageNew(info, nullptr, 0, err);
    if (!r) {
        if (*err != RAMIMG_EEXIST && *err != RAMIMG_ECREATE)
            unlink(info->fileName);     /* created but not readable */
        return nullptr;
    }
    out->image = r;
    out->created = 1;
    std::strncpy(out->fileName, info->fileName, sizeof out->fileName);
    return r;
}

void moduleFinishOutput(ModuleOutput *out)
{
    RAMImage *r = out->image;
    if (!r)
        return;
    flushRAMImage(r);
    updateClient(r, nullptr, 2);
    closeRAMImage(r, nullptr);
    out->image = nullptr;
}

void moduleDiscardOutput(ModuleOutput *out)
{
    RAMImage *r = out->image;
    if (!r)
        return;
    out->image = nullptr;
    if (!out->created) {
        flushRAMImage(r);
        updateClient(r, nullptr, 2);
        closeRAMImage(r, nullptr);
        return;
    }
    bool lastUse = r->links == 1 && r->opens < 1 && !r->clients
                   && !(r->attributes & RAMIMG_LOCKED);
    if (lastUse)
        inValidateRAMImage(r);      /* nothing of it is worth writing */
    closeRAMImage(r, nullptr);
    if (lastUse)
        unlink(out->fileName);
}
