#include "frontend/KvMediaFiles.h"

#include "common/KvProgramFolder.h"
#include "common/KvText.h"
#include "frontend/KvMediaList.h"
#include "media/KvMediaInfo.h"
#include "media/KvMediaTags.h"
#include "project/KvWavIndex.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>

#include <algorithm>
#include <cstdio>
#include <map>
#include <set>

namespace velmora {

namespace {

const char* const kMediaExtensions[] = {
    "avi", "ogg", "ogm", "wmv", "asf", "dic", "mpg", "mpeg", "qt", "mov", "m1v", "m2v", "ts", "mts",
    "m2ts", "mp4", "3gp", "3g2", "flv", "rv", "rm", "rmvb", "mkv", "pmp", "nut", "dsm", "roq", "divx",
    "f4v", "m4v", "vob", "dat", "wav", "wma", "mpa", "mp2", "mp3", "m4a", "ac3", "au", "aif",
    "aiff", "snd", "aac", "amr",
    // What libraries of music and talk are kept in today (FFmpeg reads them all).
    "flac", "opus", "oga", "webm", "weba", "mka", "m4b", "caf", "wv", "ape", "tta", "dsf", "dff", "mpc", "spx"};

bool NameBefore(const QString& a, const QString& b)
{
    return CompareFileNames(a, b) < 0;
}

void Walk(const QString& folder, std::set<QString>& entered, QStringList& files, QStringList* leftOut,
          KvWalkControl* control)
{
    if (control && control->Stopped())
        return;
    const QString real = QFileInfo(folder).canonicalFilePath();
    if (real.isEmpty() || !entered.insert(real).second)
        return;
    QFileInfoList entries = QDir(folder).entryInfoList(QDir::Files | QDir::Dirs | QDir::NoDotAndDotDot);
    std::sort(entries.begin(), entries.end(),
              [](const QFileInfo& a, const QFileInfo& b) { return NameBefore(a.fileName(), b.fileName()); });
    for (const QFileInfo& entry : entries) {
        if (control) {
            if (control->onEntry)
                control->onEntry();
            if (control->Stopped())
                return;
        }
        if (entry.fileName().startsWith(u'.'))
            continue;
        if (entry.isDir()) {
            Walk(entry.absoluteFilePath(), entered, files, leftOut, control);
        } else if (HasMediaExtension(entry.fileName())) {
            files << entry.absoluteFilePath();
            if (control)
                control->found.store(int(files.size()), std::memory_order_relaxed);
        } else if (leftOut) {
            *leftOut << entry.absoluteFilePath();
        }
    }
}

} // namespace

const std::vector<const char*>& MediaFileExtensions()
{
    static const std::vector<const char*> extensions(std::begin(kMediaExtensions), std::end(kMediaExtensions));
    return extensions;
}

bool HasMediaExtension(const QString& path)
{
    const int dot = path.lastIndexOf(u'.');
    if (dot < 0 || path.indexOf(u'/', dot) >= 0)
        return false;
    const QString extension = path.mid(dot + 1);
    return std::any_of(std::begin(kMediaExtensions), std::end(kMediaExtensions), [&](const char* known) {
        return extension.compare(QLatin1String(known), Qt::CaseInsensitive) == 0;
    });
}

QStringList CollectMediaFiles(const QStringList& paths, QStringList* leftOut)
{
    return CollectMediaFiles(paths, leftOut, nullptr);
}

QStringList CollectMediaFiles(const QStringList& paths, QStringList* leftOut, KvWalkControl* control)
{
    QStringList files;
    std::set<QString> entered;
    for (const QString& path : paths) {
        if (control && control->Stopped())
            break;
        if (path.isEmpty())
            continue;
        const QFileInfo info(path);
        if (info.isDir()) {
            Walk(info.absoluteFilePath(), entered, files, leftOut, control);
        } else {
            files << info.absoluteFilePath();
            if (control)
                control->found.store(int(files.size()), std::memory_order_relaxed);
        }
    }
    return files;
}

KvDroppedFiles CollectNamedFiles(const QStringList& paths, KvWalkControl* control)
{
    KvDroppedFiles named;
    QStringList leftOut;
    named.files = CollectMediaFiles(paths, &leftOut, control);
    for (const QString& path : paths) {
        if (!path.isEmpty() && QFileInfo(path).isDir())
            named.folders << QFileInfo(path).absoluteFilePath();
    }
    for (const QString& path : leftOut)
        named.skipped.push_back({path, KvMediaList::ReasonNotMedia()});
    return named;
}

int CompareFileNames(const QString& a, const QString& b)
{
    const int folded = a.compare(b, Qt::CaseInsensitive);
    return folded != 0 ? folded : a.compare(b);
}

QString PathUnder(const QString& file, const QString& folder)
{
    if (folder.isEmpty())
        return QString();
    const QString root = folder.endsWith(u'/') ? folder : folder + u'/';
    return file.startsWith(root) ? file.mid(root.size()) : QString();
}

QString FolderFoundIn(const QString& file, const QStringList& folders)
{
    for (const QString& folder : folders) {
        if (!PathUnder(file, folder).isEmpty())
            return folder;
    }
    return QString();
}

KvDroppedFiles CollectDroppedFiles(const QList<QUrl>& urls, KvWalkControl* control)
{
    std::vector<KvSkippedFile> links;
    QStringList paths;
    for (const QUrl& url : urls) {
        // Only what is on this machine's file system can be read by the engine; a link
        // from a web page is named in the report rather than fetched.
        if (url.isLocalFile() && !url.toLocalFile().isEmpty())
            paths << url.toLocalFile();
        else if (!url.isEmpty())
            links.push_back({url.toDisplayString(), KvMediaList::ReasonNotLocal()});
    }
    KvDroppedFiles dropped = CollectNamedFiles(paths, control);
    dropped.skipped.insert(dropped.skipped.begin(), links.begin(), links.end());
    return dropped;
}

KvSourceProbe ProbeSource(const QString& file)
{
    KvSourceProbe probe;
    probe.file = file;
    // The engine runs in another folder: the row holds the full path.
    probe.path = file.isEmpty() ? file : QFileInfo(file).absoluteFilePath();
    probe.probed = true;
    probe.readable = !probe.path.isEmpty() && QFileInfo(probe.path).isFile()
                  && GetMediaInfo(probe.path.toStdString(), probe.info);
    return probe;
}

KvSourceProbe ProbeSourceAndTracks(const QString& file)
{
    KvSourceProbe probe = ProbeSource(file);
    // Only a file that may split is looked at again for its tracks.
    const QFileInfo where(probe.path);
    if (probe.readable
        && (probe.info.nChapters >= 2 || probe.info.bCueSheet
            || QFileInfo::exists(where.path() + u'/' + where.completeBaseName() + QStringLiteral(".cue"))))
        probe.splitTracks = int(FindSplitTracks(probe.path.toStdString(), KvSplitSource::Auto).size());
    return probe;
}

KvSourceRow ReadSourceRow(const QString& file)
{
    KvSourceRow row;
    KvSourceProbe probe = ProbeSource(file);
    if (!probe.readable) {
        row.problem = KvMediaList::ReasonUnreadable();
        return row;
    }
    MediaInfo& info = probe.info;
    if (!info.nHasAudio) {
        row.problem = KvMediaList::ReasonNoSound();
        return row;
    }
    // A file of sound alone converts what it holds, whatever its header says.
    if (!info.nHasVideo) {
        if (const double measured = MeasureSoundLength(probe.path.toStdString()); measured > 0.0)
            info.dDuration = measured;
    }
    // The row the list makes of a newly added file.
    row.item = KvQueueModel::NewItem(probe.path, info.dDuration, info.nHasVideo != 0, info.nWidth, info.nHeight);
    row.item.album = QString::fromStdString(info.album);
    return row;
}

bool IsCueSheetPath(const QString& path)
{
    return path.endsWith(QLatin1String(".cue"), Qt::CaseInsensitive);
}

std::vector<KvQueueItem> ReadSplitRows(const QString& path, KvSplitSource source, QString* why, const KvQueueItem* like)
{
    std::string reason;
    const std::string file = QFileInfo(path).absoluteFilePath().toStdString();
    const std::vector<KvSplitTrack> tracks
        = IsCueSheetPath(path) ? ReadCueTracks(file, &reason) : FindSplitTracks(file, source, &reason);
    auto refuse = [&](const QString& text) {
        if (why)
            *why = text;
        return std::vector<KvQueueItem>();
    };
    if (tracks.empty())
        return refuse(QString::fromStdString(reason));

    // Each file of the tracks read once: its row and its tags.
    struct Read
    {
        KvSourceRow row;
        MediaTags tags;
    };
    std::map<std::string, Read> files;
    std::vector<KvQueueItem> rows;
    for (const KvSplitTrack& track : tracks) {
        auto found = files.find(track.file);
        if (found == files.end()) {
            Read read{ReadSourceRow(QString::fromStdString(track.file)), {}};
            if (read.row.problem.isEmpty())
                ReadMediaTags(track.file, -1, read.tags);
            found = files.emplace(track.file, std::move(read)).first;
        }
        const KvSourceRow& whole = found->second.row;
        const QString name = QFileInfo(QString::fromStdString(track.file)).fileName();
        if (!whole.problem.isEmpty())
            return refuse(QStringLiteral("%1: %2").arg(name, whole.problem));
        KvQueueItem item = whole.item;
        if (like && like->source == item.source) {
            item.tracks = like->tracks;
            item.track = like->track;
            item.volume = like->volume;
            item.speed = like->speed;
            item.syncAudio = like->syncAudio;
        }
        if (track.start >= item.Length())
            return refuse(QStringLiteral("track %1 starts at %2 s, after the end of %3 (%4 s)")
                              .arg(track.number)
                              .arg(track.start, 0, 'f', 2)
                              .arg(name)
                              .arg(item.Length(), 0, 'f', 2));
        item.start = track.start;
        item.end = track.end >= 0.0 && track.end < item.Length() ? track.end : item.Length();

        const MediaTags& tags = found->second.tags;
        auto either = [](const std::string& first, const std::string& second) {
            return QString::fromStdString(first.empty() ? second : first).toStdWString();
        };
        tagKvItemTrack split;
        split.title = track.title.empty() ? QStringLiteral("Track %1").arg(track.number).toStdWString()
                                          : QString::fromStdString(track.title).toStdWString();
        split.artist = either(track.performer, tags.artist);
        split.album = either(track.album, tags.album.empty() ? tags.title : tags.album);
        split.albumartist = either(track.albumArtist, tags.albumArtist.empty() ? tags.artist : tags.albumArtist);
        split.date = either(track.date, tags.date);
        split.genre = either(track.genre, tags.genre);
        split.track = QStringLiteral("%1/%2").arg(track.number).arg(track.count).toStdWString();
        item.splitTrack = split;
        rows.push_back(std::move(item));
    }
    return rows;
}

bool IsWindowsMediaPath(const QString& path)
{
    return path.endsWith(QLatin1String(".wmv"), Qt::CaseInsensitive)
        || path.endsWith(QLatin1String(".asf"), Qt::CaseInsensitive);
}

std::string NewExtractedWavPath(const std::string& programFolder)
{
    // Named after the local time down to the millisecond; two extractions within one
    // millisecond (a tiny or failing file) must not share a name, so a taken name moves
    // the clock on.
    QDateTime when = QDateTime::currentDateTime();
    for (;;) {
        const QDate date = when.date();
        const QTime time = when.time();
        char name[64];
        std::snprintf(name, sizeof name, "%02d%02d%02d%02d%02d%02d.wav", date.month(), date.day(), time.hour(),
                      time.minute(), time.second(), time.msec());
        const std::string path = ProgramPath(programFolder, "tmp/" + std::string(name));
        if (!QFileInfo::exists(QString::fromStdString(path)))
            return path;
        when = when.addMSecs(1);
    }
}

void PreExtractSound(const std::string& programFolder, const std::string& source, int audioStream,
                     const std::function<bool(const std::string&, const std::string&, int)>& extract)
{
    const std::wstring wideSource = Utf8ToWide(source);
    if (LookupWavIndex(programFolder, wideSource, audioStream).state == WavIndexState::kPresent)
        return;
    const std::string wav = NewExtractedWavPath(programFolder);
    if (extract(source, wav, audioStream))
        RecordWavExtraction(programFolder, wideSource, Utf8ToWide(wav), audioStream);
    else
        ForgetStaleWav(programFolder, wideSource, audioStream);
}

} // namespace velmora
