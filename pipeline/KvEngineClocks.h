#pragma once

// The engine-wide times that the mixer callbacks publish and the renderer reads.
// Each is one 64-bit value written whole by one streaming thread and read by others
// without a lock; the atomics only make that well-defined.

#include <atomic>

namespace velmora {

struct KvEngineClocks
{
    // End time of the audio buffer being mixed, seconds on the time line.
    std::atomic<double> audioClock{0.0};
    // The same time for the renderer; the video callback writes it too.
    std::atomic<double> playClock{0.0};
    // Time-line frames per second: 30 in a conversion, 15 in a preview. One audio
    // buffer covers one frame.
    std::atomic<double> frameRate{30.0};
};

} // namespace velmora
