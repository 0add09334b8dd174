/*
 * geoCalcDialog.cpp --
 *
 *	The "CML> " dialogue over a GCP store (geoCalc.h).  Lines come from
 *	the console (console/conStream.h: the stdio interpreter's standard
 *	input, or a console window's), text goes to the package's standard
 *	output.  The end of the input ends the dialogue as "quit" does.  Help
 *	texts come from the file named by $HDOC followed by the store's help
 *	file name: the lines after "@TOPIC" up to "@END".
 */
#include "modules/geoCalcDialog.h"

#include <unistd.h>

#include <strings.h>

#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "console/conStream.h"
#include "core/stdstream.h"
#include "core/velk.h"
#include "modules/geoCalc.h"

namespace {

/* Lines of the point list between two "More" questions. */
const int listPage = 20;

struct Dialog {
    GeoCalcStore *store;
    int order;              /* of the last "calculate" */
    bool fullHelpPath;      /* the help file name was typed in whole */
};

typedef std::vector<std::string> Words;

/* Reads one console line (without its newline) after flushing what was
 * printed.  Results: false at the end of the input. */
bool readLine(std::string *line)
{
    line->clear();
    Tcl_Interp *interp = tclInterp;
    if (!interp)
        return false;
    if (!consoleApp) {
        Tcl_Channel out = Tcl_GetChannel(interp, "stdout", nullptr);
        if (out)
            Tcl_Flush(out);
    }
    Tcl_DString ds;
    Tcl_DStringInit(&ds);
    int n = consoleGets(&ds);
    line->assign(Tcl_DStringValue(&ds), Tcl_DStringLength(&ds));
    Tcl_DStringFree(&ds);
    if (n == 0 && !consoleApp) {
        Tcl_Channel in = Tcl_GetChannel(interp, "stdin", nullptr);
        if (!in || Tcl_Eof(in))
            return false;
    }
    while (!line->empty() && (line->back() == '\r' || line->back() == '\n'))
        line->pop_back();
    return true;
}

Words splitWords(const std::string &line)
{
    Words words;
    size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && std::isspace((unsigned char)line[i]))
            i++;
        size_t start = i;
        while (i < line.size() && !std::isspace((unsigned char)line[i]))
            i++;
        if (i > start)
            words.push_back(line.substr(start, i - start));
    }
    return words;
}

/* Asks a yes/no question.  Results: true for an answer y or Y (or a
 * word starting with it); any other answer but n is "Invalid input",
 * taken as no. */
bool askYes(const char *question)
{
    stdoutPrintf("%s", question);
    std::string answer;
    if (!readLine(&answer))
        return false;
    Words w = splitWords(answer);
    if (w.size() == 1 && (w[0][0] == 'y' || w[0][0] == 'Y'))
        return true;
    if (w.size() != 1 || (w[0][0] != 'n' && w[0][0] != 'N'))
        stdoutPrintf("Invalid input\n");
    return false;
}

bool toNumber(const std::string &word, double *value)
{
    char *end;
    errno = 0;
    *value = std::strtod(word.c_str(), &end);
    return *end == '\0' && errno == 0 && std::isfinite(*value);
}

bool toInt(const std::string &word, int *value)
{
    char *end;
    errno = 0;
    long v = std::strtol(word.c_str(), &end, 10);
    if (*end != '\0' || errno != 0 || v < -2147483647L || v > 2147483647L)
        return false;
    *value = (int)v;
    return true;
}

/* Checks the word count of a command: words after the command word
 * between least and most. */
bool argCount(const Words &w, size_t least, size_t most)
{
    if (w.size() - 1 < least) {
        stdoutPrintf("Need more parameter(s)\n");
        return false;
    }
    if (w.size() - 1 > most) {
        stdoutPrintf("Too many parameters\n");
        return false;
    }
    return true;
}

/* Index of the point with an id, -1 (after "Can not find") if none. */
int findPoint(Dialog *d, const std::string &word)
{
    int id;
    if (!toInt(word, &id)) {
        stdoutPrintf("Invalid parameter(s)\n");
        return -1;
    }
    for (size_t i = 0; i < d->store->recs.size(); i++)
        if (d->store->recs[i].id == id)
            return (int)i;
    stdoutPrintf("Can not find\n");
    return -1;
}

/* The four coordinates of words 2 .. 5. */
bool readCoordinates(const Words &w, double *c)
{
    for (int k = 0; k < 4; k++)
        if (!toNumber(w[2 + k], &c[k])) {
            stdoutPrintf("Invalid parameter(s)\n");
            return false;
        }
    return true;
}

void cmdAdd(Dialog *d, const Words &w)
{
    if (!argCount(w, 5, 5))
        return;
    int id;
    double c[4];
    if (!toInt(w[1], &id)) {
        stdoutPrintf("Invalid parameter(s)\n");
        return;
    }
    if (!readCoordinates(w, c))
        return;
    char text[200];
    std::snprintf(text, sizeof text, "1 %d %.17g %.17g %.17g %.17g", id,
                  c[0], c[1], c[2], c[3]);
    std::string message;
    if (geoCalcAddRec(d->store, text, &message) != GEO_OK)
        stdoutPrintf("%s", message.c_str());
}

void cmdUpdate(Dialog *d, const Words &w)
{
    if (!argCount(w, 5, 5))
        return;
    int i = findPoint(d, w[1]);
    double c[4];
    if (i < 0 || !readCoordinates(w, c))
        return;
    GeoCalcRec &r = d->store->recs[i];
    r.x1 = c[0];
    r.y1 = c[1];
    r.x2 = c[2];
    r.y2 = c[3];
    d->store->fitted = 0;
}

void cmdDelete(Dialog *d, const Words &w)
{
    if (!argCount(w, 1, 1))
        return;
    int i = findPoint(d, w[1]);
    if (i < 0)
        return;
    d->store->recs.erase(d->store->recs.begin() + i);
    d->store->fitted = 0;
}

/* select ID|all Y|N */
void cmdSelect(Dialog *d, const Words &w)
{
    if (!argCount(w, 2, 2))
        return;
    char flag = w[2][0];
    if (w[2].size() != 1 || !std::strchr("YyNn", flag)) {
        stdoutPrintf("Invalid parameter(s)\n");
        return;
    }
    int on = flag == 'Y' || flag == 'y';
    if (w[1] == "all") {
        for (GeoCalcRec &r : d->store->recs)
            r.selected = on;
    } else {
        int i = findPoint(d, w[1]);
        if (i < 0)
            return;
        d->store->recs[i].selected = on;
    }
    d->store->fitted = 0;
}

void cmdExchange(Dialog *d, const Words &w)
{
    if (!argCount(w, 0, 0))
        return;
    for (GeoCalcRec &r : d->store->recs) {
        std::swap(r.x1, r.x2);
        std::swap(r.y1, r.y2);
        r.dx = r.dy = 0.0f;
    }
    d->store->fitted = 0;
    stdoutPrintf("Exchanged the frames of %d points\n",
                 (int)d->store->recs.size());
}

void cmdList(Dialog *d, const Words &w)
{
    if (!argCount(w, 0, 0))
        return;
    const std::vector<GeoCalcRec> &recs = d->store->recs;
    if (recs.empty()) {
        stdoutPrintf("No loaded records\n");
        return;
    }
    stdoutPrintf("\n No  ID       X1           Y1     "
                 "      X2           Y2         DX       DY");
    stdoutPrintf("\n%s", std::string(75, '_').c_str());
    for (size_t i = 0; i < recs.size(); i++) {
        if (i > 0 && i % listPage == 0 && !askYes("\nMore (Y/N)? "))
            break;
        const GeoCalcRec &r = recs[i];
        stdoutPrintf("\n%3d %4d %12.3f %12.3f %12.3f %12.3f %8.4f %8.4f%s",
                     (int)i + 1, r.id, r.x1, r.y1, r.x2, r.y2, r.dx, r.dy,
                     r.selected ? "" : " *");
    }
    stdoutPrintf("\n");
}

void printCoefficients(const char *name, const double *c, int n)
{
    stdoutPrintf("%s:\n", name);
    for (int k = 0; k < n; k++)
        stdoutPrintf("%15.7E%s", c[k], (k % 5 == 4 || k == n - 1) ? "\n"
                                                                   : "");
}

/* calculate ?ORDER? */
void cmdCalculate(Dialog *d, const Words &w)
{
    if (!argCount(w, 0, 1))
        return;
    int order = d->order;
    if (w.size() == 2 && (!toInt(w[1], &order)
                          || geoTermCount(order) < 0)) {
        stdoutPrintf("Invalid parameter(s)\n");
        return;
    }
    int rc = geoCalcEquation(d->store, order);
    if (rc == 1)
        stdoutPrintf("Need more control point\n");
    if (rc == 2)
        stdoutPrintf("%s\n", geoCalcSingular);
    if (rc != 0)
        return;
    d->order = order;
    double cx[GEO_MAX_TERMS], cy[GEO_MAX_TERMS], rms[3];
    int n = geoCalcGetX(d->store, cx);
    geoCalcGetY(d->store, cy);
    geoCalcGetMSR(d->store, rms);
    stdoutPrintf("\nOrder %d, %d selected GCPs\n", order,
                 geoCalcSelectedCount(d->store));
    printCoefficients("X2 coefficients", cx, n);
    printCoefficients("Y2 coefficients", cy, n);
    stdoutPrintf("RMS  X: %.4f  Y: %.4f  Total: %.4f\n", rms[0], rms[1],
                 rms[2]);
}

/* grid X0 Y0 DX DY NX NY: fitted source positions of a target grid. */
void cmdGrid(Dialog *d, const Words &w)
{
    if (!argCount(w, 6, 6))
        return;
    double v[4];
    int nx, ny;
    for (int k = 0; k < 4; k++)
        if (!toNumber(w[1 + k], &v[k])) {
            stdoutPrintf("Invalid parameter(s)\n");
            return;
        }
    if (!toInt(w[5], &nx) || !toInt(w[6], &ny) || nx < 1 || ny < 1
            || (long)nx * ny > 100000) {
        stdoutPrintf("Invalid parameter(s)\n");
        return;
    }
    GeoParams p;
    if (makeGeoParams(d->store, &p) != 0) {
        stdoutPrintf("Need more control point\n");
        return;
    }
    stdoutPrintf("\n      X1           Y1           X2           Y2");
    for (int j = 0; j < ny; j++)
        for (int i = 0; i < nx; i++) {
            double x1 = v[0] + i * v[2], y1 = v[1] + j * v[3], x2, y2;
            geoParamsMap(&p, x1, y1, &x2, &y2);
            stdoutPrintf("\n%12.3f %12.3f %12.3f %12.3f", x1, y1, x2, y2);
        }
    stdoutPrintf("\n");
}

/* load append|over FILE */
void cmdLoad(Dialog *d, const Words &w)
{
    if (!argCount(w, 2, 2))
        return;
    if (w[1] != "append" && w[1] != "over") {
        stdoutPrintf("Invalid parameter(s)\n");
        return;
    }
    std::string message;
    int n = geoCalcLoadFile(d->store, w[2].c_str(), w[1] == "over",
                            &message);
    if (n < 0) {
        stdoutPrintf("%s%s", message.c_str(),
                     message.back() == '\n' ? "" : "\n");
        return;
    }
    stdoutPrintf("%d records loaded\n", n);
}

/* saved FILE: the points as a GCP file. */
void cmdSaveD(Dialog *d, const Words &w)
{
    if (w.size() < 2) {
        stdoutPrintf("File name missing\n");
        return;
    }
    if (!argCount(w, 1, 1))
        return;
    if (d->store->recs.empty()) {
        stdoutPrintf("No record to save\n");
        return;
    }
    if (access(w[1].c_str(), F_OK) == 0 && !askYes("Over write it ? "))
        return;
    std::string message;
    if (geoCalcSaveFile(d->store, w[1].c_str(), &message) != 0)
        stdoutPrintf("%s\n", message.c_str());
}

/* savef FILE: the rectification parameter file of the last fit. */
void cmdSaveF(Dialog *d, const Words &w)
{
    if (w.size() < 2) {
        stdoutPrintf("File name missing\n");
        return;
    }
    if (!argCount(w, 1, 1))
        return;
    std::string message;
    if (geoCalcPutFunc(d->store, w[1].c_str(), &message) != 0)
        stdoutPrintf("%s\n", message.c_str());
}

/* Opens the help file, asking for another name while it cannot be
 * opened and the user wants to go on.  Results: the file or null. */
FILE *openHelp(Dialog *d)
{
    for (;;) {
        std::string path = d->store->helpFile;
        if (!d->fullHelpPath) {
            const char *dir = std::getenv("HDOC");
            path = std::string(dir ? dir : "") + path;
        }
        FILE *f = std::fopen(path.c_str(), "r");
        if (f)
            return f;
        stdoutPrintf("\nError in fopen\n");
        stderrPerror(path.c_str());
        if (!askYes("Continue (Y/N)? "))
            return nullptr;
        stdoutPrintf("\nEnter full path for the help file name: ");
        std::string name;
        if (!readLine(&name))
            return nullptr;
        Words nw = splitWords(name);
        if (nw.size() != 1) {
            stdoutPrintf("Invalid input\n");
            return nullptr;
        }
        d->store->helpFile = nw[0];
        d->fullHelpPath = true;
    }
}

void cmdHelp(Dialog *d, const Words &w)
{
    if (!argCount(w, 0, 1))
        return;
    std::string topic = w.size() > 1 ? w[1] : "help";
    std::unique_ptr<FILE, int (*)(FILE *)> f(openHelp(d), std::fclose);
    if (!f)
        return;
    char line[1024];
    bool inEntry = false, found = false;
    while (std::fgets(line, sizeof line, f.get())) {
        Words lw = splitWords(line);
        if (inEntry) {
            if (!lw.empty() && lw[0] == "@END")
                break;
            stdoutPrintf("%s", line);
            continue;
        }
        if (!lw.empty() && lw[0].size() == topic.size() + 1
                && lw[0][0] == '@'
                && strcasecmp(lw[0].c_str() + 1, topic.c_str()) == 0)
            inEntry = found = true;
    }
    if (!found) {
        stdoutPrintf("\nCan't find the entry of the help.");
        stdoutPrintf("\nPlease type HELP to get a list of command entry.\n");
    }
}

struct DialogCmd {
    const char *name;
    void (*proc)(Dialog *d, const Words &w);
};

const DialogCmd dialogCmds[] = {
    {"add", cmdAdd},           {"calculate", cmdCalculate},
    {"delete", cmdDelete},     {"update", cmdUpdate},
    {"list", cmdList},         {"load", cmdLoad},
    {"saved", cmdSaveD},       {"savef", cmdSaveF},
    {"select", cmdSelect},     {"help", cmdHelp},
    {"exchange", cmdExchange}, {"grid", cmdGrid},
};

}  // namespace

/*
 * geoCalc --
 *	The dialogue: prompts "\nCML> ", runs each line's command.
 * Results:
 *	0 after "quit" or the end of the input.
 */
int geoCalc(void)
{
    std::unique_ptr<GeoCalcStore, void (*)(GeoCalcStore *)> store(
        geoCalcInit(), geoCalcFree);
    Dialog d = {store.get(), 1, false};
    for (;;) {
        stdoutPrintf("\nCML> ");
        std::string line;
        if (!readLine(&line))
            break;
        Words w = splitWords(line);
        if (w.empty())
            continue;
        if (w[0] == "quit")
            break;
        const DialogCmd *cmd = nullptr;
        for (const DialogCmd &c : dialogCmds)
            if (w[0] == c.name)
                cmd = &c;
        if (cmd)
            cmd->proc(&d, w);
        else
            stdoutPrintf("Unknown command\n");
    }
    stdoutPrintf("\n");
    return 0;
}
