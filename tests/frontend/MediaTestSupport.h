#pragma once

// Pieces shared by the media-list and settings-dialog tests: the application object,
// a temporary program folder the whole front end points at, and source media made
// with the ffmpeg tools.

#include "support/TempFolder.h"

#include <QStringList>

#include <string>

namespace velmora {
class KvMediaList;
}

namespace velmora::fetest {

// Makes sure a QApplication exists (offscreen unless the caller chose a platform).
void EnsureApplication();

// Runs events until the list has measured every source it is measuring (10 s at
// most); true when it has.
bool WaitForMeasuredLengths(const KvMediaList& list);

// A copy of the built program folder (skin/ included) that the front-end state, the
// program folder and the skin loader point at while the object lives.
class ProgramScope
{
public:
    ProgramScope();
    ~ProgramScope();
    ProgramScope(const ProgramScope&) = delete;
    ProgramScope& operator=(const ProgramScope&) = delete;

    const std::string& Path() const { return m_folder.Path(); }
    std::string Work() const { return m_folder.Work(); }
    std::string Tmp() const { return m_folder.Work() + "tmp/"; }

private:
    test::TempProgramFolder m_folder{true};
};

// Runs ffmpeg quietly with the given arguments (already quoted) into target; returns
// whether the file was made.
bool MakeMedia(const std::string& arguments, const std::string& target);

// The sources the tests add, made once per process under one folder.
struct MediaSet
{
    std::string folder;
    std::string videoWithSound;   // 160x120, 2 s, with a sine
    std::string audioOnly;        // 1.5 s MP3
    std::string videoNoSound;     // 160x120, 1 s, no audio stream
    std::string notMedia;         // text named like a video
    std::string spacedNonAscii;   // the first file again under "Mein Vídeo ü/clip ö 1.mp4"
    std::string wmv;              // 1 s WMV with WMA sound
};
const MediaSet& Media();

inline QString Q(const std::string& text)
{
    return QString::fromStdString(text);
}

// "velmora --render" with args, as a user runs it: its exit status (-1: killed, or
// still running after 3 minutes) and what it printed.
struct RenderRun
{
    int code = -1;
    std::string out;
    std::string err;
};
RenderRun RunRender(const QStringList& args);

// The sound of path as the ffmpeg tool decodes it: 16-bit samples at its own rate.
std::string DecodePcm16(const std::string& path);

// Number of files under folder whose name ends in suffix.
int CountFiles(const std::string& folder, const std::string& suffix);

} // namespace velmora::fetest
