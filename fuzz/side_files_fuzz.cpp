// The small side files over any bytes; the first byte chooses the file, the rest is
// its content: "skin/h264.dat", "skin/3dsmoothing.xml", "skin/GL.dat",
// "skin/decoder.xml" and a WAV delay file. Each reader is run as its program runs it,
// with the promises each one makes checked.

#include "FuzzSupport.h"

#include "common/KvText.h"
#include "project/KvDecoderSettings.h"
#include "project/KvSideFiles.h"

#include <cmath>
#include <cstdint>

using velmora::fuzz::Expect;
using velmora::fuzz::Scratch;
using velmora::fuzz::WriteFile;

namespace {

void H264(const std::string& folder)
{
    tagKvH264Settings settings;
    if (!LoadH264Settings(folder, settings))
        return;
    // What is read, saved and read again stays the same.
    Expect(SaveH264Settings(folder, settings), "the settings are saved");
    tagKvH264Settings again{-1, -1, -1};
    Expect(LoadH264Settings(folder, again), "saved settings load");
    Expect(again.nProfileIndex == settings.nProfileIndex && again.nPFrameIndex == settings.nPFrameIndex
               && again.nBFrameIndex == settings.nBFrameIndex,
           "the H.264 settings read back as saved");
}

void Smoothing(const std::string& folder)
{
    int bEnable = -7;
    if (!LoadSmoothing(folder, bEnable))
        Expect(bEnable == -7, "a failed read leaves the switch");
}

void GLCaps(const std::string& folder)
{
    tagKvGLCaps caps{-5, -5};
    const int first = LoadGLCaps(folder, caps);
    if (caps.GLExtensionSupported == -5)
        return; // the file did not load
    // The read rewrote the file; reading it again gives the same values.
    tagKvGLCaps again;
    Expect(LoadGLCaps(folder, again) == first && again.GLMultiSampleFormat == caps.GLMultiSampleFormat,
           "the rewritten GL file holds what was read");
}

void Decoder(const std::string& folder)
{
    const velmora::DecoderSettings before = velmora::ReadDecoderSettings(folder);
    Expect(velmora::WriteDecoderDeinterlace(folder, 1), "the store is written");
    const velmora::DecoderSettings after = velmora::ReadDecoderSettings(folder);
    Expect(after.flip == before.flip && after.isResize == before.isResize && after.resizeAscpect == before.resizeAscpect
               && after.resizeDx == before.resizeDx && after.resizeDy == before.resizeDy && after.isDeinterlace == 1,
           "one writer keeps the other writers' values");
}

void WavDelay(const std::string& folder)
{
    const double delay = GetWavDelay(velmora::Utf8ToWide(folder + "tmp/extracted.wav"));
    Expect(std::isfinite(delay), "a delay is a number");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0)
        return 0;
    const std::string& folder = Scratch().Path();
    const std::string_view content(reinterpret_cast<const char*>(data) + 1, size - 1);
    switch (data[0] % 5) {
    case 0:
        WriteFile(Scratch().Writable("skin/h264.dat"), content);
        H264(folder);
        break;
    case 1:
        WriteFile(Scratch().Writable("skin/3dsmoothing.xml"), content);
        Smoothing(folder);
        break;
    case 2:
        WriteFile(Scratch().Writable("skin/GL.dat"), content);
        GLCaps(folder);
        break;
    case 3:
        WriteFile(Scratch().Writable("skin/decoder.xml"), content);
        Decoder(folder);
        break;
    default:
        WriteFile(Scratch().Writable("tmp/extracted.wav.xml"), content);
        WavDelay(folder);
        break;
    }
    return 0;
}
