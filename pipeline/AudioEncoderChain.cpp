#include "pipeline/AudioEncoderChain.h"

#include "common/KvAudioFormats.h"
#include "common/KvLog.h"
#include "common/KvMp3Rates.h"
#include "common/KvText.h"
#include "common/KvWmProfile.h"
#include "media/KvDecodedLength.h"
#include "media/KvFFMpegDeleters.h"
#include "media/KvTagWriter.h"
#include "pipeline/KvOutputCheck.h"
#include "pipeline/KvPartialOutputFile.h"

#include <algorithm>
#include <array>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libavutil/error.h>
#include <libavutil/opt.h>
#include <libswresample/swresample.h>
}

namespace velmora {

namespace {

// The legal value closest to wanted. Distances are taken in 64 bits: an option file
// may hold any int, and INT_MIN minus a rate does not fit in an int.
template <size_t N>
int Nearest(const std::array<int, N>& legal, int wanted)
{
    const auto distance = [wanted](int value) { return std::llabs(static_cast<long long>(value) - wanted); };
    int best = legal[0];
    for (int value : legal) {
        if (distance(value) < distance(best))
            best = value;
    }
    return best;
}

void AddNote(std::string* note, const std::string& text)
{
    if (!note)
        return;
    if (!note->empty())
        *note += "; ";
    *note += text;
}

} // namespace

AudioOutputSettings LegaliseMp3Settings(int kbps, int sampleRate, int nChannelsField, std::string* note)
{
    if (note)
        note->clear();

    AudioOutputSettings settings;
    settings.codec = AudioOutputCodec::Mp3;
    settings.nChannels = nChannelsField == 0 ? 1 : 2;
    // The same tables as the settings dialog's lists.
    settings.nSampleRate = LegalMp3SampleRate(sampleRate);
    if (settings.nSampleRate != sampleRate)
        AddNote(note, "MP3 has no " + std::to_string(sampleRate) + " Hz; using " + std::to_string(settings.nSampleRate) + " Hz");

    const int legalKbps = LegalMp3Bitrate(kbps, settings.nSampleRate);
    if (legalKbps != kbps)
        AddNote(note, "MP3 at " + std::to_string(settings.nSampleRate) + " Hz takes no " + std::to_string(kbps)
                + " kbit/s; using " + std::to_string(legalKbps) + " kbit/s");
    settings.nBitrate = legalKbps * 1000;
    return settings;
}

AudioOutputSettings LegaliseWmaSettings(uint16_t wFormatTag, int bitrate, int sampleRate, int channels, std::string* note)
{
    static constexpr std::array<int, 9> kRates = {8000, 11025, 12000, 16000, 22050, 24000, 32000, 44100, 48000};
    if (note)
        note->clear();
    AudioOutputSettings settings;
    settings.codec = wFormatTag == kWaveFormatWmaV1 ? AudioOutputCodec::WmaV1 : AudioOutputCodec::WmaStandard;
    if (wFormatTag != kWaveFormatWmaV1 && wFormatTag != kWaveFormatWmaStandard) {
        char tag[16];
        std::snprintf(tag, sizeof tag, "0x%04X", wFormatTag);
        AddNote(note, std::string("the profile's codec ") + tag + " cannot be written; using WMA standard");
    }
    settings.nChannels = std::clamp(channels, 1, 2);
    if (settings.nChannels != channels)
        AddNote(note, std::to_string(channels) + " channels cannot be written; using " + std::to_string(settings.nChannels));
    settings.nSampleRate = Nearest(kRates, sampleRate);
    if (settings.nSampleRate != sampleRate)
        AddNote(note, std::to_string(sampleRate) + " Hz cannot be written; using " + std::to_string(settings.nSampleRate) + " Hz");
    // The coder needs at least 24 kbit/s, and a packet must hold at least one bit per
    // sample of its channels at the chosen rate: keep within both ends.
    const int maximum = settings.nSampleRate * settings.nChannels * 8 / 2;
    settings.nBitrate = std::clamp(bitrate, 24000, std::max(24000, maximum));
    if (settings.nBitrate != bitrate)
        AddNote(note, std::to_string(bitrate / 1000) + " kbit/s cannot be written; using " + std::to_string(settings.nBitrate / 1000) + " kbit/s");
    return settings;
}

AudioOutputSettings LegaliseAudioFormatSettings(int outputType, int kbps, int quality, int sampleRate, int nChannelsField,
                                                std::string* note)
{
    if (note)
        note->clear();
    AudioOutputSettings settings;
    const KvAudioFormat* format = FindAudioFormat(outputType);
    if (format == nullptr || outputType == kKvOutputOriginal)
        format = FindAudioFormat(kKvOutputFlac);
    switch (format->outputType) {
    case kKvOutputMp3Vbr: settings.codec = AudioOutputCodec::Mp3Vbr; break;
    case kKvOutputWav: settings.codec = AudioOutputCodec::Wav; break;
    case kKvOutputAlac: settings.codec = AudioOutputCodec::Alac; break;
    case kKvOutputOpus: settings.codec = AudioOutputCodec::Opus; break;
    case kKvOutputAac: settings.codec = AudioOutputCodec::Aac; break;
    case kKvOutputVorbis: settings.codec = AudioOutputCodec::Vorbis; break;
    default: settings.codec = AudioOutputCodec::Flac; break;
    }
    settings.nBitrate = 0;
    if (format->maxKbps > 0) {
        const int legal = std::clamp(kbps > 0 ? kbps : format->defaultKbps, format->minKbps, format->maxKbps);
        if (kbps > 0 && legal != kbps)
            AddNote(note, std::string(format->word) + " takes no " + std::to_string(kbps) + " kbit/s; using " +
                              std::to_string(legal) + " kbit/s");
        settings.nBitrate = legal * 1000;
    }
    if (format->qualityName != nullptr) {
        settings.nQuality = IsAudioQuality(*format, quality) ? quality : format->defaultQuality;
        if (settings.nQuality != quality)
            AddNote(note, std::string(format->word) + " has no " + format->qualityName + " " + std::to_string(quality) +
                              "; using " + std::to_string(settings.nQuality));
    }
    settings.nSampleRate = 0;
    if (sampleRate != kKvRateOfSource || format->outputType == kKvOutputOpus) {
        const std::vector<int>& rates = format->sampleRates;
        int best = rates.front();
        for (int rate : rates) {
            if (std::llabs(static_cast<long long>(rate) - sampleRate) < std::llabs(static_cast<long long>(best) - sampleRate))
                best = rate;
        }
        if (best != sampleRate && format->outputType != kKvOutputOpus)
            AddNote(note, std::string(format->word) + " has no " + std::to_string(sampleRate) + " Hz; using " +
                              std::to_string(best) + " Hz");
        settings.nSampleRate = best;
    }
    settings.nChannels = nChannelsField == kKvChannelsOfSource ? 0 : (nChannelsField == 0 ? 1 : 2);
    return settings;
}

// Encoder frames waiting for (or in) the encoder thread: enough that the thread is
// never starved while the mixing thread waits for the processor on a busy machine,
// small enough that memory does not depend on the source (at 44100 Hz stereo: MP3,
// 3.3 s of sound in 0.6 MB; WMA, 5.9 s in 2 MB).
constexpr int kFramePoolSize = 128;

struct AudioEncoderChain::Impl
{
    std::string finalPath;
    std::string lastError;
    KvJobFailure lastFailure = KvJobFailure::None;
    CKvPartialOutputFile file;
    ScopedOutputFormat format;     // writes through file's I/O
    bool headerWritten = false;
    bool finished = false;
    ScopedCodecContext encoder;
    ScopedSwrContext resampler;
    ScopedPacket packet;
    AVStream* stream = nullptr;
    int frameSize = 1152;
    int64_t nextPts = 0;
    int64_t inputFrames = 0;       // given to Write
    bool checkOutput = true;
    CKvOutputCheck check;          // plays the file back as it is written
    bool liveCheck = true;         // false: played back once complete instead
    AudioInputFormat input;
    std::optional<MediaTags> tags;
    KvTagContainer tagContainer = KvTagContainer::None; // written there once the file is whole

    // The frame pool. The caller's thread fills `filling` straight from the
    // resampler and queues it whole; the encoder thread takes frames from `ready`
    // in order and gives them back to `spare` once the encoder has them.
    std::vector<ScopedFrame> frames;
    AVFrame* filling = nullptr;
    int filled = 0;
    std::thread worker;
    std::mutex lock;
    std::condition_variable workReady;  // the encoder thread waits for frames
    std::condition_variable spaceReady; // the caller waits for a spare frame
    std::deque<AVFrame*> ready;
    std::vector<AVFrame*> spare;
    bool closing = false;        // no more frames will come: leave when ready is empty
    bool interrupted = false;    // leave now (Interrupt, Abort)
    bool workerWaiting = false;
    bool producerWaiting = false;
    int workerError = 0;         // the encoder thread's failure, with its text
    std::string workerErrorText;

    int Fail(int code, const std::string& what)
    {
        lastError = what + (code < 0 ? ": " + FFmpegErrorText(code) : std::string());
        lastFailure = FailureOfOutputError(code);
        return code < 0 ? code : AVERROR_UNKNOWN;
    }

    // Records a failure whose text was made elsewhere.
    void Note(std::string text, KvJobFailure kind)
    {
        lastError = std::move(text);
        lastFailure = kind;
    }

    // Writes the tags into the finished file; the job goes on without them.
    void WriteTags()
    {
        if (tags)
            WriteOutputTags(file.PartialPath(), tagContainer, *tags);
    }

    // Frees the muxer; the file itself belongs to file.
    void CloseFormat() { format.reset(); }

    int DrainPackets(std::string& why)
    {
        for (;;) {
            int ret = avcodec_receive_packet(encoder.get(), packet.get());
            if (ret == AVERROR(EAGAIN) || ret == AVERROR_EOF)
                return 0;
            if (ret < 0) {
                why = "encoding failed: " + FFmpegErrorText(ret);
                return ret;
            }
            av_packet_rescale_ts(packet.get(), encoder->time_base, stream->time_base);
            packet->stream_index = stream->index;
            ret = av_interleaved_write_frame(format.get(), packet.get());
            if (ret < 0) {
                why = "writing the output failed: " + FFmpegErrorText(ret);
                return ret;
            }
        }
    }

    int Encode(AVFrame* frame, std::string& why)
    {
        const int ret = avcodec_send_frame(encoder.get(), frame);
        if (ret < 0) {
            why = (frame ? "encoding failed: " : "flushing the encoder failed: ") + FFmpegErrorText(ret);
            return ret;
        }
        return DrainPackets(why);
    }

    int AllocateFrames()
    {
        frames.clear();
        spare.clear();
        for (int i = 0; i < kFramePoolSize; ++i) {
            ScopedFrame frame(av_frame_alloc());
            if (!frame)
                return AVERROR(ENOMEM);
            frame->nb_samples = frameSize;
            frame->format = encoder->sample_fmt;
            frame->sample_rate = encoder->sample_rate;
            int ret = av_channel_layout_copy(&frame->ch_layout, &encoder->ch_layout);
            if (ret < 0 || (ret = av_frame_get_buffer(frame.get(), 0)) < 0)
                return ret;
            spare.push_back(frame.get());
            frames.push_back(std::move(frame));
        }
        return 0;
    }

    // The encoder thread: encodes and writes the queued frames in order.
    void Work()
    {
        std::unique_lock<std::mutex> guard(lock);
        for (;;) {
            if (ready.empty() && !closing && !interrupted) {
                workerWaiting = true;
                workReady.wait(guard, [this] { return !ready.empty() || closing || interrupted; });
                workerWaiting = false;
            }
            if (interrupted || ready.empty())
                return;
            AVFrame* frame = ready.front();
            ready.pop_front();
            guard.unlock();
            std::string why;
            const int ret = Encode(frame, why);
            guard.lock();
            // The encoders copy what they keep; a reference one of them still holds
            // makes the frame unwritable, and Take copies it away from that.
            spare.push_back(frame);
            if (ret < 0) {
                workerError = ret;
                workerErrorText = why;
                interrupted = true;
                spaceReady.notify_all();
                return;
            }
            if (producerWaiting && spare.size() >= frames.size() / 2)
                spaceReady.notify_all();
        }
    }

    void StartWorker()
    {
        closing = false;
        interrupted = false;
        workerError = 0;
        workerErrorText.clear();
        worker = std::thread(&Impl::Work, this);
    }

    // Ends the encoder thread: after the queued frames (Finish) or at once.
    void StopWorker(bool afterQueued)
    {
        {
            std::lock_guard<std::mutex> guard(lock);
            if (afterQueued)
                closing = true;
            else
                interrupted = true;
        }
        workReady.notify_all();
        spaceReady.notify_all();
        if (worker.joinable())
            worker.join();
    }

    // The encoder thread's failure, or AVERROR_EXIT once the chain was interrupted.
    // Under lock.
    int StoppedResult()
    {
        if (workerError < 0) {
            Note(workerErrorText, FailureOfOutputError(workerError));
            return workerError;
        }
        Note("the conversion was stopped", KvJobFailure::Stopped);
        return AVERROR_EXIT;
    }

    // A spare frame to fill, waiting while all of them are queued.
    int Take()
    {
        std::unique_lock<std::mutex> guard(lock);
        if (spare.empty() && !interrupted) {
            producerWaiting = true;
            spaceReady.wait(guard, [this] { return !spare.empty() || interrupted; });
            producerWaiting = false;
        }
        if (interrupted)
            return StoppedResult();
        filling = spare.back();
        spare.pop_back();
        guard.unlock();
        filled = 0;
        const int ret = av_frame_make_writable(filling);
        if (ret < 0)
            return Fail(ret, "out of memory");
        return 0;
    }

    // Queues the frame being filled with its first samples samples.
    int Queue(int samples)
    {
        filling->nb_samples = samples;
        filling->pts = nextPts;
        nextPts += samples;
        std::lock_guard<std::mutex> guard(lock);
        if (interrupted)
            return StoppedResult();
        ready.push_back(filling);
        filling = nullptr;
        if (workerWaiting)
            workReady.notify_one();
        return 0;
    }

    // Runs the resampler on input (null to drain it at the end) straight into the
    // pool's frames and queues every frame that fills up.
    int Convert(const void* input, int inputFrames)
    {
        const uint8_t* in[1] = {static_cast<const uint8_t*>(input)};
        // After the first call the input is all taken (or held by the resampler): a
        // count of 0 with a pointer fetches what it holds without ending the stream.
        int count = input ? inputFrames : 0;
        const int bytesPerSample = av_get_bytes_per_sample(encoder->sample_fmt);
        const int planes = av_sample_fmt_is_planar(encoder->sample_fmt) ? encoder->ch_layout.nb_channels : 1;
        const int offsetScale = bytesPerSample * (planes == 1 ? encoder->ch_layout.nb_channels : 1);
        for (;;) {
            if (!filling) {
                const int ret = Take();
                if (ret < 0)
                    return ret;
            }
            uint8_t* out[AV_NUM_DATA_POINTERS] = {};
            for (int p = 0; p < planes; ++p)
                out[p] = filling->extended_data[p] + static_cast<size_t>(filled) * offsetScale;
            const int room = frameSize - filled;
            const int produced = swr_convert(resampler.get(), out, room, input ? in : nullptr, count);
            if (produced < 0)
                return Fail(produced, "resampling failed");
            count = 0;
            filled += produced;
            if (filled == frameSize) {
                const int ret = Queue(frameSize);
                if (ret < 0)
                    return ret;
            }
            if (produced < room)
                return 0;
        }
    }
};

AudioEncoderChain::AudioEncoderChain()
    : m_impl(std::make_unique<Impl>())
{
}

AudioEncoderChain::~AudioEncoderChain()
{
    Abort();
}

void AudioEncoderChain::AddExtraTags(const std::vector<KvExtraTag>& extra)
{
    if (extra.empty())
        return;
    if (!m_impl->tags)
        m_impl->tags.emplace();
    m_impl->tags->extra.insert(m_impl->tags->extra.end(), extra.begin(), extra.end());
}

void AudioEncoderChain::SetTags(std::optional<MediaTags> tags)
{
    m_impl->tags = std::move(tags);
}

const std::string& AudioEncoderChain::LastError() const
{
    return m_impl->lastError;
}

KvJobFailure AudioEncoderChain::LastFailure() const
{
    return m_impl->lastFailure;
}

void AudioEncoderChain::SetCheckOutput(bool check)
{
    m_impl->checkOutput = check;
}

void WriteOutputTags(const std::string& path, KvTagContainer container, const MediaTags& tags)
{
    if (container == KvTagContainer::None)
        return;
    std::string why;
    std::string note;
    if (!WriteMediaTags(path, container, tags, &why, &note))
        LogLine("output: the tags could not be written (" + why + ")");
    else if (!note.empty())
        LogLine("output: " + note);
}

std::string JudgeWrittenLength(const DecodedLength& decoded, int64_t writtenFrames, int sampleRate, int frameSize)
{
    if (decoded.nSampleRate <= 0 && !decoded.error.empty() && decoded.nFrames == 0)
        return "the written file cannot be played back: it " + decoded.error;
    if (sampleRate <= 0 || decoded.nSampleRate <= 0)
        return "the written file cannot be played back: nothing in it decodes";
    const double written = static_cast<double>(writtenFrames) / sampleRate;
    const double slack = static_cast<double>(std::max(frameSize, 0)) / sampleRate + 0.001;
    if (decoded.Seconds() + slack >= written)
        return {};
    std::string why = "the written file plays back only " + FormatDoubleAs("%.1f", decoded.Seconds()) + " s of " +
                      FormatDoubleAs("%.1f", written) + " s";
    if (!decoded.error.empty())
        why += " (" + decoded.error + ")";
    return why;
}

std::string CheckWrittenLength(const std::string& path, int64_t writtenFrames, int sampleRate, int frameSize)
{
    DecodedLength decoded;
    MeasureDecodedLength(path, decoded);
    return JudgeWrittenLength(decoded, writtenFrames, sampleRate, frameSize);
}

int64_t AudioEncoderChain::EncodedSamples() const
{
    return m_impl->nextPts;
}

namespace {

struct CodecChoice
{
    const char* encoder;
    const char* muxer;
};

CodecChoice ChooseCodec(const AudioOutputSettings& settings, int inputBits)
{
    switch (settings.codec) {
    case AudioOutputCodec::Mp3:
    case AudioOutputCodec::Mp3Vbr: return {"libmp3lame", "mp3"};
    case AudioOutputCodec::WmaV1: return {"wmav1", "asf"};
    case AudioOutputCodec::WmaStandard: return {"wmav2", "asf"};
    case AudioOutputCodec::Flac: return {"flac", "flac"};
    case AudioOutputCodec::Wav:
        return {(settings.nQuality == 0 ? inputBits : settings.nQuality) > 16 ? "pcm_s24le" : "pcm_s16le", "wav"};
    case AudioOutputCodec::Alac: return {"alac", "ipod"};
    case AudioOutputCodec::Opus: return {"libopus", "opus"};
    case AudioOutputCodec::Aac: return {"aac", "ipod"};
    case AudioOutputCodec::Vorbis: return {"libvorbis", "ogg"};
    }
    return {"libmp3lame", "mp3"};
}

// The encoder's sample format nearest to the input's depth: 16-bit sound is coded
// from 16-bit samples where the encoder takes them, deeper sound from 32-bit ones.
AVSampleFormat ChooseSampleFormat(const AVCodec* codec, int inputBits)
{
    if (codec->sample_fmts == nullptr)
        return AV_SAMPLE_FMT_FLTP;
    const bool deep = inputBits > 16;
    AVSampleFormat chosen = codec->sample_fmts[0];
    for (const AVSampleFormat* f = codec->sample_fmts; *f != AV_SAMPLE_FMT_NONE; ++f) {
        const AVSampleFormat packed = av_get_packed_sample_fmt(*f);
        if ((deep && packed == AV_SAMPLE_FMT_S32) || (!deep && packed == AV_SAMPLE_FMT_S16))
            return *f;
    }
    return chosen;
}

// The rate the encoder takes nearest to rate (the source's, kept where it can be).
int SupportedRate(const AVCodec* codec, int rate)
{
    if (codec->supported_samplerates == nullptr)
        return rate;
    int best = codec->supported_samplerates[0];
    for (const int* r = codec->supported_samplerates; *r != 0; ++r) {
        if (*r == rate)
            return rate;
        if (std::llabs(static_cast<long long>(*r) - rate) < std::llabs(static_cast<long long>(best) - rate))
            best = *r;
    }
    return best;
}

// The most channels the encoder's layouts hold (8 where it names none).
int MaxChannels(const AVCodec* codec)
{
    if (codec->ch_layouts == nullptr)
        return 8;
    int most = 1;
    for (const AVChannelLayout* layout = codec->ch_layouts; layout->nb_channels != 0; ++layout)
        most = std::max(most, layout->nb_channels);
    return most;
}

KvTagContainer TagContainerOf(AudioOutputCodec codec)
{
    switch (codec) {
    case AudioOutputCodec::Mp3:
    case AudioOutputCodec::Mp3Vbr: return KvTagContainer::Mp3;
    case AudioOutputCodec::WmaStandard:
    case AudioOutputCodec::WmaV1: return KvTagContainer::Asf;
    case AudioOutputCodec::Flac: return KvTagContainer::Flac;
    case AudioOutputCodec::Wav: return KvTagContainer::Wav;
    case AudioOutputCodec::Alac:
    case AudioOutputCodec::Aac: return KvTagContainer::Mp4;
    case AudioOutputCodec::Opus: return KvTagContainer::OggOpus;
    case AudioOutputCodec::Vorbis: return KvTagContainer::OggVorbis;
    }
    return KvTagContainer::None;
}

} // namespace

int AudioEncoderChain::Open(const std::string& outputPath, const AudioOutputSettings& settings, int inputRate)
{
    AudioInputFormat input;
    input.rate = inputRate;
    return Open(outputPath, settings, input);
}

int AudioEncoderChain::Open(const std::string& outputPath, const AudioOutputSettings& settings,
                            const AudioInputFormat& input)
{
    Impl& d = *m_impl;
    Abort();
    d.finalPath = outputPath;
    d.lastError.clear();
    d.lastFailure = KvJobFailure::None;
    d.headerWritten = false;
    d.finished = false;
    d.encoder.reset();
    d.resampler.reset();
    d.packet.reset();
    d.frames.clear();
    d.spare.clear();
    d.ready.clear();
    d.filling = nullptr;
    d.filled = 0;
    d.stream = nullptr;
    d.nextPts = 0;
    d.inputFrames = 0;
    d.input = input;
    if (input.rate <= 0 || input.channels <= 0 || input.channels > 8
        || av_sample_fmt_is_planar(static_cast<AVSampleFormat>(input.sampleFormat))
        || av_get_bytes_per_sample(static_cast<AVSampleFormat>(input.sampleFormat)) <= 0)
        return d.Fail(AVERROR(EINVAL), "the sound given to the encoder has no usable format");

    const bool isMp3 = settings.codec == AudioOutputCodec::Mp3 || settings.codec == AudioOutputCodec::Mp3Vbr;
    const bool isWma = settings.codec == AudioOutputCodec::WmaStandard || settings.codec == AudioOutputCodec::WmaV1;
    const CodecChoice choice = ChooseCodec(settings, input.bits);
    const char* codecName = choice.encoder;
    const AVCodec* codec = avcodec_find_encoder_by_name(codecName);
    if (!codec)
        return d.Fail(AVERROR_ENCODER_NOT_FOUND, std::string("no ") + codecName + " encoder");

    AVFormatContext* output = nullptr;
    int ret = avformat_alloc_output_context2(&output, nullptr, choice.muxer, outputPath.c_str());
    d.format.reset(output);
    if (ret < 0 || !d.format)
        return d.Fail(ret, "cannot set up the output format");
    // TagLib writes the tags once the file is whole; the muxer writes none of its own.
    d.tagContainer = TagContainerOf(settings.codec);
    if (isMp3)
        av_opt_set_int(d.format->priv_data, "id3v2_version", 0, 0);
    // TagLib does not write MP4 chapters (a text track the index points to): the muxer does.
    if (d.tagContainer == KvTagContainer::Mp4 && d.tags && !SetMuxerChapters(d.format.get(), d.tags->chapters))
        return d.Fail(AVERROR(ENOMEM), "out of memory");
    // An index written at the end (MP4's) cannot be followed while the file grows: the
    // file is played back once it is complete. Its edit list, which tells players
    // the encoder's delay and padding, counts in samples rather than milliseconds.
    d.liveCheck = std::strcmp(choice.muxer, "ipod") != 0;

    d.encoder.reset(avcodec_alloc_context3(codec));
    if (!d.encoder)
        return d.Fail(AVERROR(ENOMEM), "out of memory");
    AVCodecContext* enc = d.encoder.get();
    enc->sample_rate = settings.nSampleRate > 0 ? settings.nSampleRate : SupportedRate(codec, input.rate);
    enc->bit_rate = settings.nBitrate;
    av_channel_layout_default(&enc->ch_layout, settings.nChannels > 0 ? settings.nChannels
                                                                      : std::min(input.channels, MaxChannels(codec)));
    enc->sample_fmt = ChooseSampleFormat(codec, input.bits);
    if (av_get_packed_sample_fmt(enc->sample_fmt) == AV_SAMPLE_FMT_S32)
        enc->bits_per_raw_sample = std::min(input.bits, 24);
    switch (settings.codec) {
    case AudioOutputCodec::Mp3:
        // Constant bit rate at exactly the chosen rate; joint stereo for two channels.
        av_opt_set_int(enc->priv_data, "joint_stereo", 1, 0);
        break;
    case AudioOutputCodec::Mp3Vbr:
        enc->flags |= AV_CODEC_FLAG_QSCALE;
        enc->global_quality = FF_QP2LAMBDA * settings.nQuality;
        enc->bit_rate = 0;
        av_opt_set_int(enc->priv_data, "joint_stereo", 1, 0);
        break;
    case AudioOutputCodec::Vorbis:
        enc->flags |= AV_CODEC_FLAG_QSCALE;
        enc->global_quality = FF_QP2LAMBDA * settings.nQuality;
        enc->bit_rate = 0;
        break;
    case AudioOutputCodec::Flac:
        enc->compression_level = settings.nQuality;
        break;
    case AudioOutputCodec::Opus:
        av_opt_set(enc->priv_data, "vbr", "on", 0);
        break;
    case AudioOutputCodec::Aac:
        av_opt_set(enc->priv_data, "aac_coder", "twoloop", 0);
        enc->profile = FF_PROFILE_AAC_LOW;
        break;
    default:
        break;
    }
    enc->time_base = AVRational{1, enc->sample_rate};
    if (d.format->oformat->flags & AVFMT_GLOBALHEADER)
        enc->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    ret = avcodec_open2(enc, codec, nullptr);
    if (ret < 0) {
        d.Fail(ret, std::string("the ") + codecName + " encoder refused " +
                        (settings.nBitrate > 0 ? std::to_string(settings.nBitrate / 1000) + " kbit/s, " : std::string()) +
                        std::to_string(enc->sample_rate) + " Hz, " + std::to_string(enc->ch_layout.nb_channels) +
                        " channel(s)");
        d.lastFailure = KvJobFailure::SettingsRefused;
        return ret;
    }
    if (enc->frame_size <= 0)
        enc->frame_size = 1152;
    d.frameSize = enc->frame_size;
    if (!d.liveCheck)
        av_opt_set_int(d.format->priv_data, "movie_timescale", enc->sample_rate, 0);

    d.stream = avformat_new_stream(d.format.get(), nullptr);
    if (!d.stream)
        return d.Fail(AVERROR(ENOMEM), "out of memory");
    d.stream->time_base = enc->time_base;
    ret = avcodec_parameters_from_context(d.stream->codecpar, enc);
    if (ret < 0)
        return d.Fail(ret, "cannot describe the output stream");

    AVChannelLayout inputLayout;
    av_channel_layout_default(&inputLayout, input.channels);
    SwrContext* swr = nullptr;
    ret = swr_alloc_set_opts2(&swr, &enc->ch_layout, enc->sample_fmt, enc->sample_rate, &inputLayout,
                              static_cast<AVSampleFormat>(input.sampleFormat), input.rate, 0, nullptr);
    av_channel_layout_uninit(&inputLayout);
    d.resampler.reset(swr);
    if (ret < 0 || (ret = swr_init(swr)) < 0)
        return d.Fail(ret, "cannot set up the resampler");
    d.packet.reset(av_packet_alloc());
    if (!d.packet || (ret = d.AllocateFrames()) < 0)
        return d.Fail(ret < 0 ? ret : AVERROR(ENOMEM), "out of memory");

    ret = d.file.Create(outputPath);
    if (ret < 0) {
        d.Note(d.file.Error(), FailureOfOutputError(ret));
        return ret;
    }
    d.check.Stop();
    d.file.SetGrowthListener({});
    if (d.checkOutput && d.liveCheck && d.check.Start(d.file.PartialPath()))
        d.file.SetGrowthListener([&d](std::int64_t bytes) { d.check.Grow(bytes); });
    d.format->pb = d.file.Io();
    d.format->flags |= AVFMT_FLAG_CUSTOM_IO;
    ret = avformat_write_header(d.format.get(), nullptr);
    if (ret < 0) {
        d.Fail(ret, "cannot write the file header");
        Abort();
        return ret;
    }
    d.headerWritten = true;

    d.StartWorker();
    if (isWma) {
        // The WMA decoder spends its first frame on the transform's overlap and gives
        // it out as nothing; lead with one frame of silence so the sound is not early.
        ret = d.Take();
        if (ret < 0) {
            Abort();
            return ret;
        }
        av_samples_set_silence(d.filling->extended_data, 0, d.frameSize, enc->ch_layout.nb_channels, enc->sample_fmt);
        d.filled = d.frameSize;
        ret = d.Queue(d.frameSize);
        if (ret < 0) {
            Abort();
            return ret;
        }
    }
    return 0;
}

int AudioEncoderChain::Write(const void* interleaved, int frames)
{
    Impl& d = *m_impl;
    if (!d.headerWritten || d.finished)
        return d.Fail(AVERROR(EINVAL), "the output is not open");
    if (frames <= 0)
        return 0;
    d.inputFrames += frames;
    return d.Convert(interleaved, frames);
}

int AudioEncoderChain::Finish()
{
    Impl& d = *m_impl;
    if (!d.headerWritten || d.finished)
        return d.Fail(AVERROR(EINVAL), "the output is not open");
    int ret = d.Convert(nullptr, 0);
    if (ret >= 0 && d.filling && d.encoder->sample_rate != d.input.rate) {
        // The resampler's drain may round up by a sample: the output lasts what the
        // input lasted, to the sample of its own rate.
        const int64_t expected = av_rescale_rnd(d.inputFrames, d.encoder->sample_rate, d.input.rate, AV_ROUND_NEAR_INF);
        const int64_t over = d.nextPts + d.filled - expected;
        if (over > 0 && over <= d.filled)
            d.filled -= static_cast<int>(over);
    }
    if (ret >= 0 && d.filling && d.filled > 0) {
        // A coder without a short last frame gets the rest as silence.
        const bool smallLast =
            d.encoder->codec->capabilities & (AV_CODEC_CAP_SMALL_LAST_FRAME | AV_CODEC_CAP_VARIABLE_FRAME_SIZE);
        if (!smallLast) {
            av_samples_set_silence(d.filling->extended_data, d.filled, d.frameSize - d.filled,
                                   d.encoder->ch_layout.nb_channels, d.encoder->sample_fmt);
        }
        ret = d.Queue(smallLast ? d.filled : d.frameSize);
    }
    // Everything queued is encoded before the thread ends; then the rest runs here.
    d.StopWorker(ret >= 0);
    if (ret >= 0) {
        std::lock_guard<std::mutex> guard(d.lock);
        if (d.interrupted)
            ret = d.StoppedResult();
    }
    if (ret >= 0) {
        std::string why;
        ret = d.Encode(nullptr, why);
        if (ret < 0)
            d.Note(why, FailureOfOutputError(ret));
    }
    if (ret >= 0) {
        ret = av_write_trailer(d.format.get());
        if (ret < 0)
            d.Fail(ret, "writing the end of the file failed");
    }
    if (ret < 0) {
        Abort();
        return ret;
    }
    d.CloseFormat();
    if (d.checkOutput) {
        ret = d.file.Close();
        std::string why;
        if (ret < 0) {
            why = d.file.Error();
        } else if (d.liveCheck) {
            why = JudgeWrittenLength(d.check.Finish(), d.nextPts, d.encoder->sample_rate, d.frameSize);
        } else {
            why = CheckWrittenLength(d.file.PartialPath(), d.nextPts, d.encoder->sample_rate, d.frameSize);
        }
        if (!why.empty()) {
            d.Note(why, ret < 0 ? FailureOfOutputError(ret) : KvJobFailure::OutputUnplayable);
            Abort();
            return ret < 0 ? ret : AVERROR_INVALIDDATA;
        }
    }
    if (d.tags && d.tagContainer != KvTagContainer::None) {
        if (!d.checkOutput && (ret = d.file.Close()) < 0) {
            d.Note(d.file.Error(), FailureOfOutputError(ret));
            Abort();
            return ret;
        }
        d.WriteTags();
    }
    ret = d.file.Commit();
    if (ret < 0) {
        d.Note(d.file.Error(), FailureOfOutputError(ret));
        Abort();
        return ret;
    }
    d.finished = true;
    return 0;
}

void AudioEncoderChain::Interrupt()
{
    Impl& d = *m_impl;
    {
        std::lock_guard<std::mutex> guard(d.lock);
        d.interrupted = true;
    }
    d.workReady.notify_all();
    d.spaceReady.notify_all();
}

void AudioEncoderChain::Abort()
{
    Impl& d = *m_impl;
    d.StopWorker(false);
    d.check.Stop();
    d.CloseFormat();
    d.headerWritten = false;
    if (!d.finished)
        d.file.Discard();
}

} // namespace velmora
