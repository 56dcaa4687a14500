#include "common/KvOutputFile.h"

#include "support/TempFolder.h"

#include <cerrno>
#include <filesystem>
#include <gtest/gtest.h>
#include <unistd.h>

namespace velmora {
namespace {

std::string NameOf(const std::string& path)
{
    return path.substr(path.rfind('/') + 1);
}

bool IsWholeUtf8(const std::string& text)
{
    for (size_t i = 0; i < text.size();) {
        const auto c = static_cast<unsigned char>(text[i]);
        const size_t length = c < 0x80 ? 1 : c < 0xE0 ? 2 : c < 0xF0 ? 3 : 4;
        if (i + length > text.size())
            return false;
        for (size_t k = 1; k < length; ++k)
            if ((static_cast<unsigned char>(text[i + k]) & 0xC0) != 0x80)
                return false;
        i += length;
    }
    return true;
}

TEST(OutputFile, EveryNameHasATemporaryNameOfItsOwnThatFits)
{
    EXPECT_EQ(PartialOutputPath("/music/(output001)song.mp3"), "/music/(output001)song.mp3.part");

    // Long names of three-byte characters: the cut must not split one, and two names
    // that differ only past the cut still get different temporary names.
    std::string stem;
    while (stem.size() < 300)
        stem += "\xE9\x9F\xB3";
    for (size_t length : {250, 251, 254, 255}) {
        SCOPED_TRACE(length);
        std::string a = "(output001)" + stem;
        a.resize(length - 4);
        while (!IsWholeUtf8(a))
            a.pop_back();
        const std::string b = a.substr(0, a.size() - 1) + "x";
        const std::string partA = NameOf(PartialOutputPath("/m/" + a + ".mp3"));
        const std::string partB = NameOf(PartialOutputPath("/m/" + b + ".mp3"));
        EXPECT_LE(partA.size(), kKvMaxNameBytes);
        EXPECT_TRUE(IsWholeUtf8(partA));
        EXPECT_NE(partA, partB);
        EXPECT_EQ(partA.substr(partA.size() - 5), ".part");
        EXPECT_EQ(PartialOutputPath("/m/" + a + ".mp3"), "/m/" + partA) << "the same name, the same temporary";
    }
}

TEST(OutputFile, MoveNeverReplacesAndCreateNeverReuses)
{
    test::TempFolder folder;
    const std::string from = folder.Path() + "from";
    const std::string to = folder.Path() + "to";
    const int fd = CreateExclusiveFile(from);
    ASSERT_GE(fd, 0);
    close(fd);
    EXPECT_EQ(CreateExclusiveFile(from), -EEXIST);
    ASSERT_EQ(symlink("elsewhere", to.c_str()), 0);  // a dangling link holds its name too
    EXPECT_EQ(MoveNoReplace(from, to), -EEXIST);
    EXPECT_TRUE(std::filesystem::exists(from));
    std::filesystem::remove(to);
    EXPECT_EQ(MoveNoReplace(from, to), 0);
    EXPECT_FALSE(std::filesystem::exists(from));
    EXPECT_TRUE(std::filesystem::exists(to));
}

} // namespace
} // namespace velmora
