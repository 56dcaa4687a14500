#include "common/KvSharedMemory.h"

#include "common/KvProgramFolder.h"
#include "support/TempFolder.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <regex>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace velmora {
namespace {

// The published FNV-1a 64 test vectors.
static_assert(Fnv1a64("") == 0xcbf29ce484222325ull);
static_assert(Fnv1a64("a") == 0xaf63dc4c8601ec8cull);
static_assert(Fnv1a64("foobar") == 0x85944171f73967e8ull);

TEST(SharedObjectNameTest, FnvVectorsAtRunTime)
{
    std::string foobar = "foobar";
    EXPECT_EQ(Fnv1a64(foobar), 0x85944171f73967e8ull);
    // Bytes above 0x7F are hashed as unsigned values: "é" in UTF-8.
    EXPECT_EQ(Fnv1a64("\xC3\xA9"), ((0xcbf29ce484222325ull ^ 0xC3) * 0x100000001b3ull ^ 0xA9) * 0x100000001b3ull);
}

TEST(SharedObjectNameTest, IsGuidDashTheHashOfTheFolderInLowercaseHexDashTheUserId)
{
    const std::string uid = "-" + std::to_string(geteuid());
    EXPECT_EQ(SharedObjectName(kKvJobBlockGuid, "a"), "/{5DA50214-B4FD-483E-A189-CBE2EDA34F6F}-af63dc4c8601ec8c" + uid);
    EXPECT_EQ(SharedObjectName(kKvLevelMapGuid, ""), "/{C32AE008-10E3-4051-A72E-936CB19EF71F}-cbf29ce484222325" + uid);
    EXPECT_EQ(SharedObjectName(kKvSingleInstanceGuid, "foobar"),
              "/{957BA7AB-A0E8-4BA2-A02C-6A832DA7846B}-85944171f73967e8" + uid);
}

TEST(SharedObjectNameTest, FollowsTheProgramFolderWithItsTrailingSlash)
{
    const std::string folder = "/opt/velmora/";
    EXPECT_NE(SharedObjectName(kKvJobBlockGuid, "/opt/velmora/"), SharedObjectName(kKvJobBlockGuid, "/opt/velmora"));
    EXPECT_NE(SharedObjectName(kKvJobBlockGuid, "/opt/velmora/"), SharedObjectName(kKvJobBlockGuid, "/opt/Velmora/"));

    SetProgramFolderForTesting(folder);
    EXPECT_EQ(SharedObjectName(kKvJobBlockGuid), SharedObjectName(kKvJobBlockGuid, folder));
    SetProgramFolderForTesting("");

    std::regex form(R"(/\{[0-9A-F-]{36}\}-[0-9a-f]{16}-[0-9]+)");
    EXPECT_TRUE(std::regex_match(SharedObjectName(kKvJobBlockGuid), form)) << SharedObjectName(kKvJobBlockGuid);
}

class SharedMemoryTest : public ::testing::Test
{
protected:
    std::string Name(std::string_view guid = kKvLevelMapGuid) const { return SharedObjectName(guid, m_folder.Path()); }

    static bool Exists(const std::string& name)
    {
        int fd = shm_open(name.c_str(), O_RDONLY, 0);
        if (fd < 0)
            return false;
        close(fd);
        return true;
    }

    test::TempProgramFolder m_folder;
};

TEST_F(SharedMemoryTest, CreateMakesAZeroFilledPrivateObjectAndRemovesItAtTheEnd)
{
    const std::string name = Name();
    {
        CKvSharedMemory memory;
        ASSERT_TRUE(memory.Create(name, 4000)) << memory.Error();
        EXPECT_TRUE(memory.IsCreator());
        EXPECT_EQ(memory.Size(), 4000u);

        int fd = shm_open(name.c_str(), O_RDONLY, 0);
        ASSERT_GE(fd, 0);
        struct stat st;
        ASSERT_EQ(fstat(fd, &st), 0);
        close(fd);
        EXPECT_EQ(st.st_size, 4000);
        EXPECT_EQ(st.st_mode & 0777, 0600u);
        EXPECT_EQ(st.st_uid, geteuid());

        const auto* bytes = static_cast<const unsigned char*>(memory.Data());
        for (size_t i = 0; i < memory.Size(); ++i)
            ASSERT_EQ(bytes[i], 0) << "at " << i;
    }
    EXPECT_FALSE(Exists(name));
}

TEST_F(SharedMemoryTest, CreateReplacesAStaleObjectOfTheSameName)
{
    const std::string name = Name();
    int fd = shm_open(name.c_str(), O_RDWR | O_CREAT | O_EXCL, 0644);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(ftruncate(fd, 64), 0);
    ASSERT_EQ(write(fd, "stale", 5), 5);
    close(fd);

    CKvSharedMemory memory;
    ASSERT_TRUE(memory.Create(name, 1128)) << memory.Error();
    EXPECT_EQ(static_cast<const char*>(memory.Data())[0], 0);

    CKvSharedMemory reader;
    ASSERT_TRUE(reader.Open(name, 1128)) << reader.Error();
    EXPECT_FALSE(reader.IsCreator());
}

TEST_F(SharedMemoryTest, OpenNeverCreates)
{
    const std::string name = Name();
    CKvSharedMemory memory;
    EXPECT_FALSE(memory.Open(name, 1128));
    EXPECT_EQ(memory.Error(), ENOENT);
    EXPECT_FALSE(memory.IsOpen());
    EXPECT_FALSE(Exists(name));
}

TEST_F(SharedMemoryTest, OpenRefusesAnyOtherSize)
{
    const std::string name = Name();
    for (off_t size : { 0, 1127, 1129, 4096 }) {
        int fd = shm_open(name.c_str(), O_RDWR | O_CREAT, 0600);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(ftruncate(fd, size), 0);
        close(fd);

        CKvSharedMemory memory;
        EXPECT_FALSE(memory.Open(name, 1128)) << "size " << size;
        EXPECT_EQ(memory.Error(), EINVAL) << "size " << size;
        shm_unlink(name.c_str());
    }
}

TEST_F(SharedMemoryTest, OpenRefusesAnObjectOfAnotherUser)
{
    if (geteuid() != 0)
        GTEST_SKIP() << "handing an object to another user needs root";
    const std::string name = Name();
    CKvSharedMemory owner;
    ASSERT_TRUE(owner.Create(name, 1128));
    int fd = shm_open(name.c_str(), O_RDWR, 0);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(fchown(fd, 65534, 65534), 0);
    close(fd);

    CKvSharedMemory memory;
    EXPECT_FALSE(memory.Open(name, 1128));
    EXPECT_EQ(memory.Error(), EPERM);
}

TEST_F(SharedMemoryTest, TheOpeningSideLeavesTheObjectAndMovesKeepOneOwner)
{
    const std::string name = Name();
    CKvSharedMemory creator;
    ASSERT_TRUE(creator.Create(name, 16));
    {
        CKvSharedMemory reader;
        ASSERT_TRUE(reader.Open(name, 16));
        static_cast<char*>(reader.Data())[3] = 'x';
    }
    EXPECT_TRUE(Exists(name));
    EXPECT_EQ(static_cast<char*>(creator.Data())[3], 'x');

    CKvSharedMemory moved(std::move(creator));
    EXPECT_FALSE(creator.IsOpen());
    creator.Close(); // nothing to remove any more
    EXPECT_TRUE(Exists(name));
    moved.Close();
    EXPECT_FALSE(Exists(name));
}

TEST_F(SharedMemoryTest, ACreatorDoesNotRemoveANewerObjectOfItsName)
{
    const std::string name = Name();
    CKvSharedMemory first;
    ASSERT_TRUE(first.Create(name, 16));
    CKvSharedMemory second;
    ASSERT_TRUE(second.Create(name, 16)); // removed the first one's name
    first.Close();
    EXPECT_TRUE(Exists(name));
    second.Close();
    EXPECT_FALSE(Exists(name));
}

TEST_F(SharedMemoryTest, InspectionNamesTheOwnerAndTheProcessesThatMapIt)
{
    const std::string name = Name();
    EXPECT_EQ(SharedObjectPath(name), "/dev/shm" + name);
    EXPECT_FALSE(InspectSharedObject(name).exists);

    CKvSharedMemory memory;
    ASSERT_TRUE(memory.Create(name, 64));
    KvSharedObjectInfo info = InspectSharedObject(name);
    EXPECT_TRUE(info.exists);
    EXPECT_EQ(info.owner, geteuid());
    EXPECT_NE(std::find(info.processes.begin(), info.processes.end(), getpid()), info.processes.end());

    // Closed by its creator, the name is gone.
    memory.Close();
    EXPECT_FALSE(InspectSharedObject(name).exists);
}

TEST_F(SharedMemoryTest, AFailedCreateStillNamesTheObject)
{
    CKvSharedMemory memory;
    EXPECT_FALSE(memory.Create(Name(), 0));
    EXPECT_EQ(memory.Name(), Name()) << "a message about the failure needs the name";
    EXPECT_FALSE(memory.IsOpen());
}

TEST_F(SharedMemoryTest, TwoProgramFoldersNeverShareAnObject)
{
    test::TempProgramFolder other;
    CKvSharedMemory mine;
    CKvSharedMemory theirs;
    ASSERT_TRUE(mine.Create(Name(kKvJobBlockGuid), 1128));
    ASSERT_TRUE(theirs.Create(SharedObjectName(kKvJobBlockGuid, other.Path()), 1128));
    static_cast<char*>(mine.Data())[0] = 1;
    EXPECT_EQ(static_cast<char*>(theirs.Data())[0], 0);
}

} // namespace
} // namespace velmora
