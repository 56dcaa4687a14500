#include "common/KvProgramFolder.h"

#include "CommonTestHelper.h"
#include "common/KvEngineSlot.h"
#include "support/EnvScope.h"
#include "support/TempFolder.h"

#include <climits>
#include <filesystem>
#include <gtest/gtest.h>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace velmora {
namespace {

using test::EnvScope;

int ModeOf(const std::string& path)
{
    struct stat info {};
    return stat(path.c_str(), &info) == 0 ? static_cast<int>(info.st_mode & 07777) : -1;
}

class ProgramFolderTest : public ::testing::Test
{
protected:
    void TearDown() override
    {
        SetProgramFolderForTesting("");
        SetCurrentEngineSlot(0);
    }
};

TEST_F(ProgramFolderTest, IsTheRealFolderOfTheExecutableWithATrailingSlash)
{
    char resolved[PATH_MAX];
    ASSERT_NE(realpath("/proc/self/exe", resolved), nullptr);
    std::string expected = resolved;
    expected.resize(expected.rfind('/') + 1);

    EXPECT_EQ(GetProgramFolder(), expected);
    EXPECT_EQ(GetProgramFolder(), expected) << "cached value changed";
    EXPECT_EQ(GetWorkFolder(), WorkFolderOf(expected));
}

TEST_F(ProgramFolderTest, TestOverrideAddsTheSlashAndCanBeUndone)
{
    const std::string real = GetProgramFolder();
    test::TempProgramFolder folder;
    std::string withoutSlash = folder.Path().substr(0, folder.Path().size() - 1);

    SetProgramFolderForTesting(withoutSlash);
    EXPECT_EQ(GetProgramFolder(), folder.Path());
    EXPECT_EQ(ProgramPath("skin/btn/add.png"), folder.Path() + "skin/btn/add.png");
    EXPECT_EQ(ProgramPath("tmp/option.dat"), folder.Work() + "tmp/option.dat");

    SetProgramFolderForTesting("");
    EXPECT_EQ(GetProgramFolder(), real);
}

struct StateHomeCase
{
    const char* name;
    std::optional<std::string> xdgStateHome;
    std::optional<std::string> home;
    std::string expectedBase;  // "" when there is no home at all
};

class WorkFolderBase : public ::testing::TestWithParam<StateHomeCase>
{
};

TEST_P(WorkFolderBase, FollowsXdgStateHomeThenHome)
{
    const StateHomeCase& c = GetParam();
    EnvScope state("XDG_STATE_HOME", c.xdgStateHome);
    EnvScope home("HOME", c.home);
    EXPECT_EQ(WorkFolderOf("/usr/lib/velmora/"), c.expectedBase + "/velmora/" + ProgramFolderHash("/usr/lib/velmora/") + "/");
}

INSTANTIATE_TEST_SUITE_P(
    ProgramFolder, WorkFolderBase,
    ::testing::Values(StateHomeCase{"XdgStateHome", "/x/state", "/home/u", "/x/state"},
                      StateHomeCase{"TrailingSlashes", "/x/state//", "/home/u", "/x/state"},
                      StateHomeCase{"RelativeIsIgnored", "state", "/home/u", "/home/u/.local/state"},
                      StateHomeCase{"EmptyIsIgnored", "", "/home/u/", "/home/u/.local/state"},
                      StateHomeCase{"Unset", std::nullopt, "/home/u", "/home/u/.local/state"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(ProgramFolderTest, EnsureMakesAPrivateWorkFolderWithTmpAndSkin)
{
    test::TempFolder state;
    EnvScope scope("XDG_STATE_HOME", state.Path() + "deep/er");
    const std::string program = "/usr/lib/velmora/";
    const std::string work = WorkFolderOf(program);
    ASSERT_EQ(work.rfind(state.Path() + "deep/er/velmora/", 0), 0u);

    std::string error;
    ASSERT_TRUE(EnsureWorkFolder(program, &error)) << error;
    EXPECT_EQ(ModeOf(work), 0700);
    EXPECT_EQ(ModeOf(state.Path() + "deep/er/velmora"), 0700) << "folders made on the way are private too";
    EXPECT_TRUE(fs::is_directory(work + "tmp"));
    EXPECT_TRUE(fs::is_directory(work + "skin"));

    // An existing folder opened up by hand is made private again; its content stays.
    chmod(work.c_str(), 0755);
    test::WriteFileBytes(work + "tmp/keep", "x");
    ASSERT_TRUE(EnsureWorkFolder(program, &error)) << error;
    EXPECT_EQ(ModeOf(work), 0700);
    EXPECT_EQ(test::ReadFileBytes(work + "tmp/keep"), "x");
}

TEST_F(ProgramFolderTest, EnsureSaysWhichFolderCannotBeUsed)
{
    test::TempFolder state;
    test::WriteFileBytes(state.Path() + "file", "x");
    {
        EnvScope scope("XDG_STATE_HOME", state.Path() + "file");
        std::string error;
        EXPECT_FALSE(EnsureWorkFolder("/usr/lib/velmora/", &error));
        EXPECT_NE(error.find(state.Path() + "file/velmora"), std::string::npos) << error;
    }
    if (geteuid() == 0) {
        // A work folder of another user is never used, even by the administrator.
        EnvScope scope("XDG_STATE_HOME", state.Path() + "state");
        const std::string work = WorkFolderOf("/usr/lib/velmora/");
        fs::create_directories(work);
        ASSERT_EQ(chown(work.c_str(), 65534, 65534), 0);
        std::string error;
        EXPECT_FALSE(EnsureWorkFolder("/usr/lib/velmora/", &error));
        EXPECT_NE(error.find("another user"), std::string::npos) << error;
    }
}

TEST_F(ProgramFolderTest, PathsRouteJobFilesAndWrittenSkinFilesToTheWorkFolder)
{
    test::TempProgramFolder program;
    const std::string work = program.Work();
    test::WriteFileBytes(program.Path() + "skin/h264.dat", "installed");

    // Job files always live in the work folder; installed files in the program folder.
    EXPECT_EQ(ProgramPath(program.Path(), "tmp/option.dat"), work + "tmp/option.dat");
    EXPECT_EQ(ProgramPath(program.Path(), "tmp"), work + "tmp/");
    EXPECT_EQ(WritablePath(program.Path(), "tmp/wmv.prx"), work + "tmp/wmv.prx");
    EXPECT_EQ(ProgramPath(program.Path(), "kvengine"), program.Path() + "kvengine");
    EXPECT_EQ(ProgramPath(program.Path(), "skinny/x"), program.Path() + "skinny/x") << "only the skin/ folder";
    EXPECT_EQ(ProgramPath(program.Path(), "tmpfile"), program.Path() + "tmpfile") << "only the tmp/ folder";

    // A skin file is read from the installation until the user has written their own.
    EXPECT_EQ(ProgramPath(program.Path(), "skin/h264.dat"), program.Path() + "skin/h264.dat");
    EXPECT_EQ(WritablePath(program.Path(), "skin/h264.dat"), work + "skin/h264.dat");
    test::WriteFileBytes(WritablePath(program.Path(), "skin/h264.dat"), "mine");
    EXPECT_EQ(test::ReadFileBytes(ProgramPath(program.Path(), "skin/h264.dat")), "mine");
    EXPECT_EQ(test::ReadFileBytes(program.Path() + "skin/h264.dat"), "installed");

    // The one-argument forms are the same under the program folder.
    SetProgramFolderForTesting(program.Path());
    EXPECT_EQ(ProgramPath("skin/h264.dat"), work + "skin/h264.dat");
    EXPECT_EQ(WritablePath("skin/internet"), work + "skin/internet");
}

TEST_F(ProgramFolderTest, AnEngineSlotHasItsOwnJobFolder)
{
    test::TempProgramFolder program;
    SetCurrentEngineSlot(3);
    EXPECT_EQ(ProgramPath(program.Path(), "tmp/option.dat"), program.Work() + "tmp/slot-3/option.dat");
    EXPECT_EQ(WritablePath(program.Path(), "tmp/kvengine.log"), program.Work() + "tmp/slot-3/kvengine.log");
    EXPECT_EQ(WritablePath(program.Path(), "skin/decoder.xml"), program.Work() + "skin/decoder.xml")
        << "skin files are the user's, shared by every slot";
}

} // namespace
} // namespace velmora
