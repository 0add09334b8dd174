/*
 * moduleFrame.h --
 *
 *	What every analysis module shares: option tables in the two parsing
 *	styles, comma lists of numbers, band lists, the progress meter with
 *	the pause/abort poll, and the opening, finishing or discarding of an
 *	output image.  A module's entry is `<name>Ap(command, argc, argv)`
 *	with the words after the subcommand; it returns 2 after printing its
 *	usage, 1 on success and 0 on failure (rimage/rimgCmd.cpp maps these).
 */
#ifndef VELK_MODULEFRAME_H
#define VELK_MODULEFRAME_H

#include "core/ramimg.h"

/* One entry of a module's option table; a null option ends the table.
 * Values point into the command's words and are never copied. */
struct ModuleParam {
    const char *option;     /* "-in", or "key=" for parseParams tables */
    const char *value;      /* null while not given */
};

/* Prints the usage text on standard output: "Usage: <command> <options>"
 * (options: the words after the command, ending in a newline), then each
 * line of the null-ended `lines` indented by two blanks. */
void moduleUsage(const char *command, const char *options,
                 const char *const *lines);

/* Longest band list (entries of each side). */
#define MODULE_MAX_BANDS 8192

/* Clears every value, then takes the words in pairs: the first entry
 * still unset whose option equals the even word gets the next word.
 * Results: the number of pairs that matched no entry (an option given
 * twice, an unknown word, an option without a value). */
int parseConfig(ModuleParam *table, int argc, const char **argv);

/* keyword=value style: the index of the entry whose keyword starts the
 * word (its value becomes the rest of the word), else -1. */
int paramParser(ModuleParam *table, int count, const char *word);
/* Word 0 becomes the value of entry 0; the others go to paramParser.
 * Results: matched words plus one. */
int parseParams(int argc, const char **argv, ModuleParam *table, int count);

/* Split text at commas; the first max pieces are converted (atof, atol).
 * Results: the number of pieces, also those beyond max; 0 for a null
 * text; -1 when out of memory. */
int passFloats(const char *text, float *values, int max);
int passLongs(const char *text, long *values, int max);

/* Band lists.  Text: tokens separated by ';', ',' or blanks, each "list"
 * or "list:list"; a list is items "n" or "a-b" (a > b counts down) joined
 * by commas; numbers are 1-based.  parseBands fills 0-based input and
 * output lists (each of MODULE_MAX_BANDS entries) and returns their
 * length, 0 on any error ("Error in band params.\n" for malformed text,
 * no message for a band out of range).  Without text both lists are
 * 0 .. min(inBands, outBands) - 1. */
int parseBands(int inBands, int outBands, int *inList, int *outList,
               const char *text);
/* One token "list" or "list:list": the 1-based numbers as written, at
 * most max of each side stored.  Results: the entries of each side
 * (which may exceed max), -1 when malformed or the sides differ. */
int parseBandsDef(int *inList, int *outList, int max, const char *token);
/* One plain list "1-3,5" up to the end of text: the 1-based numbers as
 * written, at most max stored.  Results: the entries the text defines
 * (which may exceed max), -1 when malformed. */
int parseBandDef(const char *text, int *list, int max);
/* Reads the run of digits at *cursor into *value and moves the cursor
 * past it.  Results: the character after the number ('\0', ',' or '-'),
 * or -1 when the cursor is not at a digit or another character follows. */
int getNextBand(const char **cursor, int *value);

/* The progress meter of a module run: meterSet(label, threshold) when
 * the finished fraction reaches the threshold (from 0.05, raised by
 * meterInc()), and the pause/abort poll after every row. */
struct ModuleMeter {
    const char *label;      /* shown beside the bar, e.g. "gstats" */
    double threshold;       /* next fraction to show */
};

void moduleMeterStart(ModuleMeter *m, const char *label);
/* Reports that `done` of `total` rows are finished and polls the run
 * status (checkRimageStatus).  Results: 1 to go on, 0 when the user
 * asked to abort: the caller stops, cleans up and fails. */
int moduleMeterRow(ModuleMeter *m, long done, long total);
/* meterSet(label, 1.0). */
void moduleMeterEnd(ModuleMeter *m);
/* Prints "<command> canceled...\n" on standard error. */
void moduleReportCanceled(const char *command);

/* The shell of a module entry: without words calls usage(command) and
 * gives 2; else parses the words into `table` (parseConfig) and fails
 * after "Error: %d unknown param(s).\n" when pairs are unknown, else
 * gives run(table, command), printing `noMemory` and failing when the
 * run runs out of memory.  The meter is reset afterwards. */
int moduleEntry(const char *command, int argc, const char **argv,
                ModuleParam *table, int (*usage)(const char *command),
                int (*run)(const ModuleParam *table, const char *command),
                const char *noMemory);

/* Opens an input image by tag or file name (as `rimage open` would find
 * or load it).  Results: the record or null, code in *errorOut. */
RAMImage *moduleOpenImage(const char *name, int *errorOut);

/* An input image held for one run: closed when the holder goes. */
struct ModuleImage {
    RAMImage *r = nullptr;
    ModuleImage() = default;
    ModuleImage(const ModuleImage &) = delete;
    ModuleImage &operator=(const ModuleImage &) = delete;
    ~ModuleImage()
    {
        if (r)
            closeRAMImage(r, nullptr);
    }
};

/* Opens an input into `image` as moduleOpenImage does; a failure prints
 * `message` (a format with one %s, the name) and the store's text on
 * standard error.  Results: the record or null. */
RAMImage *moduleOpenInput(ModuleImage *image, const char *name,
                          const char *message);

/* An output image of one run. */
struct ModuleOutput {
    RAMImage *image;        /* null until opened */
    int created;            /* 1 when this run created the file */
    char fileName[256];     /* the created file, for discarding */
};

/* The description of a new output: a copy of the input's with the file
 * name, pixel type, image type and band count replaced (bits follow the
 * pixel type; no volumes, no second descriptor).  A module may change
 * more fields before moduleOpenOutput. */
void moduleOutputInfo(ImageInfo *info, const ImageInfo *input,
                      const char *fileName, int pixel, int imgid,
                      int nbands);
/* Opens `name` as an existing image; when that fails creates it from
 * `info` (its file name is replaced by name) with openRAMImageNew, never
 * overwriting an existing file.  Results: the record or null, the store's
 * code in *errorOut. */
RAMImage *moduleOpenOutput(ModuleOutput *out, const char *name,
                           ImageInfo *info, int *errorOut);
/* After a successful run: writes the dirty lines, tells the clients to
 * redraw and closes the run's use. */
void moduleFinishOutput(ModuleOutput *out);
/* After a failed run: closes the run's use and removes a file the run
 * created (when nobody else holds it), so no half-written output is left
 * that looks complete.  An existing output keeps what was written. */
void moduleDiscardOutput(ModuleOutput *out);

/* An output held for one run: unless the run finished it, it is
 * discarded when the holder goes (also when an exception ends the run). */
struct ModuleHeldOutput : ModuleOutput {
    ModuleHeldOutput() : ModuleOutput() {}
    ModuleHeldOutput(const ModuleHeldOutput &) = delete;
    ModuleHeldOutput &operator=(const ModuleHeldOutput &) = delete;
    ~ModuleHeldOutput() { moduleDiscardOutput(this); }
};

#endif
