#include "media/KvChapters.h"

#include "media/KvFFMpegDeleters.h"
#include "media/KvMediaTags.h"

extern "C" {
#include <libavformat/avformat.h>
#include <libavutil/dict.h>
#include <libavutil/mem.h>
}

#include <algorithm>
#include <cmath>

namespace velmora {

namespace {

ScopedFormatContext Open(const std::string& path)
{
    AVFormatContext* raw = nullptr;
    if (avformat_open_input(&raw, path.c_str(), nullptr, nullptr) < 0)
        return ScopedFormatContext();
    ScopedFormatContext context(raw);
    if (avformat_find_stream_info(context.get(), nullptr) < 0)
        return ScopedFormatContext();
    return context;
}

} // namespace

std::vector<KvChapter> ReadChapters(const std::string& path)
{
    const ScopedFormatContext context = Open(path);
    return context ? ReadChapters(context.get()) : std::vector<KvChapter>();
}

std::vector<KvChapter> ReadChapters(const AVFormatContext* context)
{
    std::vector<KvChapter> chapters;
    for (unsigned i = 0; i < context->nb_chapters; ++i) {
        const AVChapter* chapter = context->chapters[i];
        if (!chapter || chapter->time_base.den <= 0 || chapter->time_base.num <= 0)
            continue;
        KvChapter entry;
        entry.start = double(chapter->start) * av_q2d(chapter->time_base);
        entry.end = double(chapter->end) * av_q2d(chapter->time_base);
        if (const AVDictionaryEntry* title = av_dict_get(chapter->metadata, "title", nullptr, 0))
            entry.title = CleanTagText(title->value, kMaxTagNameChars);
        if (entry.end > entry.start && entry.start >= 0.0)
            chapters.push_back(std::move(entry));
    }
    std::stable_sort(chapters.begin(), chapters.end(),
                     [](const KvChapter& a, const KvChapter& b) { return a.start < b.start; });
    return chapters;
}

std::vector<KvChapter> ChaptersOfPart(const std::vector<KvChapter>& chapters, double start, double end, double speed,
                                      double offset)
{
    if (!(speed > 0.0))
        speed = 1.0;
    std::vector<KvChapter> part;
    for (const KvChapter& chapter : chapters) {
        const double from = std::max(chapter.start, start);
        const double to = end >= 0.0 ? std::min(chapter.end, end) : chapter.end;
        // A chapter that only touches the part, or is cut to less than a millisecond
        // of it, is not one of its chapters.
        if (to - from < 0.001)
            continue;
        part.push_back({offset + (from - start) / speed, offset + (to - start) / speed, chapter.title});
    }
    return part;
}

bool SetMuxerChapters(AVFormatContext* output, const std::vector<KvChapter>& chapters)
{
    constexpr AVRational kMilliseconds{1, 1000};
    for (const KvChapter& chapter : chapters) {
        auto* added = static_cast<AVChapter*>(av_mallocz(sizeof(AVChapter)));
        if (added == nullptr)
            return false;
        added->id = output->nb_chapters + 1;
        added->time_base = kMilliseconds;
        added->start = std::llround(chapter.start * 1000.0);
        added->end = std::llround(chapter.end * 1000.0);
        if (!chapter.title.empty())
            av_dict_set(&added->metadata, "title", chapter.title.c_str(), 0);
        if (av_dynarray_add_nofree(&output->chapters, reinterpret_cast<int*>(&output->nb_chapters), added) < 0) {
            av_dict_free(&added->metadata);
            av_free(added);
            return false;
        }
    }
    return true;
}

std::string ReadEmbeddedCueSheet(const std::string& path)
{
    return ReadFileTracks(path).cueSheet;
}

KvFileTracks ReadFileTracks(const std::string& path)
{
    KvFileTracks tracks;
    const ScopedFormatContext context = Open(path);
    if (!context)
        return tracks;
    tracks.chapters = ReadChapters(context.get());
    // FLAC keeps it among the Vorbis comments; FFmpeg hands those over case-blind.
    if (const AVDictionaryEntry* sheet = av_dict_get(context->metadata, "cuesheet", nullptr, 0))
        tracks.cueSheet = sheet->value;
    return tracks;
}

} // namespace velmora
