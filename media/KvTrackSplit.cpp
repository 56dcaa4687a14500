#include "media/KvTrackSplit.h"

#include "media/KvChapters.h"
#include "media/KvCueSheet.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>

namespace fs = std::filesystem;

namespace velmora {

namespace {

bool ReadBytes(const fs::path& path, std::string& bytes)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return false;
    bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return !in.bad();
}

void Say(std::string* why, const std::string& text)
{
    if (why)
        *why = text;
}

// The sheet's tracks as split tracks, each FILE resolved by resolve (empty: refused).
template <typename Resolve>
std::vector<KvSplitTrack> TracksOf(const KvCueSheet& sheet, Resolve&& resolve, std::string* why)
{
    std::vector<KvSplitTrack> tracks;
    for (const KvCueTrack& cue : sheet.tracks) {
        const std::string file = resolve(cue.file, why);
        if (file.empty())
            return {};
        KvSplitTrack track;
        track.file = file;
        track.start = cue.start;
        track.end = cue.end;
        track.number = cue.number;
        track.count = int(sheet.tracks.size());
        track.title = cue.title;
        track.performer = cue.performer.empty() ? sheet.performer : cue.performer;
        track.album = sheet.title;
        track.albumArtist = sheet.performer;
        track.date = sheet.date;
        track.genre = sheet.genre;
        tracks.push_back(std::move(track));
    }
    return tracks;
}

std::vector<KvSplitTrack> ChapterTracks(const std::string& path, const std::vector<KvChapter>& chapters,
                                        std::string* why)
{
    if (chapters.size() < 2) {
        Say(why, "it has no chapters");
        return {};
    }
    std::vector<KvSplitTrack> tracks;
    for (size_t i = 0; i < chapters.size(); ++i) {
        KvSplitTrack track;
        track.file = path;
        // End to end: what comes before the first chapter goes with it, a gap between
        // chapters with the one before it, so the tracks together are the whole file.
        track.start = i == 0 ? 0.0 : chapters[i].start;
        track.end = i + 1 < chapters.size() ? chapters[i + 1].start : -1.0;
        track.number = int(i) + 1;
        track.count = int(chapters.size());
        track.title = chapters[i].title;
        tracks.push_back(std::move(track));
    }
    return tracks;
}

std::vector<KvSplitTrack> SheetTracks(const std::string& path, const std::string& inside, std::string* why)
{
    const fs::path audio = fs::absolute(path);
    // A sheet inside the file names the file itself, whatever it calls it.
    if (!inside.empty()) {
        KvCueSheet sheet;
        std::string error;
        if (ParseCueSheet(inside, sheet, &error) && sheet.Files().size() == 1)
            return TracksOf(sheet, [&](const std::string&, std::string*) { return audio.string(); }, why);
    }
    fs::path cue = audio;
    cue.replace_extension(".cue");
    std::error_code error;
    if (!fs::is_regular_file(cue, error)) {
        Say(why, "it has no CUE sheet");
        return {};
    }
    std::vector<KvSplitTrack> tracks = ReadCueTracks(cue.string(), why);
    // Of a sheet of several files, the tracks of this one.
    const fs::path real = fs::weakly_canonical(audio, error);
    tracks.erase(std::remove_if(tracks.begin(), tracks.end(),
                                [&](const KvSplitTrack& track) {
                                    std::error_code ignored;
                                    return fs::weakly_canonical(track.file, ignored) != real;
                                }),
                 tracks.end());
    if (tracks.empty() && why && why->empty())
        *why = "its CUE sheet does not name it";
    return tracks;
}

} // namespace

std::string MatchCueFile(const std::string& sheetFolder, const std::string& named, std::string* why)
{
    // Sheets written on Windows name files with backslashes, sometimes with a folder.
    std::string name = named;
    std::replace(name.begin(), name.end(), '\\', '/');
    const fs::path folder(sheetFolder);
    std::error_code error;
    const fs::path given = folder / fs::path(name);
    if (fs::is_regular_file(given, error))
        return given.string();
    const fs::path leaf = fs::path(name).filename();
    if (fs::is_regular_file(folder / leaf, error))
        return (folder / leaf).string();
    std::vector<fs::path> alike;
    for (fs::directory_iterator entry(folder, error), end; !error && entry != end; entry.increment(error)) {
        const fs::path candidate = entry->path();
        if (candidate.stem() == leaf.stem() && candidate.extension() != ".cue" && entry->is_regular_file(error))
            alike.push_back(candidate);
    }
    if (alike.size() == 1)
        return alike.front().string();
    Say(why, alike.empty() ? "the sheet's FILE \"" + named + "\" is not beside it, nor a file named \""
                                 + leaf.stem().string() + "\" with another extension"
                           : "the sheet's FILE \"" + named + "\" is not beside it, and "
                                 + std::to_string(alike.size()) + " files named \"" + leaf.stem().string()
                                 + "\" are");
    return std::string();
}

std::vector<KvSplitTrack> ReadCueTracks(const std::string& cuePath, std::string* why)
{
    std::string bytes;
    if (!ReadBytes(cuePath, bytes)) {
        Say(why, "the sheet cannot be read");
        return {};
    }
    KvCueSheet sheet;
    std::string error;
    if (!ParseCueSheet(bytes, sheet, &error)) {
        Say(why, error);
        return {};
    }
    const std::string folder = fs::absolute(cuePath).parent_path().string();
    return TracksOf(sheet, [&](const std::string& named, std::string* reason) { return MatchCueFile(folder, named, reason); },
                    why);
}

std::vector<KvSplitTrack> FindSplitTracks(const std::string& path, KvSplitSource source, std::string* why)
{
    // The file is opened once for its chapters and its CUESHEET tag.
    const KvFileTracks inside = ReadFileTracks(path);
    if (source == KvSplitSource::Chapters)
        return ChapterTracks(path, inside.chapters, why);
    std::string sheetWhy;
    std::vector<KvSplitTrack> tracks = SheetTracks(path, inside.cueSheet, &sheetWhy);
    if (!tracks.empty() || source == KvSplitSource::Cue) {
        Say(why, sheetWhy);
        return tracks;
    }
    return ChapterTracks(path, inside.chapters, why);
}

} // namespace velmora
