// Any bytes as a media file, through what measures how long its sound lasts (from its
// packets, and by decoding it to its end) and through the engine's reader, as a file
// a user adds would go. Lengths are never negative or endless, and a reader that
// opens serves whole buffers until it says it has nothing left.

#include "FuzzSupport.h"

#include "media/KvDecodedLength.h"
#include "media/KvFFMpegAudioReader.h"
#include "media/KvMediaInfo.h"

#include <cmath>
#include <cstdint>
#include <string>

using velmora::fuzz::Expect;
using velmora::fuzz::Scratch;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string path = Scratch().Path() + "media.bin";
    velmora::fuzz::WriteFile(path, std::string_view(reinterpret_cast<const char*>(data), size));

    const double seconds = velmora::MeasureSoundLength(path);
    Expect(std::isfinite(seconds) && seconds >= 0.0, "a measured length is a length");
    velmora::DecodedLength decoded;
    if (velmora::MeasureDecodedLength(path, decoded))
        Expect(decoded.nFrames >= 0 && std::isfinite(decoded.Seconds()), "a decoded length is a length");

    CKvFFMpegAudioReader reader(path);
    if (!reader.IsFailed()) {
        reader.Seek(0.0);
        // A few buffers are enough to cross the end of what a fuzzed file holds.
        for (int i = 0; i < 64 && !reader.IsExhausted(); ++i) {
            const int16_t* pcm = reader.GetBuffer(1470, 44100);
            if (pcm != nullptr)
                Expect(reader.LastDeliveredFrames() >= 0 && reader.LastDeliveredFrames() <= 1470,
                       "a buffer holds no more than was asked");
        }
    }
    return 0;
}
