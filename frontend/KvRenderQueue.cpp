#include "frontend/KvRenderQueue.h"

#include "common/KvAudioFormats.h"
#include "common/KvJobBlock.h"
#include "common/KvOptionRecord.h"
#include "common/KvOutputFile.h"
#include "common/KvProcess.h"
#include "common/KvText.h"
#include "frontend/KvEngineSlotLease.h"
#include "frontend/KvFrontEndState.h"
#include "frontend/KvJobWmProfile.h"
#include "frontend/KvTargetFolder.h"
#include "media/KvMediaTags.h"
#include "media/KvOriginalTrack.h"
#include "project/KvEngineJob.h"
#include "project/KvProjectWriter.h"
#include "project/KvWavIndex.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QScopeGuard>
#include <QSocketNotifier>
#include <QTimerEvent>

#include <algorithm>
#include <map>
#include <unistd.h>

namespace velmora {

namespace {

bool NameTaken(const QString& path)
{
    // A dangling link still holds its name: exists() alone would miss it.
    const QString partial = KvRenderQueue::PartialOutputPath(path);
    return QFileInfo::exists(path) || QFileInfo(path).isSymLink() || QFileInfo::exists(partial)
        || QFileInfo(partial).isSymLink();
}

} // namespace

struct KvRenderQueue::Slot
{
    explicit Slot(std::unique_ptr<KvEngineSlotLease> held)
        : lease(std::move(held))
        , job(lease->ProgramFolder(), lease->Slot(), lease->Block())
    {
    }

    std::unique_ptr<KvEngineSlotLease> lease;
    KvEngineJob job;
    int index = -1; // the row it converts; -1 while free
    int album = -1; // the album whose loudness it measures (m_albums); -1: none
    bool Busy() const { return index >= 0 || album >= 0; }
    std::unique_ptr<QSocketNotifier> notifier; // on the engine's pidfd
    QString output;
    qint64 endSeenAt = -1; // ms since epoch when nState 0 was first seen
    QElapsedTimer clock;   // since the engine started
};

KvRenderQueue::KvRenderQueue(KvFrontEndState& state, QObject* parent)
    : QObject(parent)
    , m_state(state)
    , m_parallel(KvFrontEndState::DefaultParallelConversions())
{
}

KvRenderQueue::~KvRenderQueue()
{
    // Never leave an engine writing into the user's folder behind us, nor what it
    // wrote so far.
    blockSignals(true);
    if (m_running)
        KillEngines();
    QElapsedTimer clock;
    clock.start();
    while (!m_dying.empty() && clock.elapsed() < kExitReapMs) {
        ReapEngines();
        if (!m_dying.empty())
            usleep(10 * 1000);
    }
    m_slots.clear();
}

void KvRenderQueue::SetParallel(int count)
{
    m_parallel = std::max(1, count);
}

void KvRenderQueue::SetSlots(std::vector<std::unique_ptr<KvEngineSlotLease>> leases)
{
    if (m_running)
        return;
    m_slots.clear();
    for (auto& lease : leases) {
        m_slots.push_back(std::make_unique<Slot>(std::move(lease)));
    }
    m_keepSlots = !m_slots.empty();
}

std::vector<int> KvRenderQueue::HeldSlots() const
{
    std::vector<int> held;
    for (const auto& slot : m_slots)
        held.push_back(slot->lease->Slot());
    return held;
}

double KvRenderQueue::RowLength(const tagKvJobRow& cells)
{
    // A Start at or beyond the End (or the source's end) converts nothing, however
    // the job's item would be clamped.
    const double start = cells.start;
    const double end = std::min(cells.end, cells.duration);
    if (!(start < end))
        return 0.0;
    // Measured on the item the job will really carry, so the check and the engine
    // can never disagree about the limits on Start and End.
    const std::unique_ptr<tagKvProjectData> project = BuildJobProject({cells});
    return GetAudioLineDuration(project.get());
}

QString KvRenderQueue::CheckTarget(const QString& folder, const std::vector<KvQueueRow>& rows) const
{
    // The folder must take at least the smallest of the outputs; otherwise every row
    // would start an engine only to fail, each using up an output number.
    const tagKvOptionRecord& record = m_state.CurrentRecord();
    qint64 needed = 0;
    for (const KvQueueRow& row : rows) {
        const qint64 bytes = EstimateOutputBytes(RowLength(row.cells), record);
        if (bytes > 0 && (needed == 0 || bytes < needed))
            needed = bytes;
    }
    return CheckTargetFolder(QDir::cleanPath(folder), needed);
}

bool KvRenderQueue::Start(const QString& folder, std::vector<KvQueueRow> rows)
{
    m_lastError.clear();
    if (m_running || rows.empty() || folder.isEmpty())
        return false;
    if (!AcquireSlots(int(rows.size())))
        return false;
    const QString target = QDir::cleanPath(folder);
    m_targetFolder = target.endsWith(u'/') ? target : target + u'/';
    m_outputExtension = QString::fromLatin1(velmora::OutputExtension(m_state.CurrentRecord().nOutputType));
    m_namePattern = m_state.OutputNamePattern();
    m_splitPattern = m_namePattern;
    if (m_namePattern.Text() == KvOutputNamePattern::kDefaultText)
        m_splitPattern.Parse(KvOutputNamePattern::kSplitDefaultText);
    m_manifest.reset();
    if (m_skipConverted) {
        auto manifest = std::make_unique<KvConvertedManifest>(m_targetFolder);
        QString error;
        if (!manifest->Load(&error)) {
            m_lastError = error + u'.';
            return false;
        }
        m_manifest = std::move(manifest);
    }
    m_rows = std::move(rows);
    m_stamps.assign(m_rows.size(), KvSourceStamp());
    m_next = 0;
    m_failures.clear();
    m_shortened.clear();
    GroupAlbums();
    ++m_runSerial;
    m_running = true;
    m_pollTimer = startTimer(m_pollInterval);
    Pump();
    return true;
}

bool KvRenderQueue::AcquireSlots(int rows)
{
    if (m_keepSlots)
        return true;
    m_slots.clear();
    std::string error;
    for (auto& lease : KvEngineSlotLease::TakeFree(m_state.ProgramFolder(), std::min(m_parallel, rows), &error)) {
        m_slots.push_back(std::make_unique<Slot>(std::move(lease)));
    }
    if (m_slots.empty()) {
        m_lastError = QStringLiteral("No conversion can start: %1.").arg(QString::fromStdString(error));
        return false;
    }
    return true;
}

void KvRenderQueue::Pump()
{
    if (m_pumping) {
        // A handler of what the pump reports ran an event loop of its own: what
        // happened meanwhile is looked at once this pump is done.
        m_pumpAgain = true;
        return;
    }
    m_pumping = true;
    const auto done = qScopeGuard([this] { m_pumping = false; });
    // Handlers of what is emitted here may stop the run, or (once it has ended) start
    // the next one; either way the loop looks again at what is then the case.
    do {
        m_pumpAgain = false;
        for (const auto& slot : m_slots) {
            if (m_running && slot->album >= 0 && slot->job.HasEnded())
                EndAlbum(*slot);
            else if (m_running && slot->index >= 0)
                FollowSlot(*slot);
        }
        if (m_running)
            StartRows();
        if (m_running && m_next >= m_rows.size() && RunningCount() == 0)
            Finish(true);
    } while (m_pumpAgain && m_running);
}

void KvRenderQueue::StartRows()
{
    const int run = m_runSerial;
    for (const auto& slot : m_slots) {
        while (m_running && !slot->Busy() && m_next < m_rows.size()) {
            if (m_holdStarts && m_holdStarts())
                return;
            // A row of an album waits for the album's loudness; meanwhile the slot
            // measures the next album not yet measured, if there is one.
            const int album = m_albumOf.empty() ? -1 : m_albumOf[m_next];
            if (album >= 0 && (m_albums[size_t(album)].state == AlbumState::Pending
                               || m_albums[size_t(album)].state == AlbumState::Measuring)) {
                StartAlbum(*slot);
                break;
            }
            const int index = int(m_next++);
            if (album >= 0 && m_albums[size_t(album)].state == AlbumState::Failed) {
                FailRow(index, m_albums[size_t(album)].failure);
                if (!m_running || run != m_runSerial)
                    return;
                continue;
            }
            if (m_manifest && SkipRow(index)) {
                if (!m_running || run != m_runSerial)
                    return;
                continue;
            }
            QString reason;
            if (StartRow(*slot, index, reason))
                break;
            FailRow(index, reason);
            // A handler of the failure stopped the run (and perhaps started anew).
            if (!m_running || run != m_runSerial)
                return;
        }
    }
}

bool KvRenderQueue::StartRow(Slot& slot, int index, QString& reason)
{
    const KvQueueRow& row = m_rows[size_t(index)];
    const tagKvOptionRecord& record = m_state.CurrentRecord();

    // Tell the user before the engine starts: a row with nothing to convert would
    // only produce an empty file.
    if (!(RowLength(row.cells) > 0.0)) {
        reason = FailureReason(KvFailure::NothingToConvert);
        return false;
    }
    QString profileFailure;
    if (!WriteJobWmProfile(m_state, slot.job.JobFolder() + "wmv.prx", &profileFailure)) {
        if (profileFailure == QStringLiteral("Add Audio Stream To Profile Fialed"))
            Tell(profileFailure);
        Tell(QStringLiteral("Save Wmv Profile Failed!"));
        reason = FailureReason(KvFailure::ProfileNotSaved);
        return false;
    }

    m_state.SaveH264();
    tagKvJobRow cells = row.cells;
    cells.loudness = JobLoudness();
    if (const int album = m_albumOf.empty() ? -1 : m_albumOf[size_t(index)];
        album >= 0 && cells.loudness && m_albums[size_t(album)].state == AlbumState::Done) {
        cells.loudness->albumIntegrated = m_albums[size_t(album)].integrated;
        cells.loudness->albumPeak = m_albums[size_t(album)].peak;
    }
    double duration = 0.0;
    if (!WriteJobFiles(slot, {cells}, m_state.CheckEveryOutput() ? 0 : kKvJobSkipOutputCheck, duration)) {
        reason = FailureReason(KvFailure::JobFilesNotWritten);
        return false;
    }

    const QString output = NextOutputPath(row);
    if (output.isEmpty()) {
        reason = FailureReason(KvFailure::FolderNotWritable);
        return false;
    }
    switch (slot.job.Start(output.toStdString(), record.nPreset, duration)) {
    case KvEngineJob::StartError::None: break;
    case KvEngineJob::StartError::NoBlock:
        reason = QStringLiteral("The job block is not available.");
        return false;
    case KvEngineJob::StartError::PathTooLong:
        reason = FailureReason(KvFailure::PathTooLong);
        return false;
    case KvEngineJob::StartError::EngineNotStarted:
        reason = FailureReason(KvFailure::EngineNotStarted);
        return false;
    }
    slot.endSeenAt = -1;
    slot.clock.start();
    slot.index = index;
    slot.output = output;
    WatchEngine(slot);
    emit rowStarted(index, output);
    return true;
}

bool KvRenderQueue::WriteJobFiles(Slot& slot, const std::vector<tagKvJobRow>& cells, std::int32_t flags,
                                  double& duration)
{
    const std::string& folder = m_state.ProgramFolder();
    KvEngineJobFiles files;
    files.record = m_state.CurrentRecord();
    files.record.nJobFlags = flags;
    // Windows Media sources read the sound this front end extracted ahead; the slot's
    // engine finds it through the slot's own copy of the index.
    files.wavIndex = WavIndexPath(folder);
    std::unique_ptr<tagKvProjectData> project = BuildJobProject(cells);
    duration = GetAudioLineDuration(project.get());
    files.project = project.get();
    files.projectOptions.programFolder = folder;
    files.projectOptions.vensettingIndex = m_state.CurrentPresetIndex();
    const bool written = slot.job.WriteFiles(files);
    FreeProject(project, folder);
    return written;
}

void KvRenderQueue::WatchEngine(Slot& slot)
{
    if (slot.job.PidFd() >= 0) {
        if (!slot.notifier) {
            slot.notifier = std::make_unique<QSocketNotifier>(QSocketNotifier::Read);
            connect(slot.notifier.get(), &QSocketNotifier::activated, this, [this, notifier = slot.notifier.get()] {
                // The engine has ended: its results are final, and its slot is free now.
                notifier->setEnabled(false);
                Pump();
            });
        }
        slot.notifier->setSocket(slot.job.PidFd());
        slot.notifier->setEnabled(true);
    } else if (!m_watchTimer) {
        m_watchTimer = startTimer(kWatchInterval);
    }
}

QString KvRenderQueue::AlbumKey(const KvQueueRow& row)
{
    const tagKvJobRow& cells = row.cells;
    QString album;
    if (cells.track) {
        album = QString::fromStdWString(cells.track->album);
    } else if (row.album) {
        album = *row.album;
    } else {
        MediaTags tags;
        ReadMediaTags(WideToUtf8(cells.file), cells.audioStream, tags);
        album = QString::fromStdString(tags.album);
    }
    // Without an album tag, the files of one folder are one album.
    return album.isEmpty() ? QStringLiteral("folder:") + QFileInfo(QString::fromStdWString(cells.file)).absolutePath()
                           : QStringLiteral("album:") + album;
}

void KvRenderQueue::GroupAlbums()
{
    m_albums.clear();
    m_albumOf.clear();
    if (!m_albumLoudness || !JobLoudness())
        return;
    std::map<QString, int> byKey;
    for (std::size_t i = 0; i < m_rows.size(); ++i) {
        const auto [found, added] = byKey.emplace(AlbumKey(m_rows[i]), int(m_albums.size()));
        if (added)
            m_albums.emplace_back();
        m_albums[size_t(found->second)].rows.push_back(int(i));
        m_albumOf.push_back(found->second);
    }
}

void KvRenderQueue::StartAlbum(Slot& slot)
{
    const auto pending = std::find_if(m_albums.begin(), m_albums.end(),
                                      [](const Album& album) { return album.state == AlbumState::Pending; });
    if (pending == m_albums.end())
        return; // every album is being measured: the row waits for one to end
    Album& album = *pending;
    auto fail = [&](const QString& why) {
        album.state = AlbumState::Failed;
        album.failure = QStringLiteral("the album's loudness could not be measured (%1)").arg(why);
    };
    // The album's rows one after another on one time line, measured together.
    std::vector<tagKvJobRow> cells;
    for (int row : album.rows) {
        if (RowLength(m_rows[size_t(row)].cells) > 0.0)
            cells.push_back(m_rows[size_t(row)].cells);
    }
    if (cells.empty()) {
        fail(FailureReason(KvFailure::NothingToConvert));
        return;
    }
    double duration = 0.0;
    if (!WriteJobFiles(slot, cells, kKvJobMeasureLoudness, duration)) {
        fail(FailureReason(KvFailure::JobFilesNotWritten));
        return;
    }
    if (slot.job.Start(std::string(), m_state.CurrentRecord().nPreset, duration) != KvEngineJob::StartError::None) {
        fail(FailureReason(KvFailure::EngineNotStarted));
        return;
    }
    album.state = AlbumState::Measuring;
    slot.endSeenAt = -1;
    slot.clock.start();
    slot.album = int(pending - m_albums.begin());
    WatchEngine(slot);
    emit albumMeasuring(QList<int>(album.rows.begin(), album.rows.end()), true);
}

void KvRenderQueue::EndAlbum(Slot& slot)
{
    const KvEngineJobResult result = slot.job.Finish();
    Album& album = m_albums[size_t(slot.album)];
    ClearSlot(slot);
    emit albumMeasuring(QList<int>(album.rows.begin(), album.rows.end()), false);
    if (result.status == KvEngineJobStatus::Finished && result.measuredIntegrated) {
        album.state = AlbumState::Done;
        album.integrated = *result.measuredIntegrated;
        album.peak = result.measuredPeak;
        return;
    }
    album.state = AlbumState::Failed;
    const QString why = result.status == KvEngineJobStatus::Failed ? EngineFailureReason(result.failure)
                                                                   : FailureReason(KvFailure::EngineStopped);
    album.failure = QStringLiteral("the album's loudness could not be measured: %1").arg(why);
}

void KvRenderQueue::Tell(const QString& text)
{
    // Shown once the row's start is over: a message box runs its own event loop, and
    // nothing of the queue may run inside a start.
    QMetaObject::invokeMethod(this, [this, text] { emit message(text); }, Qt::QueuedConnection);
}

QString KvRenderQueue::NextOutputPath(const KvQueueRow& queued)
{
    const tagKvJobRow& row = queued.cells;
    const QString folder = m_targetFolder + queued.subfolder;
    if (!queued.subfolder.isEmpty() && !QDir().mkpath(folder))
        return QString();
    // Rows that convert in parallel may want the same name before any engine has made
    // its partial file.
    auto inUse = [this](const QString& path) {
        return std::any_of(m_slots.begin(), m_slots.end(),
                           [&path](const auto& slot) { return slot->index >= 0 && slot->output == path; });
    };
    QString extension = m_outputExtension;
    KvOriginalContainer original;
    // A track kept as it is goes into a file of its codec's kind.
    if (m_state.CurrentRecord().nOutputType == kKvOutputOriginal
        && OriginalContainerOf(WideToUtf8(row.file), row.audioStream, original))
        extension = QString::fromStdString(original.extension);
    // A number fixed beforehand stays the row's own; the run's counter moves on.
    int fixed = queued.number;
    const KvOutputNamePattern& pattern = NamePatternOf(row);
    return BuildOutputPath(folder, pattern, OutputNameValues(pattern, row), extension,
                           fixed > 0 ? fixed : m_outputCounter, inUse, fixed > 0);
}

std::optional<tagKvItemLoudness> KvRenderQueue::JobLoudness() const
{
    const KvFrontEndState::Loudness loudness = m_state.OutputLoudness();
    if (loudness.mode == KvFrontEndState::LoudnessMode::Off)
        return std::nullopt;
    tagKvItemLoudness job;
    job.mode = loudness.mode == KvFrontEndState::LoudnessMode::Normalise ? 1 : 2;
    job.target = loudness.target;
    return job;
}

const KvOutputNamePattern& KvRenderQueue::NamePatternOf(const tagKvJobRow& row) const
{
    return row.track ? m_splitPattern : m_namePattern;
}

KvOutputNameValues KvRenderQueue::OutputNameValues(const KvOutputNamePattern& pattern, const tagKvJobRow& row)
{
    KvOutputNameValues values;
    values.name = KvOutputNamePattern::SourceName(row.file);
    if (row.track) {
        // A track of a split file is named after its own tags.
        values.title = row.track->title;
        values.artist = row.track->artist;
        values.album = row.track->album;
        values.chapter = row.track->title;
        values.track = std::max(0, ParseInt(WideToUtf8(row.track->track)));
    } else if (pattern.UsesTags()) {
        // A source whose tags cannot be read names its output as one without tags.
        MediaTags tags;
        ReadMediaTags(WideToUtf8(row.file), row.audioStream, tags);
        values.title = Utf8ToWide(tags.title);
        values.artist = Utf8ToWide(tags.artist);
        values.album = Utf8ToWide(tags.album);
        values.track = std::max(0, ParseInt(tags.track));
    }
    return values;
}

QString KvRenderQueue::BuildOutputPath(const QString& folder, const KvOutputNamePattern& pattern,
                                       const KvOutputNameValues& values, const QString& extension, int& counter,
                                       const std::function<bool(const QString& path)>& inUse, bool keepNumber)
{
    const std::wstring name = pattern.ChooseFileName(
        values, extension.toStdWString(), counter,
        [&](const std::wstring& candidate) {
            const QString path = folder + QString::fromStdWString(candidate);
            return NameTaken(path) || (inUse && inUse(path));
        },
        keepNumber);
    return folder + QString::fromStdWString(name);
}

QString KvRenderQueue::PartialOutputPath(const QString& output)
{
    // The engine writes its temporary file and moves it to the name only when
    // complete, so the temporary file is all a stopped or failed job leaves.
    return QString::fromStdString(velmora::PartialOutputPath(output.toStdString()));
}

void KvRenderQueue::RemovePartialOutput(const QString& output)
{
    if (!output.isEmpty())
        QFile::remove(PartialOutputPath(output));
}

void KvRenderQueue::timerEvent(QTimerEvent* event)
{
    if (event->timerId() == m_pollTimer) {
        Pump();
        return;
    }
    if (event->timerId() == m_watchTimer) {
        // Where no pidfd tells us, look often whether an engine has ended.
        for (const auto& slot : m_slots) {
            if (slot->Busy() && slot->job.PidFd() < 0 && slot->job.HasEnded()) {
                Pump();
                break;
            }
        }
        return;
    }
    if (event->timerId() == m_reapTimer) {
        ReapEngines();
        return;
    }
    QObject::timerEvent(event);
}

void KvRenderQueue::FollowSlot(Slot& slot)
{
    if (slot.job.HasEnded()) {
        EndRow(slot);
        return;
    }
    if (!slot.job.HasReportedEnd()) {
        const double position = slot.job.Position();
        const double duration = slot.job.Duration();
        const double percent = std::clamp(duration > 0.0 ? position * 100.0 / duration : 0.0, 0.0, 100.0);
        const qint64 ms = slot.clock.elapsed();
        const double speed = ms > 0 && position > 0.0 ? position * 1000.0 / double(ms) : 0.0;
        emit rowProgress(slot.index, percent, speed);
        return;
    }
    // The engine has said it is done but may still be writing its last fields: its
    // results count once it has gone. One that never goes is ended here.
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    if (slot.endSeenAt < 0)
        slot.endSeenAt = now;
    else if (now - slot.endSeenAt > kExitGraceMs)
        slot.job.Kill(); // its end is seen like any other
}

void KvRenderQueue::EndRow(Slot& slot)
{
    const double length = slot.job.Duration();
    const KvEngineJobResult result = slot.job.Finish();
    const int index = slot.index;
    const QString output = slot.output;
    ClearSlot(slot);

    // The user gets a short reason; the engine's own sentence goes with it.
    const QString logged = QString::fromStdString(result.logLine);
    QString reason;
    if (result.status == KvEngineJobStatus::Died)
        reason = FailureReason(KvFailure::EngineStopped);
    else if (result.status == KvEngineJobStatus::Failed)
        reason = EngineFailureReason(result.failure);
    else if (!QFileInfo::exists(output))
        reason = FailureReason(KvFailure::NoOutput);

    if (reason.isEmpty() && result.soundEnd > 0.0 && result.soundEnd < length - kShortSlack) {
        // Converted as far as the source goes: where is that in the source's own time?
        const tagKvJobRow& cells = m_rows[size_t(index)].cells;
        const double speed = cells.speed > 0.0 ? cells.speed : 1.0;
        KvQueueShort shortened;
        shortened.index = index;
        shortened.file = QString::fromStdWString(cells.file);
        shortened.sourceSeconds = cells.start + result.soundEnd * speed;
        shortened.reason = ShortOutputReason(shortened.sourceSeconds, cells.duration);
        m_shortened.push_back(shortened);
        RecordRow(index, KvManifestEntry::kShort, output, shortened.reason);
        emit rowEnded(index, true, shortened.reason, QString::fromStdString(result.loudnessNote));
    } else if (reason.isEmpty()) {
        RecordRow(index, KvManifestEntry::kDone, output, QString());
        emit rowEnded(index, true, QString(), QString::fromStdString(result.loudnessNote));
    } else {
        // An engine that died mid-job could not remove what it wrote so far: it goes
        // now, not when the same name comes round again. One that ended on its own has
        // removed its own file; a file still under that name is someone else's (another
        // front end that chose the same name at the same moment) and stays.
        if (result.status == KvEngineJobStatus::Died)
            RemovePartialOutput(output);
        FailRow(index, reason, logged);
    }
}

QJsonObject KvRenderQueue::RowSettings(const tagKvJobRow& cells) const
{
    const tagKvOptionRecord& record = m_state.CurrentRecord();
    QJsonObject settings;
    settings.insert(QStringLiteral("format"), record.nOutputType);
    settings.insert(QStringLiteral("bitrate"), record.nAudioBitrate);
    settings.insert(QStringLiteral("quality"), record.nAudioQuality);
    settings.insert(QStringLiteral("rate"), record.nSampleRate);
    settings.insert(QStringLiteral("channels"), record.nChannels);
    if (record.nOutputType == kKvOutputWma) {
        settings.insert(QStringLiteral("wma_codec"), record.nWmaCodec);
        settings.insert(QStringLiteral("wma_format"), record.nWmaFormat);
    }
    settings.insert(QStringLiteral("track"), cells.audioStream);
    settings.insert(QStringLiteral("start"), cells.start);
    settings.insert(QStringLiteral("end"), cells.end);
    settings.insert(QStringLiteral("volume"), cells.volume);
    settings.insert(QStringLiteral("speed"), cells.speed);
    settings.insert(QStringLiteral("delay"), cells.syncAudio);
    settings.insert(QStringLiteral("name"), QString::fromStdWString(NamePatternOf(cells).Text()));
    if (cells.track)
        settings.insert(QStringLiteral("split_track"), QString::fromStdWString(cells.track->track));
    if (const std::optional<tagKvItemLoudness> loudness = JobLoudness()) {
        settings.insert(QStringLiteral("loudness"), loudness->mode == 1 ? QString::number(loudness->target)
                                                                        : QStringLiteral("replaygain"));
        // An album's gain is not the row's own: a row converted alone converts again.
        if (m_albumLoudness)
            settings.insert(QStringLiteral("loudness_album"), true);
    }
    return settings;
}

bool KvRenderQueue::SkipRow(int index)
{
    const KvQueueRow& row = m_rows[size_t(index)];
    KvSourceStamp& stamp = m_stamps[size_t(index)];
    if (!stamp.Read(QString::fromStdWString(row.cells.file)))
        return false; // converts, and fails with its reason
    const QString output = m_manifest->FindConverted(stamp, RowSettings(row.cells), row.subfolder);
    if (output.isEmpty())
        return false;
    emit rowSkipped(index, output);
    return true;
}

void KvRenderQueue::RecordRow(int index, const char* state, const QString& output, const QString& reason)
{
    if (!m_manifest)
        return;
    const KvQueueRow& row = m_rows[size_t(index)];
    KvManifestEntry entry;
    entry.source = m_stamps[size_t(index)];
    if (entry.source.path.isEmpty())
        entry.source.Read(QString::fromStdWString(row.cells.file));
    entry.settings = RowSettings(row.cells);
    if (output.startsWith(m_targetFolder)) {
        entry.output = output.mid(m_targetFolder.size());
        entry.outputSize = QFileInfo(output).size();
    }
    entry.state = QLatin1String(state);
    entry.reason = reason;
    QString error;
    // The output is there whatever the manifest says; a manifest that cannot be
    // written only means it is converted again next time.
    if (!m_manifest->Append(entry, &error))
        Tell(error);
}

const KvQueueShort* KvRenderQueue::FindShort(int index) const
{
    const auto found = std::find_if(m_shortened.begin(), m_shortened.end(),
                                    [index](const KvQueueShort& row) { return row.index == index; });
    return found != m_shortened.end() ? &*found : nullptr;
}

void KvRenderQueue::FailRow(int index, const QString& reason, const QString& detail)
{
    m_failures.emplace_back(QString::fromStdWString(m_rows[size_t(index)].cells.file), reason);
    RecordRow(index, KvManifestEntry::kFailed, QString(), reason);
    emit rowEnded(index, false, reason, detail);
}

void KvRenderQueue::ClearSlot(Slot& slot)
{
    // The notifier stays for the slot's next engine (it may be the one calling us).
    if (slot.notifier)
        slot.notifier->setEnabled(false);
    slot.index = -1;
    slot.album = -1;
    slot.output.clear();
}

std::vector<KvRunningRow> KvRenderQueue::Running() const
{
    std::vector<KvRunningRow> rows;
    for (const auto& slot : m_slots) {
        if (slot->index < 0)
            continue;
        KvRunningRow row;
        row.index = slot->index;
        row.slot = slot->lease->Slot();
        row.pid = slot->job.Pid();
        row.output = slot->output;
        rows.push_back(row);
    }
    std::sort(rows.begin(), rows.end(), [](const KvRunningRow& a, const KvRunningRow& b) { return a.index < b.index; });
    return rows;
}

int KvRenderQueue::RunningCount() const
{
    return int(std::count_if(m_slots.begin(), m_slots.end(), [](const auto& slot) { return slot->index >= 0; }));
}

void KvRenderQueue::KillEngines()
{
    for (const auto& slot : m_slots) {
        if (!slot->Busy())
            continue;
        const pid_t pid = slot->job.Pid();
        if (!slot->job.HasEnded()) {
            // SIGKILL cannot be refused, but the process may take a moment to go; until
            // then it may still hold its file, so the file goes when the process has.
            slot->job.Kill();
            m_dying.push_back({pid, slot->output});
        } else {
            RemovePartialOutput(slot->output);
        }
        slot->job.Finish();
        ClearSlot(*slot);
    }
    if (!m_dying.empty() && !m_reapTimer)
        m_reapTimer = startTimer(kWatchInterval);
}

void KvRenderQueue::ReapEngines()
{
    for (auto it = m_dying.begin(); it != m_dying.end();) {
        if (IsProcessAlive(it->pid)) {
            ++it;
            continue;
        }
        RemovePartialOutput(it->output);
        it = m_dying.erase(it);
    }
    if (m_dying.empty() && m_reapTimer) {
        killTimer(m_reapTimer);
        m_reapTimer = 0;
    }
}

void KvRenderQueue::StopTimers()
{
    if (m_pollTimer)
        killTimer(m_pollTimer);
    if (m_watchTimer)
        killTimer(m_watchTimer);
    m_pollTimer = 0;
    m_watchTimer = 0;
}

void KvRenderQueue::Stop()
{
    if (!m_running)
        return;
    KillEngines();
    Finish(false);
}

void KvRenderQueue::Finish(bool completed)
{
    m_running = false;
    StopTimers();
    // A run's own slots go back at once: another run may need them.
    if (!m_keepSlots)
        m_slots.clear();
    emit stopped(completed);
}

} // namespace velmora
