#pragma once

#include <string>

namespace velmora::test {

// A fresh folder under the system's temporary directory, removed with everything
// in it when the object goes. Path() ends with "/".
class TempFolder
{
public:
    explicit TempFolder(const std::string& prefix = "velmora-test");
    ~TempFolder();
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    const std::string& Path() const { return m_path; }
    // The programs' work folder for this folder as their program folder (under the
    // test run's XDG_STATE_HOME); removed with the folder.
    std::string Work() const;

private:
    std::string m_path;
};

// A temporary program folder: an empty skin/ (or a copy of the built program folder
// when copyBuiltProgram is set) and its work folder with tmp/ and skin/, so that
// tests that write job files, shared memory or side files never meet each other.
class TempProgramFolder : public TempFolder
{
public:
    explicit TempProgramFolder(bool copyBuiltProgram = false);
};

// Runs a shell command; returns its exit status (or -1) and fills output with
// what it wrote to standard output when output is given.
int RunCommand(const std::string& command, std::string* output = nullptr);

// Quotes a path for /bin/sh.
std::string ShellQuote(const std::string& text);

std::string ReadFileBytes(const std::string& path);
void WriteFileBytes(const std::string& path, const std::string& bytes);

} // namespace velmora::test
