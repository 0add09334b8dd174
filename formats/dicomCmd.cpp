/*
 * dicomCmd.cpp --
 *
 *	The `dicom` command: a process-wide dictionary of element names and
 *	value representations that scripts fill (add, get, index, count), and
 *	the listing of the element table of a DICOM file or of an open DICOM
 *	raster (data).  The table itself is read by dicom.cpp.
 */
#include "formats/dicom.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "core/imgtype.h"
#include "core/ramimg.h"

/* A dictionary entry: what the script said about one tag. */
struct DicomName {
    uint16_t vr;            /* value representation number (dicomID) */
    unsigned char vm1, vm2; /* value multiplicity bounds, as given */
    std::string name;
};

/* Key DICOM_KEY(group, element); ascending order is the index order. */
typedef std::map<uint32_t, DicomName> DicomDictionary;

static DicomDictionary *dictionary = nullptr;

static DicomDictionary &dicomDictionary(void)
{
    if (!dictionary)
        dictionary = new DicomDictionary;
    return *dictionary;
}

/*
 * dicomFreeDictionary --
 *	Frees the dictionary when it exists.
 */
void dicomFreeDictionary(void)
{
    delete dictionary;
    dictionary = nullptr;
}

static void dicomDeleteProc(ClientData)
{
    dicomFreeDictionary();
}

static int setError(Tcl_Interp *interp, const std::string &message)
{
    Tcl_SetObjResult(interp, Tcl_NewStringObj(message.c_str(), -1));
    return TCL_ERROR;
}

/* Parses a hexadecimal tag number (0 .. 0xFFFF). */
static bool parseHex(const char *text, unsigned *out)
{
    if (!text || !*text)
        return false;
    char *end;
    errno = 0;
    unsigned long v = std::strtoul(text, &end, 16);
    if (*end || errno || v > 0xFFFF || text[0] == '-')
        return false;
    *out = (unsigned)v;
    return true;
}

static int hexError(Tcl_Interp *interp, const char *text)
{
    return setError(interp, std::string("expected hexadecimal number but got \"")
                                + text + "\"");
}

/* The get/index form of a dictionary entry. */
static std::string formatName(uint32_t key, const DicomName &d)
{
    bool blank = d.name.find_first_of(" \t") != std::string::npos;
    std::string name = blank ? "\"" + d.name + "\"" : d.name;
    char head[64];
    std::snprintf(head, sizeof head, "%04x %04x %s %d %d ",
                  (unsigned)(key >> 16), (unsigned)(key & 0xFFFF),
                  dicomVR(d.vr), d.vm1, d.vm2);
    return head + name;
}

/*
 * dicomAdd --
 *	dicom add {group element VR vm1 vm2 name} ...: enters every list
 *	(all are checked before any is entered); result: the number of names.
 */
static int dicomAdd(Tcl_Interp *interp, int argc, const char **argv)
{
    std::vector<std::pair<uint32_t, DicomName>> adds;
    for (int i = 2; i < argc; i++) {
        int n;
        const char **w;
        if (Tcl_SplitList(interp, argv[i], &n, &w) != TCL_OK)
            return TCL_ERROR;
        std::unique_ptr<const char *, void (*)(const char **)> hold(
            w, [](const char **p) { Tcl_Free((char *)p); });
        if (n != 6)
            return setError(interp, std::string("dictionary entry must be "
                                "{group element VR vm1 vm2 name}: ") + argv[i]);
        unsigned group, element;
        if (!parseHex(w[0], &group))
            return hexError(interp, w[0]);
        if (!parseHex(w[1], &element))
            return hexError(interp, w[1]);
        int vm1, vm2;
        if (Tcl_GetInt(interp, w[3], &vm1) != TCL_OK
                || Tcl_GetInt(interp, w[4], &vm2) != TCL_OK)
            return TCL_ERROR;
        DicomName d;
        d.vr = (uint16_t)dicomID(w[2]);
        d.vm1 = (unsigned char)vm1;
        d.vm2 = (unsigned char)vm2;
        d.name = w[5];
        adds.emplace_back(DICOM_KEY(group, element), d);
    }
    DicomDictionary &dict = dicomDictionary();
    for (auto &a : adds)
        dict[a.first] = a.second;
    Tcl_SetObjResult(interp, Tcl_NewIntObj((int)dict.size()));
    return TCL_OK;
}

/*
 * dicomGet --
 *	dicom get group element: the dictionary entry, empty when unknown.
 */
static int dicomGet(Tcl_Interp *interp, int argc, const char **argv)
{
    if (argc < 4)
        return setError(interp, std::string("Usage: ") + argv[0] + " "
                                    + argv[1] + " group element");
    if (argc > 4)
        return setError(interp, "Syntax error");
    unsigned group, element;
    if (!parseHex(argv[2], &group))
        return hexError(interp, argv[2]);
    if (!parseHex(argv[3], &element))
        return hexError(interp, argv[3]);
    DicomDictionary &dict = dicomDictionary();
    auto it = dict.find(DICOM_KEY(group, element));
    if (it != dict.end())
        Tcl_SetObjResult(interp, Tcl_NewStringObj(
            formatName(it->first, it->second).c_str(), -1));
    return TCL_OK;
}

/*
 * dicomIndex --
 *	dicom index ?from? ?to?: the entries at positions from..to (counted
 *	from 0, clipped to the dictionary) in ascending tag order.
 */
static int dicomIndex(Tcl_Interp *interp, int argc, const char **argv)
{
    if (argc > 4)
        return setError(interp, "Syntax error");
    DicomDictionary &dict = dicomDictionary();
    int from = 0, to = (int)dict.size() - 1;
    if (argc > 2 && Tcl_GetInt(interp, argv[2], &from) != TCL_OK)
        return TCL_ERROR;
    if (argc > 3 && Tcl_GetInt(interp, argv[3], &to) != TCL_OK)
        return TCL_ERROR;
    Tcl_Obj *list = Tcl_NewListObj(0, nullptr);
    int i = 0;
    for (const auto &kv : dict) {
        if (i >= from && i <= to)
            Tcl_ListObjAppendElement(nullptr, list, Tcl_NewStringObj(
                formatName(kv.first, kv.second).c_str(), -1));
        i++;
    }
    Tcl_SetObjResult(interp, list);
    return TCL_OK;
}

/*
 * dicomCount --
 *	dicom count: the number of names in the dictionary.
 */
static int dicomCount(Tcl_Interp *interp, int argc, const char **)
{
    if (argc > 2)
        return setError(interp, "Syntax error");
    Tcl_SetObjResult(interp, Tcl_NewIntObj((int)dicomDictionary().size()));
    return TCL_OK;
}

/* The value of an element as the listing shows it, for representation
 * number vr; size bytes of value are held. */
static std::string dicomValueText(const DicomEntry *e, int vr)
{
    static const char *const textVRs[] = {"AS", "CS", "DA", "DS", "IS", "LT",
                                          "PN", "SH", "TM", "UI", "LO"};
    const char *code = dicomVR(vr);
    uint32_t n = e->size;
    const unsigned char *v = e->value;
    bool unknown = vr < 0 || vr > 26;
    std::string s;
    bool isText = vr == 0 && n != 2 && n != 4;
    for (const char *t : textVRs)
        if (!unknown && std::strcmp(code, t) == 0)
            isText = true;
    if (!unknown && std::strcmp(code, "US") == 0) {
        if (n >= 2)
            s = std::to_string(v[0] | v[1] << 8);
    } else if (isText) {
        s = reinterpret_cast<const char *>(v);
    } else if ((vr == 0 || unknown) && n == 2) {
        s = std::to_string(v[0] | v[1] << 8);
    } else if ((vr == 0 || unknown) && n == 4) {
        uint32_t u = (uint32_t)v[0] | (uint32_t)v[1] << 8
                     | (uint32_t)v[2] << 16 | (uint32_t)v[3] << 24;
        s = std::to_string((int32_t)u);
    } else if (unknown) {
        for (uint32_t i = 0; i < n; i++)
            s += v[i] < 32 || v[i] == 127 ? '.' : (char)v[i];
    } else {
        s = code;
    }
    size_t b = s.find_first_not_of(' ');
    if (b == std::string::npos)
        return std::string();
    return s.substr(b, s.find_last_not_of(' ') - b + 1);
}

/*
 * dicomPrint --
 *	Appends one element as five list elements: group, element, VR code,
 *	name and value, taken from the dictionary ("??" for an unknown name).
 */
static void dicomPrint(Tcl_DString *out, const DicomEntry *e)
{
    const DicomDictionary &dict = dicomDictionary();
    auto it = dict.find(DICOM_KEY(e->group, e->element));
    int vr = it == dict.end() ? 0 : it->second.vr;
    char tag[8];
    std::snprintf(tag, sizeof tag, "%04x", e->group);
    Tcl_DStringAppendElement(out, tag);
    std::snprintf(tag, sizeof tag, "%04x", e->element);
    Tcl_DStringAppendElement(out, tag);
    Tcl_DStringAppendElement(out, dicomVR(vr));
    Tcl_DStringAppendElement(out, it == dict.end() ? "??"
                                                   : it->second.name.c_str());
    Tcl_DStringAppendElement(out, dicomValueText(e, vr).c_str());
}

/* The keys of a table in ascending order. */
static std::vector<uint32_t> sortedKeys(Tcl_HashTable *t)
{
    std::vector<uint32_t> keys;
    Tcl_HashSearch search;
    for (Tcl_HashEntry *h = Tcl_FirstHashEntry(t, &search); h;
         h = Tcl_NextHashEntry(&search))
        keys.push_back((uint32_t)(uintptr_t)Tcl_GetHashKey(t, h));
    std::sort(keys.begin(), keys.end());
    return keys;
}

typedef std::unique_ptr<Tcl_HashTable, void (*)(Tcl_HashTable *)> TableHold;

/* The element table named by word: an open raster's tag or file name, or
 * a file read for the occasion (then owned by hold).  Null after setting
 * the error message. */
static Tcl_HashTable *dicomTableOf(Tcl_Interp *interp, const char *word,
                                   TableHold &hold)
{
    RAMImage *r = getRAMImageByTag(word);
    if (!r)
        r = getRAMImageByName(word);
    if (r) {
        if (r->info.mapid != MAP_DICOM || !r->privateData) {
            setError(interp, std::string("Not a DICOM image") + word);
            return nullptr;
        }
        return static_cast<Tcl_HashTable *>(r->privateData);
    }
    Tcl_DString buffer;
    Tcl_DStringInit(&buffer);
    const char *path = Tcl_TranslateFileName(nullptr, word, &buffer);
    int fd = path ? open(path, O_RDWR) : -1;
    Tcl_DStringFree(&buffer);
    if (fd < 0) {
        setError(interp, std::string("Error in open:") + word);
        return nullptr;
    }
    long dataOffset;
    Tcl_HashTable *t = getDicomHashTable(fd, &dataOffset);
    close(fd);
    if (!t) {
        setError(interp, std::string("Not a DICOM image") + word);
        return nullptr;
    }
    hold.reset(t);
    return t;
}

/*
 * dicomData --
 *	dicom data imgid ?group? ?element?: the elements of the image, the
 *	element numbers of a group, or one element with its chain listed.
 */
static int dicomData(Tcl_Interp *interp, int argc, const char **argv)
{
    if (argc < 3)
        return setError(interp, std::string("Usage: ") + argv[0] + " "
                                    + argv[1] + " imgid ?option?");
    if (argc > 5)
        return setError(interp, "Syntax error");
    unsigned group = 0, element = 0;
    if (argc > 3 && !parseHex(argv[3], &group))
        return hexError(interp, argv[3]);
    if (argc > 4 && !parseHex(argv[4], &element))
        return hexError(interp, argv[4]);
    TableHold hold(nullptr, deleteDicomHashTable);
    Tcl_HashTable *t = dicomTableOf(interp, argv[2], hold);
    if (!t)
        return TCL_ERROR;

    Tcl_DString out;
    Tcl_DStringInit(&out);
    char text[16];
    if (argc == 3) {
        for (uint32_t key : sortedKeys(t)) {
            std::snprintf(text, sizeof text, "%04x %04x", key >> 16,
                          key & 0xFFFF);
            Tcl_DStringAppendElement(&out, text);
        }
    } else if (argc == 4) {
        for (uint32_t key : sortedKeys(t)) {
            if (key >> 16 != group)
                continue;
            std::snprintf(text, sizeof text, "%04x", key & 0xFFFF);
            Tcl_DStringAppendElement(&out, text);
        }
    } else {
        for (const DicomEntry *e = getDicomEntry(t, (int)group, (int)element);
             e; e = e->next) {
            if (Tcl_DStringLength(&out) > 0)
                Tcl_DStringAppend(&out, "\n", 1);
            dicomPrint(&out, e);
        }
    }
    Tcl_DStringResult(interp, &out);
    return TCL_OK;
}

typedef int (DicomProc)(Tcl_Interp *interp, int argc, const char **argv);

struct DicomSubcommand {
    const char *name;
    size_t minLength;
    DicomProc *proc;
};

static const DicomSubcommand dicomSubcommands[] = {
    {"add", 1, dicomAdd},   {"count", 1, dicomCount}, {"data", 1, dicomData},
    {"get", 1, dicomGet},   {"index", 1, dicomIndex},
};

/*
 * dicomCmd --
 *	Dispatches `dicom` subcommands by prefix.
 */
static int dicomCmd(ClientData, Tcl_Interp *interp, int argc,
                    const char **argv)
{
    if (argc < 2)
        return setError(interp, std::string("Usage: ") + argv[0] + " option");
    const char *word = argv[1];
    size_t len = std::strlen(word);
    for (const auto &s : dicomSubcommands)
        if (len >= s.minLength && std::strncmp(s.name, word, len) == 0)
            return s.proc(interp, argc, argv);
    return setError(interp, std::string("bad option \"") + word
                            + "\": must be add, count, data, get or index");
}

/*
 * Dicom_Init --
 *	Creates the `dicom` command.  Returns 0, or 1 when it cannot.
 */
int Dicom_Init(Tcl_Interp *interp)
{
    return Tcl_CreateCommand(interp, "dicom", dicomCmd, nullptr,
                             dicomDeleteProc) ? 0 : 1;
}
