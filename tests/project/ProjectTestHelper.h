#pragma once

// Shared fixtures of the project file tests: writing a model and reading it back.

#include "project/KvProjectReader.h"
#include "project/KvProjectWriter.h"
#include "support/TempFolder.h"

#include <memory>
#include <string>

namespace velmora::test {

// A temporary program folder with the engine's preset table, a project path in the
// tmp/ of its work folder, and read options that skip the audio preparation pass.
class ProjectFiles
{
public:
    ProjectFiles();

    const std::string& Folder() const { return m_folder.Path(); }
    std::string Work() const { return m_folder.Work(); }
    std::string ProjectPath() const { return m_folder.Work() + "tmp/kvengine.kvmmpj"; }

    bool Write(const tagKvProjectData& project, int nPreset = 4, double dScale = 1.0) const;
    // Reads ProjectPath() into project with Options().
    bool Read(CKvEngineProject& project) const;

    tagKvProjectReadOptions& Options() { return m_options; }

private:
    TempProgramFolder m_folder;
    KvPresetTable m_table;
    tagKvProjectReadOptions m_options;
};

std::u16string Utf16Of(const std::string& bytes); // bytes after a FF FE mark
std::string Utf16LeFile(const std::u16string& text); // FF FE + text

} // namespace velmora::test
