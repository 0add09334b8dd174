// Replays the fuzz seed corpus (fuzz/corpus) through the fuzz target's
// body: every seed, and every seed cut short at the lengths where headers
// and data end, opens or is refused with a store code and leaves the store
// empty.  Seeds named bad_* are past findings of the fuzzer.  Under the
// sanitizer build this is the fuzz target's regression suite.
#include <gtest/gtest.h>

#include <dirent.h>

#include <algorithm>
#include <string>
#include <vector>

#include "core/ramimg.h"
#include "fuzz/exercise.h"
#include "tests/support/testSupport.h"

TEST(corpus, SeedsWholeAndCutOpenReadAndClose)
{
    std::vector<std::string> names;
    if (DIR *d = opendir(VELK_CORPUS_DIR)) {
        while (struct dirent *e = readdir(d))
            if (e->d_name[0] != '.')
                names.push_back(e->d_name);
        closedir(d);
    }
    std::sort(names.begin(), names.end());
    ASSERT_GE(names.size(), 40u) << "fuzz/corpus is missing";
    ScratchDir scratch;
    CapturedOutput quiet;
    std::string copy = scratch.path("seed");
    for (const std::string &name : names) {
        std::vector<unsigned char> bytes =
            readFileBytes(std::string(VELK_CORPUS_DIR) + "/" + name);
        size_t n = bytes.size();
        for (size_t cut : {n, (size_t)0, (size_t)1, (size_t)6, (size_t)13,
                           (size_t)32, (size_t)127, (size_t)128, (size_t)859,
                           (size_t)860, n / 2, n - 1}) {
            if (cut > n)
                continue;
            writeFileBytes(copy, std::vector<unsigned char>(
                                     bytes.begin(), bytes.begin() + cut));
            int err = exerciseImageFile(copy.c_str());
            SCOPED_TRACE(name + " cut at " + std::to_string(cut));
            if (cut < n) {
                EXPECT_TRUE(err == RAMIMG_OK || err == RAMIMG_EUNKNOWN
                            || err == RAMIMG_EHANDLE) << err;
            } else if (name.compare(0, 4, "bad_") == 0) {
                // Past findings: refused or read, but never a crash.
                EXPECT_TRUE(err == RAMIMG_OK || err == RAMIMG_ENOMEM
                            || err == RAMIMG_EUNKNOWN || err == RAMIMG_EHANDLE)
                    << err;
            } else if (name.compare(0, 6, "basic_") == 0
                       || name.compare(0, 5, "erdas") == 0) {
                // Formats built so far read every seed of theirs.
                EXPECT_EQ(err, RAMIMG_OK);
            } else {
                EXPECT_TRUE(err == RAMIMG_OK || err == RAMIMG_EUNKNOWN) << err;
            }
            EXPECT_EQ(getRAMImage(), nullptr) << "a record was left";
        }
    }
}
