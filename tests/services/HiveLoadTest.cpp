#include <gtest/gtest.h>

#include "common/TestSandbox.h"
#include "platform/Registry.h"
#include "services/U_TovikUtils.h"

#include <sys/wait.h>
#include <unistd.h>

using namespace tintavo;
using platform::RegRoot;

namespace {

// Every write re-reads and rewrites the whole hive, so the work grows with the square of the
// rounds; the sanitizer build runs fewer of them.
#if defined(__SANITIZE_ADDRESS__)
constexpr int kRounds = 80;
#else
constexpr int kRounds = 250;
#endif

// One program of the maker: records its path and writes one product setting per round.
[[noreturn]] void RunWriter(const std::string& product, int startPipe) {
    char go = 0;
    int status = read(startPipe, &go, 1) == 1 ? 0 : 2;
    try {
        for (int i = 0; i < kRounds && status == 0; ++i) {
            const std::string n = std::to_string(i);
            RecordProgramPath(product + n, "/opt/" + product + "/" + n);
            const std::string key = ProductKeyPath(product);
            if (!platform::RegUpdateUserHive([&](platform::RegHive& hive) {
                    hive.CreateKey(key);
                    return hive.SetValue(key, platform::RegValue::String("s" + n, n));
                })) {
                status = 3;
            }
        }
    } catch (...) {
        status = 4;
    }
    _exit(status);
}

} // namespace

// Two processes write the shared per-user hive at the same time; the lock and the re-read
// under it must lose none of their values.
TEST(HiveLoad, TwoProcessesWritingAtOnceLoseNothing) {
    tintavo::test::TestSandbox sandbox;
    int pipeFds[2];
    ASSERT_EQ(pipe(pipeFds), 0);
    std::vector<pid_t> children;
    for (const char* product : {"Alpha", "Beta"}) {
        const pid_t pid = fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            close(pipeFds[1]);
            RunWriter(product, pipeFds[0]);
        }
        children.push_back(pid);
    }
    close(pipeFds[0]);
    ASSERT_EQ(write(pipeFds[1], "gg", 2), 2); // both start together
    close(pipeFds[1]);
    for (pid_t pid : children) {
        int status = 0;
        ASSERT_EQ(waitpid(pid, &status, 0), pid);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    }
    const platform::RegHive hive = platform::ReadHive(RegRoot::CurrentUser);
    const platform::RegKey* company = hive.FindKey(CompanyKeyPath());
    ASSERT_NE(company, nullptr);
    EXPECT_EQ(company->values.size(), 2U * kRounds);
    for (const char* product : {"Alpha", "Beta"}) {
        const platform::RegKey* key = hive.FindKey(ProductKeyPath(product));
        ASSERT_NE(key, nullptr);
        EXPECT_EQ(key->values.size(), static_cast<std::size_t>(kRounds)) << product;
        for (int i = 0; i < kRounds; ++i) {
            const std::string n = std::to_string(i);
            const auto path = platform::RegReadValue(RegRoot::CurrentUser, CompanyKeyPath(),
                                                     std::string(product) + n);
            ASSERT_TRUE(path) << product << n;
            EXPECT_EQ(path->data, "/opt/" + std::string(product) + "/" + n);
        }
    }
}
