#include "frontend/KvHowToPage.h"

#include <QFile>

namespace velmora {

namespace {

// The how-to page of the help button: written next to the job files and opened in
// the default browser.
constexpr const char* kHowTo =
    "<!DOCTYPE html><html><head><meta charset=\"utf-8\"><title>Velmora - How to use</title>"
    "<style>body{font-family:Arial,sans-serif;background:#242a2d;color:#ece6e2;max-width:46em;"
    "margin:2em auto;line-height:1.5}h1{color:#f2a93b}</style></head><body>"
    "<h1>Velmora: how to use</h1><ol>"
    "<li>Press <b>Add...</b> and choose video or audio files, drop files or whole folders on the window, or open "
    "them with Velmora from your file manager.</li>"
    "<li>Optionally edit <b>Start</b> and <b>End</b> (seconds) of a row to convert only a part of it.</li>"
    "<li>Press <b>Settings</b> to choose MP3 or WMA and the bit rate, sample rate and channels.</li>"
    "<li>Press <b>Render</b> and choose the target folder. Each row is converted in turn; the State column "
    "shows the progress and then <b>Finish</b> (or <b>Failed</b> - point at the row to see why).</li>"
    "<li>Press <b>Render</b> again while it runs to stop.</li>"
    "<li>Right-click a finished row for <b>Show in Folder</b> and <b>Play</b>.</li></ol>"
    "<p>Output files are named (output001)name.wma, (output002)name.wma, ... unless <b>Settings</b> gives "
    "other <b>Output Names</b> (with {name}, {n}, {title} and {artist}); an existing file is never "
    "overwritten.</p></body></html>";

} // namespace

bool WriteHowToPage(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(kHowTo) >= 0;
}

} // namespace velmora
