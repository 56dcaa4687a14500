#include "common/KvOptionRecord.h"

#include "common/KvAudioFormats.h"

#include "common/KvProgramFolder.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace velmora {

namespace {

constexpr const char* kOptionFile = "tmp/option.dat";

struct PresetRow
{
    const char* name;
    int resolutionClass;
    int aspect;
    int sizeMode;
    int videoBitrate;
    int fileSizeMB;
    int quality;
    int width;
    int height;
    int overlayQuality; // the front end's; the engine's records keep 0
};

// Preset 4's width differs between the programs (856 in the front end, 864 in the
// engine); the row holds the front end's value.
constexpr PresetRow kPresets[kKvPresetCount] = {
    { "HD VIDEO 1080P 16:9", 0, 0, 2, 6000, 100, 20, 1920, 1080, 2 },
    { "HD VIDEO 1080P 4:3",  0, 1, 2, 6000, 100, 20, 1440, 1080, 2 },
    { "HD VIDEO 720P 16:9",  1, 0, 2, 2000, 100, 25, 1280,  720, 2 },
    { "HD VIDEO 720P 4:3",   1, 1, 2, 2000, 100, 25,  960,  720, 2 },
    { "SD VIDEO 480P 16:9",  2, 0, 2, 1500, 100, 25,  856,  480, 2 },
    { "SD VIDEO 480P 4:3",   2, 1, 2, 1500, 100, 25,  640,  480, 2 },
    { "SD VIDEO 360P 16:9",  3, 0, 2,  600, 100, 25,  640,  360, 1 },
    { "SD VIDEO 360P 4:3",   3, 1, 2,  600, 100, 25,  480,  360, 1 },
    { "SD VIDEO 240P 16:9",  4, 0, 2,  350, 100, 25,  428,  240, 0 },
    { "SD VIDEO 240P 4:3",   4, 1, 2,  350, 100, 25,  320,  240, 0 },
};
constexpr int kEnginePreset4Width = 864;

tagKvOptionRecord PresetValues(int preset)
{
    const PresetRow& row = kPresets[preset];
    tagKvOptionRecord record {};
    record.nPreset = preset;
    record.nResolutionClass = row.resolutionClass;
    record.nAspect = row.aspect;
    record.nSizeMode = row.sizeMode;
    record.nVideoBitrate = row.videoBitrate;
    record.nFileSizeMB = row.fileSizeMB;
    record.nQuality = row.quality;
    record.nWidth = row.width;
    record.nHeight = row.height;
    return record;
}

bool IsPreset(int preset)
{
    return preset >= 0 && preset < kKvPresetCount;
}

} // namespace

const char* PresetName(int preset)
{
    return IsPreset(preset) ? kPresets[preset].name : "";
}

KvPresetTable MakeFrontEndPresetTable()
{
    KvPresetTable table {};
    for (int i = 0; i < kKvPresetCount; ++i) {
        tagKvOptionRecord record = PresetValues(i);
        record.nOverlayQuality = kPresets[i].overlayQuality;
        record.nWmvCodec = 5;
        record.nWmaCodec = 2;
        record.nWmaFormat = 0;
        record.nOutputType = kKvOutputMp3;
        record.nAudioBitrate = 128;
        record.nSampleRate = 48000;
        record.nChannels = 1;
        table[static_cast<size_t>(i)] = record;
    }
    return table;
}

KvPresetTable MakeEnginePresetTable()
{
    KvPresetTable table {};
    for (int i = 0; i < kKvPresetCount; ++i)
        table[static_cast<size_t>(i)] = PresetValues(i);
    table[kKvDefaultPreset].nWidth = kEnginePreset4Width;
    return table;
}

int OverlayQualityChoices(int preset)
{
    if (!IsPreset(preset))
        return 1;
    return 5 - preset / 2;
}

KvSize OverlayResolution(int overlayQuality)
{
    static constexpr KvSize kResolutions[] = {
        { 320, 240 }, { 480, 360 }, { 720, 480 }, { 1280, 720 }, { 1440, 1080 },
    };
    return kResolutions[std::clamp(overlayQuality, 0, 4)];
}

int ChoosePresetIndex(int jobPreset)
{
    return IsPreset(jobPreset) ? jobPreset : kKvDefaultPreset;
}

bool LoadOptions(int jobPreset, tagKvEngineOptions& options, const std::string& programFolder)
{
    options.table = MakeEnginePresetTable();
    options.nCurrent = ChoosePresetIndex(jobPreset);
    options.nBytesRead = 0;

    std::string path = ProgramPath(programFolder, kOptionFile);
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;

    // Read whole before anything is overwritten, so a read error leaves the entry at
    // its built-in values rather than half replaced.
    unsigned char bytes[kKvOptionRecordSize];
    size_t have = 0;
    bool ok = true;
    while (have < sizeof bytes) {
        ssize_t n = read(fd, bytes + have, sizeof bytes - have);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            ok = false;
            break;
        }
        if (n == 0)
            break;
        have += static_cast<size_t>(n);
    }
    close(fd);
    if (!ok)
        return false;
    std::memcpy(&options.Current(), bytes, have);
    options.nBytesRead = have;
    return true;
}

bool LoadOptions(int jobPreset, tagKvEngineOptions& options)
{
    return LoadOptions(jobPreset, options, GetProgramFolder());
}

void ApplyListModeOverrides(tagKvOptionRecord& record, const tagKvJobBlock& block)
{
    record.nSizeMode = block.nSizeModeOverride;
    record.nVideoBitrate = block.nVideoBitrateOverride;
    record.nFileSizeMB = block.nFileSizeOverride;
    record.nQuality = block.nQualityOverride;
}

bool WriteOptionFile(const tagKvOptionRecord& record, const std::string& programFolder)
{
    return WriteOptionFileTo(record, ProgramPath(programFolder, kOptionFile));
}

bool WriteOptionFileTo(const tagKvOptionRecord& record, const std::string& path)
{
    int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0)
        return false;
    const auto* bytes = reinterpret_cast<const unsigned char*>(&record);
    size_t done = 0;
    bool ok = true;
    while (done < sizeof record) {
        ssize_t n = write(fd, bytes + done, sizeof record - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            ok = false;
            break;
        }
        done += static_cast<size_t>(n);
    }
    if (close(fd) != 0)
        ok = false;
    return ok;
}

bool WriteOptionFile(const tagKvOptionRecord& record)
{
    return WriteOptionFile(record, GetProgramFolder());
}

int RoundAndClampDimension(int value, int minimum, int maximum)
{
    // Down means toward minus infinity, also for a negative value.
    int rounded = value - ((value % 4) + 4) % 4;
    return std::clamp(rounded, minimum, maximum);
}

int RoundAndClampWidth(int width)
{
    return RoundAndClampDimension(width, kKvMinDimension, kKvMaxWidth);
}

int RoundAndClampHeight(int height)
{
    return RoundAndClampDimension(height, kKvMinDimension, kKvMaxHeight);
}

const char* OutputExtension(int outputType)
{
    switch (outputType) {
    case 3: case 4: case 5: return ".avi";
    case 6: return ".mov";
    case 7: return ".wma";
    case 8: return ".asf";
    case 9: case 10: case 11: return ".mpg";
    case 12: return ".flv";
    case 13: return ".mkv";
    default:
        if (const KvAudioFormat* format = FindAudioFormat(outputType))
            return format->extension;
        return ".mp3";
    }
}

const char* OutputSaveFilter(int outputType)
{
    switch (outputType) {
    case 3: case 4: case 5: return "Video (*.avi)|*.avi|";
    case 6: return "Video (*.mov)|*.mov|";
    case 7: return "Audio (*.wma)|*.wma|";
    case 8: return "Video (*.asf)|*.asf|";
    case 9: case 10: case 11: return "Video (*.mpg)|*.mpg|";
    case 12: return "Video (*.flv)|*.flv|";
    case 13: return "Video (*.mkv)|*.mkv|";
    case kKvOutputOriginal: return "Audio (*.*)|*.*|";
    case kKvOutputFlac: return "Audio (*.flac)|*.flac|";
    case kKvOutputWav: return "Audio (*.wav)|*.wav|";
    case kKvOutputAlac: case kKvOutputAac: return "Audio (*.m4a)|*.m4a|";
    case kKvOutputOpus: return "Audio (*.opus)|*.opus|";
    case kKvOutputVorbis: return "Audio (*.ogg)|*.ogg|";
    default: return "Audio (*.mp3)|*.mp3|";
    }
}

bool IsWindowsMediaOutput(int outputType)
{
    return outputType == 7 || outputType == 8;
}

int OutputChannelCount(int channels)
{
    return channels == 0 ? 1 : 2;
}

} // namespace velmora
