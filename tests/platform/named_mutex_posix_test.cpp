// Named mutexes: the lock-file emulation's own promises.
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "platform/named_mutex.h"
#include "support/test_support.h"

extern char** environ;

namespace {

using brf_test::ScopedEnv;
using brf_test::ScratchDir;
using brf_test::UniqueName;

TEST(NamedMutexPosix, GoesWhenTheOwningProcessIsKilled) {
    const std::string name = UniqueName("killed");
    ScopedEnv mutexEnv("BRF_CHILD_MUTEX", name);
    ScopedEnv holdEnv("BRF_CHILD_HOLD_MS", "600000");
    std::string program = BRF_TEST_CHILD;
    char* argv[] = {program.data(), nullptr};
    pid_t pid = 0;
    ASSERT_EQ(posix_spawn(&pid, program.c_str(), nullptr, nullptr, argv, environ), 0);
    const bool appeared = brf_test::WaitFor([&] { return plat::NamedMutexExists(name.c_str()); });
    kill(pid, SIGKILL);
    int status = 0;
    waitpid(pid, &status, 0);
    ASSERT_TRUE(appeared);
    EXPECT_TRUE(WIFSIGNALED(status));
    // Nobody closed the handle: the kernel dropped the lock with the process.
    EXPECT_FALSE(plat::NamedMutexExists(name.c_str()));
    // And the name can be created anew, owned by its new creator.
    auto again = plat::NamedMutex::Create(name.c_str(), true);
    ASSERT_NE(again, nullptr);
    EXPECT_TRUE(again->Release());
}

TEST(NamedMutexPosix, LockFilesStayInsideTheUsersPrivateDirectory) {
    ScratchDir runtime;
    ScopedEnv xdg("XDG_RUNTIME_DIR", runtime.path().string());
    const std::string tag = UniqueName("esc");
    const std::vector<std::string> names = {"../../" + tag, "/" + tag,
                                            "a\\b" + tag,   "Global\\" + tag,
                                            "%2F" + tag,    std::string(300, 'n') + tag};
    std::vector<std::unique_ptr<plat::NamedMutex>> held;
    for (const std::string& name : names) {
        held.push_back(plat::NamedMutex::Create(name.c_str(), true));
        ASSERT_NE(held.back(), nullptr) << name;
    }
    const std::filesystem::path dir = runtime.path() / "brinefall-mutex";
    struct stat st {};
    ASSERT_EQ(lstat(dir.c_str(), &st), 0);
    EXPECT_TRUE(S_ISDIR(st.st_mode));
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    size_t files = 0;
    for (const auto& entry : std::filesystem::directory_iterator(runtime.path())) {
        EXPECT_EQ(entry.path().filename(), "brinefall-mutex");
    }
    for (const auto& entry : std::filesystem::directory_iterator(dir)) {
        ++files;
        EXPECT_LE(entry.path().filename().string().size(), 255u);
    }
    // One file per name and the guard: no two names share a file.
    EXPECT_EQ(files, names.size() + 1);
    for (const std::string& name : names) {
        EXPECT_TRUE(plat::NamedMutexExists(name.c_str())) << name;
    }
    // Different names that escape alike would be one mutex.
    EXPECT_FALSE(plat::NamedMutexExists(("%252F" + tag).c_str()));
    EXPECT_FALSE(plat::NamedMutexExists(("a/b" + tag).c_str()));
    held.clear();
    for (const std::string& name : names) {
        EXPECT_FALSE(plat::NamedMutexExists(name.c_str())) << name;
    }
}

TEST(NamedMutexPosix, ALinkInPlaceOfTheDirectoryIsNotFollowed) {
    ScratchDir runtime;
    ScratchDir elsewhere;
    std::filesystem::create_directory_symlink(elsewhere.path(), runtime.path() / "brinefall-mutex");
    ScopedEnv xdg("XDG_RUNTIME_DIR", runtime.path().string());
    const std::string name = UniqueName("link");
    auto mutex = plat::NamedMutex::Create(name.c_str(), true);
    ASSERT_NE(mutex, nullptr);  // made in the fallback directory instead
    EXPECT_TRUE(plat::NamedMutexExists(name.c_str()));
    EXPECT_TRUE(std::filesystem::is_empty(elsewhere.path()));
}

TEST(NamedMutexPosix, ProbesRacingEachOtherAgreeWithTheTruth) {
    // Two probes at once must not take each other's test lock for a handle.
    const std::string absent = UniqueName("absent");
    const std::string present = UniqueName("present");
    // The absent mutex existed once, so its lock file is there to be tested.
    plat::NamedMutex::Create(absent.c_str(), false).reset();
    auto holder = plat::NamedMutex::Create(present.c_str(), false);
    ASSERT_NE(holder, nullptr);
    std::atomic<int> wrong{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < 3000; ++i) {
                wrong += plat::NamedMutexExists(absent.c_str()) ? 1 : 0;
                wrong += plat::NamedMutexExists(present.c_str()) ? 0 : 1;
            }
        });
    }
    for (std::thread& t : threads) {
        t.join();
    }
    EXPECT_EQ(wrong.load(), 0);
}

TEST(NamedMutexPosix, OfCreatorsRacingForANewNameExactlyOneOwnsIt) {
    for (int round = 0; round < 20; ++round) {
        const std::string name = UniqueName("race");
        std::vector<std::unique_ptr<plat::NamedMutex>> handles(4);
        std::vector<std::thread> threads;
        std::atomic<int> owners{0};
        for (size_t t = 0; t < handles.size(); ++t) {
            threads.emplace_back([&, t] {
                handles[t] = plat::NamedMutex::Create(name.c_str(), true);
                owners += handles[t] && handles[t]->Release() ? 1 : 0;
            });
        }
        for (std::thread& t : threads) {
            t.join();
        }
        EXPECT_EQ(owners.load(), 1);
    }
}

}  // namespace
