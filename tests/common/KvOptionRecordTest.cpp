#include "common/KvOptionRecord.h"

#include "common/KvProgramFolder.h"
#include "support/TempFolder.h"

#include <cstring>
#include <filesystem>
#include <gtest/gtest.h>
#include <sys/stat.h>

namespace velmora {
namespace {

using test::ReadFileBytes;
using test::TempProgramFolder;
using test::WriteFileBytes;

std::string BytesOf(const tagKvOptionRecord& record)
{
    return std::string(reinterpret_cast<const char*>(&record), sizeof record);
}

// A record whose every field differs from every preset's, field i = 1000 + i.
tagKvOptionRecord Distinct()
{
    tagKvOptionRecord record {};
    auto* fields = reinterpret_cast<std::int32_t*>(&record);
    for (int i = 0; i < 21; ++i)
        fields[i] = 1000 + i;
    return record;
}

TEST(PresetTableTest, FrontEndStartsEveryPresetWithTheAudioDefaults)
{
    KvPresetTable table = MakeFrontEndPresetTable();
    const int overlay[kKvPresetCount] = { 2, 2, 2, 2, 2, 2, 1, 1, 0, 0 };
    for (int i = 0; i < kKvPresetCount; ++i) {
        const tagKvOptionRecord& r = table[i];
        SCOPED_TRACE(PresetName(i));
        EXPECT_EQ(r.nPreset, i);
        EXPECT_EQ(r.nOverlayQuality, overlay[i]);
        EXPECT_EQ(r.nWmvCodec, 5);
        EXPECT_EQ(r.nWmaCodec, 2);
        EXPECT_EQ(r.nWmaFormat, 0);
        EXPECT_EQ(r.nOutputType, 0);
        EXPECT_EQ(r.nAudioBitrate, 128);
        EXPECT_EQ(r.nSampleRate, 48000);
        EXPECT_EQ(r.nChannels, 1);
        EXPECT_EQ(r.bForceResize, 0);
        EXPECT_EQ(r.bFlipVideo, 0);
        EXPECT_EQ(r.nAudioQuality, 0);
        EXPECT_EQ(r.nJobFlags, 0);
        EXPECT_EQ(r.nSizeMode, 2);
        EXPECT_EQ(r.nFileSizeMB, 100);
    }
    EXPECT_EQ(table[4].nWidth, 856);
    EXPECT_EQ(table[4].nHeight, 480);
    EXPECT_EQ(table[0].nVideoBitrate, 6000);
    EXPECT_EQ(table[0].nQuality, 20);
    EXPECT_EQ(table[1].nWidth, 1440);
    EXPECT_EQ(table[1].nAspect, 1);
    EXPECT_EQ(table[8].nWidth, 428);
    EXPECT_EQ(table[8].nResolutionClass, 4);
    EXPECT_EQ(table[9].nVideoBitrate, 350);
    EXPECT_EQ(table[9].nQuality, 25);
}

TEST(PresetTableTest, EngineDiffersInPreset4WidthAndLeavesTheFileFieldsZero)
{
    KvPresetTable engine = MakeEnginePresetTable();
    KvPresetTable frontEnd = MakeFrontEndPresetTable();
    EXPECT_EQ(engine[4].nWidth, 864);
    EXPECT_EQ(engine[4].nHeight, 480);
    for (int i = 0; i < kKvPresetCount; ++i) {
        tagKvOptionRecord expected = frontEnd[i];
        if (i == 4)
            expected.nWidth = 864;
        expected.nOverlayQuality = expected.nWmvCodec = expected.nWmaCodec = 0;
        expected.nOutputType = expected.nAudioBitrate = expected.nSampleRate = expected.nChannels = 0;
        EXPECT_EQ(engine[i], expected) << "preset " << i;
    }
}

TEST(PresetTableTest, NamesAndOverlayTables)
{
    EXPECT_STREQ(PresetName(0), "HD VIDEO 1080P 16:9");
    EXPECT_STREQ(PresetName(4), "SD VIDEO 480P 16:9");
    EXPECT_STREQ(PresetName(9), "SD VIDEO 240P 4:3");
    EXPECT_STREQ(PresetName(10), "");
    EXPECT_STREQ(PresetName(-1), "");

    const int choices[kKvPresetCount] = { 5, 5, 4, 4, 3, 3, 2, 2, 1, 1 };
    for (int i = 0; i < kKvPresetCount; ++i)
        EXPECT_EQ(OverlayQualityChoices(i), choices[i]) << i;
    EXPECT_EQ(OverlayResolution(0).nWidth, 320);
    EXPECT_EQ(OverlayResolution(2).nHeight, 480);
    EXPECT_EQ(OverlayResolution(4).nWidth, 1440);
    EXPECT_EQ(OverlayResolution(4).nHeight, 1080);
    EXPECT_EQ(OverlayResolution(7).nWidth, 1440);
}

class OptionFileTest : public ::testing::Test
{
protected:
    std::string OptionPath() const { return m_folder.Work() + "tmp/option.dat"; }
    TempProgramFolder m_folder;
};

TEST_F(OptionFileTest, JobPresetOutsideZeroToNineChoosesEntry4)
{
    for (int preset : { 4, 12, 10, -1, -2147483647 - 1 }) {
        EXPECT_EQ(ChoosePresetIndex(preset), 4) << preset;
    }
    for (int preset = 0; preset < kKvPresetCount; ++preset)
        EXPECT_EQ(ChoosePresetIndex(preset), preset);

    WriteFileBytes(OptionPath(), "");
    tagKvEngineOptions options;
    ASSERT_TRUE(LoadOptions(12, options, m_folder.Path()));
    EXPECT_EQ(options.nCurrent, 4);
    EXPECT_EQ(options.Current().nWidth, 864) << "an empty file leaves the built-in entry";
    EXPECT_EQ(options.Current(), MakeEnginePresetTable()[4]);
}

TEST_F(OptionFileTest, WhatTheFrontEndWritesTheEngineReadsBack)
{
    tagKvOptionRecord written = MakeFrontEndPresetTable()[6];
    written.nOutputType = kKvOutputWma;
    written.nChannels = 0;
    written.nWidth = 1000;
    ASSERT_TRUE(WriteOptionFile(written, m_folder.Path()));
    EXPECT_EQ(ReadFileBytes(OptionPath()), BytesOf(written));

    tagKvEngineOptions options;
    ASSERT_TRUE(LoadOptions(6, options, m_folder.Path()));
    EXPECT_EQ(options.Current(), written);
    EXPECT_EQ(options.table[5], MakeEnginePresetTable()[5]) << "other entries stay built-in";
}

TEST_F(OptionFileTest, TheFileFollowsTheProgramFolder)
{
    tagKvOptionRecord written = Distinct();
    SetProgramFolderForTesting(m_folder.Path());
    bool wrote = WriteOptionFile(written);
    tagKvEngineOptions options;
    bool read = LoadOptions(2, options);
    SetProgramFolderForTesting("");
    ASSERT_TRUE(wrote);
    ASSERT_TRUE(read);
    EXPECT_EQ(options.Current(), written);
}

TEST_F(OptionFileTest, AShortFileOverwritesOnlyTheStartOfTheEntry)
{
    tagKvOptionRecord file = Distinct();
    WriteFileBytes(OptionPath(), BytesOf(file).substr(0, 40));
    tagKvEngineOptions options;
    ASSERT_TRUE(LoadOptions(4, options, m_folder.Path()));
    const tagKvOptionRecord& r = options.Current();
    EXPECT_EQ(r.nPreset, 1000);
    EXPECT_EQ(r.nQuality, 1009);
    EXPECT_EQ(r.nWidth, 864);
    EXPECT_EQ(r.nHeight, 480);
    EXPECT_EQ(r.nAudioBitrate, 0);
    EXPECT_EQ(r.nSampleRate, 0);

    // A cut inside a field overwrites the bytes present (little-endian low bytes).
    WriteFileBytes(OptionPath(), BytesOf(file).substr(0, 42));
    ASSERT_TRUE(LoadOptions(4, options, m_folder.Path()));
    EXPECT_EQ(options.Current().nWidth, (864 & ~0xFFFF) | (1010 & 0xFFFF));
}

TEST_F(OptionFileTest, ALongerFileIsReadOnlyForItsFirst84Bytes)
{
    tagKvOptionRecord file = Distinct();
    WriteFileBytes(OptionPath(), BytesOf(file) + std::string(16, '\x7F'));
    tagKvEngineOptions options;
    ASSERT_TRUE(LoadOptions(0, options, m_folder.Path()));
    EXPECT_EQ(options.Current(), file);
    EXPECT_EQ(options.table[1], MakeEnginePresetTable()[1]);
}

TEST_F(OptionFileTest, AMissingOrUnreadableFileFailsTheLoad)
{
    tagKvEngineOptions options;
    EXPECT_FALSE(LoadOptions(3, options, m_folder.Path()));
    EXPECT_EQ(options.nCurrent, 3);
    EXPECT_EQ(options.Current(), MakeEnginePresetTable()[3]);

    std::filesystem::create_directory(OptionPath());
    EXPECT_FALSE(LoadOptions(3, options, m_folder.Path())) << "a folder in its place";
    EXPECT_EQ(options.Current(), MakeEnginePresetTable()[3]);
}

TEST_F(OptionFileTest, TheWriterTruncatesAndReportsFailure)
{
    WriteFileBytes(OptionPath(), std::string(200, 'x'));
    ASSERT_TRUE(WriteOptionFile(Distinct(), m_folder.Path()));
    EXPECT_EQ(ReadFileBytes(OptionPath()).size(), 84u);

    TempProgramFolder noTmp;
    std::filesystem::remove_all(noTmp.Work() + "tmp");
    EXPECT_FALSE(WriteOptionFile(Distinct(), noTmp.Path()));

    std::filesystem::remove(OptionPath());
    std::filesystem::create_directory(OptionPath());
    EXPECT_FALSE(WriteOptionFile(Distinct(), m_folder.Path()));
}

TEST(OptionRecordTest, ListModeCopiesTheFourOverridesInOrder)
{
    tagKvJobBlock block {};
    block.nSizeModeOverride = 1;
    block.nVideoBitrateOverride = 2500;
    block.nFileSizeOverride = 700;
    block.nQualityOverride = 3;
    tagKvOptionRecord record = MakeEnginePresetTable()[0];
    tagKvOptionRecord expected = record;
    ApplyListModeOverrides(record, block);
    expected.nSizeMode = 1;
    expected.nVideoBitrate = 2500;
    expected.nFileSizeMB = 700;
    expected.nQuality = 3;
    EXPECT_EQ(record, expected);
}

struct DimensionCase
{
    int typed;
    int width;
    int height;
};

void PrintTo(const DimensionCase& c, std::ostream* out)
{
    *out << c.typed;
}

class DimensionTest : public ::testing::TestWithParam<DimensionCase>
{
};

TEST_P(DimensionTest, RoundsDownToAMultipleOf4AndClamps)
{
    const DimensionCase& c = GetParam();
    EXPECT_EQ(RoundAndClampWidth(c.typed), c.width);
    EXPECT_EQ(RoundAndClampHeight(c.typed), c.height);
}

INSTANTIATE_TEST_SUITE_P(TypedValues, DimensionTest, ::testing::Values(
    DimensionCase { 1923, 1920, 1440 },
    DimensionCase { 50, 80, 80 },
    DimensionCase { 1001, 1000, 1000 },
    DimensionCase { 83, 80, 80 },
    DimensionCase { 1443, 1440, 1440 },
    DimensionCase { 0, 80, 80 },
    DimensionCase { -7, 80, 80 },
    DimensionCase { 2147483647, 1920, 1440 },
    DimensionCase { -2147483647 - 1, 80, 80 }));

struct OutputTypeCase
{
    int code;
    const char* extension;
    const char* filter;
};

void PrintTo(const OutputTypeCase& c, std::ostream* out)
{
    *out << "code " << c.code;
}

class OutputTypeTest : public ::testing::TestWithParam<OutputTypeCase>
{
};

TEST_P(OutputTypeTest, ExtensionAndSaveFilter)
{
    const OutputTypeCase& c = GetParam();
    EXPECT_STREQ(OutputExtension(c.code), c.extension);
    EXPECT_STREQ(OutputSaveFilter(c.code), c.filter);
}

INSTANTIATE_TEST_SUITE_P(Codes, OutputTypeTest, ::testing::Values(
    OutputTypeCase { 0, ".mp3", "Audio (*.mp3)|*.mp3|" },
    OutputTypeCase { 1, ".mp3", "Audio (*.mp3)|*.mp3|" },
    OutputTypeCase { 2, ".mp3", "Audio (*.mp3)|*.mp3|" },
    OutputTypeCase { 3, ".avi", "Video (*.avi)|*.avi|" },
    OutputTypeCase { 5, ".avi", "Video (*.avi)|*.avi|" },
    OutputTypeCase { 6, ".mov", "Video (*.mov)|*.mov|" },
    OutputTypeCase { 7, ".wma", "Audio (*.wma)|*.wma|" },
    OutputTypeCase { 8, ".asf", "Video (*.asf)|*.asf|" },
    OutputTypeCase { 9, ".mpg", "Video (*.mpg)|*.mpg|" },
    OutputTypeCase { 11, ".mpg", "Video (*.mpg)|*.mpg|" },
    OutputTypeCase { 12, ".flv", "Video (*.flv)|*.flv|" },
    OutputTypeCase { 13, ".mkv", "Video (*.mkv)|*.mkv|" },
    OutputTypeCase { 15, ".flac", "Audio (*.flac)|*.flac|" },
    OutputTypeCase { 22, ".mp3", "Audio (*.mp3)|*.mp3|" },
    OutputTypeCase { -1, ".mp3", "Audio (*.mp3)|*.mp3|" }));

TEST(OptionRecordTest, WindowsMediaOutputsAndChannels)
{
    for (int code = -1; code <= 14; ++code)
        EXPECT_EQ(IsWindowsMediaOutput(code), code == 7 || code == 8) << code;
    EXPECT_EQ(OutputChannelCount(0), 1);
    EXPECT_EQ(OutputChannelCount(1), 2);
    EXPECT_EQ(OutputChannelCount(2), 2);
}

} // namespace
} // namespace velmora
