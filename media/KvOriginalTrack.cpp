#include "media/KvOriginalTrack.h"

#include "media/KvFFMpegDeleters.h"
#include "media/KvFFMpegStream.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

namespace velmora {

KvOriginalContainer OriginalContainerOf(int codecId)
{
    const auto id = static_cast<AVCodecID>(codecId);
    switch (id) {
    case AV_CODEC_ID_AAC: return {".m4a", "ipod", false};
    case AV_CODEC_ID_ALAC: return {".m4a", "ipod", true};
    case AV_CODEC_ID_MP3: return {".mp3", "mp3", false};
    case AV_CODEC_ID_OPUS: return {".opus", "opus", false};
    case AV_CODEC_ID_VORBIS: return {".ogg", "ogg", false};
    case AV_CODEC_ID_FLAC: return {".flac", "flac", true};
    case AV_CODEC_ID_AC3: return {".ac3", "ac3", false};
    case AV_CODEC_ID_EAC3: return {".eac3", "eac3", false};
    case AV_CODEC_ID_WMAV1:
    case AV_CODEC_ID_WMAV2:
    case AV_CODEC_ID_WMAPRO:
    case AV_CODEC_ID_WMALOSSLESS: return {".wma", "asf", id == AV_CODEC_ID_WMALOSSLESS};
    case AV_CODEC_ID_PCM_S16LE:
    case AV_CODEC_ID_PCM_S24LE:
    case AV_CODEC_ID_PCM_S32LE:
    case AV_CODEC_ID_PCM_U8:
    case AV_CODEC_ID_PCM_F32LE:
    case AV_CODEC_ID_PCM_F64LE:
    case AV_CODEC_ID_PCM_ALAW:
    case AV_CODEC_ID_PCM_MULAW: return {".wav", "wav", true};
    default: break;
    }
    // Big-endian and other PCM kinds keep every sample as well; Matroska holds them.
    const AVCodecDescriptor* descriptor = avcodec_descriptor_get(id);
    const bool lossless = descriptor != nullptr && (descriptor->props & AV_CODEC_PROP_LOSSLESS) != 0;
    return {".mka", "matroska", lossless};
}

bool OriginalContainerOf(const std::string& path, int audioStream, KvOriginalContainer& container)
{
    ScopedFormatContext format;
    if (!OpenMediaInput(path, format))
        return false;
    const int index = FindAudioStream(format.get(), audioStream);
    if (index < 0)
        return false;
    container = OriginalContainerOf(format->streams[index]->codecpar->codec_id);
    return true;
}

} // namespace velmora
