#include "frontend/KvAudioChoice.h"

#include "common/KvAudioFormats.h"
#include "common/KvMp3Rates.h"
#include "common/KvOptionRecord.h"
#include "common/KvWmProfile.h"
#include "frontend/KvFrontEndState.h"

#include <QStringList>

#include <algorithm>
#include <vector>

namespace velmora {

namespace {

// The dialog's defaults when the format is switched: quality item 24 for MP3; for WMA
// the video bit rate of the preset's class and the first "128 kbps" format.
constexpr int kMp3DefaultQuality = 25;
constexpr int kQualityItems = 49;

QString JoinNumbers(const std::vector<int>& values)
{
    QStringList texts;
    for (int value : values)
        texts << QString::number(value);
    return texts.join(QStringLiteral(", "));
}

QString Describe(const WmAudioFormat& format)
{
    return QStringLiteral("%1 kbps %2 Hz %3")
        .arg(format.nBitrate / 1000)
        .arg(format.nSampleRate)
        .arg(format.nChannels == 1 ? QStringLiteral("mono") : QStringLiteral("stereo"));
}

// The MP3 values asked for, completed from record; false with error when MP3 cannot
// carry them.
bool ResolveMp3(const tagKvOptionRecord& record, const KvAudioChoice& choice, int& kbps, int& rate, int& channelItem,
                QString& error)
{
    const std::vector<int>& rates = Mp3SampleRates();
    rate = choice.sampleRate > 0 ? choice.sampleRate : LegalMp3SampleRate(record.nSampleRate);
    if (std::find(rates.begin(), rates.end(), rate) == rates.end()) {
        error = QStringLiteral("MP3 has no sample rate of %1 Hz. The MP3 sample rates are %2 Hz.")
                    .arg(rate)
                    .arg(JoinNumbers(rates));
        return false;
    }
    const std::vector<int>& bitrates = Mp3Bitrates(rate);
    kbps = choice.kbps > 0 ? choice.kbps : LegalMp3Bitrate(record.nAudioBitrate, rate);
    if (std::find(bitrates.begin(), bitrates.end(), kbps) == bitrates.end()) {
        std::vector<int> ratesForKbps;
        for (int other : rates) {
            const std::vector<int>& allowed = Mp3Bitrates(other);
            if (std::find(allowed.begin(), allowed.end(), kbps) != allowed.end())
                ratesForKbps.push_back(other);
        }
        error = QStringLiteral("MP3 at %1 Hz has no bit rate of %2 kbps. At %1 Hz the bit rates are %3 kbps.")
                    .arg(rate)
                    .arg(kbps)
                    .arg(JoinNumbers(bitrates));
        if (!ratesForKbps.empty())
            error += QStringLiteral(" %1 kbps needs a sample rate of %2 Hz.").arg(kbps).arg(JoinNumbers(ratesForKbps));
        return false;
    }
    // The channel list holds "1 (Mono)" and "2 (Stereo)"; a record that keeps the
    // source's channels (from another format) shows stereo, the mix's; any other value
    // outside it leaves the list unchosen and the record's value stands.
    channelItem = choice.channels > 0 ? choice.channels - 1
        : record.nChannels == kKvChannelsOfSource ? 1
                                                  : record.nChannels;
    return true;
}

// The WMA format asked for; false with error when none of the formats on offer has it.
bool ResolveWma(const tagKvOptionRecord& record, int codec, const KvAudioChoice& choice, int& formatValue,
                QString& error)
{
    const std::vector<WmAudioFormat> formats = WmAudioFormats(codec, 0);
    WmAudioFormat current;
    const bool known = ResolveWmAudioFormat(codec, record.nWmaFormat, current);
    std::vector<size_t> candidates;
    for (size_t i = 0; i < formats.size(); ++i) {
        const WmAudioFormat& format = formats[i];
        if ((choice.kbps <= 0 || format.nBitrate == choice.kbps * 1000)
            && (choice.sampleRate <= 0 || format.nSampleRate == choice.sampleRate)
            && (choice.channels <= 0 || format.nChannels == choice.channels))
            candidates.push_back(i);
    }
    if (candidates.empty()) {
        QStringList offered;
        for (const WmAudioFormat& format : formats)
            offered << Describe(format);
        QStringList asked;
        if (choice.kbps > 0)
            asked << QStringLiteral("%1 kbps").arg(choice.kbps);
        if (choice.sampleRate > 0)
            asked << QStringLiteral("%1 Hz").arg(choice.sampleRate);
        if (choice.channels > 0)
            asked << (choice.channels == 1 ? QStringLiteral("mono") : QStringLiteral("stereo"));
        error = QStringLiteral("No WMA format has %1. The WMA formats are: %2.")
                    .arg(asked.join(QStringLiteral(", ")), offered.join(QStringLiteral("; ")));
        return false;
    }
    // What is not named follows the format the record has now, value by value.
    auto narrow = [&](auto same) {
        std::vector<size_t> kept;
        std::copy_if(candidates.begin(), candidates.end(), std::back_inserter(kept),
                     [&](size_t i) { return same(formats[i]); });
        if (!kept.empty())
            candidates = kept;
    };
    if (known) {
        if (choice.channels <= 0)
            narrow([&](const WmAudioFormat& f) { return f.nChannels == current.nChannels; });
        if (choice.sampleRate <= 0)
            narrow([&](const WmAudioFormat& f) { return f.nSampleRate == current.nSampleRate; });
        if (choice.kbps <= 0)
            narrow([&](const WmAudioFormat& f) { return f.nBitrate == current.nBitrate; });
    }
    formatValue = int(candidates.front());
    return true;
}

QString QualityValues(const KvAudioFormat& format)
{
    if (format.outputType == kKvOutputWav)
        return QStringLiteral("16 or 24");
    return QStringLiteral("%1 to %2").arg(format.minQuality).arg(format.maxQuality);
}

// One of the formats of KvAudioFormats.h: its defaults where nothing is named, and no
// value it cannot carry.
bool ApplyFormatChoice(tagKvOptionRecord& record, const KvAudioFormat& format, const KvAudioChoice& choice,
                       QString& error)
{
    const QString name = QString::fromLatin1(format.word);
    const bool switched = record.nOutputType != format.outputType;
    if (choice.kbps > 0 && format.maxKbps == 0) {
        error = format.outputType == kKvOutputOriginal
            ? QStringLiteral("original keeps the sound track as it is: it takes no bit rate.")
            : QStringLiteral("%1 has no bit rate%2.")
                  .arg(name, format.qualityName ? QStringLiteral("; it takes --quality %1").arg(QualityValues(format)) : QString());
        return false;
    }
    if (choice.kbps > 0 && (choice.kbps < format.minKbps || choice.kbps > format.maxKbps)) {
        error = QStringLiteral("%1 has no bit rate of %2 kbps. Its bit rates are %3 to %4 kbps.")
                    .arg(name)
                    .arg(choice.kbps)
                    .arg(format.minKbps)
                    .arg(format.maxKbps);
        return false;
    }
    if (choice.hasQuality && !IsAudioQuality(format, choice.quality)) {
        error = format.qualityName == nullptr
            ? QStringLiteral("%1 has no quality to choose.").arg(name)
            : QStringLiteral("%1 has no %2 %3. Its values are %4.")
                  .arg(name, QString::fromLatin1(format.qualityName))
                  .arg(choice.quality)
                  .arg(QualityValues(format));
        return false;
    }
    const std::vector<int>& rates = format.sampleRates;
    if (format.outputType == kKvOutputOriginal && (choice.sampleRate > 0 || choice.channels != 0)) {
        error = QStringLiteral("original keeps the sound track as it is: its sample rate and channels too.");
        return false;
    }
    if (choice.sampleRate > 0 && std::find(rates.begin(), rates.end(), choice.sampleRate) == rates.end()) {
        error = QStringLiteral("%1 has no sample rate of %2 Hz. Its sample rates are %3 Hz%4.")
                    .arg(name)
                    .arg(choice.sampleRate)
                    .arg(JoinNumbers(rates), format.outputType == kKvOutputOpus ? QString() : QStringLiteral(", or source"));
        return false;
    }
    if (choice.channels > 2 && format.maxChannels == 2) {
        error = QStringLiteral("%1 holds 1 or 2 channels.").arg(name);
        return false;
    }
    record.nOutputType = format.outputType;
    if (format.maxKbps > 0)
        record.nAudioBitrate = choice.kbps > 0 ? choice.kbps
            : switched || record.nAudioBitrate < format.minKbps || record.nAudioBitrate > format.maxKbps
            ? format.defaultKbps
            : record.nAudioBitrate;
    record.nAudioQuality = choice.hasQuality ? choice.quality
        : !switched && IsAudioQuality(format, record.nAudioQuality) ? record.nAudioQuality
                                                                     : format.defaultQuality;
    if (format.outputType == kKvOutputOpus)
        record.nSampleRate = 48000;
    else if (choice.rateOfSource || choice.sampleRate > 0)
        record.nSampleRate = choice.rateOfSource ? kKvRateOfSource : choice.sampleRate;
    else if (switched)
        record.nSampleRate = kKvRateOfSource;
    if (choice.channels != 0)
        record.nChannels = choice.channels == kKvChannelsOfSource ? kKvChannelsOfSource : choice.channels - 1;
    else if (switched)
        record.nChannels = kKvChannelsOfSource;
    return true;
}

} // namespace

bool ApplyAudioChoice(KvFrontEndState& state, const KvAudioChoice& choice, QString& error)
{
    tagKvOptionRecord record = state.CurrentRecord();
    const KvAudioFormat* format = FindAudioFormat(choice.outputType);
    if (!format && (choice.rateOfSource || choice.channels == kKvChannelsOfSource || choice.hasQuality)) {
        error = choice.hasQuality ? QStringLiteral("%1 has no quality to choose.").arg(choice.wma ? "wma" : "mp3")
                                  : QStringLiteral("%1 cannot keep the source's sample rate or channels.")
                                        .arg(choice.wma ? "wma" : "mp3");
        return false;
    }
    const bool wma = !format && choice.wma;
    // The format the dialog shows when it opens on the record, and the one chosen.
    const int shownType = record.nOutputType == kKvOutputWma || FindAudioFormat(record.nOutputType) ? record.nOutputType
                                                                                                     : kKvOutputMp3;
    const int chosenType = format ? format->outputType : wma ? kKvOutputWma : kKvOutputMp3;
    const bool switched = shownType != chosenType;
    const int codecCount = int(WmAudioCodecs().size());

    // What the dialog shows when it opens on the record.
    int sizeMode = record.nSizeMode;
    int quality = std::clamp(record.nQuality, 1, kQualityItems);
    int codec = codecCount > 0 ? std::clamp(record.nWmaCodec, 0, codecCount - 1) : -1;
    if (wma && switched) {
        // The WMA defaults: the first 9.x codec that is not lossless, its "128 kbps".
        sizeMode = 1;
        record.nVideoBitrate = state.CurrentPresetIndex() > 3 ? 2500 : 6000;
        for (int i = 0; i < codecCount; ++i) {
            const QString name = QString::fromStdWString(WmAudioCodecs()[size_t(i)].name);
            if (name.contains(QLatin1String("Windows Media Audio 9.")) && !name.contains(QLatin1String("Lossless"))) {
                codec = i;
                break;
            }
        }
        const std::vector<WmAudioFormat> formats = codec >= 0 ? WmAudioFormats(codec, 0) : std::vector<WmAudioFormat>();
        for (size_t i = 0; i < formats.size(); ++i) {
            if (QString::fromStdWString(formats[i].description).contains(QLatin1String("128 kbps"))) {
                record.nWmaFormat = int(i);
                break;
            }
        }
    } else if (switched) {
        sizeMode = 2;
        quality = kMp3DefaultQuality;
    }
    if (wma)
        sizeMode = 1;

    int kbps = 0;
    int rate = 0;
    int channelItem = -1;
    int formatValue = 0;
    if (wma) {
        // The MP3 lists keep what they show; OK stores that as well.
        KvAudioChoice shown;
        ResolveMp3(record, shown, kbps, rate, channelItem, error);
        if (codec < 0 || !ResolveWma(record, codec, choice, formatValue, error))
            return false;
    } else {
        if (format ? !ApplyFormatChoice(record, *format, choice, error)
                   : !ResolveMp3(record, choice, kbps, rate, channelItem, error))
            return false;
        // The format list keeps its choice: the record's format when it is listed,
        // else its first item.
        WmAudioFormat listed;
        formatValue = codec >= 0 && record.nWmaFormat < kWmaPassesFactor && ResolveWmAudioFormat(codec, record.nWmaFormat, listed)
            ? record.nWmaFormat
            : 0;
    }
    error.clear();

    // What OK stores.
    record.nSizeMode = sizeMode;
    record.nWidth = RoundAndClampWidth(record.nWidth);
    record.nHeight = RoundAndClampHeight(record.nHeight);
    record.nQuality = quality;
    record.bForceResize = record.bForceResize != 0 ? 1 : 0;
    record.bFlipVideo = record.bFlipVideo != 0 ? 1 : 0;
    record.nWmvCodec = -1;
    record.nWmaCodec = codec;
    record.nWmaFormat = codec >= 0 ? formatValue : 0;
    if (!format) {
        record.nOutputType = wma ? kKvOutputWma : kKvOutputMp3;
        record.nAudioBitrate = kbps;
        record.nSampleRate = rate;
        if (channelItem == 0 || channelItem == 1)
            record.nChannels = channelItem;
    }
    state.CurrentRecord() = record;
    state.SetOutputSize(record.nWidth, record.nHeight);
    return true;
}

} // namespace velmora
