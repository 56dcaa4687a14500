#pragma once

// A sound track kept as it is: its packets, not decoded, copied into the container
// that suits its codec (KvOriginalTrack.h), from the packet that holds Start to the
// one that holds End. Untrimmed, the output's packets are the source's. The file is
// written beside its name and gets it only once it plays back whole, with the tags
// written by TagLib.
//
// A trimmed track uses the container's own trimming where it has one, so a player
// starts and ends at Start and End to the sample: the packets a decoder needs to
// settle before Start (one for an MDCT overlap, more for MP3's bit reservoir, the
// codec's own pre-roll for Opus) are copied too and cut away by an MP4 edit list,
// Opus's pre-skip, or the LAME header's delay; the end by the last packet's shorter
// duration (MP4, Ogg), the LAME header's padding or Matroska's discard padding.
// Containers without it (AC-3, E-AC-3, WMA, Matroska's start) start at the packet
// holding Start.

#include "common/KvJobFailure.h"
#include "media/KvFFMpegDeleters.h"
#include "media/KvMediaTags.h"
#include "media/KvOriginalTrack.h"

#include <atomic>
#include <functional>
#include <optional>
#include <string>

namespace velmora {

class CKvTrackCopy
{
public:
    // Opens the sound track stream (-1: the first) of path to be copied from start to
    // end seconds (end <= start: to its end). False with why and its kind.
    bool Open(const std::string& path, int stream, double start, double end, std::string& why, KvJobFailure& failure);
    const KvOriginalContainer& Container() const { return m_container; }
    int CodecId() const;

    void SetTags(std::optional<MediaTags> tags) { m_tags = std::move(tags); }
    // Fields the file gets beside its tags (ReplayGain); before Run.
    void AddExtraTags(const std::vector<KvExtraTag>& extra)
    {
        if (extra.empty())
            return;
        if (!m_tags)
            m_tags.emplace();
        m_tags->extra.insert(m_tags->extra.end(), extra.begin(), extra.end());
    }
    void SetCheckOutput(bool check) { m_check = check; }

    // Copies into outputPath (never over a file that is there). 0, AVERROR_EXIT once
    // stop is set, or a negative error code with why and failure.
    int Run(const std::string& outputPath, const std::atomic<bool>& stop, const std::function<void(double)>& progress,
            std::string& why, KvJobFailure& failure);
    // Seconds of sound copied.
    double SecondsCopied() const { return m_copied; }

private:
    ScopedFormatContext m_input;
    int m_stream = -1;
    KvOriginalContainer m_container;
    std::int64_t m_startTs = 0; // in the track's time base
    std::int64_t m_endTs = -1;  // -1: to the end
    bool m_trimStart = false;
    std::int64_t m_seekMargin = 0; // how far before Start the copy starts reading
    std::optional<MediaTags> m_tags;
    bool m_check = true;
    double m_copied = 0.0;
};

} // namespace velmora
