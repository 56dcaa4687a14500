#include "common/KvJobBlock.h"

#include "support/TempFolder.h"

#include <cstring>
#include <gtest/gtest.h>
#include <sys/stat.h>

namespace velmora {
namespace {

std::int32_t Int32At(const tagKvJobBlock& block, size_t offset)
{
    unsigned char bytes[4];
    std::memcpy(bytes, reinterpret_cast<const unsigned char*>(&block) + offset, 4);
    return static_cast<std::int32_t>(bytes[0] | bytes[1] << 8 | bytes[2] << 16 | static_cast<std::uint32_t>(bytes[3]) << 24);
}

TEST(JobBlockTest, FieldsLandAtTheirByteOffsetsLittleEndian)
{
    tagKvJobBlock block {};
    block.nPreset = 0x01020304;
    block.bGraphRunning = 5;
    block.bStartConvert = 6;
    block.bPreview = 7;
    block.bPlayMode = 8;
    block.bEngineClosed = 9;
    block.nState = kKvJobPreviewRequested;
    block.nReserved28 = 11;
    block.bConvertJob = 12;
    block.nSizeModeOverride = 13;
    block.hPreviewWnd = 0x8000000Eu;
    block.nFileSizeOverride = 15;
    block.nQualityOverride = 16;
    block.bPlayFailed = 17;
    block.bConvertFailed = 18;
    block.dPosition = 1.5;
    block.dDuration = -2.0;

    const auto* bytes = reinterpret_cast<const unsigned char*>(&block);
    EXPECT_EQ(bytes[0], 0x04);
    EXPECT_EQ(bytes[3], 0x01);
    const std::pair<size_t, std::int32_t> expected[] = {
        { 4, 5 }, { 8, 6 }, { 12, 7 }, { 16, 8 }, { 20, 9 }, { 24, 3 }, { 28, 11 }, { 56, 12 },
        { 1100, 13 }, { 1104, static_cast<std::int32_t>(0x8000000Eu) }, { 1108, 15 }, { 1112, 16 },
        { 1116, 0 }, { 1120, 17 }, { 1124, 18 },
    };
    for (auto [offset, value] : expected)
        EXPECT_EQ(Int32At(block, offset), value) << "offset " << offset;
    EXPECT_EQ(block.nVideoBitrateOverride, static_cast<std::int32_t>(0x8000000Eu)) << "1104 is one field with two uses";

    // 1.5 = 0x3FF8000000000000, -2.0 = 0xC000000000000000
    EXPECT_EQ(bytes[39], 0x3F);
    EXPECT_EQ(bytes[38], 0xF8);
    EXPECT_EQ(bytes[55], 0xC0);
}

TEST(JobBlockTest, PathFieldsHoldUpTo259UnitsAndAreClearedWhole)
{
    tagKvJobBlock block {};
    std::memset(block.szOutputFile, 0xAB, sizeof block.szOutputFile);

    std::u16string longest(259, u'x');
    ASSERT_TRUE(SetJobPath(block.szOutputFile, longest));
    EXPECT_EQ(block.szOutputFile[259], u'\0');
    EXPECT_EQ(GetJobPath(block.szOutputFile), longest);

    ASSERT_TRUE(SetJobPath(block.szOutputFile, u"/music/a.mp3"));
    EXPECT_EQ(GetJobPath(block.szOutputFile), u"/music/a.mp3");
    for (size_t i = 12; i < kKvJobPathUnits; ++i)
        ASSERT_EQ(block.szOutputFile[i], u'\0') << "unit " << i << " keeps an old path's tail";
    EXPECT_EQ(block.szListFile[0], u'\0') << "the neighbour field is not touched";
}

TEST(JobBlockTest, APathThatDoesNotFitIsRefusedAndTheFieldKeptAsItWas)
{
    tagKvJobBlock block {};
    ASSERT_TRUE(SetJobPath(block.szOutputFile, u"/old.wma"));
    tagKvJobBlock before = block;

    EXPECT_FALSE(SetJobPath(block.szOutputFile, std::u16string(260, u'y')));
    EXPECT_FALSE(SetJobPath(block.szOutputFile, std::u16string(u"/a\0b.mp3", 8)));
    EXPECT_EQ(std::memcmp(&block, &before, sizeof block), 0);

    // Measured in UTF-16 units: 130 characters outside the BMP are 260 units.
    std::string utf8;
    for (int i = 0; i < 130; ++i)
        utf8 += "\xF0\x9F\x8E\xB5"; // U+1F3B5
    EXPECT_FALSE(SetJobPathUtf8(block.szOutputFile, utf8));
    EXPECT_FALSE(SetJobPathWide(block.szOutputFile, std::wstring(130, L'\U0001F3B5')));
    EXPECT_TRUE(SetJobPathWide(block.szOutputFile, std::wstring(129, L'\U0001F3B5')));

    // A name that is not valid UTF-8 could only be stored altered.
    before = block;
    EXPECT_FALSE(SetJobPathUtf8(block.szOutputFile, "/music/caf\xE9.mp3"));
    EXPECT_EQ(std::memcmp(&block, &before, sizeof block), 0);
}

TEST(JobBlockTest, PathsRoundTripThroughUtf8AndWide)
{
    tagKvJobBlock block {};
    const std::string path = "/home/u/Live <2019> & \"Café\" \xF0\x9F\x8E\xB5.wma";
    ASSERT_TRUE(SetJobPathUtf8(block.szOutputFile, path));
    EXPECT_EQ(GetJobPathUtf8(block.szOutputFile), path);
    EXPECT_EQ(GetJobPathWide(block.szOutputFile), L"/home/u/Live <2019> & \"Café\" \U0001F3B5.wma");
    EXPECT_EQ(block.szOutputFile[29], 0xD83C) << "stored as a surrogate pair";
    EXPECT_EQ(block.szOutputFile[30], 0xDFB5);
}

TEST(JobBlockTest, AFieldWithoutTerminatorIsReadWithinItsBounds)
{
    tagKvJobBlock block {};
    std::fill(std::begin(block.szListFile), std::end(block.szListFile), u'z');
    EXPECT_EQ(GetJobPath(block.szListFile), std::u16string(260, u'z'));
}

TEST(JobBlockTest, AtomicAccessorsReadAndWriteWholeValues)
{
    tagKvJobBlock block {};
    StoreRelease(block.nState, kKvJobRunning);
    StoreRelease(block.dPosition, 3723.46);
    StoreRelease(block.hPreviewWnd, 0xFFFFFFFFu);
    EXPECT_EQ(LoadAcquire(block.nState), kKvJobRunning);
    EXPECT_EQ(LoadAcquire(block.dPosition), 3723.46);
    EXPECT_EQ(LoadAcquire(block.hPreviewWnd), 0xFFFFFFFFu);
    const tagKvJobBlock& readOnly = block;
    EXPECT_EQ(LoadAcquire(readOnly.nState), kKvJobRunning);
}

TEST(JobBlockTest, ListModeNeedsAnExistingFile)
{
    test::TempProgramFolder folder;
    tagKvJobBlock block {};
    EXPECT_FALSE(IsListModeJob(block)) << "the front end writes the field empty";

    ASSERT_TRUE(SetJobPathUtf8(block.szListFile, folder.Path() + "list.txt"));
    EXPECT_FALSE(IsListModeJob(block));
    test::WriteFileBytes(folder.Path() + "list.txt", "x");
    EXPECT_TRUE(IsListModeJob(block));

    ASSERT_TRUE(SetJobPathUtf8(block.szListFile, folder.Path() + "tmp"));
    EXPECT_FALSE(IsListModeJob(block)) << "a folder is not a list file";
}

} // namespace
} // namespace velmora
