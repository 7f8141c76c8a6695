// Replays the fuzz corpus and every input a fuzz run ever found a fault
// with, so each stays fixed.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "fuzz/fuzz_body.hpp"
#include "scene/scene.hpp"
#include "support/support.hpp"

namespace fotolume {
namespace {

int replay(const std::string& folder) {
    int count = 0;
    for (const auto& entry : std::filesystem::directory_iterator(test::sourcePath(folder))) {
        if (!entry.is_regular_file()) continue;
        const std::string bytes = test::readFile(entry.path().string());
        SCOPED_TRACE(entry.path().string());
        fuzz::runOneInput(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
        ++count;
    }
    return count;
}

TEST(FuzzReplay, RegressionInputsAndCorpusRunClean) {
    EXPECT_GT(replay("tests/fuzz/corpus"), 0);
    replay("tests/fuzz/regressions");
    resetScene();
}

}  // namespace
}  // namespace fotolume
