/*
 * gimgRender_bench.cpp --
 *
 *	Redraws of a 1920 x 1080 gimg window showing a 3-band BYTE image with
 *	HISTEQ: full redraws, redraws after a pan of 100 pixels and after a
 *	change of magnification, each split into computing (reading, lookup,
 *	packing) and the transfer to the X server.  For comparison the same
 *	equalisation and lookup of a 1920 x 1080 x 3 picture with numpy, and
 *	with OpenCV's equalizeHist and LUT where Python has it.  Then the
 *	memory of showing, panning and zooming a 20000 x 20000 x 3 file: the
 *	process's peak resident size.
 *
 *	Needs an X server: xvfb-run -s "-screen 0 1920x1080x24" gimgRender_bench
 *	Usage: gimgRender_bench ?directory? ?bigSize?  (default /tmp 20000; a
 *	bigSize of 0 skips the large file).  Files are made there and removed.
 */
#undef USE_TCL_STUBS
#undef USE_TK_STUBS
#include <tcl.h>
#include <tk.h>

#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "benchClock.h"
#include "benchImage.h"
#include "core/imgtype.h"
#include "core/rowThreads.h"
#include "core/velk.h"
#include "gimg/gimgRender.h"

namespace {

/* A BIL file of BYTE bands with the raw header: smooth structure plus
 * noise, so that the histograms are far from flat. */
bool makeScene(const std::string &path, int columns, int rows, int nbands)
{
    if (!benchCreateBasic(path, IMG_BIL, PIXEL_BYTE, columns, rows, nbands))
        return false;
    int fd = open(path.c_str(), O_WRONLY);
    if (fd < 0)
        return false;
    std::vector<unsigned char> block;
    const int linesPerWrite = std::max(1, (4 << 20) / (columns * nbands));
    unsigned seed = 12345;
    bool ok = true;
    for (int y = 0; y < rows && ok; y += linesPerWrite) {
        int n = std::min(linesPerWrite, rows - y);
        block.resize((size_t)n * nbands * columns);
        unsigned char *p = block.data();
        for (int k = 0; k < n; k++)
            for (int b = 0; b < nbands; b++)
                for (int x = 0; x < columns; x++) {
                    seed = seed * 1103515245u + 12345u;
                    int base = b == 0   ? 40 + ((x / 7) % 150)
                               : b == 1 ? 60 + (((y + k) / 5) % 120)
                                        : 90 + ((x + y + k) / 11) % 60;
                    *p++ = (unsigned char)(base + ((seed >> 16) % 40));
                }
        off_t at = BASIC_HEADER_SIZE + (off_t)y * nbands * columns;
        ok = pwrite(fd, block.data(), block.size(), at)
             == (ssize_t)block.size();
    }
    close(fd);
    return ok;
}

struct Redraws {
    double wall = 0, cpu = 0;
    GimgRenderTimes split;
    int count = 0;
};

/* Runs `script` (which changes the image or just asks for a redraw) and
 * the redraw it causes, n times; the display is synchronised each time. */
Redraws timeRedraws(Tcl_Interp *interp, Display *display, int n,
                    const char *script)
{
    Redraws r;
    Tcl_Eval(interp, "update");
    XSync(display, False);
    gimgRenderTimes(1);
    double w0 = wallSeconds(), c0 = processCpuSeconds();
    for (int i = 0; i < n; i++) {
        Tcl_SetVar2Ex(interp, "i", nullptr, Tcl_NewIntObj(i), 0);
        if (Tcl_Eval(interp, script) != TCL_OK)
            std::fprintf(stderr, "%s\n", Tcl_GetStringResult(interp));
        Tcl_Eval(interp, "update idletasks");
        XSync(display, False);
    }
    r.wall = (wallSeconds() - w0) / n;
    r.cpu = (processCpuSeconds() - c0) / n;
    r.split = gimgRenderTimes(1);
    r.count = n;
    return r;
}

void report(const char *what, const Redraws &r)
{
    double builds = std::max(r.split.builds, 1);
    std::printf("%-28s %6.2f ms/redraw (%5.1f/s), cpu %6.2f ms; "
                "compute %5.2f ms, transfer %5.2f ms, other %5.2f ms\n",
                what, r.wall * 1e3, 1 / r.wall, r.cpu * 1e3,
                r.split.compute / builds * 1e3,
                r.split.transfer / builds * 1e3,
                (r.wall - (r.split.compute + r.split.transfer) / builds)
                    * 1e3);
}

/* Milliseconds of the peer's equalisation and lookup of a 1920 x 1080 x
 * 3 picture, measured by Python; negative when it cannot run. */
double peerMilliseconds(const char *code)
{
    std::string cmd = "/usr/bin/python3 - 2>/dev/null <<'PY'\n";
    cmd += "import time\nimport numpy as np\n";
    cmd += "rng = np.random.default_rng(1)\n";
    cmd += "pic = rng.integers(40, 230, (1080, 1920, 3), dtype=np.uint8)\n";
    cmd += code;
    cmd += "\nbest = 1e9\nfor _ in range(20):\n    t = time.perf_counter()\n"
           "    out = run(pic)\n    best = min(best, time.perf_counter() - t)\n"
           "print(best * 1e3)\nPY";
    FILE *p = popen(cmd.c_str(), "r");
    if (!p)
        return -1;
    double ms = -1;
    if (std::fscanf(p, "%lf", &ms) != 1)
        ms = -1;
    pclose(p);
    return ms;
}

const char *numpyPeer =
    "def run(pic):\n"
    "    out = np.empty_like(pic)\n"
    "    for c in range(3):\n"
    "        h = np.bincount(pic[:, :, c].ravel(), minlength=256)\n"
    "        cdf = np.cumsum(h)\n"
    "        lut = (255 * (cdf - cdf[0]) / max(cdf[-1] - cdf[0], 1)).astype(np.uint8)\n"
    "        out[:, :, c] = lut[pic[:, :, c]]\n"
    "    return out\n";

const char *opencvPeer =
    "import cv2\n"
    "cv2.setNumThreads(1)\n"
    "def run(pic):\n"
    "    planes = [cv2.equalizeHist(pic[:, :, c]) for c in range(3)]\n"
    "    lut = np.arange(256, dtype=np.uint8)[::-1].copy()\n"
    "    return cv2.LUT(cv2.merge(planes), lut)\n";

long peakResidentKiB(void)
{
    rusage u;
    getrusage(RUSAGE_SELF, &u);
    return u.ru_maxrss;
}

long residentKiB(void)
{
    FILE *f = std::fopen("/proc/self/statm", "r");
    long pages = 0, resident = 0;
    if (f) {
        if (std::fscanf(f, "%ld %ld", &pages, &resident) != 2)
            resident = 0;
        std::fclose(f);
    }
    return resident * (sysconf(_SC_PAGESIZE) / 1024);
}

bool eval(Tcl_Interp *interp, const std::string &script)
{
    if (Tcl_Eval(interp, script.c_str()) == TCL_OK)
        return true;
    std::fprintf(stderr, "%s\n", Tcl_GetStringResult(interp));
    return false;
}

} // namespace

int benchMain(Tcl_Interp *interp, int argc, char **argv)
{
    std::string dir = argc > 1 ? argv[1] : "/tmp";
    int bigSize = argc > 2 ? std::atoi(argv[2]) : 20000;
    if (Tcl_Init(interp) != TCL_OK || Tk_Init(interp) != TCL_OK
        || Velk_Init(interp) != TCL_OK) {
        std::fprintf(stderr, "cannot start Tk and Velk: %s\n",
                     Tcl_GetStringResult(interp));
        return 1;
    }
    Display *display = Tk_Display(Tk_MainWindow(interp));
    std::printf("screen depth %d, %d worker threads%s\n",
                DefaultDepth(display, DefaultScreen(display)),
                rowThreadsCount(),
                std::getenv("VELK_NO_SHM") ? ", no shared memory" : "");

    std::string scene = dir + "/gimgRender_bench_" + std::to_string(getpid())
                        + ".img";
    if (!makeScene(scene, 4000, 3000, 3)) {
        std::fprintf(stderr, "cannot make %s\n", scene.c_str());
        unlink(scene.c_str());
        return 1;
    }
    bool ok = eval(interp,
                   "wm withdraw .\n"
                   "toplevel .b -bd 0 -highlightthickness 0\n"
                   "wm geometry .b +0+0\n"
                   "label .b.l -bd 0 -highlightthickness 0 -padx 0 -pady 0\n"
                   "pack .b.l\n"
                   "image create gimg v -maxw 1920 -maxh 1080\n"
                   "v configure -file {" + scene + "} -comb 3/2/1 "
                   "-palette 8/8/4 -func HISTEQ -sc 1000 -sr 1000\n"
                   ".b.l configure -image v\n"
                   "update\n");
    if (ok) {
        std::printf("4000 x 3000 x 3 BYTE (BIL file), window 1920 x 1080, "
                    "HISTEQ\n");
        report("full redraw", timeRedraws(interp, display, 40, "v update"));
        report("after a pan of 100 pixels",
               timeRedraws(interp, display, 20,
                           "v configure -sc [expr {$i % 2 ? 1000 : 1100}]"));
        report("after a zoom change",
               timeRedraws(interp, display, 20,
                           "v configure -mx [expr {$i % 2 ? 1 : 1.5}] "
                           "-my [expr {$i % 2 ? 1 : 1.5}]"));
        eval(interp, "v configure -mx 1 -my 1 -sc 1000");
        double mp = 1920.0 * 1080 / 1e6;
        Redraws full = timeRedraws(interp, display, 20, "v update");
        double ours = full.split.compute / std::max(full.split.builds, 1)
                      * 1e3 / mp;
        std::printf("lookup and packing: %.2f ms per megapixel\n", ours);
        double np = peerMilliseconds(numpyPeer);
        if (np > 0)
            std::printf("numpy equalisation + lookup: %.2f ms per megapixel,"
                        " ratio %.2f\n", np / mp, ours / (np / mp));
        double cv = peerMilliseconds(opencvPeer);
        if (cv > 0)
            std::printf("OpenCV equalizeHist + LUT: %.2f ms per megapixel, "
                        "ratio %.2f\n", cv / mp, ours / (cv / mp));
        else
            std::printf("OpenCV not installed (about 0.8 ms per megapixel "
                        "elsewhere): ratio %.2f\n", ours / 0.8);
    }
    eval(interp, "image delete v");
    unlink(scene.c_str());

    if (ok && bigSize > 0) {
        std::string big = dir + "/gimgRender_bench_big_"
                          + std::to_string(getpid()) + ".img";
        std::printf("making %d x %d x 3 BYTE ...\n", bigSize, bigSize);
        std::fflush(stdout);
        long before = residentKiB();
        if (!makeScene(big, bigSize, bigSize, 3)) {
            std::fprintf(stderr, "cannot make %s\n", big.c_str());
        } else {
            double t = wallSeconds();
            eval(interp, "image create gimg w -maxw 1920 -maxh 1080\n"
                         "w configure -file {" + big + "} -comb 3/2/1 "
                         "-palette 8/8/4 -func HISTEQ\n"
                         ".b.l configure -image w\nupdate\n");
            std::printf("first display (statistics included): %.1f s\n",
                        wallSeconds() - t);
            const char *steps[] = {
                "w configure -sc 10000 -sr 10000", "w configure -sc 10100",
                "w configure -mx 0.1 -my 0.1 -sc 0 -sr 0",
                "w configure -mx 3 -my 3 -sc 19000 -sr 19000",
            };
            for (const char *s : steps) {
                t = wallSeconds();
                eval(interp, std::string(s) + "\nupdate");
                XSync(display, False);
                std::printf("%-44s %7.1f ms, resident %ld MiB\n", s,
                            (wallSeconds() - t) * 1e3, residentKiB() / 1024);
            }
            std::printf("peak resident size %ld MiB (%ld MiB before the "
                        "large file)\n",
                        peakResidentKiB() / 1024, before / 1024);
            eval(interp, ".b.l configure -image {}\nimage delete w");
        }
        unlink(big.c_str());
    }
    return ok ? 0 : 1;
}
