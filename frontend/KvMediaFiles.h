#pragma once

// Source files before they become rows, with no widgets: which files the Add command
// offers, folders walked for them, a file read into the cells of a row, and the sound
// of Windows Media files extracted ahead of the job. The media list, the command line
// and anything else that takes files (folders dropped on the window) share these, so
// they all turn a file into the same row.

#include "frontend/KvQueueModel.h"
#include "media/KvTrackSplit.h"
#include "media/KvMediaInfo.h"
#include "project/KvJobProject.h"

#include <QList>
#include <QString>
#include <QStringList>
#include <QUrl>

#include <atomic>
#include <functional>
#include <string>
#include <vector>

namespace velmora {

// A file that was not added, and why ("no sound track", "cannot be read").
struct KvSkippedFile
{
    QString path;
    QString reason;
};

// The extensions the Add command offers, lower case, without the dot, in the order
// the file dialog lists them.
const std::vector<const char*>& MediaFileExtensions();
// True when path ends in one of them, in any case (".MP4" from a camera too).
bool HasMediaExtension(const QString& path);

// The files paths name: a file as it is (whatever its name); a folder walked, its
// sub-folders too, for the files with a media extension. A walk goes in name order
// (as the letters compare, ignoring case first), a folder's entries in place, skips
// hidden entries (names starting with ".") and enters each real folder once, so a
// link back up the tree does not loop. A path that does not exist is kept as it is:
// reading it fails later with a reason. Relative paths are made absolute. leftOut, when
// given, receives the files the walk passed over for their extension.
QStringList CollectMediaFiles(const QStringList& paths, QStringList* leftOut = nullptr);

// Lets another thread follow a long walk and end it. The walk counts the files it
// collects as it goes, and ends at the next entry once stop is set; what it returns
// then is partial and meant to be dropped.
struct KvWalkControl
{
    std::atomic<bool> stop{false};
    std::atomic<int> found{0};
    // Runs on the walking thread before each entry is looked at (tests pace a walk with it).
    std::function<void()> onEntry;

    bool Stopped() const { return stop.load(std::memory_order_relaxed); }
};
QStringList CollectMediaFiles(const QStringList& paths, QStringList* leftOut, KvWalkControl* control);

// What a drop on the window names (the links of "text/uri-list"): local files and
// folders collected as CollectMediaFiles does, and what was left out on the way: links
// that are no local file, and files in the folders without a media extension.
struct KvDroppedFiles
{
    QStringList files;
    std::vector<KvSkippedFile> skipped;
    QStringList folders; // the folders named, absolute, in the order given
};
// How a folder walk orders names: ignoring case first, then exactly (<0, 0, >0).
int CompareFileNames(const QString& a, const QString& b);
// file's path below folder ("a/b.flac"); empty when it is not below it.
QString PathUnder(const QString& file, const QString& folder);
// The folder of folders that file was found in: the first that holds it, as the walk
// entered that one first; empty for none.
QString FolderFoundIn(const QString& file, const QStringList& folders);
KvDroppedFiles CollectDroppedFiles(const QList<QUrl>& urls, KvWalkControl* control = nullptr);
// The same for paths named on a command line or by another start of the program: the
// files of their folders without a media extension are left out as not media.
KvDroppedFiles CollectNamedFiles(const QStringList& paths, KvWalkControl* control = nullptr);

// A file as the media list reads it before it becomes a row: its full path and its
// media information, or that it cannot be read. Reading is safe on any thread, so a
// long list of files can be read off the GUI thread and only inserted there.
struct KvSourceProbe
{
    QString file;          // as it was handed in (what a message about it names)
    QString path;          // the full path the row holds
    bool probed = false;   // false: not read yet (the list reads it when it adds it)
    bool readable = false; // the media information below was read
    QString foundIn;       // the folder named that it was found in; empty: named itself
    MediaInfo info;
    int splitTracks = 0;   // the tracks it splits into (chapters or a CUE sheet); 0: none
};
KvSourceProbe ProbeSource(const QString& file);
// The same, with the tracks the file splits into counted (splitTracks).
KvSourceProbe ProbeSourceAndTracks(const QString& file);

// A file read as a row: the row the media list makes of a newly added file, or why it
// cannot be one (KvMediaList::ReasonUnreadable, ReasonNoSound).
struct KvSourceRow
{
    KvQueueItem item;
    QString problem;
};
KvSourceRow ReadSourceRow(const QString& path);

// Whether path names a CUE sheet (".cue", any case): a list of tracks, no sound itself.
bool IsCueSheetPath(const QString& path);
// The rows path splits into, one per track (KvTrackSplit.h): a CUE sheet's tracks, or
// the tracks source finds for a media file. Each row is its track's file between the
// track's bounds, titled "Track k" where the track has no title, with the track's
// tags over those of its file (a chapter's album is its file's album, else its
// file's title). like, when given, lends its sound track, volume, speed and sync to
// the rows of its own file. Empty, with why, when there are no tracks or a file
// cannot be read.
std::vector<KvQueueItem> ReadSplitRows(const QString& path, KvSplitSource source, QString* why = nullptr,
                                       const KvQueueItem* like = nullptr);

// Windows Media sources (".wmv", ".asf", any case) have their sound decoded to a WAV
// file ahead of the job, listed in the WAV index of programFolder's job folder.
bool IsWindowsMediaPath(const QString& path);
// A free name for such a WAV in programFolder's job folder, after the local time.
std::string NewExtractedWavPath(const std::string& programFolder);
// Extracts the sound track audioStream (-1: the first) of source with
// extract(source, wav, audioStream) unless the index already lists a WAV of that track
// that is there, and records the outcome in the index.
void PreExtractSound(const std::string& programFolder, const std::string& source, int audioStream,
                     const std::function<bool(const std::string& source, const std::string& wav, int audioStream)>& extract);

} // namespace velmora
