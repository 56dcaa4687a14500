#include "common/KvProcess.h"

#include "CommonTestHelper.h"
#include "common/KvProgramFolder.h"
#include "support/TempFolder.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace fs = std::filesystem;

namespace velmora {
namespace {

using test::TempProgramFolder;

// A program folder with a renamed copy of /bin/sleep in it. Every process it
// started is killed and reaped when the test ends.
class ProcessTest : public ::testing::Test
{
protected:
    void TearDown() override
    {
        for (pid_t pid : m_started) {
            kill(pid, SIGKILL);
            waitpid(pid, nullptr, 0);
        }
    }

    static std::string InstallCopy(const std::string& from, const TempProgramFolder& folder, const std::string& name)
    {
        std::string path = folder.Path() + name;
        fs::copy_file(from, path, fs::copy_options::overwrite_existing);
        fs::permissions(path, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec
            | fs::perms::others_read | fs::perms::others_exec);
        return path;
    }

    pid_t Start(const std::string& path, const std::vector<std::string>& args = { "30" })
    {
        pid_t pid = SpawnProgram(path, args);
        if (pid > 0)
            m_started.push_back(pid);
        return pid;
    }

    // True when pid is gone or reaped (not our child any more, or ended).
    static bool HasEnded(pid_t pid)
    {
        int status = 0;
        pid_t r = waitpid(pid, &status, WNOHANG);
        return r == pid || (r < 0 && errno == ECHILD && kill(pid, 0) != 0);
    }

    static std::string ReadLink(const std::string& path)
    {
        std::error_code ec;
        return fs::read_symlink(path, ec).string();
    }

    TempProgramFolder m_folder;
    std::vector<pid_t> m_started;
};

TEST_F(ProcessTest, KillsTheMatchingProcessWhateverTheCaseOfItsName)
{
    std::string sleeper = InstallCopy("/bin/sleep", m_folder, "KvSleeper");
    pid_t pid = Start(sleeper);
    ASSERT_GT(pid, 0);
    ASSERT_TRUE(IsProcessAlive(pid));

    EXPECT_TRUE(KillProcessByName("kvSLEEPER", m_folder.Path()));
    // Our child was reaped by the kill: waitpid knows it no more.
    EXPECT_EQ(waitpid(pid, nullptr, WNOHANG), -1);
    EXPECT_EQ(errno, ECHILD);
    EXPECT_FALSE(KillProcessByName("KvSleeper", m_folder.Path())) << "nothing left to kill";
}

TEST_F(ProcessTest, LeavesOtherNamesAndOtherProgramFoldersAlone)
{
    TempProgramFolder otherFolder;
    pid_t elsewhere = Start(InstallCopy("/bin/sleep", otherFolder, "KvSleeper"));
    pid_t otherName = Start(InstallCopy("/bin/sleep", m_folder, "KvSleeperX"));
    ASSERT_GT(elsewhere, 0);
    ASSERT_GT(otherName, 0);

    EXPECT_FALSE(KillProcessByName("KvSleeper", m_folder.Path()));
    EXPECT_FALSE(KillProcessByName("KvSleep", m_folder.Path()));
    EXPECT_FALSE(KillProcessByName("", m_folder.Path()));
    EXPECT_TRUE(IsProcessAlive(elsewhere));
    EXPECT_TRUE(IsProcessAlive(otherName));
}

TEST_F(ProcessTest, FindsTheFolderThroughALinkAndWithoutTheTrailingSlash)
{
    pid_t pid = Start(InstallCopy("/bin/sleep", m_folder, "KvSleeper"));
    ASSERT_GT(pid, 0);
    test::TempFolder links;
    std::string link = links.Path() + "program";
    fs::create_directory_symlink(m_folder.Path(), link);

    EXPECT_TRUE(KillProcessByName("KvSleeper", link));
    EXPECT_TRUE(HasEnded(pid));
}

TEST_F(ProcessTest, KillsOnlyTheFirstMatchPerCall)
{
    std::string sleeper = InstallCopy("/bin/sleep", m_folder, "KvSleeper");
    pid_t first = Start(sleeper);
    pid_t second = Start(sleeper);
    ASSERT_GT(first, 0);
    ASSERT_GT(second, 0);

    EXPECT_TRUE(KillProcessByName("KvSleeper", m_folder.Path()));
    EXPECT_EQ(IsProcessAlive(first) + IsProcessAlive(second), 1);
    EXPECT_TRUE(KillProcessByName("KvSleeper", m_folder.Path()));
    EXPECT_FALSE(IsProcessAlive(first));
    EXPECT_FALSE(IsProcessAlive(second));
}

TEST_F(ProcessTest, NeverKillsTheCallerButDoesKillItsNamesake)
{
    // A copy of this test program, so that no other test program shares its name
    // and folder.
    std::string self = InstallCopy(test::SelfExecutable(), m_folder, "KvSelf");
    std::string printed;
    ASSERT_EQ(test::RunHelper(self, "kill-own-name", "", &printed), 0) << "the caller was killed";
    EXPECT_EQ(printed, "killed=0\n");

    setenv("VELMORA_COMMON_HELPER", "sleep", 1);
    pid_t namesake = Start(self, {});
    unsetenv("VELMORA_COMMON_HELPER");
    ASSERT_GT(namesake, 0);
    ASSERT_EQ(test::RunHelper(self, "kill-own-name", "", &printed), 0) << "the caller was killed";
    EXPECT_EQ(printed, "killed=1\n");
    // Not the killer's child: it waited until the namesake was a zombie; we reap it.
    int status = 0;
    ASSERT_EQ(waitpid(namesake, &status, 0), namesake);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL);
    m_started.clear();
}

TEST_F(ProcessTest, LeavesProcessesOfAnotherUserAlone)
{
    if (geteuid() != 0)
        GTEST_SKIP() << "starting a process as another user needs root";
    chmod(m_folder.Path().c_str(), 0755);
    std::string sleeper = InstallCopy("/bin/sleep", m_folder, "KvSleeper");
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        if (setgid(65534) != 0 || setuid(65534) != 0)
            _exit(126);
        execl(sleeper.c_str(), sleeper.c_str(), "30", static_cast<char*>(nullptr));
        _exit(127);
    }
    m_started.push_back(pid);
    // Wait until the exec has happened (the executable link changes to the copy).
    for (int i = 0; i < 500 && ReadLink("/proc/" + std::to_string(pid) + "/exe") != sleeper; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    ASSERT_EQ(ReadLink("/proc/" + std::to_string(pid) + "/exe"), sleeper);

    EXPECT_FALSE(KillProcessByName("KvSleeper", m_folder.Path()));
    EXPECT_TRUE(IsProcessAlive(pid));
}

TEST_F(ProcessTest, SpawnStartsWithoutArgumentsOnDevNullAndACleanSignalMask)
{
    std::string self = InstallCopy(test::SelfExecutable(), m_folder, "kvengine");
    sigset_t blocked, previous;
    sigemptyset(&blocked);
    sigaddset(&blocked, SIGUSR1);
    pthread_sigmask(SIG_BLOCK, &blocked, &previous);
    setenv("VELMORA_COMMON_HELPER", "sleep", 1);
    pid_t pid = Start(self, {});
    unsetenv("VELMORA_COMMON_HELPER");
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    ASSERT_GT(pid, 0);

    const std::string proc = "/proc/" + std::to_string(pid) + "/";
    // The spawner returns as soon as the new image is mapped; its argument pages are
    // set up a moment later, so give /proc/PID/cmdline a little time to fill in.
    std::string cmdline;
    for (int i = 0; i < 200 && cmdline.empty(); ++i) {
        cmdline = test::ReadFileBytes(proc + "cmdline");
        if (cmdline.empty())
            usleep(10000);
    }
    EXPECT_EQ(ReadLink(proc + "exe"), self);
    EXPECT_EQ(cmdline, self + std::string(1, '\0'));
    for (int fd = 0; fd <= 2; ++fd)
        EXPECT_EQ(ReadLink(proc + "fd/" + std::to_string(fd)), "/dev/null") << "fd " << fd;

    std::ifstream status(proc + "status");
    std::string line;
    std::string sigBlk;
    while (std::getline(status, line))
        if (line.rfind("SigBlk:", 0) == 0)
            sigBlk = line;
    EXPECT_EQ(sigBlk, "SigBlk:\t0000000000000000");
}

TEST_F(ProcessTest, SpawnReportsAProgramThatCannotStart)
{
    EXPECT_EQ(SpawnProgram(m_folder.Path() + "kvengine"), -1);
    test::WriteFileBytes(m_folder.Path() + "kvengine", "#!/bin/sh\n");
    chmod((m_folder.Path() + "kvengine").c_str(), 0644);
    EXPECT_EQ(SpawnProgram(m_folder.Path() + "kvengine"), -1);
}

TEST_F(ProcessTest, AliveUntilTheChildEndsThenReaped)
{
    pid_t pid = Start(InstallCopy("/bin/sleep", m_folder, "KvSleeper"), { "0.2" });
    ASSERT_GT(pid, 0);
    EXPECT_TRUE(IsProcessAlive(pid));
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (IsProcessAlive(pid) && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_FALSE(IsProcessAlive(pid));
    EXPECT_EQ(waitpid(pid, nullptr, WNOHANG), -1) << "the ended child was reaped";
    m_started.clear();
}

TEST_F(ProcessTest, AliveForOtherLiveProcessesOnly)
{
    EXPECT_TRUE(IsProcessAlive(getpid()));
    EXPECT_FALSE(IsProcessAlive(0));
    EXPECT_FALSE(IsProcessAlive(-1));
}

} // namespace
} // namespace velmora
