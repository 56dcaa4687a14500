#pragma once

// "velmora --render": the Render queue without a window and without a display.
//
//   velmora --render FOLDER [--format mp3|wma] [--bitrate KBPS] [--rate HZ]
//                   [--channels 1|2] [--start S] [--end S] [--jobs N]
//                   [--name PATTERN] [--keep-tree] [--skip-existing]
//                   [--files-from LIST [--null]] [--shard K/N] [--json] FILE...
//
// The same rows, job files, output names and engine runs as the window's Render: the
// files (folders walked with the Add filter) are read as the media list reads them,
// the settings become the option record the settings dialog would write (the name
// pattern is the default one, "(output{n}){name}", unless --name gives another), and a
// KvRenderQueue converts them into FOLDER, up to N at once (the processor cores by
// default), each engine in an engine slot of its own. It runs beside a window of the
// same user and beside other runs: each holds its own slots.
//
// On a terminal every running row has a line that updates in place (per-cent and
// speed as a multiple of real time) above a total; otherwise one line per row when it
// ends: "Finish <output>" or "Failed <source>: <reason>". Exit status: 0 when every
// row finished, 1 when any failed, 2 for a usage error (refused before anything
// starts), 130 when interrupted (SIGINT, SIGTERM, SIGHUP: the engines are ended and
// their partial files removed first). Needs a QCoreApplication, never a window.
//
// For whole libraries: --keep-tree mirrors the folders the files were found in,
// --skip-existing passes over what an earlier run made (the folder's manifest,
// KvConvertedManifest), --files-from reads the files from another program, --shard
// takes one machine's share (KvBatchSources) and --json reports one JSON object per
// file on standard output (the lines above then go to standard error).

#include "common/KvOutputNamePattern.h"
#include "frontend/KvAudioChoice.h"
#include "frontend/KvFrontEndState.h"
#include "media/KvTrackSplit.h"

#include <QString>
#include <QStringList>

#include <optional>

namespace velmora {

struct KvRenderOptions
{
    QString folder;     // absolute, an existing folder
    bool verify = true; // play each output back before it gets its name (--no-verify)
    QStringList paths;  // files and folders as given
    KvAudioChoice audio;
    double start = 0.0;
    double end = -1.0;  // -1: each file's end
    int jobs = 0;       // 0: the number of processor cores
    KvOutputNamePattern names;
    bool keepTree = false;     // --keep-tree
    bool skipExisting = false; // --skip-existing
    QString filesFrom;         // --files-from: a list of paths; "-": standard input
    bool nulSeparated = false; // --null
    int shard = 0;             // --shard K/N
    int shardCount = 0;        // 0: no --shard
    bool json = false;         // --json
    // --split: what a file is split into tracks by; none: converted whole (a .cue
    // named is always its tracks).
    std::optional<KvSplitSource> split;
    KvFrontEndState::Loudness loudness; // --loudness, --replaygain
    bool album = false;                 // --album
    bool help = false;
};

class KvCommandLine
{
public:
    static constexpr int kExitDone = 0;
    static constexpr int kExitFailed = 1;
    static constexpr int kExitUsage = 2;
    static constexpr int kExitInterrupted = 130;

    // True when the arguments (argv without argv[0]) ask for a render without a window.
    static bool IsRender(const QStringList& args);
    // Reads the arguments (argv without argv[0], "--render" among them). False with a
    // one-line reason for anything a render cannot start with: an unknown option, a
    // missing or malformed value, a name pattern that does not parse, no FOLDER or no
    // FILE, a FOLDER that is not a folder.
    // Whether the format can carry the values is ApplyAudioChoice's to say.
    static bool Parse(const QStringList& args, KvRenderOptions& options, QString& error);
    static QString HelpText();

    // The whole render; returns the exit status.
    static int Run(const QStringList& args);
};

} // namespace velmora
