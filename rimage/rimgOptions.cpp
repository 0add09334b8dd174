/*
 * rimgOptions.cpp --
 *
 *	The configuration-table engine of the rimage command: option lookup
 *	by unique prefix, value parsing into a record at each entry's offset,
 *	and the query texts, all worded as Tk's own configuration routines
 *	word them.  Custom options call their Tk_CustomOption procedures
 *	with a null window.
 */
#include "rimage/rimgOptions.h"

#include <cstring>
#include <string>

/* Finds the entry of an option word: an exact name or a unique prefix.
 * Null with Tk's message in the result otherwise. */
static const Tk_ConfigSpec *findSpec(Tcl_Interp *interp,
                                     const Tk_ConfigSpec *entries,
                                     const char *argvName)
{
    size_t length = std::strlen(argvName);
    char c = argvName[0] ? argvName[1] : 0;
    const Tk_ConfigSpec *match = nullptr;
    for (const Tk_ConfigSpec *s = entries; s->type != TK_CONFIG_END; s++) {
        if (!s->argvName || s->argvName[1] != c
                || std::strncmp(s->argvName, argvName, length) != 0)
            continue;
        if (s->argvName[length] == 0)
            return s;
        if (match) {
            Tcl_SetObjResult(interp, Tcl_ObjPrintf(
                "ambiguous option \"%.50s\"", argvName));
            return nullptr;
        }
        match = s;
    }
    if (!match)
        Tcl_SetObjResult(interp, Tcl_ObjPrintf("unknown option \"%.50s\"",
                                               argvName));
    return match;
}

/* Parses one value into the record field of entry. */
static int setValue(Tcl_Interp *interp, const Tk_ConfigSpec *entry,
                    const char *value, char *record)
{
    char *field = record + entry->offset;
    switch (entry->type) {
    case TK_CONFIG_INT: {
        int v;
        if (Tcl_GetInt(interp, value, &v) != TCL_OK)
            return TCL_ERROR;
        std::memcpy(field, &v, sizeof v);
        return TCL_OK;
    }
    case TK_CONFIG_DOUBLE: {
        double v;
        if (Tcl_GetDouble(interp, value, &v) != TCL_OK)
            return TCL_ERROR;
        std::memcpy(field, &v, sizeof v);
        return TCL_OK;
    }
    case TK_CONFIG_CUSTOM:
        if (entry->customPtr->parseProc(entry->customPtr->clientData, interp,
                                       nullptr, value, record, entry->offset))
            return TCL_ERROR;
        return TCL_OK;
    default:
        Tcl_SetObjResult(interp, Tcl_NewStringObj(
            "bad config table: unknown type", -1));
        return TCL_ERROR;
    }
}

/* The current value of entry's field as text. */
static std::string formatValue(const Tk_ConfigSpec *entry, const char *record)
{
    const char *field = record + entry->offset;
    switch (entry->type) {
    case TK_CONFIG_INT: {
        int v;
        std::memcpy(&v, field, sizeof v);
        return std::to_string(v);
    }
    case TK_CONFIG_DOUBLE: {
        double v;
        std::memcpy(&v, field, sizeof v);
        char buf[TCL_DOUBLE_SPACE];
        Tcl_PrintDouble(nullptr, v, buf);
        return buf;
    }
    case TK_CONFIG_CUSTOM: {
        Tcl_FreeProc *freeProc = nullptr;
        const char *s = entry->customPtr->printProc(
            entry->customPtr->clientData, nullptr, const_cast<char *>(record),
            entry->offset, &freeProc);
        std::string text = s ? s : "";
        if (s && freeProc) {
            if (freeProc == TCL_DYNAMIC)
                Tcl_Free(const_cast<char *>(s));
            else
                freeProc(const_cast<char *>(s));
        }
        return text;
    }
    default:
        return "";
    }
}

/* One option's five-element entry. */
static Tcl_Obj *infoEntry(const Tk_ConfigSpec *entry, const char *record)
{
    Tcl_Obj *e = Tcl_NewListObj(0, nullptr);
    const char *parts[4] = {entry->argvName, entry->dbName, entry->dbClass,
                            entry->defValue};
    for (const char *p : parts)
        Tcl_ListObjAppendElement(nullptr, e, Tcl_NewStringObj(p ? p : "", -1));
    std::string v = formatValue(entry, record);
    Tcl_ListObjAppendElement(nullptr, e,
                             Tcl_NewStringObj(v.data(), (int)v.size()));
    return e;
}

/*
 * rimgConfigureDefaults --
 *	Parses every entry's default value into record.
 */
int rimgConfigureDefaults(Tcl_Interp *interp, const Tk_ConfigSpec *entries,
                          char *record)
{
    for (const Tk_ConfigSpec *s = entries; s->type != TK_CONFIG_END; s++) {
        if (s->defValue && setValue(interp, s, s->defValue, record) != TCL_OK)
            return TCL_ERROR;
    }
    return TCL_OK;
}

/*
 * rimgConfigureWidget --
 *	Applies option/value pairs to record as Tk_ConfigureWidget does with
 *	TK_CONFIG_ARGV_ONLY.
 * Results:
 *	TCL_OK, or TCL_ERROR with Tk's message ("unknown option ...",
 *	"value for ... missing", the value's parse error).
 * Side effects:
 *	The pairs before a failing one stay applied (callers work on a
 *	copy); the error information names the option being processed.
 */
int rimgConfigureWidget(Tcl_Interp *interp, const Tk_ConfigSpec *entries,
                        int argc, const char *const *argv, char *record)
{
    for (int i = 0; i < argc; i += 2) {
        const Tk_ConfigSpec *entry = findSpec(interp, entries, argv[i]);
        if (!entry)
            return TCL_ERROR;
        if (i + 1 >= argc) {
            Tcl_SetObjResult(interp, Tcl_ObjPrintf(
                "value for \"%.50s\" missing", argv[i]));
            return TCL_ERROR;
        }
        Tcl_ResetResult(interp);
        if (setValue(interp, entry, argv[i + 1], record) != TCL_OK) {
            Tcl_AppendObjToErrorInfo(interp, Tcl_ObjPrintf(
                "\n    (processing \"%.40s\" option)", entry->argvName));
            return TCL_ERROR;
        }
    }
    return TCL_OK;
}

/*
 * rimgConfigureInfo --
 *	The query text of Tk_ConfigureInfo: a list of entries, or with
 *	argvName the one entry as a flat list.
 */
int rimgConfigureInfo(Tcl_Interp *interp, const Tk_ConfigSpec *entries,
                      const char *record, const char *argvName)
{
    if (argvName) {
        const Tk_ConfigSpec *entry = findSpec(interp, entries, argvName);
        if (!entry)
            return TCL_ERROR;
        Tcl_SetObjResult(interp, infoEntry(entry, record));
        return TCL_OK;
    }
    Tcl_Obj *all = Tcl_NewListObj(0, nullptr);
    for (const Tk_ConfigSpec *s = entries; s->type != TK_CONFIG_END; s++)
        Tcl_ListObjAppendElement(nullptr, all, infoEntry(s, record));
    Tcl_SetObjResult(interp, all);
    return TCL_OK;
}

/*
 * rimgConfigureValue --
 *	The current value of one option, as Tk_ConfigureValue gives it.
 */
int rimgConfigureValue(Tcl_Interp *interp, const Tk_ConfigSpec *entries,
                       const char *record, const char *argvName)
{
    const Tk_ConfigSpec *entry = findSpec(interp, entries, argvName);
    if (!entry)
        return TCL_ERROR;
    std::string v = formatValue(entry, record);
    Tcl_SetObjResult(interp, Tcl_NewStringObj(v.data(), (int)v.size()));
    return TCL_OK;
}
