#pragma once

// The small COM vocabulary the media pipeline speaks: result codes, interface ids,
// the reference-counting base of the mixer interfaces, and the two stream formats
// (wave format, bitmap header) that the mixer stages hand to their callbacks.
//
// Result codes follow the COM convention: negative means failure. Nothing here
// depends on a COM runtime; the pipeline stages are plain C++ objects.

#include <cstdint>

namespace velmora {

using HRESULT = std::int32_t;

inline constexpr HRESULT S_OK = 0;
inline constexpr HRESULT S_FALSE = 1;
inline constexpr HRESULT E_FAIL = static_cast<HRESULT>(0x80004005u);
inline constexpr HRESULT E_NOINTERFACE = static_cast<HRESULT>(0x80004002u);
inline constexpr HRESULT E_POINTER = static_cast<HRESULT>(0x80004003u);
inline constexpr HRESULT E_OUTOFMEMORY = static_cast<HRESULT>(0x8007000Eu);
inline constexpr HRESULT E_INVALIDARG = static_cast<HRESULT>(0x80070057u);

constexpr bool Succeeded(HRESULT hr) { return hr >= 0; }
constexpr bool Failed(HRESULT hr) { return hr < 0; }

struct KvGuid
{
    std::uint32_t Data1;
    std::uint16_t Data2;
    std::uint16_t Data3;
    std::uint8_t Data4[8];

    friend constexpr bool operator==(const KvGuid& a, const KvGuid& b)
    {
        if (a.Data1 != b.Data1 || a.Data2 != b.Data2 || a.Data3 != b.Data3)
            return false;
        for (int i = 0; i < 8; ++i)
            if (a.Data4[i] != b.Data4[i])
                return false;
        return true;
    }
};

// The two mixer stages and their private interfaces.
inline constexpr KvGuid CLSID_KvVideoMixer = {0x2845E381, 0xA7BD, 0x4636, {0x9A, 0x27, 0x95, 0x25, 0x63, 0x8D, 0x0D, 0xE5}};
inline constexpr KvGuid CLSID_KvAudioMixer = {0x16AE1840, 0xC991, 0x47D5, {0x8B, 0x8E, 0xC5, 0xF1, 0xC6, 0x44, 0x4F, 0xCB}};
inline constexpr KvGuid IID_IKvVideoMixer = {0x6A1A75FE, 0x686C, 0x4114, {0xBB, 0x12, 0x93, 0x79, 0x8A, 0xCE, 0x29, 0xB5}};
inline constexpr KvGuid IID_IKvAudioMixer = {0xBB86136D, 0x3EE1, 0x4B64, {0xB1, 0x00, 0x0A, 0x51, 0xD5, 0x55, 0x63, 0x79}};

// The three operations every interface of the pipeline starts with, in this order.
// Callers never delete through this base.
class IKvUnknown
{
public:
    virtual HRESULT QueryInterface(const KvGuid& iid, void** object) = 0;
    virtual std::uint32_t AddRef() = 0;
    virtual std::uint32_t Release() = 0;

protected:
    ~IKvUnknown() = default;
};

// What an audio stage tells its callback about the stream (the fields of a PCM
// wave format header).
struct KvWaveFormat
{
    std::uint16_t wFormatTag = 1;        // 1 = PCM
    std::uint16_t nChannels = 2;
    std::uint32_t nSamplesPerSec = 44100;
    std::uint32_t nAvgBytesPerSec = 176400;
    std::uint16_t nBlockAlign = 4;
    std::uint16_t wBitsPerSample = 16;
};

// What a video stage tells its callback about a frame (a 40-byte bitmap header;
// a negative height means the rows run top-down).
struct KvBitmapInfoHeader
{
    std::uint32_t biSize = 40;
    std::int32_t biWidth = 0;
    std::int32_t biHeight = 0;
    std::uint16_t biPlanes = 1;
    std::uint16_t biBitCount = 32;
    std::uint32_t biCompression = 0;
    std::uint32_t biSizeImage = 0;
    std::int32_t biXPelsPerMeter = 0;
    std::int32_t biYPelsPerMeter = 0;
    std::uint32_t biClrUsed = 0;
    std::uint32_t biClrImportant = 0;
};
static_assert(sizeof(KvBitmapInfoHeader) == 40);

} // namespace velmora
