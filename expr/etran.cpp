/*
 * etran.cpp --
 *
 *	The `etran` command: the expression parser's pieces laid open
 *	and testing (tokens, the token table, symbol lists, the temporary
 *	counter) and its interactive drivers.  Subcommands are matched as
 *	prefixes of at least their minimum length (whole words when shorter).
 */
#include "expr/etran.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "core/stdstream.h"
#include "expr/etranDrivers.h"
#include "expr/etranParse.h"
#include "expr/etranToken.h"

typedef int (EtranSubCmdProc)(Tcl_Interp *interp, int argc,
                              const char **argv);

struct EtranSubCmd {
    const char *name;
    int minLength;
    EtranSubCmdProc *proc;
};

/* "Usage: etran <subcommand><tail>" unless argc is `words`. */
static bool wrongCount(Tcl_Interp *interp, int argc, const char **argv,
                       int words, const char *tail)
{
    if (argc == words)
        return false;
    Tcl_ResetResult(interp);
    Tcl_AppendResult(interp, "Usage: ", argv[0], tail, nullptr);
    return true;
}

/* The token's table entry through one of the getters. */
static int tokenInfo(Tcl_Interp *interp, int argc, const char **argv,
                     const char *tail, int (*getter)(int))
{
    if (wrongCount(interp, argc, argv, 3, tail))
        return TCL_ERROR;
    Tcl_SetObjResult(interp, Tcl_NewIntObj(getter(tokenGetID(argv[2]))));
    return TCL_OK;
}

static int isOperator(int id)
{
    return tokenGetType(id) == TOKEN_OPERATOR;
}

static int etranIsopr(Tcl_Interp *interp, int argc, const char **argv)
{
    return tokenInfo(interp, argc, argv, " isopr token", isOperator);
}

static int etranNvars(Tcl_Interp *interp, int argc, const char **argv)
{
    return tokenInfo(interp, argc, argv, " nvars token", tokenGetnVars);
}

static int etranPriority(Tcl_Interp *interp, int argc, const char **argv)
{
    return tokenInfo(interp, argc, argv, " priority token",
                     tokenGetPriority);
}

static int etranToken(Tcl_Interp *interp, int argc, const char **argv)
{
    if (wrongCount(interp, argc, argv, 3, " token str"))
        return TCL_ERROR;
    std::string out;
    for (const char *t = nextToken(argv[2]); t; t = nextToken(nullptr)) {
        out += t;
        out += ' ';
    }
    Tcl_SetObjResult(interp, Tcl_NewStringObj(out.c_str(), -1));
    return TCL_OK;
}

/* The symbol lists of every statement of the expression, one element
 * "result first operator second" per node.  A parse error is the
 * error's message. */
static int etranParser(Tcl_Interp *interp, int argc, const char **argv)
{
    if (wrongCount(interp, argc, argv, 3, " parser expression"))
        return TCL_ERROR;
    Tcl_Obj *result = Tcl_NewListObj(0, nullptr);
    for (ExprNode *tree = exprToTree(argv[2]); tree;
         tree = exprToTree(nullptr)) {
        SymbNode *list = treeToSymbList(tree);
        for (const SymbNode *s = list; s; s = s->next) {
            std::string node = std::string(s->result) + " "
                               + symbText(s->first) + " " + s->opr + " "
                               + symbText(s->second);
            Tcl_ListObjAppendElement(
                nullptr, result, Tcl_NewStringObj(node.c_str(), -1));
        }
        freeSymbList(list);
    }
    if (exprStatus() == EXPR_ERROR) {
        Tcl_DecrRefCount(result);
        Tcl_SetObjResult(interp, Tcl_NewStringObj(exprError(), -1));
        return TCL_ERROR;
    }
    Tcl_SetObjResult(interp, result);
    return TCL_OK;
}

static int etranResetvar(Tcl_Interp *interp, int, const char **)
{
    resetTempVar();
    Tcl_ResetResult(interp);
    return TCL_OK;
}

/* The drivers take no further words. */
static int runDriver(Tcl_Interp *interp, void (*driver)(void))
{
    driver();
    Tcl_ResetResult(interp);
    return TCL_OK;
}

static int etranParser0(Tcl_Interp *interp, int, const char **)
{
    return runDriver(interp, etranStackDriver);
}

static int etranParser1(Tcl_Interp *interp, int, const char **)
{
    return runDriver(interp, etranTreeDriver);
}

static int etranParser2(Tcl_Interp *interp, int, const char **)
{
    return runDriver(interp, etranItemDriver);
}

static int etranParser3(Tcl_Interp *interp, int, const char **)
{
    return runDriver(interp, etranProgramDriver);
}

static const EtranSubCmd subCommands[] = {
    {"isopr", 4, etranIsopr},
    {"nvars", 4, etranNvars},
    {"parser", 6, etranParser},
    {"parser0", 7, etranParser0},
    {"parser1", 7, etranParser1},
    {"parser2", 7, etranParser2},
    {"parser3", 7, etranParser3},
    {"priority", 7, etranPriority},
    {"resetvar", 4, etranResetvar},
    {"token", 7, etranToken},
};

static const EtranSubCmd *findSubCmd(const char *word)
{
    size_t length = std::strlen(word);
    for (const EtranSubCmd &c : subCommands) {
        size_t need = std::min(std::strlen(c.name), (size_t)c.minLength);
        if (length >= need && std::strncmp(c.name, word, length) == 0
                && length <= std::strlen(c.name))
            return &c;
    }
    return nullptr;
}

/*
 * etranCmd --
 *	The etran command procedure.
 * Results:
 *	The subcommand's; without one the usage line is printed.
 */
static int etranCmd(ClientData, Tcl_Interp *interp, int argc,
                    const char **argv)
{
    Tcl_ResetResult(interp);
    if (argc < 2) {
        stdoutPrintf("Usage: etran isopr|nvars|parser|parser0|parser1|"
                     "parser2|parser3|priority|resetvar|token\n");
        return TCL_OK;
    }
    const EtranSubCmd *c = findSubCmd(argv[1]);
    if (!c) {
        stderrPrintf("Unkndow command of etran\n");
        return TCL_ERROR;
    }
    return c->proc(interp, argc, argv);
}

/*
 * Etran_Init --
 *	Creates the etran command.
 * Results:
 *	0, or 1 when the command could not be created.
 */
int Etran_Init(Tcl_Interp *interp)
{
    return Tcl_CreateCommand(interp, "etran", etranCmd, nullptr, nullptr)
               ? 0 : 1;
}
