#include "project/KvSideFiles.h"

#include "common/KvProgramFolder.h"
#include "common/KvText.h"
#include "xml/KvXmlNode.h"

#include <cmath>

namespace {

constexpr const char* kH264File = "skin/h264.dat";
constexpr const char* kSmoothingFile = "skin/3dsmoothing.xml";
constexpr const char* kGLFile = "skin/GL.dat";

} // namespace

bool LoadH264Settings(const std::string& programFolder, tagKvH264Settings& settings)
{
    CKvXmlNode document;
    if (!document.Load(velmora::ProgramPath(programFolder, kH264File)))
        return false;
    const CKvXmlNode* node = document.FirstChild(L"Settings");
    if (!node)
        return false;
    settings.nProfileIndex = node->GetIntAttribute(L"nProfileIndex", settings.nProfileIndex);
    settings.nPFrameIndex = node->GetIntAttribute(L"nPFrameIndex", settings.nPFrameIndex);
    settings.nBFrameIndex = node->GetIntAttribute(L"nBFrameIndex", settings.nBFrameIndex);
    return true;
}

bool SaveH264Settings(const std::string& programFolder, const tagKvH264Settings& settings)
{
    CKvXmlNode document;
    CKvXmlNode* node = document.AddChild(L"Settings");
    node->SetIntAttribute(L"nProfileIndex", settings.nProfileIndex);
    node->SetIntAttribute(L"nPFrameIndex", settings.nPFrameIndex);
    node->SetIntAttribute(L"nBFrameIndex", settings.nBFrameIndex);
    return document.Save(velmora::WritablePath(programFolder, kH264File), CKvXmlNode::kUtf16Le);
}

bool SaveSmoothing(const std::string& programFolder, int bEnable)
{
    CKvXmlNode document;
    document.AddChild(L"_3DSmoothing")->SetIntAttribute(L"Enable", bEnable);
    return document.Save(velmora::WritablePath(programFolder, kSmoothingFile), CKvXmlNode::kUtf16Le);
}

bool LoadSmoothing(const std::string& programFolder, int& bEnable)
{
    CKvXmlNode document;
    if (!document.Load(velmora::ProgramPath(programFolder, kSmoothingFile)))
        return false;
    const CKvXmlNode* node = document.FirstChild(L"_3DSmoothing");
    if (!node)
        return false;
    bEnable = node->GetIntAttribute(L"Enable", 0);
    return true;
}

int LoadGLCaps(const std::string& programFolder, tagKvGLCaps& caps)
{
    CKvXmlNode document;
    if (!document.Load(velmora::ProgramPath(programFolder, kGLFile)))
        return 0;
    tagKvGLCaps read;
    if (const CKvXmlNode* node = document.FirstChild(L"GL")) {
        read.GLExtensionSupported = node->GetIntAttribute(L"GLExtensionSupported", 0);
        read.GLMultiSampleFormat = node->GetIntAttribute(L"GLMultiSampleFormat", 0);
    }
    caps = read;
    // The file is rewritten after every read, so it ends up UTF-16 LE with a mark
    // whatever encoding the installed copy had. A failed save changes nothing read.
    document.Save(velmora::WritablePath(programFolder, kGLFile), CKvXmlNode::kUtf16Le);
    return caps.GLExtensionSupported;
}

double GetWavDelay(std::wstring_view wavPath)
{
    if (wavPath.empty())
        return 0.0;
    CKvXmlNode document;
    if (!document.Load(velmora::WideToUtf8(wavPath) + ".xml"))
        return 0.0;
    const CKvXmlNode* node = document.FirstChild(L"AudioData");
    if (!node)
        return 0.0;
    // A delay of "nan" or "inf" would poison every time-line position derived from it.
    const double delay = node->GetDoubleAttribute(L"dDelay", 0.0);
    return std::isfinite(delay) ? delay : 0.0;
}
