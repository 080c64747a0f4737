// Replays the fuzz corpus and every input that once crashed the reader.

#include <gtest/gtest.h>

#include <filesystem>

#include "../../fuzz/e57_reader_fuzz_body.h"
#include "support/test_support.h"

TEST(E57FuzzCorpus, EveryInputRunsCleanly) {
    const std::filesystem::path root = std::filesystem::path(BRINDLEWICK_PROJECT_ROOT) / "fuzz";
    int files = 0;
    for (const char* sub : {"corpus", "crashes"}) {
        if (!std::filesystem::exists(root / sub)) continue;
        for (const auto& entry : std::filesystem::directory_iterator(root / sub)) {
            if (!entry.is_regular_file() || entry.path().filename().string()[0] == '.') continue;
            SCOPED_TRACE(entry.path().string());
            const std::string bytes = testsupport::readFile(entry.path());
            e57fuzz::runInput(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
            ++files;
        }
    }
    EXPECT_GT(files, 0) << "no fuzz corpus under " << root;
}
