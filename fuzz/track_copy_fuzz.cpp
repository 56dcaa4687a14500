// Any bytes as a media file, through the two readers that take a source around the
// mix: the direct decode (the source's own samples, cut to the sample) and the copy of
// its packets (Original), with a Start and End taken from the input's first byte.
// Neither may crash, hang or hand on more than it says; a failed copy leaves no file.

#include "FuzzSupport.h"

#include "pipeline/KvDirectAudio.h"
#include "pipeline/KvTrackCopy.h"

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <string>

using velmora::fuzz::Expect;
using velmora::fuzz::Scratch;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1)
        return 0;
    const std::string path = Scratch().Path() + "media.bin";
    velmora::fuzz::WriteFile(path, std::string_view(reinterpret_cast<const char*>(data + 1), size - 1));
    // Untrimmed, trimmed at the start, at both ends, or with an End before Start.
    const double starts[] = {0.0, 0.05, 0.1, 0.2};
    const double start = starts[data[0] & 3];
    const double end = (data[0] & 4) ? start + 0.15 : (data[0] & 8) ? start / 2 : 0.0;
    const std::atomic<bool> stop{false};

    {
        velmora::CKvDirectAudio direct;
        std::string why;
        velmora::KvJobFailure failure = velmora::KvJobFailure::None;
        if (direct.Open(path, -1, start, end, why, failure)) {
            const velmora::AudioInputFormat format = direct.Format();
            std::int64_t frames = 0;
            direct.Run(
                [&](const void* samples, int count) {
                    Expect(samples != nullptr && count > 0, "a run holds samples");
                    frames += count;
                    return 0;
                },
                stop, nullptr, why);
            Expect(frames == direct.FramesGiven(), "the frames handed on are the frames counted");
            Expect(format.channels > 0 && format.rate > 0, "an opened source has a format");
        }
    }

    velmora::CKvTrackCopy copy;
    std::string why;
    velmora::KvJobFailure failure = velmora::KvJobFailure::None;
    if (copy.Open(path, -1, start, end, why, failure)) {
        const std::string output = Scratch().Path() + "copy" + copy.Container().extension;
        std::error_code ignored;
        std::filesystem::remove(output, ignored);
        const int result = copy.Run(output, stop, nullptr, why, failure);
        Expect(result == 0 || !std::filesystem::exists(output), "a failed copy leaves no file");
        Expect(copy.SecondsCopied() >= 0.0, "a copied length is a length");
        std::filesystem::remove(output, ignored);
    }
    return 0;
}
