#include "media/KvChapters.h"

#include "media/KvFFMpegDeleters.h"

extern "C" {
#include <libavformat/avformat.h>
#include <libavutil/dict.h>
}

#include <algorithm>

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
    std::vector<KvChapter> chapters;
    const ScopedFormatContext context = Open(path);
    if (!context)
        return chapters;
    for (unsigned i = 0; i < context->nb_chapters; ++i) {
        const AVChapter* chapter = context->chapters[i];
        if (!chapter || chapter->time_base.den <= 0 || chapter->time_base.num <= 0)
            continue;
        KvChapter entry;
        entry.start = double(chapter->start) * av_q2d(chapter->time_base);
        entry.end = double(chapter->end) * av_q2d(chapter->time_base);
        if (const AVDictionaryEntry* title = av_dict_get(chapter->metadata, "title", nullptr, 0))
            entry.title = title->value;
        if (entry.end > entry.start && entry.start >= 0.0)
            chapters.push_back(std::move(entry));
    }
    std::stable_sort(chapters.begin(), chapters.end(),
                     [](const KvChapter& a, const KvChapter& b) { return a.start < b.start; });
    return chapters;
}

std::string ReadEmbeddedCueSheet(const std::string& path)
{
    const ScopedFormatContext context = Open(path);
    if (!context)
        return std::string();
    // FLAC keeps it among the Vorbis comments; FFmpeg hands those over case-blind.
    if (const AVDictionaryEntry* sheet = av_dict_get(context->metadata, "cuesheet", nullptr, 0))
        return sheet->value;
    return std::string();
}

} // namespace velmora
