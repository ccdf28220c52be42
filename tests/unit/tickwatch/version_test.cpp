// The version text that the banner shows.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "app/version.h"
#include "output/output.h"
#include "tests/support/fake_platform.h"

namespace {

const uint32_t BUILT_IN_MS = TICKWATCH_VERSION_MAJOR << 16 | TICKWATCH_VERSION_MINOR;
const std::string BUILT_IN = std::to_string(TICKWATCH_VERSION_MAJOR) + "." + std::to_string(TICKWATCH_VERSION_MINOR);

class VersionText : public ::testing::Test {
  protected:
    void SetUp() override { reset_fake(); }

    std::string version() {
        char buffer[MESSAGE_BUFFER_SIZE];
        std::memset(buffer, '?', sizeof buffer);
        EXPECT_EQ(get_version_string(buffer), buffer);
        EXPECT_EQ(fake.live_allocations, 0) << "the resource block is released";
        return buffer;
    }

    std::string product_version(uint32_t ms, uint32_t ls) {
        fake.product_version_ms = ms;
        fake.product_version_ls = ls;
        return version();
    }
};

TEST_F(VersionText, IsTheProductVersionMarkedWhereItDiffersFromTheBuiltInOne) {
    EXPECT_EQ(product_version(BUILT_IN_MS, 0x00000000), BUILT_IN);
    EXPECT_EQ(product_version(BUILT_IN_MS, 0x00000001), BUILT_IN + ".0.1 (!)");
    EXPECT_EQ(product_version(BUILT_IN_MS, 0x00010000), BUILT_IN + ".1.0 (!)");
    EXPECT_EQ(product_version(BUILT_IN_MS + 1, 0x00000000),
              std::to_string(TICKWATCH_VERSION_MAJOR) + "." + std::to_string(TICKWATCH_VERSION_MINOR + 1) + " (!)");
    EXPECT_EQ(product_version(0x00000106, 0x00000000), "0.262 (!)");
    EXPECT_EQ(product_version(0xFFFFFFFF, 0xFFFFFFFF), "65535.65535.65535.65535 (!)");
}

TEST_F(VersionText, ComesFromTheProgramsOwnFileAndTheRootBlockOfItsResource) {
    version();
    const std::string &path = fake.module_path;
    std::vector<std::string> expected = {"GetModuleFileNameA(260)", "GetFileVersionInfoSizeA(" + path + ")",
                                         "allocate(672)",           "GetFileVersionInfoA(" + path + ", 672)",
                                         "VerQueryValueA(\\)",      "release"};
    EXPECT_EQ(fake.calls, expected);
}

TEST_F(VersionText, IsTheBuiltInVersionWithoutAResource) {
    fake.version_resource = FakeVersionResource::absent;
    EXPECT_EQ(version(), BUILT_IN_VERSION);
    EXPECT_EQ(version(), BUILT_IN);
}

TEST_F(VersionText, IsEmptyWhenTheResourceCannotBeRead) {
    fake.version_resource = FakeVersionResource::unreadable;
    EXPECT_EQ(version(), "");
    fake.version_resource = FakeVersionResource::without_root_block;
    EXPECT_EQ(version(), "");
}

TEST_F(VersionText, IsEmptyWithoutThePathOrMemory) {
    fake.module_path_fails = true;
    EXPECT_EQ(version(), "");

    reset_fake();
    fake.allocation_fails = true;
    EXPECT_EQ(version(), "");

    // A path longer than the buffer comes back cut short: not the program's.
    reset_fake();
    fake.module_path = "C:\\" + std::string(300, 'd') + "\\tickwatch.exe";
    EXPECT_EQ(version(), "");
    EXPECT_EQ(fake.calls.size(), 1u);
}

}  // namespace
