/*
 * rimgIndices.cpp --
 *
 *	rimage getIndices and setIndices: reading and changing the palette
 *	of an image, by single indices or ranges.  A changed palette is
 *	written back to the file by the registry (DIB and TIFF files).
 */
#include <cstdio>
#include <vector>

#include "core/imgtype.h"
#include "core/ramimg.h"
#include "rimage/rimgInt.h"

namespace {

/* An image opened by tag and file name for one command. */
struct OpenedImage {
    RAMImage *r;
    explicit OpenedImage(const char *name)
    {
        int err;
        r = openRAMImage(name, name, nullptr, nullptr, &err);
    }
    ~OpenedImage()
    {
        if (r)
            closeRAMImage(r, nullptr);
    }
    OpenedImage(const OpenedImage &) = delete;
    OpenedImage &operator=(const OpenedImage &) = delete;
};

struct PaletteSet {
    int from, to;
    int rgb[3];
};

}  // namespace

/* Reads "N" or "N-M" (whole word); returns the number of values. */
static int parseIndexSpec(const char *text, int *a, int *b)
{
    int used = -1;
    if (std::sscanf(text, "%d-%d%n", a, b, &used) == 2 && text[used] == '\0')
        return 2;
    used = -1;
    if (std::sscanf(text, "%d%n", a, &used) == 1 && text[used] == '\0') {
        *b = *a;
        return 1;
    }
    return 0;
}

/* Reads "N-M r g b" or "N r g b" (whole word). */
static int parseColorSpec(const char *text, PaletteSet *s)
{
    int used = -1;
    if (std::sscanf(text, "%d-%d %d %d %d %n", &s->from, &s->to, &s->rgb[0],
                    &s->rgb[1], &s->rgb[2], &used) == 5
            && text[used] == '\0')
        return 1;
    used = -1;
    if (std::sscanf(text, "%d %d %d %d %n", &s->from, &s->rgb[0], &s->rgb[1],
                    &s->rgb[2], &used) == 4
            && text[used] == '\0') {
        s->to = s->from;
        return 1;
    }
    return 0;
}

static void appendEntry(Tcl_Interp *interp, const RAMImage *r, int i)
{
    char buf[64];
    std::snprintf(buf, sizeof buf, "%d %d %d %d", i, r->info.palette[i][0],
                  r->info.palette[i][1], r->info.palette[i][2]);
    Tcl_AppendElement(interp, buf);
}

/*
 * rimgGetIndices --
 *	rimage getIndices TAG|FILE ?index|from-to ...?
 * Results:
 *	"index r g b" per palette entry in use or per listed index; empty
 *	for an image without palette.
 */
int rimgGetIndices(ImageInfo *, Tcl_Interp *interp, int argc,
                   const char **argv)
{
    if (argc < 3) {
        Tcl_ResetResult(interp);
        Tcl_AppendResult(interp, "Usage: ", argv[0],
                         " getIndices imgid [index]", nullptr);
        return TCL_ERROR;
    }
    OpenedImage image(argv[2]);
    RAMImage *r = image.r;
    if (!r)
        return rimgNameError(interp, "Error in open ", argv[2]);
    Tcl_ResetResult(interp);
    if (r->info.nindices < 1)
        return TCL_OK;
    if (argc == 3) {
        for (int i = 0; i < r->info.nindices && i < 256; i++)
            appendEntry(interp, r, i);
        return TCL_OK;
    }
    std::vector<int> indices;
    for (int k = 3; k < argc; k++) {
        int a, b;
        if (!parseIndexSpec(argv[k], &a, &b) || a < 0 || a > 255 || b < 0
                || b > 255)
            return rimgError(interp, "Invalid index.");
        if (a > b)
            std::swap(a, b);
        for (int i = a; i <= b; i++)
            indices.push_back(i);
    }
    for (int i : indices)
        appendEntry(interp, r, i);
    return TCL_OK;
}

/*
 * rimgSetIndices --
 *	rimage setIndices TAG|FILE {index r g b} ...: sets palette entries
 *	(single indices or "from-to" ranges).
 * Results:
 *	The result of writing the palette to the file.
 * Side effects:
 *	Nothing changes unless every index entry is valid.
 */
int rimgSetIndices(ImageInfo *, Tcl_Interp *interp, int argc,
                   const char **argv)
{
    if (argc < 4) {
        Tcl_ResetResult(interp);
        Tcl_AppendResult(interp, "Usage: ", argv[0],
                         " setIndices imgid {index r g b} ...", nullptr);
        return TCL_ERROR;
    }
    OpenedImage image(argv[2]);
    RAMImage *r = image.r;
    if (!r)
        return rimgNameError(interp, "Error in open ", argv[2]);
    if (r->info.nindices < 1)
        return rimgError(interp, "Not a color index image.");
    std::vector<PaletteSet> sets;
    for (int k = 3; k < argc; k++) {
        PaletteSet s;
        if (!parseColorSpec(argv[k], &s))
            return rimgError(interp, "Invalid color index specification.");
        if (s.from > s.to)
            std::swap(s.from, s.to);
        bool ok = s.from >= 0 && s.to < r->info.nindices && s.to < 256;
        for (int c : s.rgb)
            ok = ok && c >= 0 && c <= 255;
        if (!ok)
            return rimgError(interp, "Invalid color index specification.");
        sets.push_back(s);
    }
    for (const PaletteSet &s : sets)
        for (int i = s.from; i <= s.to; i++)
            for (int c = 0; c < 3; c++)
                r->info.palette[i][c] = (unsigned char)s.rgb[c];
    int rc = updateImageIndices(r->fd, &r->info, r->privateData);
    Tcl_SetObjResult(interp, Tcl_NewIntObj(rc));
    return TCL_OK;
}
