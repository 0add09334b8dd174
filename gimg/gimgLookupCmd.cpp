/*
 * gimgLookupCmd.cpp --
 *
 *	The image subcommands that show and change a gimg image's lookups:
 *	enhance, getLookup, setLookup, setRange, getIndices and setIndices,
 *	and the re-application of a changed colour table.  Each converts its
 *	arguments, changes the master's tables (gimgLookup.cpp) or colour
 *	table, and re-renders through the image's update procedures.
 */
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>

#include "gimg/gimgInt.h"
#include "gimg/gimgLookup.h"
#include "gimg/gimgTable.h"

/* Case-insensitive equality. */
static bool sameWord(const char *a, const char *b)
{
    for (; *a && *b; a++, b++)
        if (std::tolower((unsigned char)*a) != std::tolower((unsigned char)*b))
            return false;
    return *a == *b;
}

/* The error result msg; TCL_ERROR. */
static int failWith(GimgMaster *m, const char *msg)
{
    Tcl_SetObjResult(m->interp, Tcl_NewStringObj(msg, -1));
    return TCL_ERROR;
}

/* The colour-table entries in force: the table's length, 256 without
 * one. */
static int tableLength(const GimgMaster *m)
{
    return m->block.nindices > 0 ? m->block.nindices : 256;
}

/*
 * parseIndices --
 *	Index lists "a", "a-b" separated by commas (and blanks when blanks
 *	is set), each range handed to use(a, b).
 * Results:
 *	0, or -1 at a word that is not a number or a range of numbers.
 */
static int parseIndices(const char *text, bool blanks,
                        const std::function<void(long, long)> &use)
{
    std::string s(text);
    size_t i = 0;
    auto separator = [&](char c) {
        return c == ',' || (blanks && std::isspace((unsigned char)c));
    };
    while (i < s.size()) {
        if (separator(s[i])) {
            i++;
            continue;
        }
        size_t end = i;
        while (end < s.size() && !separator(s[end]))
            end++;
        std::string word = s.substr(i, end - i);
        i = end;
        size_t dash = word.find('-', 1);
        std::string first = word.substr(0, dash), last =
            dash == std::string::npos ? first : word.substr(dash + 1);
        char *stop;
        long a = std::strtol(first.c_str(), &stop, 10);
        if (first.empty() || *stop)
            return -1;
        long b = std::strtol(last.c_str(), &stop, 10);
        if (last.empty() || *stop)
            return -1;
        use(a, b);
    }
    return 0;
}

/*
 * printPalette --
 *	Formats colour-table entry `index` in format "X", "XRGB" or "RGB"
 *	into buffer (at least 64 bytes).
 * Results:
 *	buffer.
 */
char *printPalette(const unsigned char (*colourTable)[3], int index,
                   char *buffer, const char *format)
{
    const unsigned char *c = colourTable[index];
    if (sameWord(format, "X"))
        std::snprintf(buffer, 64, "{%d #%02x%02x%02x} ", index, c[0], c[1],
                      c[2]);
    else if (sameWord(format, "XRGB"))
        std::snprintf(buffer, 64, "{%d %ld %ld %ld} ", index, c[0] * 256L,
                      c[1] * 256L, c[2] * 256L);
    else
        std::snprintf(buffer, 64, "{%d %d %d %d} ", index, c[0], c[1], c[2]);
    return buffer;
}

/*
 * gimgSetIndicesConfig --
 *	After a change of the colour table: the palette (palette screens,
 *	no dithering), the lookup, and every instance re-rendered.
 */
void gimgSetIndicesConfig(GimgMaster *m)
{
    if (m->dither == 0 && m->depth <= 8)
        CreateGimgPalette(m);
    GimgCreateLookup(m, m->funcInForce, (float)m->std);
    gimgUpdateClient(m);
}

/*
 * gimgEnhance --
 *	`name enhance mode ?std?`: the lookup rebuilt with another function
 *	(the -func and -std options keep their values).
 */
int gimgEnhance(GimgMaster *m, int argc, const char **argv)
{
    if (!m->rimg)
        return failWith(m, "Image not configured");
    if (argc < 3 || argc > 4)
        return gimgUsage(m, argv, " [linear | hists | histeq] [std]",
                         TCL_ERROR);
    static const char *modes[] = {"none", "linear", "hists", "histeq"};
    int func = 0;
    for (int i = 0; i < 4; i++)
        if (sameWord(argv[2], modes[i]))
            func = GIMG_FUNC_NONE + i;
    if (!func)
        return failWith(m, "Unknown enhance mode.");
    double std = 2.5;
    if (argc == 4 && Tcl_GetDouble(m->interp, argv[3], &std) != TCL_OK)
        return TCL_ERROR;
    m->funcInForce = func;
    GimgCreateLookup(m, func, (float)std);
    gimgUpdateDisplay(m);
    Tcl_ResetResult(m->interp);
    return TCL_OK;
}

/*
 * gimgGetLookup --
 *	`name getLookup ?x?`: the channel lookups, or with x the function
 *	tables, one "{i t0 t1 t2} " per colour-table entry.
 */
int gimgGetLookup(GimgMaster *m, int argc, const char **argv)
{
    if (argc > 3) {
        Tcl_ResetResult(m->interp);
        Tcl_AppendResult(m->interp, "Usage: ", argv[0], " getLookup",
                         nullptr);
        return TCL_ERROR;
    }
    const unsigned char(*t)[256] = argc == 3 ? m->funcTable : m->lut;
    std::string out;
    char item[64];
    for (int i = 0, n = tableLength(m); i < n && i < 256; i++) {
        std::snprintf(item, sizeof item, "{%d %d %d %d} ", i, t[0][i],
                      t[1][i], t[2][i]);
        out += item;
    }
    Tcl_SetObjResult(m->interp, Tcl_NewStringObj(out.c_str(), -1));
    return TCL_OK;
}

/*
 * gimgSetLookup --
 *	`name setLookup ?list?`: the channel lookups back to the identity,
 *	or entries "index v0 ?v1? ?v2?" set (rounded); then the lookup is
 *	rebuilt and, with -update, the image re-rendered.
 */
int gimgSetLookup(GimgMaster *m, int argc, const char **argv)
{
    if (argc == 2) {
        for (int c = 0; c < 3; c++)
            for (int i = 0; i < 256; i++)
                m->lut[c][i] = (unsigned char)i;
        Tcl_ResetResult(m->interp);
        return TCL_OK;
    }
    if (argc != 3) {
        Tcl_ResetResult(m->interp);
        Tcl_AppendResult(m->interp, "Usage: ", argv[0],
                         " setLookup [lutList]", nullptr);
        return TCL_ERROR;
    }
    int count;
    const char **items;
    if (Tcl_SplitList(m->interp, argv[2], &count, &items) != TCL_OK)
        return failWith(m, "Error in Tcl_SplitList.\n");
    for (int k = 0; k < count; k++) {
        int index;
        float v[3];
        int n = std::sscanf(items[k], "%d %f %f %f", &index, &v[0], &v[1],
                            &v[2]);
        if (n < 2 || index < 0 || index > 255)
            continue;
        for (int c = 0; c < n - 1; c++) {
            long r = std::isnan(v[c]) ? 0 : std::lround(v[c]);
            m->lut[c][index] = (unsigned char)(r < 0 ? 0 : r > 255 ? 255 : r);
        }
    }
    Tcl_Free((char *)items);
    GimgCreateLookup(m, m->funcInForce, (float)m->std);
    if (m->update)
        gimgUpdateClient(m);
    Tcl_ResetResult(m->interp);
    return TCL_OK;
}

/*
 * gimgSetRange --
 *	`name setRange ?{low0 high0 ?low1 high1 ?low2 high2??}?`: display
 *	ranges (none: 0..255 for all; 2, 4 or 6 numbers); the lookup is
 *	rebuilt and, with -update, the image re-rendered.
 */
int gimgSetRange(GimgMaster *m, int argc, const char **argv)
{
    double v[6];
    int n = 0;
    if (argc == 3)
        n = std::sscanf(argv[2], "%lf %lf %lf %lf %lf %lf", &v[0], &v[1],
                        &v[2], &v[3], &v[4], &v[5]);
    if (argc > 3 || (argc == 3 && n != 2 && n != 4 && n != 6)) {
        Tcl_ResetResult(m->interp);
        Tcl_AppendResult(m->interp, "Usage: ", argv[0],
                         "setRange {low0 hihg0 low1 high1 low2 high2}",
                         nullptr);
        return TCL_ERROR;
    }
    if (argc == 2) {
        for (int c = 0; c < 3; c++) {
            m->lowOpt[c] = 0;
            m->highOpt[c] = 255;
        }
    } else {
        for (int c = 0; 2 * c + 1 < n; c++) {
            m->lowOpt[c] = v[2 * c];
            m->highOpt[c] = v[2 * c + 1];
        }
    }
    GimgCreateLookup(m, m->funcInForce, (float)m->std);
    if (m->update > 0)
        gimgUpdateClient(m);
    Tcl_ResetResult(m->interp);
    return TCL_OK;
}

/*
 * gimgGetIndices --
 *	`name getIndices ?format? ?indices?`: colour-table entries.
 */
int gimgGetIndices(GimgMaster *m, int argc, const char **argv)
{
    if (argc > 4) {
        Tcl_ResetResult(m->interp);
        Tcl_AppendResult(m->interp, "Usage: ", argv[0],
                         " getIndice format [indices]", nullptr);
        return TCL_ERROR;
    }
    const char *format = argc > 2 ? argv[2] : "RGB";
    if (!sameWord(format, "X") && !sameWord(format, "XRGB")
        && !sameWord(format, "RGB"))
        return failWith(m, "Undefined color format.  Must be X, XRGB, or RGB.");
    std::string out;
    char item[64];
    if (argc < 4) {
        for (int i = 0; i < m->block.nindices && i < 256; i++)
            out += printPalette(m->block.palette, i, item, format);
    } else {
        bool bad = false;
        int rc = parseIndices(argv[3], true, [&](long a, long b) {
            if (a < 0 || b > 255 || a > b) {
                bad = true;
                return;
            }
            for (long i = a; i <= b && !bad; i++)
                out += printPalette(m->block.palette, (int)i, item, format);
        });
        if (rc < 0 || bad)
            return failWith(m, "invalid index specification\n");
    }
    Tcl_SetObjResult(m->interp, Tcl_NewStringObj(out.c_str(), -1));
    return TCL_OK;
}

/* Sets -foreground and -background of a 1-bit image to entries 0 and 1
 * through the configuration, so that the colours are allocated. */
static int bilevelColours(GimgMaster *m)
{
    char fg[16], bg[16];
    const unsigned char(*p)[3] = m->block.palette;
    std::snprintf(fg, sizeof fg, "#%02x%02x%02x", p[0][0], p[0][1], p[0][2]);
    std::snprintf(bg, sizeof bg, "#%02x%02x%02x", p[1][0], p[1][1], p[1][2]);
    const char *args[] = {"-foreground", fg, "-background", bg};
    return gimgConfigureMaster(m, 4, args, TK_CONFIG_ARGV_ONLY);
}

/* One "{indices colour}" element of setIndices X|XRGB|RGB into rgb. */
static bool parseColourItem(GimgMaster *m, const char *format, int words,
                            const char **word, unsigned char rgb[3])
{
    if (sameWord(format, "X")) {
        XColor c;
        if (words != 2 || !XParseColor(m->display, m->colormap, word[1], &c))
            return false;
        rgb[0] = (unsigned char)(c.red >> 8);
        rgb[1] = (unsigned char)(c.green >> 8);
        rgb[2] = (unsigned char)(c.blue >> 8);
        return true;
    }
    if (words != 4)
        return false;
    bool wide = sameWord(format, "XRGB");
    for (int c = 0; c < 3; c++) {
        int v;
        if (Tcl_GetInt(nullptr, word[c + 1], &v) != TCL_OK)
            return false;
        rgb[c] = (unsigned char)(wide ? (v >> 8) & 255 : v & 255);
    }
    return true;
}

/* setIndices X|XRGB|RGB {{indices colour} ...}. */
static int setColours(GimgMaster *m, const char *format, const char *list)
{
    ImageInfo &b = m->block;
    int count;
    const char **items;
    if (Tcl_SplitList(m->interp, list, &count, &items) != TCL_OK)
        return TCL_ERROR;
    if (b.nindices <= 0) {
        for (int i = 0; i < 256; i++)
            b.palette[i][0] = b.palette[i][1] = b.palette[i][2] =
                (unsigned char)i;
        b.nindices = 256;
    }
    int rc = TCL_OK;
    for (int k = 0; k < count && rc == TCL_OK; k++) {
        int words;
        const char **word;
        unsigned char rgb[3];
        if (Tcl_SplitList(nullptr, items[k], &words, &word) != TCL_OK)
            words = 0, word = nullptr;
        bool ok = words > 0 && parseColourItem(m, format, words, word, rgb);
        if (ok) {
            bool bad = false;
            if (parseIndices(word[0], false, [&](long lo, long hi) {
                    if (lo < 0 || hi > 255) {
                        bad = true;
                        return;
                    }
                    for (long i = lo; i <= hi; i++)
                        std::memcpy(b.palette[i], rgb, 3);
                    if (hi + 1 > b.nindices)
                        b.nindices = (int)hi + 1;
                }) < 0 || bad)
                rc = failWith(m, "Invalid color indices.\n");
        } else {
            std::string msg = sameWord(format, "X")      ? "X"
                              : sameWord(format, "XRGB") ? "XRGB"
                                                         : "RGB";
            msg += " Color parse error: ";
            msg += items[k];
            rc = failWith(m, msg.c_str());
        }
        if (word)
            Tcl_Free((char *)word);
    }
    Tcl_Free((char *)items);
    if (rc != TCL_OK)
        return rc;
    if (b.bits == 1 && bilevelColours(m) != TCL_OK)
        return TCL_ERROR;
    gimgSetIndicesConfig(m);
    Tcl_ResetResult(m->interp);
    return TCL_OK;
}

/* setIndices PSEUDO|BW ?lo? ?hi?: a cube or grey template spread over
 * lo..hi. */
static int spreadTemplate(GimgMaster *m, bool cube, int argc,
                          const char **argv)
{
    int lo = 0, hi = 255;
    if ((argc > 3 && Tcl_GetInt(m->interp, argv[3], &lo) != TCL_OK)
        || (argc > 4 && Tcl_GetInt(m->interp, argv[4], &hi) != TCL_OK))
        return TCL_ERROR;
    lo = lo < 0 ? 0 : lo > 254 ? 254 : lo;
    if (hi > 255)
        hi = 255;
    if (hi < lo)
        hi = lo + 1;
    unsigned char tmpl[256][3];
    if (cube)
        createClrIndices(tmpl, 0, 8, 8, 4);
    else
        for (int i = 0; i < 256; i++)
            tmpl[i][0] = tmpl[i][1] = tmpl[i][2] = (unsigned char)i;
    ImageInfo &b = m->block;
    for (int i = 0; i < 256; i++) {
        int k = i < lo ? 0
                : i > hi ? 255
                         : (int)((i - lo) * 255.0 / (hi - lo) + 0.5);
        std::memcpy(b.palette[i], tmpl[k], 3);
    }
    b.nindices = 256;
    gimgSetIndicesConfig(m);
    Tcl_ResetResult(m->interp);
    return TCL_OK;
}

/* setIndices ?RESTORE ?indices??: entries copied back from the record. */
static int restoreColours(GimgMaster *m, const char *list)
{
    RAMImage *r = m->rimg;
    ImageInfo &b = m->block;
    if (!list) {
        if (r) {
            b.nindices = r->info.nindices;
            std::memcpy(b.palette, r->info.palette, sizeof b.palette);
        }
    } else {
        bool bad = false;
        int rc = parseIndices(list, true, [&](long lo, long hi) {
            if (lo < 0 || hi > 255 || lo > hi)
                bad = true;
            else if (r && r->info.nindices > 0) {
                long from = b.nindices < lo ? b.nindices : lo;
                for (long i = from; i <= hi; i++)
                    std::memcpy(b.palette[i], r->info.palette[i], 3);
                if (hi + 1 > b.nindices)
                    b.nindices = (int)hi + 1;
            }
        });
        if (rc < 0 || bad)
            return failWith(m, "index out of range.\n");
    }
    gimgSetIndicesConfig(m);
    Tcl_ResetResult(m->interp);
    return TCL_OK;
}

/*
 * gimgSetIndices --
 *	`name setIndices format ?list?`: changes the colour table in force.
 */
int gimgSetIndices(GimgMaster *m, int argc, const char **argv)
{
    const char *format = argc > 2 ? argv[2] : "RESTORE";
    if (sameWord(format, "RESTORE") && argc <= 4)
        return restoreColours(m, argc == 4 ? argv[3] : nullptr);
    if (sameWord(format, "NONE") && argc == 3) {
        m->block.nindices = 0;
        gimgSetIndicesConfig(m);
        Tcl_ResetResult(m->interp);
        return TCL_OK;
    }
    bool colours = sameWord(format, "X") || sameWord(format, "XRGB")
                   || sameWord(format, "RGB");
    bool spread = sameWord(format, "PSEUDO") || sameWord(format, "BW");
    if ((colours && argc == 4) || (spread && argc <= 5))
        return colours ? setColours(m, format, argv[3])
                       : spreadTemplate(m, sameWord(format, "PSEUDO"), argc,
                                        argv);
    if (colours || spread || sameWord(format, "NONE")
        || sameWord(format, "RESTORE")) {
        Tcl_ResetResult(m->interp);
        Tcl_AppendResult(m->interp, "Usage: ", argv[0], " setIndices ",
                         format, " colorIndices", nullptr);
        return TCL_ERROR;
    }
    Tcl_ResetResult(m->interp);
    Tcl_AppendResult(m->interp, "Usage: ", argv[0],
                     " setIndices X|XRGB|RGB|PSEUDO|BW|NONE|RESTORE "
                     "palList|indiceList\n",
                     nullptr);
    return TCL_OK;
}
