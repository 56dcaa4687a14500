#include "ProjectTestHelper.h"

namespace velmora::test {

ProjectFiles::ProjectFiles() : m_table(MakeEnginePresetTable())
{
    m_options.programFolder = m_folder.Path();
    m_options.pPresetTable = m_table.data();
    m_options.prepareAudio = [](CKvEngineProject&) {};
}

bool ProjectFiles::Write(const tagKvProjectData& project, int nPreset, double dScale) const
{
    tagKvProjectWriteOptions options;
    options.programFolder = m_folder.Path();
    options.vensettingIndex = nPreset;
    options.dScaleFactorForPlay = dScale;
    return WriteProject(&project, ProjectPath(), options);
}

bool ProjectFiles::Read(CKvEngineProject& project) const
{
    return ReadProject(ProjectPath(), project, m_options);
}

std::u16string Utf16Of(const std::string& bytes)
{
    std::u16string text;
    for (size_t i = 2; i + 1 < bytes.size(); i += 2)
        text.push_back(static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) | (static_cast<unsigned char>(bytes[i + 1]) << 8)));
    return text;
}

std::string Utf16LeFile(const std::u16string& text)
{
    std::string bytes = "\xFF\xFE";
    for (char16_t c : text) {
        bytes.push_back(static_cast<char>(c & 0xFF));
        bytes.push_back(static_cast<char>(c >> 8));
    }
    return bytes;
}

} // namespace velmora::test
