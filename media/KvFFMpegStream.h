#pragma once

// The steps every reader takes to get from a path to a running decoder.

#include "common/KvJobFailure.h"
#include "media/KvFFMpegDeleters.h"

#include <string>

namespace velmora {

// How many "try again" answers of a demuxer in a row a reader takes before it treats
// them as the end: one that keeps answering so must not hang its caller.
inline constexpr int kMaxTryAgain = 1000;

// Opens path and reads its stream information. False when either fails; format is
// then empty.
bool OpenMediaInput(const std::string& path, ScopedFormatContext& format);
// The same over bytes that io reads (io stays the caller's: format never frees it).
bool OpenMediaInput(AVIOContext* io, ScopedFormatContext& format);

// The sound track to read: wanted when that is a sound track's index, the first sound
// track when wanted is -1; -1 when there is none (or wanted names something else).
int FindAudioStream(const AVFormatContext* format, int wanted);

// Lets the demuxer skip every stream but keep, so packets of the others are never read.
void DiscardOtherStreams(AVFormatContext* format, int keep);

// Opens path and its sound track wanted (-1: the first), the other streams discarded.
// The track's index, or -1 with why and its kind: SourceUnreadable when the file cannot
// be opened, NotDecodable when it has no such track.
int OpenAudioTrack(const std::string& path, int wanted, ScopedFormatContext& format, std::string& why,
                   KvJobFailure& failure);

// Finds, configures and opens the decoder of stream. threads > 0 sets the decoder's
// thread count; 0 keeps FFmpeg's default. False when any step fails; codec is then
// empty.
bool OpenStreamDecoder(const AVStream* stream, ScopedCodecContext& codec, int threads = 0);

} // namespace velmora
