#include "pipeline/AudioEncoderChain.h"

#include "common/KvLog.h"
#include "common/KvMp3Rates.h"
#include "common/KvWmProfile.h"
#include "media/KvCoverPicture.h"
#include "media/KvFFMpegDeleters.h"
#include "pipeline/KvAsfTagObjects.h"
#include "pipeline/KvId3v2Tag.h"
#include "pipeline/KvPartialOutputFile.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/audio_fifo.h>
#include <libavutil/channel_layout.h>
#include <libavutil/error.h>
#include <libavutil/opt.h>
#include <libswresample/swresample.h>
}

namespace velmora {

namespace {

std::string ErrorText(int code)
{
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(code, text, sizeof text);
    return text;
}

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

struct AudioEncoderChain::Impl
{
    std::string finalPath;
    std::string lastError;
    CKvPartialOutputFile file;
    AVFormatContext* format = nullptr;
    bool headerWritten = false;
    bool finished = false;
    ScopedCodecContext encoder;
    ScopedSwrContext resampler;
    ScopedAudioFifo fifo;
    ScopedFrame frame;
    ScopedPacket packet;
    AVStream* stream = nullptr;
    int inputRate = 44100;
    int64_t nextPts = 0;
    std::vector<uint8_t*> convertPlanes;
    std::vector<uint8_t> convertBuffer;
    std::optional<MediaTags> tags;
    std::vector<uint8_t> id3;      // written in front of the muxer's output
    AsfTagObjects asfTags;         // put into the header once the muxer is done
    std::size_t asfReserved = 0;   // the room the muxer keeps for them; 0: none

    int Fail(int code, const std::string& what)
    {
        lastError = what + (code < 0 ? ": " + ErrorText(code) : std::string());
        return code < 0 ? code : AVERROR_UNKNOWN;
    }

    // Readies the tags for the muxer: the MP3's own tag, or the room in the Windows
    // Media header that PlaceAsfTags fills.
    void PrepareTags(bool isMp3)
    {
        id3.clear();
        asfTags = AsfTagObjects{};
        asfReserved = 0;
        if (!tags)
            return;
        MediaTags fitted = *tags;
        if (!fitted.cover.empty() &&
            !FitCoverPicture(fitted.cover, fitted.coverMime, isMp3 ? kMaxMp3CoverBytes : kMaxAsfPictureBytes,
                             isMp3 ? kMp3CoverSide : kAsfCoverSide)) {
            LogLine("output: the cover picture (" + fitted.coverMime + ", " + std::to_string(fitted.cover.size()) +
                    " bytes) cannot be carried over; the file has none");
            fitted.cover.clear();
            fitted.coverMime.clear();
        }
        if (isMp3) {
            id3 = BuildId3v2Tag(fitted);
            av_opt_set_int(format->priv_data, "id3v2_version", 0, 0); // ours instead
            return;
        }
        asfTags = BuildAsfTagObjects(fitted);
        if (asfTags.count == 0)
            return;
        asfReserved = AsfReservationSize(asfTags);
        for (const auto& [key, value] : AsfReservationTags(asfReserved))
            av_dict_set(&format->metadata, key.c_str(), value.c_str(), 0);
    }

    // Puts the tag objects into the room the muxer kept in its final header. A header
    // that is not as reserved keeps the room blank: the file still plays, so the job
    // goes on, and the log says why its tags are missing.
    int PlaceAsfTags()
    {
        uint8_t first[30] = {};
        int ret = file.ReadAt(0, first, sizeof first);
        if (ret < 0)
            return Fail(ret, "reading back the file header failed");
        const uint64_t size = AsfHeaderObjectSize(first);
        constexpr uint64_t kMaxHeader = 16u << 20;
        std::string why = "the file header is not an ASF header";
        if (size >= sizeof first && size <= kMaxHeader) {
            std::vector<uint8_t> header(static_cast<std::size_t>(size));
            ret = file.ReadAt(0, header.data(), header.size());
            if (ret < 0)
                return Fail(ret, "reading back the file header failed");
            if (PlaceAsfTagObjects(header, asfTags, asfReserved, &why)) {
                ret = file.WriteAt(0, header.data(), header.size());
                return ret < 0 ? Fail(ret, "writing the tags failed") : 0;
            }
        }
        LogLine("output: the tags could not be put into the file header (" + why + ")");
        return 0;
    }

    // Frees the muxer; the file itself belongs to file.
    void CloseFormat()
    {
        if (format) {
            format->pb = nullptr;
            avformat_free_context(format);
            format = nullptr;
        }
    }

    int DrainPackets()
    {
        for (;;) {
            int ret = avcodec_receive_packet(encoder.get(), packet.get());
            if (ret == AVERROR(EAGAIN) || ret == AVERROR_EOF)
                return 0;
            if (ret < 0)
                return Fail(ret, "encoding failed");
            av_packet_rescale_ts(packet.get(), encoder->time_base, stream->time_base);
            packet->stream_index = stream->index;
            ret = av_interleaved_write_frame(format, packet.get());
            if (ret < 0)
                return Fail(ret, "writing the output failed");
        }
    }

    int EncodeFromFifo(int samples)
    {
        frame->nb_samples = samples;
        frame->format = encoder->sample_fmt;
        frame->sample_rate = encoder->sample_rate;
        av_channel_layout_copy(&frame->ch_layout, &encoder->ch_layout);
        int ret = av_frame_get_buffer(frame.get(), 0);
        if (ret < 0)
            return Fail(ret, "out of memory");
        const int available = std::min(samples, av_audio_fifo_size(fifo.get()));
        if (av_audio_fifo_read(fifo.get(), reinterpret_cast<void**>(frame->data), available) < available)
            return Fail(AVERROR_UNKNOWN, "reading the sample queue failed");
        if (available < samples) {
            // A coder without a short last frame gets the rest as silence.
            av_samples_set_silence(frame->data, available, samples - available, encoder->ch_layout.nb_channels, encoder->sample_fmt);
        }
        frame->pts = nextPts;
        nextPts += samples;
        ret = avcodec_send_frame(encoder.get(), frame.get());
        av_frame_unref(frame.get());
        if (ret < 0)
            return Fail(ret, "encoding failed");
        return DrainPackets();
    }

    int EncodeFullFrames()
    {
        const int frameSize = encoder->frame_size;
        while (av_audio_fifo_size(fifo.get()) >= frameSize) {
            int ret = EncodeFromFifo(frameSize);
            if (ret < 0)
                return ret;
        }
        return 0;
    }

    // Runs the resampler on input (null to drain it) and queues what comes out.
    int Convert(const int16_t* input, int frames)
    {
        const int64_t delay = swr_get_delay(resampler.get(), inputRate);
        const int capacity = static_cast<int>(av_rescale_rnd(delay + frames, encoder->sample_rate, inputRate, AV_ROUND_UP)) + 32;
        const int channels = encoder->ch_layout.nb_channels;
        int lineSize = 0;
        const int bytes = av_samples_get_buffer_size(&lineSize, channels, capacity, encoder->sample_fmt, 0);
        if (bytes < 0)
            return Fail(bytes, "resampler buffer");
        if (convertBuffer.size() < static_cast<size_t>(bytes))
            convertBuffer.resize(static_cast<size_t>(bytes));
        convertPlanes.assign(static_cast<size_t>(channels), nullptr);
        av_samples_fill_arrays(convertPlanes.data(), &lineSize, convertBuffer.data(), channels, capacity, encoder->sample_fmt, 0);
        const uint8_t* in[1] = {reinterpret_cast<const uint8_t*>(input)};
        const int produced = swr_convert(resampler.get(), convertPlanes.data(), capacity, input ? in : nullptr, input ? frames : 0);
        if (produced < 0)
            return Fail(produced, "resampling failed");
        if (produced > 0 && av_audio_fifo_write(fifo.get(), reinterpret_cast<void**>(convertPlanes.data()), produced) < produced)
            return Fail(AVERROR(ENOMEM), "out of memory");
        return 0;
    }
};

AudioEncoderChain::AudioEncoderChain()
    : m_impl(std::make_unique<Impl>())
{
}

AudioEncoderChain::~AudioEncoderChain()
{
    if (!m_impl->finished)
        Abort();
}

void AudioEncoderChain::SetTags(std::optional<MediaTags> tags)
{
    m_impl->tags = std::move(tags);
}

const std::string& AudioEncoderChain::LastError() const
{
    return m_impl->lastError;
}

int64_t AudioEncoderChain::EncodedSamples() const
{
    return m_impl->nextPts;
}

int AudioEncoderChain::Open(const std::string& outputPath, const AudioOutputSettings& settings, int inputRate)
{
    Impl& d = *m_impl;
    Abort();
    d.finalPath = outputPath;
    d.lastError.clear();
    d.headerWritten = false;
    d.finished = false;
    d.encoder.reset();
    d.resampler.reset();
    d.fifo.reset();
    d.frame.reset();
    d.packet.reset();
    d.stream = nullptr;
    d.nextPts = 0;
    d.inputRate = inputRate;

    const bool isMp3 = settings.codec == AudioOutputCodec::Mp3;
    const char* codecName = isMp3 ? "libmp3lame" : (settings.codec == AudioOutputCodec::WmaV1 ? "wmav1" : "wmav2");
    const AVCodec* codec = avcodec_find_encoder_by_name(codecName);
    if (!codec)
        return d.Fail(AVERROR_ENCODER_NOT_FOUND, std::string("no ") + codecName + " encoder");

    int ret = avformat_alloc_output_context2(&d.format, nullptr, isMp3 ? "mp3" : "asf", outputPath.c_str());
    if (ret < 0 || !d.format)
        return d.Fail(ret, "cannot set up the output format");
    d.PrepareTags(isMp3);

    d.encoder.reset(avcodec_alloc_context3(codec));
    if (!d.encoder)
        return d.Fail(AVERROR(ENOMEM), "out of memory");
    AVCodecContext* enc = d.encoder.get();
    enc->sample_rate = settings.nSampleRate;
    enc->bit_rate = settings.nBitrate;
    av_channel_layout_default(&enc->ch_layout, settings.nChannels);
    enc->sample_fmt = codec->sample_fmts ? codec->sample_fmts[0] : AV_SAMPLE_FMT_FLTP;
    if (isMp3) {
        // Constant bit rate at exactly the chosen rate; joint stereo for two channels.
        for (const AVSampleFormat* f = codec->sample_fmts; f && *f != AV_SAMPLE_FMT_NONE; ++f) {
            if (*f == AV_SAMPLE_FMT_S16P)
                enc->sample_fmt = AV_SAMPLE_FMT_S16P;
        }
        av_opt_set_int(enc->priv_data, "joint_stereo", 1, 0);
    }
    enc->time_base = AVRational{1, settings.nSampleRate};
    if (d.format->oformat->flags & AVFMT_GLOBALHEADER)
        enc->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    ret = avcodec_open2(enc, codec, nullptr);
    if (ret < 0)
        return d.Fail(ret, std::string("the ") + codecName + " encoder refused " + std::to_string(settings.nBitrate / 1000)
                + " kbit/s, " + std::to_string(settings.nSampleRate) + " Hz, " + std::to_string(settings.nChannels) + " channel(s)");
    if (enc->frame_size <= 0)
        enc->frame_size = 1152;

    d.stream = avformat_new_stream(d.format, nullptr);
    if (!d.stream)
        return d.Fail(AVERROR(ENOMEM), "out of memory");
    d.stream->time_base = enc->time_base;
    ret = avcodec_parameters_from_context(d.stream->codecpar, enc);
    if (ret < 0)
        return d.Fail(ret, "cannot describe the output stream");

    AVChannelLayout stereo = AV_CHANNEL_LAYOUT_STEREO;
    SwrContext* swr = nullptr;
    ret = swr_alloc_set_opts2(&swr, &enc->ch_layout, enc->sample_fmt, enc->sample_rate, &stereo, AV_SAMPLE_FMT_S16, inputRate, 0, nullptr);
    d.resampler.reset(swr);
    if (ret < 0 || (ret = swr_init(swr)) < 0)
        return d.Fail(ret, "cannot set up the resampler");
    d.fifo.reset(av_audio_fifo_alloc(enc->sample_fmt, enc->ch_layout.nb_channels, enc->frame_size * 2));
    d.frame.reset(av_frame_alloc());
    d.packet.reset(av_packet_alloc());
    if (!d.fifo || !d.frame || !d.packet)
        return d.Fail(AVERROR(ENOMEM), "out of memory");

    if (!isMp3) {
        // The WMA decoder spends its first frame on the transform's overlap and gives
        // it out as nothing; lead with one frame of silence so the sound is not early.
        std::vector<uint8_t*> planes(static_cast<size_t>(enc->ch_layout.nb_channels), nullptr);
        std::vector<uint8_t> silence;
        int lineSize = 0;
        const int bytes = av_samples_get_buffer_size(&lineSize, enc->ch_layout.nb_channels, enc->frame_size, enc->sample_fmt, 0);
        silence.resize(static_cast<size_t>(std::max(bytes, 0)));
        av_samples_fill_arrays(planes.data(), &lineSize, silence.data(), enc->ch_layout.nb_channels, enc->frame_size, enc->sample_fmt, 0);
        av_samples_set_silence(planes.data(), 0, enc->frame_size, enc->ch_layout.nb_channels, enc->sample_fmt);
        av_audio_fifo_write(d.fifo.get(), reinterpret_cast<void**>(planes.data()), enc->frame_size);
    }

    ret = d.file.Create(outputPath);
    if (ret < 0) {
        d.lastError = d.file.Error();
        return ret;
    }
    d.format->pb = d.file.Io();
    d.format->flags |= AVFMT_FLAG_CUSTOM_IO;
    // The muxer takes its positions from the file, so what stands before its own
    // header (the Xing frame it later updates) stays where it says.
    if (!d.id3.empty())
        avio_write(d.format->pb, d.id3.data(), static_cast<int>(d.id3.size()));
    ret = avformat_write_header(d.format, nullptr);
    if (ret < 0) {
        d.Fail(ret, "cannot write the file header");
        Abort();
        return ret;
    }
    d.headerWritten = true;
    return 0;
}

int AudioEncoderChain::Write(const int16_t* interleaved, int frames)
{
    Impl& d = *m_impl;
    if (!d.headerWritten || d.finished)
        return d.Fail(AVERROR(EINVAL), "the output is not open");
    if (frames <= 0)
        return 0;
    int ret = d.Convert(interleaved, frames);
    if (ret < 0)
        return ret;
    return d.EncodeFullFrames();
}

int AudioEncoderChain::Finish()
{
    Impl& d = *m_impl;
    if (!d.headerWritten || d.finished)
        return d.Fail(AVERROR(EINVAL), "the output is not open");
    int ret = d.Convert(nullptr, 0);
    if (ret >= 0)
        ret = d.EncodeFullFrames();
    if (ret >= 0 && av_audio_fifo_size(d.fifo.get()) > 0) {
        const bool smallLast = d.encoder->codec->capabilities & AV_CODEC_CAP_SMALL_LAST_FRAME;
        ret = d.EncodeFromFifo(smallLast ? av_audio_fifo_size(d.fifo.get()) : d.encoder->frame_size);
    }
    if (ret >= 0) {
        ret = avcodec_send_frame(d.encoder.get(), nullptr);
        ret = ret < 0 ? d.Fail(ret, "flushing the encoder failed") : d.DrainPackets();
    }
    if (ret >= 0) {
        ret = av_write_trailer(d.format);
        if (ret < 0)
            d.Fail(ret, "writing the end of the file failed");
    }
    if (ret >= 0 && d.asfReserved > 0)
        ret = d.PlaceAsfTags();
    if (ret < 0) {
        Abort();
        return ret;
    }
    d.CloseFormat();
    ret = d.file.Commit();
    if (ret < 0) {
        d.lastError = d.file.Error();
        Abort();
        return ret;
    }
    d.finished = true;
    return 0;
}

void AudioEncoderChain::Abort()
{
    Impl& d = *m_impl;
    d.CloseFormat();
    d.headerWritten = false;
    if (!d.finished)
        d.file.Discard();
}

} // namespace velmora
