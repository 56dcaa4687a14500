#include "common/KvProgramFolder.h"

#include "CommonTestHelper.h"
#include "support/TempFolder.h"

#include <climits>
#include <cstdlib>
#include <gtest/gtest.h>

namespace velmora {
namespace {

class ProgramFolderTest : public ::testing::Test
{
protected:
    void TearDown() override { SetProgramFolderForTesting(""); }
};

TEST_F(ProgramFolderTest, IsTheRealFolderOfTheExecutableWithATrailingSlash)
{
    char resolved[PATH_MAX];
    ASSERT_NE(realpath("/proc/self/exe", resolved), nullptr);
    std::string expected = resolved;
    expected.resize(expected.rfind('/') + 1);

    EXPECT_EQ(GetProgramFolder(), expected);
    EXPECT_EQ(GetProgramFolder(), expected) << "cached value changed";
    EXPECT_EQ(ProgramPath("tmp/option.dat"), expected + "tmp/option.dat");
}

TEST_F(ProgramFolderTest, TestOverrideAddsTheSlashAndCanBeUndone)
{
    const std::string real = GetProgramFolder();
    test::TempProgramFolder folder;
    std::string withoutSlash = folder.Path().substr(0, folder.Path().size() - 1);

    SetProgramFolderForTesting(withoutSlash);
    EXPECT_EQ(GetProgramFolder(), folder.Path());
    EXPECT_EQ(ProgramPath("skin/h264.dat"), folder.Path() + "skin/h264.dat");

    SetProgramFolderForTesting("");
    EXPECT_EQ(GetProgramFolder(), real);
}

} // namespace
} // namespace velmora
