#include "media/KvFFMpegDeleters.h"

#include <cstdlib>
#include <mutex>

extern "C" {
#include <libavutil/log.h>
}

namespace velmora {

void QuietFFmpegLog()
{
    static std::once_flag once;
    std::call_once(once, [] {
        if (std::getenv("VELMORA_FFMPEG_LOG") == nullptr)
            av_log_set_level(AV_LOG_FATAL);
    });
}

std::string FFmpegErrorText(int code)
{
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(code, text, sizeof text);
    return text;
}

} // namespace velmora
