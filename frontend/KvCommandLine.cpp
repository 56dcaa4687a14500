#include "frontend/KvCommandLine.h"

#include "common/KvAudioFormats.h"
#include "common/KvEngineSlot.h"
#include "common/KvProgramFolder.h"
#include "common/KvText.h"
#include "common/KvWmProfile.h"
#include "frontend/KvBatchSources.h"
#include "frontend/KvEngineSlotLease.h"
#include "frontend/KvFrontEndState.h"
#include "frontend/KvJobWmProfile.h"
#include "frontend/KvMediaFiles.h"
#include "frontend/KvRenderQueue.h"
#include "frontend/KvRenderReport.h"
#include "frontend/KvStopSignals.h"
#include "media/ExtractAudioToWav.h"

#include <QCommandLineParser>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QFileInfo>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QSocketNotifier>

#include <algorithm>
#include <cstdio>
#include <map>
#include <set>
#include <unistd.h>

namespace velmora {

namespace {

// ---- Arguments ----------------------------------------------------------------------

bool ParseCount(const QString& text, int& value)
{
    static const QRegularExpression digits(QStringLiteral("^[0-9]{1,9}$"));
    if (!digits.match(text).hasMatch())
        return false;
    value = text.toInt();
    return true;
}

bool ParseSeconds(const QString& text, double& value)
{
    // Written the C way, whatever the user's locale: "1.5", never "1,5".
    static const QRegularExpression plain(QStringLiteral("^[0-9]+(\\.[0-9]*)?$|^\\.[0-9]+$"));
    return plain.match(text).hasMatch() && TryParseDouble(text.toStdString(), value) && value < 1e9;
}

QString Seconds(double value)
{
    return QString::fromStdString(FormatDoubleAs("%.3f", value));
}

QString Settings(const KvFrontEndState& state, int jobs)
{
    const tagKvOptionRecord& record = state.CurrentRecord();
    QString format;
    if (const KvAudioFormat* known = FindAudioFormat(record.nOutputType)) {
        format = QString::fromLatin1(known->label);
        if (known->maxKbps > 0)
            format += QStringLiteral(" %1 kbps").arg(record.nAudioBitrate);
        if (known->qualityName != nullptr && !(known->outputType == kKvOutputWav && record.nAudioQuality == 0))
            format += QStringLiteral(" %1 %2").arg(QString::fromLatin1(known->qualityName)).arg(record.nAudioQuality);
        if (known->outputType != kKvOutputOriginal) {
            format += record.nSampleRate > 0 ? QStringLiteral(", %1 Hz").arg(record.nSampleRate)
                                             : QStringLiteral(", the source's rate");
            format += record.nChannels == kKvChannelsOfSource ? QStringLiteral(", the source's channels")
                : record.nChannels == 0                        ? QStringLiteral(", mono")
                                                               : QStringLiteral(", stereo");
        }
    } else if (record.nOutputType == kKvOutputWma) {
        WmAudioFormat wma;
        format = ResolveWmAudioFormat(record.nWmaCodec, record.nWmaFormat, wma)
            ? QStringLiteral("WMA %1").arg(QString::fromStdWString(wma.description))
            : QStringLiteral("WMA");
    } else {
        format = QStringLiteral("MP3 %1 kbps, %2 Hz, %3")
                     .arg(record.nAudioBitrate)
                     .arg(record.nSampleRate)
                     .arg(record.nChannels == 0 ? QStringLiteral("mono") : QStringLiteral("stereo"));
    }
    return QStringLiteral("%1, %2 at once").arg(format).arg(jobs);
}

// Why the parser refused the arguments, in this program's words: an option it does not
// know, a value missing at the end, or a value given to an option that takes none.
QString ArgumentError(const QCommandLineParser& parser, const QStringList& args, const QStringList& valued)
{
    if (const QStringList unknown = parser.unknownOptionNames(); !unknown.isEmpty()) {
        const QString& name = unknown.front();
        return QStringLiteral("unknown option \"%1%2\"").arg(name.size() == 1 ? "-" : "--", name);
    }
    for (int i = 0; i < args.size() && args[i] != QLatin1String("--"); ++i) {
        if (!args[i].startsWith(QLatin1String("--")))
            continue;
        const int equals = args[i].indexOf(u'=');
        const QString name = args[i].mid(2, equals < 0 ? -1 : equals - 2);
        if (equals < 0 && valued.contains(name) && i + 1 == args.size())
            return QStringLiteral("--%1 needs a value").arg(name);
        if (equals >= 0 && !valued.contains(name))
            return QStringLiteral("--%1 takes no value").arg(name);
    }
    return parser.errorText();
}

QString FormatWords()
{
    QStringList words{QStringLiteral("mp3"), QStringLiteral("wma")};
    for (const KvAudioFormat& format : AudioFormats())
        words << QString::fromLatin1(format.word);
    return words.join(QStringLiteral(", "));
}

int UsageError(const QString& error)
{
    PrintText(stderr, QStringLiteral("velmora: %1\nTry \"velmora --render --help\".\n").arg(error));
    return KvCommandLine::kExitUsage;
}

} // namespace

bool KvCommandLine::IsRender(const QStringList& args)
{
    for (const QString& arg : args) {
        if (arg == QLatin1String("--"))
            return false;
        if (arg == QLatin1String("--render"))
            return true;
    }
    return false;
}

bool KvCommandLine::Parse(const QStringList& args, KvRenderOptions& options, QString& error)
{
    options = KvRenderOptions();
    QCommandLineParser parser;
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsCompactedShortOptions);
    const QCommandLineOption render(QStringLiteral("render"));
    const QCommandLineOption help(QStringList{QStringLiteral("h"), QStringLiteral("help")});
    const QCommandLineOption noVerify(QStringLiteral("no-verify"));
    const QCommandLineOption keepTree(QStringLiteral("keep-tree")), skipExisting(QStringLiteral("skip-existing")),
        nul(QStringLiteral("null")), json(QStringLiteral("json")), replayGain(QStringLiteral("replaygain")),
        album(QStringLiteral("album"));
    QStringList valuedNames;
    const auto valued = [&valuedNames](const char* name) {
        valuedNames << QString::fromLatin1(name);
        return QCommandLineOption(valuedNames.back(), {}, QStringLiteral("value"));
    };
    const QCommandLineOption format = valued("format"), bitrate = valued("bitrate"), rate = valued("rate"),
                             channels = valued("channels"), start = valued("start"), end = valued("end"),
                             jobs = valued("jobs"), name = valued("name"), quality = valued("quality"),
                             bits = valued("bits"), filesFrom = valued("files-from"), shard = valued("shard"),
                             split = valued("split"), loudness = valued("loudness");
    parser.addOptions({render, help, noVerify, format, bitrate, rate, channels, start, end, jobs, name, quality, bits,
                       keepTree, skipExisting, nul, json, filesFrom, shard, split, loudness, replayGain, album});

    const bool parsed = parser.parse(QStringList{QStringLiteral("velmora")} + args);
    if (parser.isSet(help)) {
        options.help = true;
        return true;
    }
    if (!parsed) {
        error = ArgumentError(parser, args, valuedNames);
        return false;
    }
    options.verify = !parser.isSet(noVerify);
    options.keepTree = parser.isSet(keepTree);
    options.skipExisting = parser.isSet(skipExisting);
    options.nulSeparated = parser.isSet(nul);
    options.json = parser.isSet(json);
    options.filesFrom = parser.value(filesFrom);
    if (options.nulSeparated && !parser.isSet(filesFrom)) {
        error = QStringLiteral("--null goes with --files-from");
        return false;
    }
    if (parser.isSet(filesFrom) && options.filesFrom.isEmpty()) {
        error = QStringLiteral("--files-from takes a file, or - for standard input");
        return false;
    }

    // Each value is checked in the words of its option; given twice, the last counts.
    const auto check = [&](const QCommandLineOption& option, auto&& read, const QString& refusal) {
        if (!parser.isSet(option) || read(parser.value(option)))
            return true;
        error = refusal.arg(parser.value(option));
        return false;
    };
    const bool valid =
        check(format,
              [&](const QString& value) {
                  options.audio.wma = value.compare(QLatin1String("wma"), Qt::CaseInsensitive) == 0;
                  if (const KvAudioFormat* known = FindAudioFormatByWord(value.toStdString())) {
                      options.audio.outputType = known->outputType;
                      return true;
                  }
                  return options.audio.wma || value.compare(QLatin1String("mp3"), Qt::CaseInsensitive) == 0;
              },
              QStringLiteral("--format must be one of %1, not \"%2\"").arg(FormatWords()))
        && check(bitrate, [&](const QString& value) { return ParseCount(value, options.audio.kbps) && options.audio.kbps > 0; },
                 QStringLiteral("--bitrate takes kbit/s as a whole number, such as 128, not \"%1\""))
        && check(rate,
                 [&](const QString& value) {
                     options.audio.rateOfSource = value == QLatin1String("source");
                     return options.audio.rateOfSource
                         || (ParseCount(value, options.audio.sampleRate) && options.audio.sampleRate > 0);
                 },
                 QStringLiteral("--rate takes Hz as a whole number, such as 44100, or source, not \"%1\""))
        && check(channels,
                 [&](const QString& value) {
                     options.audio.channels = value == QLatin1String("source") ? kKvChannelsOfSource : value.toInt();
                     return value == QLatin1String("1") || value == QLatin1String("2") || value == QLatin1String("source");
                 },
                 QStringLiteral("--channels must be 1 (mono), 2 (stereo) or source, not \"%1\""))
        && check(quality,
                 [&](const QString& value) {
                     static const QRegularExpression number(QStringLiteral("^-?[0-9]{1,3}$"));
                     options.audio.hasQuality = true;
                     options.audio.quality = value.toInt();
                     return number.match(value).hasMatch();
                 },
                 QStringLiteral("--quality takes a whole number, such as 5, not \"%1\""))
        && check(bits,
                 [&](const QString& value) {
                     options.audio.hasQuality = true;
                     options.audio.quality = value.toInt();
                     return value == QLatin1String("16") || value == QLatin1String("24");
                 },
                 QStringLiteral("--bits must be 16 or 24, not \"%1\""))
        && check(split,
                 [&](const QString& value) {
                     options.split.reset();
                     if (value == QLatin1String("chapters"))
                         options.split = KvSplitSource::Chapters;
                     else if (value == QLatin1String("cue"))
                         options.split = KvSplitSource::Cue;
                     else if (value == QLatin1String("auto"))
                         options.split = KvSplitSource::Auto;
                     return options.split || value == QLatin1String("none");
                 },
                 QStringLiteral("--split must be chapters, cue, auto or none, not \"%1\""))
        && check(loudness,
                 [&](const QString& value) {
                     if (value == QLatin1String("off"))
                         return true;
                     for (int target : KvFrontEndState::kLoudnessTargets) {
                         if (value == QString::number(target))
                             options.loudness = {KvFrontEndState::LoudnessMode::Normalise, target};
                     }
                     return options.loudness.mode == KvFrontEndState::LoudnessMode::Normalise;
                 },
                 QStringLiteral("--loudness must be -14, -16, -18, -23 (LUFS) or off, not \"%1\""))
        && check(start, [&](const QString& value) { return ParseSeconds(value, options.start); },
                 QStringLiteral("--start takes seconds, such as 12.5, not \"%1\""))
        && check(end, [&](const QString& value) { return ParseSeconds(value, options.end); },
                 QStringLiteral("--end takes seconds, such as 90, not \"%1\""))
        && check(jobs,
                 [&](const QString& value) {
                     return ParseCount(value, options.jobs) && options.jobs >= 1
                         && options.jobs <= KvFrontEndState::kMaxParallelConversions;
                 },
                 QStringLiteral("--jobs takes a number from 1 to %1, not \"%2\"")
                     .arg(KvFrontEndState::kMaxParallelConversions))
        && check(shard,
                 [&](const QString& value) {
                     const QStringList parts = value.split(u'/');
                     return parts.size() == 2 && ParseCount(parts[0], options.shard)
                         && ParseCount(parts[1], options.shardCount) && options.shardCount >= 1
                         && options.shard < options.shardCount;
                 },
                 QStringLiteral("--shard takes K/N, this machine's share K of N (0 to N-1), such as 0/4, not \"%1\""));
    if (!valid)
        return false;
    if (parser.isSet(replayGain)) {
        if (options.loudness.mode == KvFrontEndState::LoudnessMode::Normalise) {
            error = QStringLiteral("--replaygain leaves the sound as it is; it does not go with --loudness");
            return false;
        }
        options.loudness.mode = KvFrontEndState::LoudnessMode::ReplayGain;
    }
    options.album = parser.isSet(album);
    if (options.album && options.loudness.mode == KvFrontEndState::LoudnessMode::Off) {
        error = QStringLiteral("--album goes with --loudness or --replaygain");
        return false;
    }
    if (parser.isSet(name)) {
        const QString value = parser.value(name);
        std::string why;
        if (!options.names.Parse(value.toStdWString(), &why)) {
            error = QStringLiteral("--name \"%1\": %2").arg(value, QString::fromStdString(why));
            return false;
        }
    }
    if (parser.isSet(end) && !(options.end > options.start)) {
        error = QStringLiteral("--end (%1) must be after --start (%2)").arg(Seconds(options.end), Seconds(options.start));
        return false;
    }

    QStringList positional = parser.positionalArguments();
    if (positional.isEmpty()) {
        error = QStringLiteral("no target FOLDER given");
        return false;
    }
    const QFileInfo folder(positional.takeFirst());
    if (!folder.exists()) {
        error = QStringLiteral("the target folder %1 does not exist").arg(folder.filePath());
        return false;
    }
    if (!folder.isDir()) {
        error = QStringLiteral("the target %1 is not a folder").arg(folder.filePath());
        return false;
    }
    options.folder = QDir::cleanPath(folder.absoluteFilePath());
    if (positional.isEmpty() && options.filesFrom.isEmpty()) {
        error = QStringLiteral("no FILE to convert given");
        return false;
    }
    options.paths = positional;
    return true;
}

QString KvCommandLine::HelpText()
{
    return QStringLiteral(
        "usage: velmora --render FOLDER [options] FILE...\n"
        "Extracts the sound tracks of the FILEs into FOLDER without a window, as Render does:\n"
        "the same output names ((output001)name.wma, ... unless --name gives others),\n"
        "and no file is ever replaced.\n"
        "A FILE that is a folder is searched, sub-folders too, for media files.\n"
        "  --format mp3|wma   the output format (default wma, as the window starts):\n"
        "                     mp3 and wma at a constant bit rate, mp3-vbr (--quality V,\n"
        "                     0 best to 9, default 2), aac (.m4a, 32 to 320 kbps,\n"
        "                     default 192), opus (6 to 510 kbps, default 128),\n"
        "                     vorbis (.ogg, --quality -1 to 10, default 5), and the\n"
        "                     lossless flac (--quality 0 to 8, default 5), alac (.m4a)\n"
        "                     and wav (--bits 16|24); original keeps the sound track's\n"
        "                     own coded sound in a file of its kind (.m4a, .mp3, .opus,\n"
        "                     .ogg, .flac, .ac3, .wav, .wma, else .mka)\n"
        "  --bitrate KBPS     bit rate in kbit/s (MP3: what the sample rate allows;\n"
        "                     WMA: one of its formats)\n"
        "  --quality Q        the quality number of mp3-vbr, vorbis and flac\n"
        "  --bits 16|24       the bits per sample of wav (default: the source's)\n"
        "  --rate HZ|source   sample rate (MP3: 8000 to 48000; the new formats keep the\n"
        "                     source's unless told)\n"
        "  --channels 1|2|source  mono, stereo or the source's\n"
        "  --split chapters|cue|auto|none  one output per track: by the file's\n"
        "                     chapters, by its CUE sheet (beside it with its name, or\n"
        "                     inside a FLAC), auto (a sheet, else chapters) or none\n"
        "                     (the default); a .cue named is always split. Tracks are\n"
        "                     named \"{track} {title}\" unless --name gives a pattern;\n"
        "                     --start and --end apply to the files kept whole\n"
        "  --loudness LUFS    normalise each output to -14, -16, -18 or -23 LUFS\n"
        "                     (EBU R128, integrated) with one gain, measured first,\n"
        "                     kept under a true peak of -1 dBTP (\"Note OUTPUT: ...\"\n"
        "                     says by how much that missed the target); off: as it is\n"
        "  --replaygain       leave the sound as it is and write its ReplayGain 2.0\n"
        "                     tags (REPLAYGAIN_TRACK_GAIN/PEAK; R128_TRACK_GAIN in Opus)\n"
        "  --album            with --loudness or --replaygain: the files that share an\n"
        "                     album tag (or, without one, a folder) are measured\n"
        "                     together first and get one album gain, or the album's\n"
        "                     REPLAYGAIN_ALBUM_GAIN/PEAK beside their own\n"
        "  --start S          convert from S seconds into each file\n"
        "  --end S            convert up to S seconds into each file (at most its end)\n"
        "  --jobs N           convert N files at once (default: the processor cores, %1)\n"
        "  --name PATTERN     name the outputs after PATTERN (default \"(output{n}){name}\"):\n"
        "                     {name} the file's name without extension, {n} the output\n"
        "                     number (001, 002, ...), {title}, {artist} and {album}\n"
        "                     from its tags ({title} is the file's name where it has\n"
        "                     none), {track} its track number (01, 02, ...), {chapter}\n"
        "                     a split track's title; {{ and }} are braces. A taken\n"
        "                     name gets the next number, or, without {n}, \" (2)\",\n"
        "                     \" (3)\" ... before the extension\n"
        "  --no-verify        do not play each output back before it gets its name\n"
        "  --keep-tree        write a file found in a folder given (or named by a\n"
        "                     relative path) under the same sub-folders of FOLDER\n"
        "  --skip-existing    skip a file whose output an earlier run made from the same\n"
        "                     source (path, size, time) with the same settings and that\n"
        "                     is still there (\"Skip OUTPUT\"); what it needs is kept in\n"
        "                     FOLDER/.velmora-manifest.jsonl\n"
        "  --files-from LIST  convert the files LIST names, one a line (- reads them from\n"
        "                     standard input), besides any FILE given\n"
        "  --null             LIST separates its names by NUL bytes (find -print0)\n"
        "  --shard K/N        convert only share K (0 to N-1) of N of the files: a file\n"
        "                     belongs to one share by a hash of its path under the\n"
        "                     folder given, the same on every machine, so N runs into\n"
        "                     one FOLDER convert each file once; {n} is then the\n"
        "                     file's place among all the files, whichever run takes it\n"
        "  --json             one JSON object per file on standard output (source,\n"
        "                     output, state, reason, seconds, speed); the other lines\n"
        "                     go to standard error\n"
        "  --help             print this text and end\n"
        "A combination the format cannot carry is refused with the values it can.\n"
        "A file whose sound ends before its header says is converted as far as it goes\n"
        "and reported as \"Short OUTPUT: reason\".\n"
        "Exit status: 0 every file converted whole (or skipped), 1 a file failed or was\n"
        "short, or nothing was found to convert, 2 a usage error, 130 interrupted (the\n"
        "files being written are removed).\n")
        .arg(KvFrontEndState::DefaultParallelConversions());
}

int KvCommandLine::Run(const QStringList& args)
{
    KvRenderOptions options;
    QString error;
    if (!Parse(args, options, error))
        return UsageError(error);
    if (options.help) {
        PrintText(stdout, HelpText());
        return kExitDone;
    }

    const std::string programFolder = GetProgramFolder();
    KvFrontEndState& state = KvFrontEndState::Instance();
    state.Reset(programFolder);
    // What the window starts with, then what the settings dialog would make of the
    // values given: the same record and profile as a Render in the window.
    ApplyInitialWindowsMediaChoice(state.CurrentRecord());
    if (!ApplyAudioChoice(state, options.audio, error))
        return UsageError(error);
    state.SetOutputNamePattern(options.names);
    state.SetCheckEveryOutput(options.verify);
    state.SetOutputLoudness(options.loudness);

    std::string workError;
    if (!EnsureWorkFolder(programFolder, &workError)) {
        PrintText(stderr, QStringLiteral("velmora: the work folder cannot be used: %1.\n").arg(QString::fromStdString(workError)));
        return kExitFailed;
    }
    state.LoadH264();
    InstallStopSignals();

    QStringList paths = options.paths;
    if (!options.filesFrom.isEmpty()) {
        QFile list;
        const bool opened = options.filesFrom == QLatin1String("-") ? list.open(stdin, QIODevice::ReadOnly)
                                                                    : (list.setFileName(options.filesFrom), list.open(QIODevice::ReadOnly));
        QString listError = list.errorString();
        if (!opened || !ReadPathList(list, options.nulSeparated, paths, listError))
            return UsageError(QStringLiteral("the list %1 cannot be read: %2").arg(options.filesFrom, listError));
    }
    KvBatchSources sources = CollectBatchFiles(paths);
    if (sources.files.empty()) {
        // Nothing was done, which a script must not take for success.
        const QStringList& leftOut = sources.leftOut;
        QString why = QStringLiteral("the folders given hold no files");
        if (!leftOut.isEmpty())
            why = QStringLiteral("the folders given hold %1 file%2, none of a media type (such as %3)")
                      .arg(leftOut.size())
                      .arg(leftOut.size() == 1 ? "" : "s")
                      .arg(QFileInfo(leftOut.front()).fileName());
        PrintText(stderr, QStringLiteral("velmora: no media files to convert: %1.\n").arg(why));
        return kExitFailed;
    }
    std::vector<KvBatchFile> files = std::move(sources.files);
    if (options.shardCount > 0) {
        // Numbered among all the files, so a name does not depend on the share.
        NumberInKeyOrder(files);
        const size_t all = files.size();
        files = TakeShard(files, options.shard, options.shardCount);
        if (files.empty()) {
            // One share of a small batch may hold nothing: not a failure of the batch.
            PrintText(stderr, QStringLiteral("velmora: share %1/%2 holds none of the %3 files.\n")
                                  .arg(options.shard)
                                  .arg(options.shardCount)
                                  .arg(all));
            return kExitDone;
        }
    }
    const int jobs = options.jobs > 0 ? options.jobs : KvFrontEndState::DefaultParallelConversions();
    std::string slotError;
    auto leases = KvEngineSlotLease::TakeFree(programFolder, std::min<int>(jobs, int(files.size())), &slotError);
    if (leases.empty()) {
        PrintText(stderr, QStringLiteral("velmora: no conversion can start: %1.\n").arg(QString::fromStdString(slotError)));
        return kExitFailed;
    }
    // This run's own job files (the WAVs of Windows Media sources and their index) live
    // in its first slot, where no other front end looks.
    SetCurrentEngineSlot(leases.front()->Slot());
    const auto slotBack = qScopeGuard([] { SetCurrentEngineSlot(0); });

    // With --json, standard output carries the objects alone.
    std::FILE* const lines = options.json ? stderr : stdout;
    KvRenderReport report(isatty(fileno(lines)) != 0, lines);
    QElapsedTimer runClock;
    runClock.start();
    std::map<int, qint64> startedAt;
    std::set<int> ended;
    const auto tellJson = [&](const QString& source, const QString& output, const char* state, const QString& reason,
                              double seconds, double length) {
        if (!options.json)
            return;
        QJsonObject object;
        object.insert(QStringLiteral("source"), source);
        object.insert(QStringLiteral("output"), output.isEmpty() ? QJsonValue() : QJsonValue(output));
        object.insert(QStringLiteral("state"), QLatin1String(state));
        object.insert(QStringLiteral("reason"), reason);
        object.insert(QStringLiteral("seconds"), seconds);
        object.insert(QStringLiteral("speed"), seconds > 0.0 && length > 0.0 ? QJsonValue(length / seconds) : QJsonValue());
        const QByteArray line = QJsonDocument(object).toJson(QJsonDocument::Compact) + '\n';
        std::fwrite(line.constData(), 1, size_t(line.size()), stdout);
        std::fflush(stdout);
    };
    report.Header(QStringLiteral("Converting %1 file%2 into %3: %4")
                      .arg(files.size())
                      .arg(files.size() == 1 ? "" : "s")
                      .arg(options.folder, Settings(state, int(leases.size()))));
    std::vector<KvQueueRow> rows;
    for (const KvBatchFile& batch : files) {
        const QString& file = batch.path;
        if (StopSignalReceived()) {
            report.Close(QStringLiteral("stopped before any conversion started."));
            return kExitInterrupted;
        }
        if (IsCueSheetPath(file) || options.split) {
            // A file of many tracks becomes one row per track; one without any converts
            // whole, but a sheet is nothing but its tracks.
            QString why;
            const std::vector<KvQueueItem> tracks
                = ReadSplitRows(file, options.split.value_or(KvSplitSource::Cue), &why);
            if (tracks.empty() && IsCueSheetPath(file)) {
                const QString problem = QStringLiteral("the CUE sheet cannot be split: %1").arg(why);
                report.Failed(file, problem);
                tellJson(file, QString(), "failed", problem, 0.0, 0.0);
                continue;
            }
            if (!tracks.empty() && IsWindowsMediaPath(file))
                PreExtractSound(programFolder, tracks.front().source.toStdString(), -1, ExtractAudioToWav);
            for (const KvQueueItem& track : tracks)
                rows.push_back({track.JobRow(), int(rows.size()), options.keepTree ? batch.subfolder : QString(), 0});
            if (!tracks.empty())
                continue;
        }
        KvSourceRow source = ReadSourceRow(file);
        if (!source.problem.isEmpty()) {
            report.Failed(file, source.problem);
            tellJson(file, QString(), "failed", source.problem, 0.0, 0.0);
            continue;
        }
        if (IsWindowsMediaPath(file))
            PreExtractSound(programFolder, source.item.source.toStdString(), -1, ExtractAudioToWav);
        if (options.start > 0.0)
            source.item.start = options.start;
        if (options.end >= 0.0 && options.end < source.item.Length())
            source.item.end = options.end;
        rows.push_back({source.item.JobRow(), int(rows.size()), options.keepTree ? batch.subfolder : QString(),
                        options.shardCount > 0 ? batch.number : 0, source.item.album});
    }
    if (rows.empty())
        return report.FailedCount() > 0 ? kExitFailed : kExitDone;

    KvRenderQueue queue(state);
    queue.SetSlots(std::move(leases));
    queue.SetPollInterval(isatty(STDOUT_FILENO) ? 250 : KvRenderQueue::kPollInterval);
    // After a stop signal no further engine starts, whatever ends meanwhile.
    queue.SetHoldStarts([] { return StopSignalReceived(); });
    queue.SetSkipConverted(options.skipExisting);
    queue.SetAlbumLoudness(options.album);
    if (const QString problem = queue.CheckTarget(options.folder, rows); !problem.isEmpty()) {
        PrintText(stderr, QStringLiteral("velmora: %1\n").arg(problem));
        return kExitFailed;
    }

    report.SetRows(rows);
    std::map<int, QString> outputs;
    QObject::connect(&queue, &KvRenderQueue::rowStarted, &queue, [&](int index, const QString& output) {
        outputs[index] = output;
        startedAt[index] = runClock.elapsed();
        report.Started(index);
    });
    QObject::connect(&queue, &KvRenderQueue::rowSkipped, &queue, [&](int index, const QString& output) {
        report.Skipped(index, output);
        tellJson(QString::fromStdWString(rows[size_t(index)].cells.file), output, "skipped", QString(), 0.0, 0.0);
    });
    QObject::connect(&queue, &KvRenderQueue::albumMeasuring, &queue, [&](const QList<int>& indexes, bool measuring) {
        if (measuring)
            report.MeasuringAlbum(indexes);
    });
    QObject::connect(&queue, &KvRenderQueue::rowProgress, &queue,
                     [&](int index, double percent, double speed) { report.Progress(index, percent, speed); });
    QObject::connect(&queue, &KvRenderQueue::rowEnded, &queue,
                     [&](int index, bool finished, const QString& reason, const QString& detail) {
                         // Ctrl-C on a terminal reaches the engines as well: a row they
                         // end that way was stopped, not failed.
                         if (!finished && StopSignalReceived())
                             return;
                         if (finished)
                             report.CountFinished();
                         report.Ended(index, finished, outputs[index], reason);
                         if (finished && !detail.isEmpty())
                             report.Note(outputs[index], detail);
                         ended.insert(index);
                         const auto started = startedAt.find(index);
                         const double seconds =
                             started != startedAt.end() ? double(runClock.elapsed() - started->second) / 1000.0 : 0.0;
                         tellJson(QString::fromStdWString(rows[size_t(index)].cells.file),
                                  finished ? outputs[index] : QString(),
                                  !finished ? "failed" : reason.isEmpty() ? "done" : "short", reason, seconds,
                                  KvRenderQueue::RowLength(rows[size_t(index)].cells));
                     });
    QObject::connect(&queue, &KvRenderQueue::message, &queue,
                     [](const QString& text) { PrintText(stderr, QStringLiteral("velmora: %1\n").arg(text)); });
    QEventLoop loop;
    QObject::connect(&queue, &KvRenderQueue::stopped, &loop, [&loop] { loop.quit(); });
    QSocketNotifier stopNotifier(StopSignalFd(), QSocketNotifier::Read);
    QObject::connect(&stopNotifier, &QSocketNotifier::activated, &queue, [&] {
        DrainStopSignals();
        queue.Stop();
    });

    if (!StopSignalReceived() && queue.Start(options.folder, rows) && queue.IsRunning())
        loop.exec();
    if (StopSignalReceived()) {
        queue.Stop();
        for (const auto& [index, output] : outputs) {
            if (!ended.count(index))
                tellJson(QString::fromStdWString(rows[size_t(index)].cells.file), QString(), "stopped",
                         QStringLiteral("interrupted"), double(runClock.elapsed() - startedAt[index]) / 1000.0, 0.0);
        }
        report.Close(QStringLiteral("stopped with %1 of %2 files finished; the files being written were removed.")
                         .arg(report.FinishedCount())
                         .arg(rows.size()));
        return kExitInterrupted;
    }
    if (!queue.LastError().isEmpty()) {
        report.Close(QString());
        PrintText(stderr, QStringLiteral("velmora: %1\n").arg(queue.LastError()));
        return kExitFailed;
    }
    report.Close(report.Terminal() ? report.Total() : QString());
    return report.IncompleteCount() > 0 ? kExitFailed : kExitDone;
}

} // namespace velmora
