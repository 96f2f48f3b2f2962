#include "base/spill_store.h"

#include <gtest/gtest.h>

#include <sys/resource.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <thread>
#include <vector>

#include "base/exceptions.h"
#include "test_util.h"

namespace {

std::size_t EntryCount(const std::string& folder) {
    std::size_t count = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(folder)) ++count;
    return count;
}

class SpillStoreTest : public ::testing::TestWithParam<bool> {
protected:
    void SetUp() override { SetSpillStoreWithoutTmpfileForTesting(GetParam()); }
    void TearDown() override { SetSpillStoreWithoutTmpfileForTesting(false); }
};

// Both ways of making the store's file: nameless, and named then unlinked.
INSTANTIATE_TEST_SUITE_P(BothFiles, SpillStoreTest, ::testing::Bool());

TEST_P(SpillStoreTest, KeepsBytesByNameAndLeavesNothingInItsFolder) {
    TempDir dir;
    std::string binary(70000, '\0');
    for (std::size_t i = 0; i < binary.size(); ++i) binary[i] = static_cast<char>(i * 7);
    {
        TSpillStore store(dir.Path());
        EXPECT_TRUE(store.Empty());
        store.Put(dir / "a.htm", "<p>caf\xC3\xA9</p>");
        store.Put(dir / "cov-1.jpg", binary);
        store.Put(dir / "empty.htm", "");
        // A second Put replaces, longer or shorter.
        store.Put(dir / "a.htm", "<p>second</p>");
        EXPECT_EQ(store.Read(dir / "a.htm"), "<p>second</p>");
        EXPECT_EQ(store.Read(dir / "cov-1.jpg"), binary);
        EXPECT_EQ(store.Read(dir / "empty.htm"), "");
        EXPECT_EQ(store.SizeOf(dir / "cov-1.jpg"), binary.size());
        EXPECT_EQ(store.SizeOf(dir / "empty.htm"), 0u);
        EXPECT_FALSE(store.SizeOf(dir / "missing.htm"));
        EXPECT_THROW(store.Read(dir / "missing.htm"), EOSError);
        EXPECT_EQ(store.Names(), (std::vector<std::string>{dir / "a.htm", dir / "cov-1.jpg", dir / "empty.htm"}));
        // Kept in the store, not as files.
        EXPECT_EQ(EntryCount(dir.Path()), 0u);
    }
    EXPECT_EQ(EntryCount(dir.Path()), 0u);
}

TEST_P(SpillStoreTest, ThreadsPutAtOnceWithoutMixingBytes) {
    TempDir dir;
    TSpillStore store(dir.Path());
    const auto bytesOf = [](int thread, int i) {
        return std::string(100 + (thread * 37 + i) % 900, char('a' + thread));
    };
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&, t] {
            for (int i = 0; i < 200; ++i) store.Put(std::to_string(t) + "/" + std::to_string(i), bytesOf(t, i));
        });
    for (auto& thread : threads) thread.join();
    for (int t = 0; t < 4; ++t)
        for (int i = 0; i < 200; ++i) ASSERT_EQ(store.Read(std::to_string(t) + "/" + std::to_string(i)), bytesOf(t, i));
}

TEST_P(SpillStoreTest, AFolderThatCannotTakeFilesIsAClearError) {
    TempDir dir;
    try {
        TSpillStore store(dir / "not-there");
        FAIL() << "made a store in a missing folder";
    } catch (const EOSError& e) {
        EXPECT_NE(std::string(e.what()).find("not-there"), std::string::npos) << e.what();
    }
}

// Run in a child: puts past a file size limit; exits 0 when the store said
// it could not write and kept what it had.
[[noreturn]] void PutPastTheLimit(const std::string& folder) {
    std::signal(SIGXFSZ, SIG_IGN);
    const rlimit limit{4096, 4096};
    ::setrlimit(RLIMIT_FSIZE, &limit);
    TSpillStore store(folder);
    const std::string first(3000, 'a');
    store.Put("first", first);
    try {
        store.Put("second", std::string(3000, 'b'));
    } catch (const EOSError& e) {
        const bool told = std::string(e.what()).find("Cannot write") != std::string::npos;
        std::_Exit(told && !store.SizeOf("second") && store.Read("first") == first ? 0 : 2);
    }
    std::_Exit(1);
}

// A full disk (here: a file size limit) is an error that says what failed,
// never a page cut short.
TEST(SpillStoreDeathTest, AFullDiskIsAClearError) {
    TempDir dir;
    EXPECT_EXIT(PutPastTheLimit(dir.Path()), ::testing::ExitedWithCode(0), "");
}

}  // namespace
