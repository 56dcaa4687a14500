#include "frontend/KvTargetFolder.h"

#include "common/KvAudioFormats.h"
#include "common/KvMp3Rates.h"
#include "common/KvWmProfile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStorageInfo>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <unistd.h>

namespace velmora {

namespace {

// Headers, the Windows Media index and rounding of the last packet.
constexpr qint64 kHeaderBytes = 64 * 1024;

// Creates and removes a hidden file in folder; why that failed, in a user's words.
QString ProbeWrite(const QString& folder)
{
    QByteArray pattern = QFile::encodeName(QDir(folder).filePath(QStringLiteral(".velmora-check-XXXXXX")));
    const int fd = mkstemp(pattern.data());
    if (fd >= 0) {
        close(fd);
        unlink(pattern.constData());
        return QString();
    }
    switch (errno) {
    case EACCES:
    case EPERM: return QStringLiteral("you have no permission to write there");
    case EROFS: return QStringLiteral("the disk is read-only");
    case ENOSPC: return QStringLiteral("the disk is full");
    case EDQUOT: return QStringLiteral("your disk quota is used up");
    default: return QStringLiteral("it takes no new files");
    }
}

} // namespace

int OutputBitrate(const tagKvOptionRecord& record)
{
    if (const KvAudioFormat* format = FindAudioFormat(record.nOutputType)) {
        if (format->maxKbps > 0)
            return std::clamp(record.nAudioBitrate, format->minKbps, format->maxKbps) * 1000;
        // The sound of the source is not known here: what the mix would give (44.1 kHz,
        // 16 bits), which lossless coding takes to about half.
        const int channels = record.nChannels == 0 ? 1 : 2;
        const int rate = record.nSampleRate > 0 ? record.nSampleRate : 44100;
        const int bits = record.nOutputType == kKvOutputWav && record.nAudioQuality == 24 ? 24 : 16;
        switch (record.nOutputType) {
        case kKvOutputWav: return rate * channels * bits;
        case kKvOutputFlac:
        case kKvOutputAlac: return rate * channels * bits / 2;
        case kKvOutputVorbis: {
            // About what libvorbis gives for stereo at each quality, -1 to 10.
            static const int kbps[] = {45, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 500};
            return kbps[std::clamp(record.nAudioQuality, -1, 10) + 1] * 1000;
        }
        case kKvOutputMp3Vbr: {
            // LAME's average for V0 to V9.
            static const int kbps[] = {245, 225, 190, 175, 165, 130, 115, 100, 85, 65};
            return kbps[std::clamp(record.nAudioQuality, 0, 9)] * 1000;
        }
        default: return 0; // Original: as much as the source's track, not known here
        }
    }
    if (IsWindowsMediaOutput(record.nOutputType)) {
        WmAudioFormat format;
        return ResolveWmAudioFormat(record.nWmaCodec, record.nWmaFormat, format) ? format.nBitrate : 0;
    }
    return LegalMp3Bitrate(record.nAudioBitrate, LegalMp3SampleRate(record.nSampleRate)) * 1000;
}

qint64 EstimateOutputBytes(double seconds, const tagKvOptionRecord& record)
{
    if (!(seconds > 0.0))
        return 0;
    return qint64(std::ceil(seconds * OutputBitrate(record) / 8.0)) + kHeaderBytes;
}

QString FormatBytes(qint64 bytes)
{
    const double megabytes = double(bytes) / (1024.0 * 1024.0);
    if (megabytes >= 1024.0)
        return QString::number(megabytes / 1024.0, 'f', 1) + QStringLiteral(" GB");
    if (megabytes >= 0.1)
        return QString::number(megabytes, 'f', 1) + QStringLiteral(" MB");
    return QString::number((bytes + 1023) / 1024) + QStringLiteral(" KB");
}

QString CheckTargetFolder(const QString& folder, qint64 neededBytes, qint64 freeBytes)
{
    const QFileInfo info(folder);
    if (!info.exists())
        return QStringLiteral("The target folder \"%1\" does not exist.").arg(folder);
    if (!info.isDir())
        return QStringLiteral("\"%1\" is not a folder. Please choose a folder for the converted files.").arg(folder);
    const QString refused = ProbeWrite(folder);
    if (!refused.isEmpty())
        return QStringLiteral("The target folder \"%1\" cannot be written (%2). Please choose another folder.")
            .arg(folder, refused);
    if (freeBytes < 0)
        freeBytes = QStorageInfo(folder).bytesAvailable();
    if (neededBytes > 0 && freeBytes >= 0 && freeBytes < neededBytes)
        return QStringLiteral("The target folder \"%1\" has %2 free, but a converted file needs about %3. "
                              "Please make room or choose another folder.")
            .arg(folder, FormatBytes(freeBytes), FormatBytes(neededBytes));
    return QString();
}

} // namespace velmora
