#include "media/KvCueSheet.h"

#include <libcue.h>

#include <algorithm>
#include <cerrno>
#include <iconv.h>
#include <memory>
#include <mutex>

namespace velmora {

namespace {

constexpr double kFramesPerSecond = 75.0;

// text from one encoding to UTF-8 by iconv; empty when it cannot be converted.
std::string Convert(std::string_view text, const char* from, bool* ok)
{
    *ok = false;
    iconv_t converter = iconv_open("UTF-8", from);
    if (converter == reinterpret_cast<iconv_t>(-1))
        return std::string();
    std::string out(text.size() * 4 + 16, '\0');
    char* in = const_cast<char*>(text.data());
    size_t inLeft = text.size();
    char* target = out.data();
    size_t outLeft = out.size();
    const size_t result = iconv(converter, &in, &inLeft, &target, &outLeft);
    iconv_close(converter);
    if (result == static_cast<size_t>(-1))
        return std::string();
    out.resize(out.size() - outLeft);
    *ok = true;
    return out;
}

std::string Text(const char* value)
{
    return value ? std::string(value) : std::string();
}

// libcue's parser keeps its state in globals.
std::mutex& ParserLock()
{
    static std::mutex lock;
    return lock;
}

struct CdDeleter
{
    void operator()(Cd* cd) const { cd_delete(cd); }
};

} // namespace

std::vector<std::string> KvCueSheet::Files() const
{
    std::vector<std::string> files;
    for (const KvCueTrack& track : tracks) {
        if (std::find(files.begin(), files.end(), track.file) == files.end())
            files.push_back(track.file);
    }
    return files;
}

std::string CueTextToUtf8(std::string_view bytes)
{
    if (bytes.substr(0, 3) == "\xEF\xBB\xBF")
        bytes.remove_prefix(3);
    else if (bytes.substr(0, 2) == "\xFF\xFE" || bytes.substr(0, 2) == "\xFE\xFF") {
        bool ok = false;
        std::string text = Convert(bytes, "UTF-16", &ok); // iconv reads the mark and drops it
        if (ok)
            return text;
        return std::string();
    }
    bool ok = false;
    // iconv's UTF-8 reader refuses what is not valid UTF-8 (overlong forms, surrogates).
    std::string text = Convert(bytes, "UTF-8", &ok);
    if (ok)
        return text;
    text = Convert(bytes, "WINDOWS-1252", &ok);
    if (ok)
        return text;
    // Five byte values have no character in Windows-1252; Latin-1 takes every byte.
    return Convert(bytes, "ISO-8859-1", &ok);
}

bool ParseCueSheet(std::string_view bytes, KvCueSheet& sheet, std::string* error)
{
    sheet = KvCueSheet();
    const auto fail = [error](const char* why) {
        if (error)
            *error = why;
        return false;
    };
    std::string text = CueTextToUtf8(bytes);
    // libcue reads a C string: a NUL inside ends the text there.
    text = text.substr(0, text.find('\0'));
    // A last line without its line end is still a line.
    if (!text.empty() && text.back() != '\n')
        text += '\n';
    std::unique_ptr<Cd, CdDeleter> cd;
    {
        const std::lock_guard<std::mutex> hold(ParserLock());
        cd.reset(cue_parse_string(text.c_str()));
    }
    if (!cd)
        return fail("the sheet cannot be read");
    if (const Cdtext* cdtext = cd_get_cdtext(cd.get())) {
        sheet.title = Text(cdtext_get(PTI_TITLE, cdtext));
        sheet.performer = Text(cdtext_get(PTI_PERFORMER, cdtext));
        // libcue files "REM GENRE" with the CD-TEXT genre.
        sheet.genre = Text(cdtext_get(PTI_GENRE, cdtext));
    }
    if (Rem* rem = cd_get_rem(cd.get()))
        sheet.date = Text(rem_get(REM_DATE, rem));
    const int count = cd_get_ntrack(cd.get());
    for (int i = 1; i <= count; ++i) {
        const Track* track = cd_get_track(cd.get(), i);
        if (!track)
            continue;
        if (track_get_mode(track) != MODE_AUDIO)
            continue; // a data track of an enhanced CD
        KvCueTrack entry;
        entry.number = i;
        entry.file = Text(track_get_filename(track));
        const long start = track_get_start(track);
        if (entry.file.empty())
            return fail("a track names no FILE");
        if (start < 0)
            return fail("a track has no INDEX 01");
        entry.start = double(start) / kFramesPerSecond;
        if (const Cdtext* cdtext = track_get_cdtext(track)) {
            entry.title = Text(cdtext_get(PTI_TITLE, cdtext));
            entry.performer = Text(cdtext_get(PTI_PERFORMER, cdtext));
        }
        if (!sheet.tracks.empty() && sheet.tracks.back().file == entry.file) {
            KvCueTrack& before = sheet.tracks.back();
            if (!(entry.start > before.start))
                return fail("its tracks do not start one after another");
            before.end = entry.start;
        }
        sheet.tracks.push_back(std::move(entry));
    }
    if (sheet.tracks.empty())
        return fail("the sheet lists no audio track");
    return true;
}

} // namespace velmora
