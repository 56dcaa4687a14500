#include "frontend/KvHowToPage.h"

#include <QFile>

namespace velmora {

namespace {

// The how-to page of the help button: written next to the job files and opened in
// the default browser.
constexpr const char* kHowTo =
    "<!DOCTYPE html><html><head><meta charset=\"utf-8\"><title>Velmora - How to use</title>"
    "<style>body{font-family:Arial,sans-serif;background:#242a2d;color:#ece6e2;max-width:46em;"
    "margin:2em auto;line-height:1.5}h1,h2{color:#f2a93b}td{padding:.15em 1em .15em 0;vertical-align:top}</style></head><body>"
    "<h1>Velmora: how to use</h1><ol>"
    "<li>Press <b>Add...</b> and choose video or audio files, drop files or whole folders on the window, or open "
    "them with Velmora from your file manager.</li>"
    "<li>Optionally edit <b>Start</b> and <b>End</b> (seconds) of a row to convert only a part of it.</li>"
    "<li>Press <b>Settings</b> to choose the format (MP3, WMA, AAC, ALAC, Opus, Ogg Vorbis, FLAC, WAV or the "
    "original sound track) and its quality, sample rate and channels.</li>"
    "<li>Press <b>Render</b> and choose the target folder. Each row is converted in turn; the State column "
    "shows the progress and then <b>Finish</b> (or <b>Failed</b> - point at the row to see why).</li>"
    "<li>Press <b>Render</b> again while it runs to stop.</li>"
    "<li>Right-click a finished row for <b>Show in Folder</b> and <b>Play</b>.</li></ol>"
    "<p>Output files are named (output001)name.wma, (output002)name.wma, ... unless <b>Settings</b> gives "
    "other <b>Output Names</b> (with {name}, {n}, {title}, {artist}, {album}, {track} and {chapter}); an "
    "existing file is never overwritten.</p>"
    "<p>An audiobook's or a concert's chapters, or the CUE sheet of an album rip (add the .cue, or the file "
    "beside it), become one row per track: right-click the row for <b>Split into N Tracks</b>, or choose "
    "<b>Split Files with Chapters</b> in <b>Settings</b>. The tracks are named \"{track} {title}\" and tagged "
    "with their titles, performers and album.</p>"
    "<h2>Keys</h2><table>"
    "<tr><td><b>Tab</b>, <b>Shift+Tab</b></td><td>from control to control: Add, the list's tools, the list, "
    "Settings, Render, then the caption</td></tr>"
    "<tr><td><b>Enter</b>, <b>Space</b></td><td>press the button that has the focus</td></tr>"
    "<tr><td><b>Up</b>, <b>Down</b>, <b>Home</b>, <b>End</b></td><td>choose a row</td></tr>"
    "<tr><td><b>Left</b>, <b>Right</b></td><td>move between the cells of the row</td></tr>"
    "<tr><td><b>F2</b></td><td>edit the cell (Start, End); <b>Enter</b> keeps, <b>Esc</b> cancels</td></tr>"
    "<tr><td><b>Menu</b>, <b>Shift+F10</b></td><td>the row's menu</td></tr>"
    "<tr><td><b>Delete</b></td><td>remove the chosen row</td></tr>"
    "<tr><td><b>Ctrl+O</b></td><td>add files</td></tr>"
    "<tr><td><b>Ctrl+R</b></td><td>render</td></tr>"
    "<tr><td><b>Esc</b>, <b>Ctrl+.</b></td><td>stop rendering (after a question)</td></tr>"
    "<tr><td><b>F10</b>, <b>Alt</b></td><td>the main menu</td></tr>"
    "<tr><td><b>F1</b></td><td>this page</td></tr>"
    "<tr><td><b>Ctrl+Q</b></td><td>exit</td></tr>"
    "</table></body></html>";

} // namespace

bool WriteHowToPage(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(kHowTo) >= 0;
}

} // namespace velmora
