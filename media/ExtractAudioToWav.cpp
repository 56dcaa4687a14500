#include "media/ExtractAudioToWav.h"

#include <array>
#include <cstdio>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "media/KvFFMpegAudioReader.h"

namespace {

constexpr int kWavRate = 44100;
constexpr int kChunkFrames = 44100;

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};
using ScopedFile = std::unique_ptr<std::FILE, FileCloser>;

// Removes the file it names when it goes, unless kept: a sound track of up to 4 GB
// must not stay behind in tmp/ half written.
class RemoveUnlessKept
{
public:
    explicit RemoveUnlessKept(std::string path) : m_path(std::move(path)) {}
    ~RemoveUnlessKept()
    {
        if (!m_kept)
            std::remove(m_path.c_str());
    }
    RemoveUnlessKept(const RemoveUnlessKept&) = delete;
    RemoveUnlessKept& operator=(const RemoveUnlessKept&) = delete;
    void Keep() { m_kept = true; }

private:
    std::string m_path;
    bool m_kept = false;
};

void PutLe32(uint8_t* at, uint32_t value)
{
    at[0] = static_cast<uint8_t>(value);
    at[1] = static_cast<uint8_t>(value >> 8);
    at[2] = static_cast<uint8_t>(value >> 16);
    at[3] = static_cast<uint8_t>(value >> 24);
}

std::array<uint8_t, 44> WavHeader(uint32_t dataBytes)
{
    std::array<uint8_t, 44> header{};
    auto put = [&](size_t at, const char* tag) {
        for (size_t i = 0; i < 4; ++i)
            header[at + i] = static_cast<uint8_t>(tag[i]);
    };
    put(0, "RIFF");
    PutLe32(&header[4], dataBytes + 36);
    put(8, "WAVE");
    put(12, "fmt ");
    PutLe32(&header[16], 16);
    header[20] = 1; // PCM
    header[22] = 2; // channels
    PutLe32(&header[24], kWavRate);
    PutLe32(&header[28], kWavRate * 4);
    header[32] = 4;  // block align
    header[34] = 16; // bits per sample
    put(36, "data");
    PutLe32(&header[40], dataBytes);
    return header;
}

bool IsLittleEndian()
{
    const uint16_t probe = 1;
    return *reinterpret_cast<const uint8_t*>(&probe) == 1;
}

} // namespace

bool ExtractAudioToWav(const std::string& source, const std::string& target, int audioStream)
{
    return velmora::ExtractAudioToWavLimited(source, target, velmora::kMaxWavDataBytes, audioStream);
}

namespace velmora {

bool ExtractAudioToWavLimited(const std::string& source, const std::string& target,
                              uint64_t maxDataBytes, int audioStream)
{
    if (maxDataBytes > kMaxWavDataBytes)
        maxDataBytes = kMaxWavDataBytes;

    CKvFFMpegAudioReader reader(source, audioStream);
    if (reader.IsFailed())
        return false;

    ScopedFile file(std::fopen(target.c_str(), "wb"));
    if (!file)
        return false;
    // Declared after the file, so the file is closed before it is removed.
    RemoveUnlessKept partial(target);
    const auto provisional = WavHeader(0);
    if (std::fwrite(provisional.data(), 1, provisional.size(), file.get()) != provisional.size())
        return false;

    std::vector<int16_t> pcm(static_cast<size_t>(kChunkFrames) * 2);
    uint64_t dataBytes = 0;
    for (;;) {
        const int frames = reader.ReadDecoded(pcm.data(), kChunkFrames, kWavRate);
        if (frames <= 0)
            break;
        const size_t bytes = static_cast<size_t>(frames) * 4;
        if (dataBytes + bytes > maxDataBytes)
            return false; // the header could not describe the data
        if (!IsLittleEndian()) {
            for (size_t i = 0; i < static_cast<size_t>(frames) * 2; ++i)
                pcm[i] = static_cast<int16_t>(__builtin_bswap16(static_cast<uint16_t>(pcm[i])));
        }
        if (std::fwrite(pcm.data(), 1, bytes, file.get()) != bytes)
            return false;
        dataBytes += bytes;
    }
    if (reader.HasResamplerFailed())
        return false;

    const auto header = WavHeader(static_cast<uint32_t>(dataBytes));
    if (std::fseek(file.get(), 0, SEEK_SET) != 0 ||
        std::fwrite(header.data(), 1, header.size(), file.get()) != header.size())
        return false;
    if (std::fclose(file.release()) != 0)
        return false;
    partial.Keep();
    return true;
}

} // namespace velmora
