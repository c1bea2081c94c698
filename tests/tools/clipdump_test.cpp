// Runs the real clipdump program as a developer would and checks what it leaves on disk.
#include "sounds/resource_loader.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;

int runClipdump(const std::string& arguments) {
    const std::string command = std::string(CLIPDUMP_PATH) + " " + arguments + " >/dev/null 2>&1";
    const int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

class Clipdump : public testing::Test {
protected:
    void SetUp() override {
        // ctest runs each test as its own process, so the process id keeps parallel runs apart.
        folder_ = fs::temp_directory_path() / ("clipdump-test-" + std::to_string(::getpid()));
        fs::remove_all(folder_);
    }
    void TearDown() override { fs::remove_all(folder_); }

    fs::path folder_;
};

TEST_F(Clipdump, WritesEveryClipByteForByteUnderItsResourceName) {
    ASSERT_EQ(runClipdump((folder_ / "new" / "nested").string()), 0);
    const auto names = lyravox::sounds::resourceNames(lyravox::sounds::kWaveResourceType);
    ASSERT_EQ(names.size(), 8u);
    for (const std::string_view name : names) {
        std::ifstream in(folder_ / "new" / "nested" / (std::string(name) + ".wav"),
                         std::ios::binary);
        ASSERT_TRUE(in) << name;
        const std::vector<std::uint8_t> written{std::istreambuf_iterator<char>(in), {}};
        EXPECT_EQ(written, lyravox::sounds::loadResource(name, "WAVE")) << name;
    }
}

TEST_F(Clipdump, RefusesWithoutAFolderAndReportsAFolderItCannotMake) {
    EXPECT_EQ(runClipdump(""), 2);
    fs::create_directories(folder_);
    std::ofstream(folder_ / "a-file") << "not a folder";
    EXPECT_EQ(runClipdump((folder_ / "a-file" / "below").string()), 1);
}

}  // namespace
