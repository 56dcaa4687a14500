#pragma once

// The output chain of a conversion: PCM in (interleaved signed 16-bit stereo from the
// mix, or the source's own sound where nothing is mixed), an audio file out: MP3 (at
// a constant or a variable bit rate), Windows Media Audio, FLAC, WAV, ALAC or AAC in
// .m4a, Opus or Vorbis in Ogg.
//
//   PCM → resampler (to the output rate and channel count, straight into frames of
//   the encoder's size) → bounded queue → encoder → muxer → temporary file → moved
//   to "<output>"
//
// Two threads: Write and Finish run the resampler on the caller's thread and queue
// each full frame; a thread of the chain's own (started by Open) encodes and writes
// the frames in order, so the caller's work (decoding, mixing) and the encoder's run
// side by side. The frames come from a fixed pool and go back to it once encoded:
// nothing is allocated per buffer, and memory does not grow with the length. Write
// waits while the whole pool is queued. The encoder thread ends in Finish (after the
// last frame), in Abort and in the destructor; none is left behind on any path.
//
// The temporary file (CKvPartialOutputFile) is created exclusively beside the output
// and moved to the output's name only once it is complete, closed and played back
// in full (JudgeWrittenLength), never over a
// file that is there, so a file of the output's name is always whole and never one
// that someone else put there. Abort() (and the destructor of an unfinished chain)
// removes the temporary file.
//
// Tags (SetTags) are written by TagLib into the whole file before it gets its name
// (KvTagWriter.h: ID3v2.4 in MP3 and WAV, ASF attributes, MP4 atoms, Vorbis comments),
// the cover fitted to what each container holds. A cover or a tag that cannot be
// written is left out (and logged); the sound is never lost for it.

#include "common/KvJobFailure.h"
#include "media/KvDecodedLength.h"
#include "media/KvMediaTags.h"
#include "media/KvTagWriter.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

namespace velmora {

enum class AudioOutputCodec
{
    Mp3,         // libmp3lame in the "mp3" muxer (with its Xing/LAME header)
    WmaStandard, // wmav2 in the "asf" muxer
    WmaV1,       // wmav1 in the "asf" muxer
    Mp3Vbr,      // libmp3lame at quality V nQuality
    Flac,        // compression level nQuality
    Wav,         // PCM of nQuality bits (16 or 24; 0: the input's depth)
    Alac,        // in .m4a
    Opus,        // libopus in Ogg, nBitrate VBR, 48000 Hz
    Aac,         // FFmpeg's AAC-LC in .m4a
    Vorbis,      // libvorbis at quality nQuality
};

struct AudioOutputSettings
{
    AudioOutputCodec codec = AudioOutputCodec::Mp3;
    int nBitrate = 128000; // bits per second
    int nSampleRate = 44100; // 0: the input's
    int nChannels = 2;       // 0: the input's
    int nQuality = 0;        // the codec's one quality number, where it has one
};

// The sound given to Write: interleaved samples of format (an AVSampleFormat, packed)
// at rate, channels of them in the default order; bits: the meaningful bits of a
// 32-bit sample (24 for a 24-bit source).
struct AudioInputFormat
{
    int rate = 44100;
    int channels = 2;
    int sampleFormat = 1; // AV_SAMPLE_FMT_S16
    int bits = 16;
};

// The settings lists offer more than the encoders take. These pick the nearest legal
// values and say in note (empty when nothing changed) what was used instead.
// MP3: nChannelsField is the option record's value (0 mono, anything else stereo).
AudioOutputSettings LegaliseMp3Settings(int kbps, int sampleRate, int nChannelsField, std::string* note);
// Windows Media, from a profile's stream: Pro, Lossless and Voice streams, more than
// two channels or more than 48000 Hz are written as WMA standard at the nearest legal
// values.
AudioOutputSettings LegaliseWmaSettings(uint16_t wFormatTag, int bitrate, int sampleRate, int channels, std::string* note);
// The formats of KvAudioFormats.h from an option record (Original excepted): values
// outside the format's ranges are brought to the nearest legal one, with a note.
AudioOutputSettings LegaliseAudioFormatSettings(int outputType, int kbps, int quality, int sampleRate, int nChannelsField,
                                                std::string* note);


// Why a file that was given writtenFrames samples per channel at sampleRate does not
// play them all back (its decode ends more than frameSize samples early, or it
// cannot be decoded); empty when it does. Judge takes what the file decoded to.
std::string JudgeWrittenLength(const DecodedLength& decoded, int64_t writtenFrames, int sampleRate, int frameSize);
std::string CheckWrittenLength(const std::string& path, int64_t writtenFrames, int sampleRate, int frameSize);

// Writes tags into the finished file at path (nothing for KvTagContainer::None). A
// file that takes no tags still holds its sound, so nothing fails: the log says why its
// tags are missing.
void WriteOutputTags(const std::string& path, KvTagContainer container, const MediaTags& tags);

class AudioEncoderChain
{
public:
    AudioEncoderChain();
    ~AudioEncoderChain();
    AudioEncoderChain(const AudioEncoderChain&) = delete;
    AudioEncoderChain& operator=(const AudioEncoderChain&) = delete;

    // The tags the next Open writes into the file; nullopt writes none of ours.
    void SetTags(std::optional<MediaTags> tags);
    // Fields the file gets beside its tags (ReplayGain), known once the sound is
    // through: any time before Finish.
    void AddExtraTags(const std::vector<KvExtraTag>& extra);

    // Finish makes sure the file plays back before it gets its name (on by default): a
    // file that decodes to less than was written, within one codec frame, fails. The
    // file is played back as it is written (CKvOutputCheck), so the check costs
    // Finish little more than the decoding of its last part. Set before Open.
    void SetCheckOutput(bool check);

    // Opens the encoder and creates the temporary file of outputPath (refused when
    // anything is at that name already). input is what Write is given. Returns 0 or a
    // negative error code; LastError() then says why in one line.
    int Open(const std::string& outputPath, const AudioOutputSettings& settings, const AudioInputFormat& input);
    int Open(const std::string& outputPath, const AudioOutputSettings& settings, int inputRate = 44100);

    // Queues frames frames of interleaved PCM in the input format for the encoder.
    // Returns 0 or a negative error code: the encoder thread's failure (LastError says
    // why), AVERROR_EXIT once Interrupt was called.
    int Write(const void* interleaved, int frames);

    // Drains the resampler and the encoder, writes the trailer, closes the file, checks
    // it (SetCheckOutput) and moves it to its final name. Returns 0 or a negative error code (the temporary
    // file is then removed); AVERROR(EEXIST) when the final name was taken meanwhile.
    int Finish();

    // Closes and removes the partial file; ends the encoder thread. Safe to call at
    // any time from the thread that calls Open, Write and Finish (or, once that one
    // is known to be out of them, from another).
    void Abort();

    // Makes a Write or Finish that waits for the encoder (now or later) return
    // AVERROR_EXIT at once. The only call that may come from any thread while another
    // is inside Write or Finish; Abort must follow.
    void Interrupt();

    const std::string& LastError() const;
    // What kind of failure LastError is (a full disk, a folder that refuses the file,
    // settings the encoder refuses, an output that does not play back, ...).
    KvJobFailure LastFailure() const;
    // Encoded samples per channel given to the encoder so far (at the output rate).
    int64_t EncodedSamples() const;

private:
    struct Impl;
    std::unique_ptr<Impl> m_impl;
};

} // namespace velmora
