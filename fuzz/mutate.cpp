/*
 * mutate.cpp --
 *
 *	The mutation run: takes image files (every file below the folders
 *	named), makes damaged copies of each (cut short, or a few header
 *	bytes changed; seeded, so every copy can be made again) and hands
 *	every copy to exerciseImageFile in a child process under a time and
 *	memory limit.  A copy must either open and be read through, or be
 *	refused with a store error; a crash, a sanitizer report, a time-out
 *	or more memory than the limit is a failure, and the copy is kept in
 *	the findings folder under a name that says how it was made.
 *
 *	Usage: velk_mutate ?-seed N? ?-mutants K? ?-seconds S? ?-limit T?
 *	                   ?-memory MIB? ?-findings DIR? ?-v? PATH ...
 *	Each file is exercised whole and as K copies (default 3); with
 *	-seconds, rounds of K new copies per file follow until S seconds
 *	have passed.  T is the time limit of one copy (default 10 s), MIB
 *	its memory limit (default 2048).  Ends with "N passed, N failed".
 */
#undef USE_TCL_STUBS
#undef USE_TK_STUBS
#include <tcl.h>
#undef Tcl_InitStubs

#include <dirent.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <random>
#include <string>
#include <vector>

#include "core/ramimg.h"
#include "core/stdstream.h"
#include "core/velk.h"
#include "fuzz/exercise.h"

extern "C" const char *Tcl_InitStubs(Tcl_Interp *, const char *, int);

#if defined(__SANITIZE_ADDRESS__)
#define UNDER_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define UNDER_ASAN 1
#endif
#endif

struct Options {
    uint64_t seed = 1;
    int mutants = 3;
    double seconds = 0;
    int limit = 10;
    int64_t memoryMiB = 2048;
    std::string findings;
    bool verbose = false;
    std::vector<std::string> paths;
};

/* One damaged copy: its bytes and how it was made. */
struct Mutant {
    std::vector<unsigned char> bytes;
    std::string how;
};

struct Outcome {
    bool ok;
    int err;                /* store error of the open, -1 unknown */
    std::string why;        /* failure */
    double seconds;
    int64_t maxrssKiB;
};

static bool verbose = false;

static void printOutput(int, const char *text, int length)
{
    if (verbose)
        std::fwrite(text, 1, (size_t)length, stderr);
}

static double now(void)
{
    timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return t.tv_sec + t.tv_nsec * 1e-9;
}

/* Every regular file at or below path, appended to files. */
static void listFiles(const std::string &path, std::vector<std::string> &files)
{
    struct stat st;
    if (stat(path.c_str(), &st) != 0)
        return;
    if (S_ISREG(st.st_mode)) {
        files.push_back(path);
        return;
    }
    if (!S_ISDIR(st.st_mode))
        return;
    DIR *d = opendir(path.c_str());
    if (!d)
        return;
    std::vector<std::string> names;
    while (struct dirent *e = readdir(d))
        if (e->d_name[0] != '.')
            names.push_back(e->d_name);
    closedir(d);
    for (const std::string &n : names)
        listFiles(path + "/" + n, files);
}

static bool readWhole(const std::string &path, std::vector<unsigned char> &out)
{
    FILE *f = std::fopen(path.c_str(), "rb");
    if (!f)
        return false;
    out.clear();
    unsigned char buf[65536];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0)
        out.insert(out.end(), buf, buf + n);
    std::fclose(f);
    return true;
}

static bool writeWhole(const std::string &path,
                       const std::vector<unsigned char> &bytes)
{
    FILE *f = std::fopen(path.c_str(), "wb");
    if (!f)
        return false;
    bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    return std::fclose(f) == 0 && ok;
}

/* The file's name below the folder given, so that seeds do not depend on
 * where the checkout is. */
static std::string baseName(const std::string &path)
{
    size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

static uint64_t nameHash(const std::string &s)
{
    uint64_t h = 1469598103934665603ull;
    for (unsigned char c : s)
        h = (h ^ c) * 1099511628211ull;
    return h;
}

/* Copy k of round `round` of a file: every third one cut short, the
 * others with one to four bytes of the first kilobyte (the header)
 * changed, now and then one more anywhere. */
static Mutant makeMutant(const std::vector<unsigned char> &orig,
                         uint64_t seed, uint64_t fileHash, int round, int k)
{
    static const unsigned char special[] = {0x00, 0x01, 0x7F, 0x80, 0xFF,
                                            0xFE, 0x21, 0x10};
    std::seed_seq seq{(uint32_t)seed, (uint32_t)(seed >> 32),
                      (uint32_t)fileHash, (uint32_t)(fileHash >> 32),
                      (uint32_t)round, (uint32_t)k};
    std::mt19937_64 rng(seq);
    Mutant m;
    m.bytes = orig;
    char text[64];
    if (orig.empty() || k % 3 == 0) {
        size_t cut = orig.empty() ? 0 : rng() % orig.size();
        m.bytes.resize(cut);
        std::snprintf(text, sizeof text, "cut%zu", cut);
        m.how = text;
        return m;
    }
    size_t header = std::min<size_t>(orig.size(), 1024);
    int changes = 1 + (int)(rng() % 4);
    for (int i = 0; i < changes; i++) {
        size_t at = rng() % header;
        if (i == changes - 1 && rng() % 4 == 0)
            at = rng() % orig.size();
        unsigned char v = rng() % 2 ? special[rng() % sizeof special]
                                    : (unsigned char)rng();
        m.bytes[at] = v;
        std::snprintf(text, sizeof text, "%s%zu=%02x", i ? "," : "at", at, v);
        m.how += text;
    }
    return m;
}

/* Runs exerciseImageFile on path in a child process. */
static Outcome runChild(const std::string &path, const Options &o)
{
    Outcome out{false, -1, "", 0, 0};
    double t0 = now();
    pid_t pid = fork();
    if (pid < 0) {
        out.why = "fork failed";
        return out;
    }
    if (pid == 0) {
#ifndef UNDER_ASAN
        /* Allocations past the limit fail instead of taking the
         * machine (AddressSanitizer reserves too much address space for
         * this; its run checks the resident size afterwards). */
        rlimit as;
        as.rlim_cur = as.rlim_max = (rlim_t)(o.memoryMiB + 512) << 20;
        setrlimit(RLIMIT_AS, &as);
#endif
        alarm((unsigned)o.limit);
        int err = exerciseImageFile(path.c_str());
        std::exit(10 + (err >= 0 && err < 10 ? err : 9));
    }
    int status = 0;
    rusage usage;
    while (wait4(pid, &status, 0, &usage) < 0)
        ;
    out.seconds = now() - t0;
    out.maxrssKiB = usage.ru_maxrss;
    if (WIFSIGNALED(status)) {
        out.why = WTERMSIG(status) == SIGALRM
                      ? "no result within " + std::to_string(o.limit) + " s"
                      : std::string("signal ") + strsignal(WTERMSIG(status));
    } else if (WEXITSTATUS(status) < 10 || WEXITSTATUS(status) > 19) {
        out.why = "exit status " + std::to_string(WEXITSTATUS(status));
    } else if (out.maxrssKiB > o.memoryMiB * 1024) {
        out.why = std::to_string(out.maxrssKiB / 1024) + " MiB resident";
    } else {
        out.ok = true;
        out.err = WEXITSTATUS(status) - 10;
    }
    return out;
}

static bool parseOptions(int argc, char **argv, Options &o)
{
    for (int i = 1; i < argc; i++) {
        std::string a = argv[i];
        bool more = i + 1 < argc;
        if (a == "-seed" && more)
            o.seed = std::strtoull(argv[++i], nullptr, 10);
        else if (a == "-mutants" && more)
            o.mutants = std::atoi(argv[++i]);
        else if (a == "-seconds" && more)
            o.seconds = std::atof(argv[++i]);
        else if (a == "-limit" && more)
            o.limit = std::max(1, std::atoi(argv[++i]));
        else if (a == "-memory" && more)
            o.memoryMiB = std::max(64, std::atoi(argv[++i]));
        else if (a == "-findings" && more)
            o.findings = argv[++i];
        else if (a == "-v")
            o.verbose = true;
        else if (!a.empty() && a[0] == '-')
            return false;
        else
            o.paths.push_back(a);
    }
    return !o.paths.empty() && o.mutants >= 0;
}

int main(int argc, char **argv)
{
    Options o;
    if (!parseOptions(argc, argv, o)) {
        std::fprintf(stderr, "usage: %s ?-seed N? ?-mutants K? ?-seconds S?"
                     " ?-limit T? ?-memory MIB? ?-findings DIR? ?-v?"
                     " PATH ...\n", argv[0]);
        return 2;
    }
    verbose = o.verbose;
    Tcl_FindExecutable(argv[0]);
    Tcl_Interp *interp = Tcl_CreateInterp();
    if (!Tcl_InitStubs(interp, "8.6", 0))
        return 2;
    Tcl_SetVar(interp, "velkAppScripts", "", TCL_GLOBAL_ONLY);
    if (Velk_Init(interp) != TCL_OK) {
        std::fprintf(stderr, "Velk_Init: %s\n", Tcl_GetStringResult(interp));
        return 2;
    }
    setStdStreamSink(printOutput);
    /* The store never tries a cache beyond the memory limit. */
    setRAMImageBufLimit((o.memoryMiB << 20) * 3 / 4);

    std::vector<std::string> files;
    for (const std::string &p : o.paths)
        listFiles(p, files);
    std::sort(files.begin(), files.end());
    files.erase(std::unique(files.begin(), files.end()), files.end());
    char scratchTemplate[] = "/tmp/velkmutate.XXXXXX";
    if (!mkdtemp(scratchTemplate))
        return 2;
    const std::string scratch = scratchTemplate, copy = scratch + "/copy";
    if (!o.findings.empty())
        mkdir(o.findings.c_str(), 0700);

    int runs = 0, opened = 0, refused = 0, failed = 0, rounds = 0;
    double slowest = 0, start = now();
    int64_t biggest = 0;
    std::string slowestName, biggestName;
    bool timeUp = false;
    for (int round = 0; !timeUp; round++) {
        /* Copy by copy over all files, so that a timed pass reaches
         * every file before it makes a second copy of any. */
        for (int k = round == 0 ? -1 : 0; k < o.mutants && !timeUp; k++) {
            for (const std::string &file : files) {
                std::vector<unsigned char> orig;
                if (!readWhole(file, orig))
                    continue;
                std::string name = baseName(file);
                uint64_t h = nameHash(name);
                Mutant m;
                if (k < 0)
                    m = {orig, "whole"};
                else
                    m = makeMutant(orig, o.seed, h, round, k);
                if (!writeWhole(copy, m.bytes))
                    return 2;
                Outcome r = runChild(copy, o);
                runs++;
                std::string what = name + " " + m.how + " (seed "
                                   + std::to_string(o.seed) + ", round "
                                   + std::to_string(round) + ")";
                if (r.seconds > slowest) {
                    slowest = r.seconds;
                    slowestName = what;
                }
                if (r.maxrssKiB > biggest) {
                    biggest = r.maxrssKiB;
                    biggestName = what;
                }
                if (!r.ok) {
                    failed++;
                    std::printf("FAILED %s: %s\n", what.c_str(),
                                r.why.c_str());
                    if (!o.findings.empty())
                        writeWhole(o.findings + "/" + name + "." + m.how
                                   + ".r" + std::to_string(round),
                                   m.bytes);
                } else if (r.err == 0) {
                    opened++;
                } else {
                    refused++;
                }
                if (o.verbose)
                    std::printf("%s: %s %.3f s %lld KiB\n", what.c_str(),
                                r.ok ? (r.err ? ramimgError(r.err) : "read")
                                     : r.why.c_str(),
                                r.seconds, (long long)r.maxrssKiB);
                if (o.seconds > 0 && now() - start >= o.seconds) {
                    timeUp = true;
                    break;
                }
            }
        }
        rounds++;
        if (o.seconds <= 0)
            break;
    }
    unlink(copy.c_str());
    rmdir(scratch.c_str());
    std::printf("mutate: %zu files, %d rounds, %d runs in %.1f s: %d opened"
                " and read, %d refused, %d failed\n", files.size(), rounds,
                runs, now() - start, opened, refused, failed);
    std::printf("mutate: slowest %.2f s (%s); most memory %lld MiB (%s)\n",
                slowest, slowestName.c_str(), (long long)(biggest / 1024),
                biggestName.c_str());
    std::printf("%d passed, %d failed\n", runs - failed, failed);
    Tcl_DeleteInterp(interp);
    return failed ? 1 : 0;
}
