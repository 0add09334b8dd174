/*
 * testSupport.h --
 *
 *	Shared by the C++ tests: a Tcl interpreter with the stubs set up (so
 *	the package's Tcl calls work), captured standard output and error of
 *	the package, scratch files and byte helpers.
 */
#ifndef VELK_TESTSUPPORT_H
#define VELK_TESTSUPPORT_H

#include <tcl.h>

#include <cstdint>
#include <string>
#include <vector>

/* The interpreter of the test process (created by the test main). */
Tcl_Interp *testInterp(void);

/* Captures what the package prints while it lives. */
class CapturedOutput {
public:
    CapturedOutput();
    ~CapturedOutput();
    std::string out() const;
    std::string err() const;
    void clear();
};

/* A fresh scratch directory, removed with its contents at destruction. */
class ScratchDir {
public:
    ScratchDir();
    ~ScratchDir();
    std::string path(const std::string &name) const;
    const std::string &dir() const { return dir_; }
private:
    std::string dir_;
};

std::vector<unsigned char> readFileBytes(const std::string &path);
void writeFileBytes(const std::string &path,
                    const std::vector<unsigned char> &bytes);
std::string fixturePath(const std::string &name);

/* Little- and big-endian appenders for building files in tests. */
void putLE16(std::vector<unsigned char> &v, uint16_t x);
void putLE32(std::vector<unsigned char> &v, uint32_t x);
void putBE16(std::vector<unsigned char> &v, uint16_t x);
void putBE32(std::vector<unsigned char> &v, uint32_t x);

#endif
