#include "project/KvDecoderSettings.h"

#include "common/KvProgramFolder.h"
#include "xml/KvXmlNode.h"

#include <array>
#include <utility>

namespace velmora {

namespace {

constexpr const char* kDecoderFile = "skin/decoder.xml";
constexpr std::wstring_view kRoot = L"default";

// Name and member, in the order the store is written.
using Field = std::pair<const wchar_t*, std::optional<int> DecoderSettings::*>;
constexpr std::array<Field, 6> kFields{{
    {L"flip", &DecoderSettings::flip},
    {L"isResize", &DecoderSettings::isResize},
    {L"resizeAscpect", &DecoderSettings::resizeAscpect},
    {L"resizeDx", &DecoderSettings::resizeDx},
    {L"resizeDy", &DecoderSettings::resizeDy},
    {L"isDeinterlace", &DecoderSettings::isDeinterlace},
}};

bool Write(const std::string& programFolder, const DecoderSettings& settings)
{
    CKvXmlNode document;
    CKvXmlNode* root = document.AddChild(kRoot);
    for (const auto& [name, member] : kFields) {
        if (const auto& value = settings.*member)
            root->SetIntAttribute(name, *value);
    }
    return document.Save(DecoderSettingsPath(programFolder), CKvXmlNode::kUtf16Le);
}

} // namespace

std::string DecoderSettingsPath(const std::string& programFolder)
{
    return WritablePath(programFolder, kDecoderFile);
}

DecoderSettings ReadDecoderSettings(const std::string& programFolder)
{
    DecoderSettings settings;
    CKvXmlNode document;
    if (!document.Load(ProgramPath(programFolder, kDecoderFile)))
        return settings;
    const CKvXmlNode* root = document.FirstChild(kRoot);
    if (!root)
        return settings;
    for (const auto& [name, member] : kFields) {
        if (root->HasAttribute(name))
            settings.*member = root->GetIntAttribute(name, 0);
    }
    return settings;
}

bool WriteDecoderResize(const std::string& programFolder, int flip, int isResize, int resizeDx, int resizeDy)
{
    DecoderSettings settings = ReadDecoderSettings(programFolder);
    settings.flip = flip;
    settings.isResize = isResize;
    settings.resizeAscpect = 0;
    settings.resizeDx = resizeDx;
    settings.resizeDy = resizeDy;
    return Write(programFolder, settings);
}

bool WriteDecoderSettings(const std::string& programFolder, const tagKvOptionRecord& record)
{
    return WriteDecoderResize(programFolder, record.bFlipVideo, record.bForceResize, record.nWidth, record.nHeight);
}

bool WriteDecoderDeinterlace(const std::string& programFolder, int isDeinterlace)
{
    DecoderSettings settings = ReadDecoderSettings(programFolder);
    settings.isDeinterlace = isDeinterlace;
    return Write(programFolder, settings);
}

} // namespace velmora
