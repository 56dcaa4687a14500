#include "common/KvJobBlockMapping.h"

#include "CommonTestHelper.h"
#include "support/TempFolder.h"

#include <cerrno>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace velmora {
namespace {

using test::RunHelper;
using test::SelfExecutable;
using test::ShellQuote;

class JobBlockMappingTest : public ::testing::Test
{
protected:
    std::string Name() const { return SharedObjectName(kKvJobBlockGuid, m_folder.Path()); }
    std::string HelperEnv(const std::string& folder) const { return "VELMORA_HELPER_FOLDER=" + ShellQuote(folder); }

    test::TempProgramFolder m_folder;
};

TEST_F(JobBlockMappingTest, AJobWrittenByTheFrontEndIsReadByAnEngineInAnotherProcess)
{
    CKvJobBlockOwner owner;
    ASSERT_TRUE(owner.Create(m_folder.Path())) << owner.Error();
    EXPECT_EQ(owner.Name(), Name());
    tagKvJobBlock& block = *owner.Block();

    const std::string output = m_folder.Path() + "(output001)Live <2019> & caf\xC3\xA9 \xF0\x9F\x8E\xB5.wma";
    ASSERT_TRUE(SetJobPathUtf8(block.szOutputFile, output));
    block.nPreset = 4;
    block.bPlayMode = 0;
    block.hPreviewWnd = 0xDEADBEEFu;
    StoreRelease(block.dPosition, 0.125);
    StoreRelease(block.nState, kKvJobRunning);
    StoreRelease(block.bStartConvert, 1);

    std::string printed;
    ASSERT_EQ(RunHelper(SelfExecutable(), "jobblock-engine", HelperEnv(m_folder.Path()), &printed), 0) << printed;
    EXPECT_EQ(printed, "preset=4 state=2 start=1 play=0 position=0.125 wnd=3735928559 output=" + output + "\n");

    // The engine's end of job, seen through the front end's mapping.
    EXPECT_EQ(LoadAcquire(block.nState), kKvJobIdle);
    EXPECT_EQ(LoadAcquire(block.dPosition), 42.5);
    EXPECT_EQ(LoadAcquire(block.bEngineClosed), 1);
    EXPECT_EQ(LoadAcquire(block.bConvertFailed), 1);
    EXPECT_EQ(GetJobPathUtf8(block.szOutputFile), output) << "the engine left the job alone";
}

TEST_F(JobBlockMappingTest, TheFrontEndsBlockIsFreshAndGoesWithIt)
{
    {
        CKvJobBlockOwner owner;
        ASSERT_TRUE(owner.Create(m_folder.Path()));
        const auto* bytes = reinterpret_cast<const unsigned char*>(owner.Block());
        for (size_t i = 0; i < sizeof(tagKvJobBlock); ++i)
            ASSERT_EQ(bytes[i], 0) << "byte " << i;

        struct stat st;
        int fd = shm_open(Name().c_str(), O_RDONLY, 0);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(fstat(fd, &st), 0);
        close(fd);
        EXPECT_EQ(st.st_size, 1128);
        EXPECT_EQ(st.st_mode & 0777, 0600u);
    }
    CKvJobBlockView view;
    EXPECT_FALSE(view.Open(m_folder.Path()));
    EXPECT_EQ(view.Error(), ENOENT);
}

TEST_F(JobBlockMappingTest, ARestrictiveUmaskDoesNotKeepTheEngineFromTheBlock)
{
    for (mode_t mask : {0077, 0277, 0377, 0777}) {
        SCOPED_TRACE(mask);
        const mode_t saved = umask(mask);
        CKvJobBlockOwner owner;
        const bool created = owner.Create(m_folder.Path());
        umask(saved);
        ASSERT_TRUE(created) << owner.Error();
        CKvJobBlockView view;
        EXPECT_TRUE(view.Open(m_folder.Path())) << view.Error();
    }
}

TEST_F(JobBlockMappingTest, AnEngineWithoutAFrontEndFindsNoBlockAndCreatesNone)
{
    std::string printed;
    EXPECT_EQ(RunHelper(SelfExecutable(), "jobblock-engine", HelperEnv(m_folder.Path()), &printed), 3);
    EXPECT_EQ(printed, "open failed errno=" + std::to_string(ENOENT) + "\n");
    int fd = shm_open(Name().c_str(), O_RDONLY, 0);
    EXPECT_LT(fd, 0);
    if (fd >= 0)
        close(fd);
}

TEST_F(JobBlockMappingTest, AnEngineOfAnotherProgramFolderDoesNotSeeTheBlock)
{
    CKvJobBlockOwner owner;
    ASSERT_TRUE(owner.Create(m_folder.Path()));
    test::TempProgramFolder other;
    CKvJobBlockView view;
    EXPECT_FALSE(view.Open(other.Path()));
}

TEST_F(JobBlockMappingTest, TheEngineRefusesABlockOfTheWrongSize)
{
    int fd = shm_open(Name().c_str(), O_RDWR | O_CREAT | O_EXCL, 0600);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(ftruncate(fd, 1124), 0);
    close(fd);

    CKvJobBlockView view;
    EXPECT_FALSE(view.Open(m_folder.Path()));
    EXPECT_EQ(view.Error(), EINVAL);
    std::string printed;
    EXPECT_EQ(RunHelper(SelfExecutable(), "jobblock-engine", HelperEnv(m_folder.Path()), &printed), 3) << printed;
    shm_unlink(Name().c_str());
}

TEST_F(JobBlockMappingTest, TheEngineRefusesABlockOthersMayReadOrWrite)
{
    // The right owner and size, but open to everyone: anyone could have planted it.
    int fd = shm_open(Name().c_str(), O_RDWR | O_CREAT | O_EXCL, 0600);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(ftruncate(fd, 1128), 0);
    ASSERT_EQ(fchmod(fd, 0666), 0);
    close(fd);

    CKvJobBlockView view;
    EXPECT_FALSE(view.Open(m_folder.Path()));
    EXPECT_EQ(view.Error(), EPERM);
    shm_unlink(Name().c_str());
}

TEST_F(JobBlockMappingTest, ASecondEngineOnABlockInUseIsRefusedUntilTheFirstLetsGo)
{
    CKvJobBlockOwner owner;
    ASSERT_TRUE(owner.Create(m_folder.Path()));
    StoreRelease(owner.Block()->nState, kKvJobRunning);
    CKvJobBlockView first;
    ASSERT_TRUE(first.Open(m_folder.Path())) << first.Error();

    CKvJobBlockView second;
    EXPECT_FALSE(second.Open(m_folder.Path()));
    EXPECT_EQ(second.Error(), EBUSY);
    // Another process is refused the same way, and writes nothing.
    std::string printed;
    EXPECT_EQ(RunHelper(SelfExecutable(), "jobblock-engine", HelperEnv(m_folder.Path()), &printed), 3);
    EXPECT_EQ(printed, "open failed errno=" + std::to_string(EBUSY) + "\n");
    EXPECT_EQ(LoadAcquire(owner.Block()->nState), kKvJobRunning);
    EXPECT_EQ(LoadAcquire(owner.Block()->bEngineClosed), 0);

    first.Close();
    EXPECT_TRUE(second.Open(m_folder.Path())) << second.Error();
}

TEST_F(JobBlockMappingTest, TheEngineRefusesABlockOfAnotherUser)
{
    if (geteuid() != 0)
        GTEST_SKIP() << "planting a block of another user needs root";
    // Another user got there first: a block of the right size, but not ours.
    int fd = shm_open(Name().c_str(), O_RDWR | O_CREAT | O_EXCL, 0666);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(ftruncate(fd, 1128), 0);
    ASSERT_EQ(fchown(fd, 65534, 65534), 0);
    close(fd);

    CKvJobBlockView view;
    EXPECT_FALSE(view.Open(m_folder.Path()));
    EXPECT_EQ(view.Error(), EPERM);
    std::string printed;
    EXPECT_EQ(RunHelper(SelfExecutable(), "jobblock-engine", HelperEnv(m_folder.Path()), &printed), 3) << printed;

    // The front end replaces the planted block with its own.
    CKvJobBlockOwner owner;
    ASSERT_TRUE(owner.Create(m_folder.Path())) << owner.Error();
    ASSERT_TRUE(view.Open(m_folder.Path())) << view.Error();
}

} // namespace
} // namespace velmora
