/*
 * testSupport.cpp --
 *
 *	Helpers of the C++ tests (see testSupport.h).
 */
#include "tests/support/testSupport.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>

#include "core/stdstream.h"

static std::string capturedOut, capturedErr;

static void captureSink(int which, const char *text, int length)
{
    (which == 8 ? capturedErr : capturedOut).append(text, (size_t)length);
}

CapturedOutput::CapturedOutput()
{
    clear();
    setStdStreamSink(captureSink);
}

CapturedOutput::~CapturedOutput()
{
    setStdStreamSink(nullptr);
}

std::string CapturedOutput::out() const
{
    return capturedOut;
}

std::string CapturedOutput::err() const
{
    return capturedErr;
}

void CapturedOutput::clear()
{
    capturedOut.clear();
    capturedErr.clear();
}

ScratchDir::ScratchDir()
{
    const char *base = std::getenv("TMPDIR");
    std::string tmpl = std::string(base ? base : "/tmp") + "/velktest.XXXXXX";
    std::vector<char> buf(tmpl.begin(), tmpl.end());
    buf.push_back('\0');
    if (!mkdtemp(buf.data()))
        std::abort();
    dir_ = buf.data();
}

static void removeTree(const std::string &path)
{
    if (DIR *d = opendir(path.c_str())) {
        while (struct dirent *e = readdir(d)) {
            std::string name = e->d_name;
            if (name == "." || name == "..")
                continue;
            std::string child = path + "/" + name;
            struct stat st;
            if (lstat(child.c_str(), &st) == 0 && S_ISDIR(st.st_mode))
                removeTree(child);
            else
                unlink(child.c_str());
        }
        closedir(d);
    }
    rmdir(path.c_str());
}

ScratchDir::~ScratchDir()
{
    removeTree(dir_);
}

std::string ScratchDir::path(const std::string &name) const
{
    return dir_ + "/" + name;
}

std::vector<unsigned char> readFileBytes(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    return std::vector<unsigned char>(std::istreambuf_iterator<char>(in),
                                      std::istreambuf_iterator<char>());
}

void writeFileBytes(const std::string &path,
                    const std::vector<unsigned char> &bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char *>(bytes.data()),
              (std::streamsize)bytes.size());
}

std::string fixturePath(const std::string &name)
{
    return std::string(VELK_FIXTURE_DIR) + "/" + name;
}

void putLE16(std::vector<unsigned char> &v, uint16_t x)
{
    v.push_back(x & 0xFF);
    v.push_back(x >> 8);
}

void putLE32(std::vector<unsigned char> &v, uint32_t x)
{
    for (int i = 0; i < 4; i++)
        v.push_back((x >> (8 * i)) & 0xFF);
}

void putBE16(std::vector<unsigned char> &v, uint16_t x)
{
    v.push_back(x >> 8);
    v.push_back(x & 0xFF);
}

void putBE32(std::vector<unsigned char> &v, uint32_t x)
{
    for (int i = 3; i >= 0; i--)
        v.push_back((x >> (8 * i)) & 0xFF);
}
