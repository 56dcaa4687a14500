#include "frontend/KvQueueModel.h"

#include "common/KvText.h"

#include <QRegularExpression>

#include <algorithm>
#include <cmath>

namespace velmora {

namespace {

constexpr const char* kHeaders[kMediaColumnCount] = {
    "File",      "State",    "Duration", "Start",  "End",    "Sync Audio", "Volume",
    "Speed",     "New Width", "New Height", "Crop X", "Crop Y", "Crop W",   "Crop H",
    "Has Video", "Has Audio", "Source W", "Source H", "Track",
};

// Volume and Speed are factors; beyond these the result is noise or a file of hours.
constexpr double kMaxVolume = 10.0;
constexpr double kMinSpeed = 0.1;
constexpr double kMaxSpeed = 10.0;

QString FromC(const std::string& text)
{
    return QString::fromStdString(text);
}

QString Seconds(double value)
{
    return FromC(FormatDoubleAs("%.2f", value));
}

QString Number(double value)
{
    return FromC(FormatDoubleAs("%g", value));
}

// The value a number column of item stands for.
double* NumberOf(KvQueueItem& item, int column)
{
    switch (column) {
    case kColStart: return &item.start;
    case kColEnd: return &item.end;
    case kColSyncAudio: return &item.syncAudio;
    case kColVolume: return &item.volume;
    case kColSpeed: return &item.speed;
    case kColNewWidth: return &item.newWidth;
    case kColNewHeight: return &item.newHeight;
    case kColCropX: return &item.cropX;
    case kColCropY: return &item.cropY;
    case kColCropW: return &item.cropW;
    case kColCropH: return &item.cropH;
    default: return nullptr;
    }
}

// The length as the Duration cell shows it.
double Shown(double seconds)
{
    return std::round(seconds * 100.0) / 100.0;
}

} // namespace

double KvQueueItem::Length() const
{
    return Shown(measuredLength > 0.0 ? measuredLength : declaredLength);
}

int KvQueueItem::AudioStream() const
{
    // The first track is what a job reads when it names none, so it is not named: the
    // project file stays as it was for everyone who never chose.
    if (tracks.size() < 2 || track <= 0 || track >= int(tracks.size()))
        return -1;
    return tracks[size_t(track)].streamIndex;
}

tagKvJobRow KvQueueItem::JobRow() const
{
    tagKvJobRow job;
    job.file = source.toStdWString();
    job.duration = Length();
    job.start = start;
    job.end = end;
    job.syncAudio = syncAudio;
    job.volume = volume;
    job.speed = speed;
    job.hasAudio = hasAudio;
    job.sourceWidth = sourceWidth;
    job.sourceHeight = sourceHeight;
    job.audioStream = AudioStream();
    job.track = splitTrack;
    return job;
}

const QString& KvQueueModel::StateReady()
{
    static const QString text = QStringLiteral("Ready");
    return text;
}

const QString& KvQueueModel::StateFinish()
{
    static const QString text = QStringLiteral("Finish");
    return text;
}

const QString& KvQueueModel::StateFinishShort()
{
    static const QString text = QStringLiteral("Finish \u26A0");
    return text;
}

const QString& KvQueueModel::StateFailed()
{
    static const QString text = QStringLiteral("Failed");
    return text;
}

const QString& KvQueueModel::StateMeasuring()
{
    static const QString text = QStringLiteral("Measuring");
    return text;
}

QString KvQueueModel::ProgressText(double percent)
{
    return FromC(FormatDoubleAs("%3.3lf", percent)) + u'%';
}

QString KvQueueModel::StateText(KvRowState state, double percent)
{
    switch (state) {
    case KvRowState::Ready: return StateReady();
    case KvRowState::Running: return ProgressText(percent);
    case KvRowState::Finished: return StateFinish();
    case KvRowState::FinishedShort: return StateFinishShort();
    case KvRowState::Failed: return StateFailed();
    case KvRowState::Measuring: return StateMeasuring();
    }
    return StateReady();
}

QString KvQueueModel::ColumnHeader(int column)
{
    return column >= 0 && column < kMediaColumnCount ? QString::fromLatin1(kHeaders[column]) : QString();
}

QString KvQueueModel::CheckCellValue(int column, const QString& text, double start, double end, double duration)
{
    const QString header = ColumnHeader(column);
    // A plain decimal number written the C way: no exponent, no hexadecimal, no
    // thousands separator, so what the user sees is what the job gets.
    static const QRegularExpression plain(QStringLiteral("^[+-]?(\\d+(\\.\\d*)?|\\.\\d+)$"));
    double value = 0;
    if (!plain.match(text).hasMatch() || !TryParseDouble(text.toStdString(), value)) {
        QString fixed = text;
        fixed.replace(u',', u'.');
        if (text.contains(u',') && plain.match(fixed).hasMatch())
            return QStringLiteral("%1: \"%2\" is not a number here: write it with a dot, as %3.").arg(header, text, fixed);
        if (text.isEmpty())
            return QStringLiteral("%1 needs a number.").arg(header);
        return QStringLiteral("%1: \"%2\" is not a number.").arg(header, text);
    }
    switch (column) {
    case kColStart:
        if (value < 0 || value >= end)
            return QStringLiteral("Start must be from 0 up to End (%1).").arg(Seconds(end));
        break;
    case kColEnd:
        if (value <= start || value > duration)
            return QStringLiteral("End must be after Start (%1) and at most the length of the file (%2).")
                .arg(Seconds(start), Seconds(duration));
        break;
    case kColSyncAudio:
        if (std::abs(value) > duration)
            return QStringLiteral("Sync Audio must be between -%1 and %1 seconds (the length of the file).")
                .arg(Seconds(duration));
        break;
    case kColVolume:
        if (value < 0 || value > kMaxVolume)
            return QStringLiteral("Volume must be from 0 (silent) to %1; 1 keeps the sound as it is.")
                .arg(Number(kMaxVolume));
        break;
    case kColSpeed:
        if (value < kMinSpeed || value > kMaxSpeed)
            return QStringLiteral("Speed must be from %1 to %2; 1 keeps the sound as it is.")
                .arg(Number(kMinSpeed), Number(kMaxSpeed));
        break;
    default:
        break;
    }
    return QString();
}

KvQueueItem KvQueueModel::NewItem(const QString& source, double declaredLength, bool hasVideo, int width, int height,
                                  std::vector<KvTrackChoice> tracks)
{
    KvQueueItem item;
    item.source = source;
    item.declaredLength = declaredLength;
    item.end = item.Length();
    item.hasVideo = hasVideo;
    item.hasAudio = true;
    item.sourceWidth = width;
    item.sourceHeight = height;
    item.newWidth = item.cropW = width;
    item.newHeight = item.cropH = height;
    item.tracks = std::move(tracks);
    return item;
}

qint64 KvQueueModel::Serial(int row) const
{
    return Valid(row) ? m_rows[size_t(row)].serial : -1;
}

int KvQueueModel::FindSerial(qint64 serial) const
{
    const auto found =
        std::find_if(m_rows.begin(), m_rows.end(), [serial](const Row& row) { return row.serial == serial; });
    return found == m_rows.end() ? -1 : int(found - m_rows.begin());
}

void KvQueueModel::Changed(int row)
{
    if (m_listener)
        m_listener(row);
}

int KvQueueModel::Add(KvQueueItem item)
{
    return Insert(Count(), std::move(item));
}

int KvQueueModel::Insert(int at, KvQueueItem item)
{
    at = std::clamp(at, 0, Count());
    Row row;
    row.serial = m_nextSerial++;
    row.item = std::move(item);
    m_rows.insert(m_rows.begin() + at, std::move(row));
    // Rows after it moved: every one changed.
    Changed(at == Count() - 1 ? at : -1);
    return at;
}

bool KvQueueModel::Remove(int row)
{
    if (!Valid(row))
        return false;
    m_rows.erase(m_rows.begin() + row);
    Changed(-1);
    return true;
}

void KvQueueModel::Clear()
{
    m_rows.clear();
    Changed(-1);
}

bool KvQueueModel::MoveUp(int row)
{
    if (!Valid(row) || row == 0)
        return false;
    std::swap(m_rows[size_t(row)], m_rows[size_t(row - 1)]);
    Changed(-1);
    return true;
}

bool KvQueueModel::MoveDown(int row)
{
    if (!Valid(row) || row + 1 >= Count())
        return false;
    std::swap(m_rows[size_t(row)], m_rows[size_t(row + 1)]);
    Changed(-1);
    return true;
}

QString KvQueueModel::CellText(int column, int row) const
{
    if (!Valid(row))
        return QString();
    const Row& held = m_rows[size_t(row)];
    const KvQueueItem& item = held.item;
    if (column >= 0 && column < kMediaColumnCount && held.written[size_t(column)])
        return *held.written[size_t(column)];
    switch (column) {
    case kColFile:
        // A track says which of its file it is: "…/album.flac · 03 Title".
        if (item.splitTrack) {
            const int number = QString::fromStdWString(item.splitTrack->track).section(u'/', 0, 0).toInt();
            return item.source + QStringLiteral(" · %1 %2").arg(number, 2, 10, QLatin1Char('0'))
                .arg(QString::fromStdWString(item.splitTrack->title));
        }
        return item.source;
    case kColState: return StateText(item.state, item.percent);
    case kColDuration: return Seconds(item.Length());
    case kColStart:
    case kColEnd:
    case kColSyncAudio:
    case kColVolume:
    case kColSpeed: return Seconds(*NumberOf(const_cast<KvQueueItem&>(item), column));
    case kColNewWidth:
    case kColNewHeight:
    case kColCropX:
    case kColCropY:
    case kColCropW:
    case kColCropH: return Number(*NumberOf(const_cast<KvQueueItem&>(item), column));
    case kColHasVideo: return item.hasVideo ? QStringLiteral("1") : QStringLiteral("0");
    case kColHasAudio: return item.hasAudio ? QStringLiteral("1") : QStringLiteral("0");
    case kColSourceW: return QString::number(item.sourceWidth);
    case kColSourceH: return QString::number(item.sourceHeight);
    case kColTrack:
        return item.tracks.size() > 1 && item.track >= 0 && item.track < int(item.tracks.size())
                   ? item.tracks[size_t(item.track)].label
                   : QString();
    default: return QString();
    }
}

QString KvQueueModel::Edit(int column, int row, const QString& text)
{
    if (!Valid(row))
        return QStringLiteral("There is no such row.");
    Row& held = m_rows[size_t(row)];
    KvQueueItem& item = held.item;
    double* value = NumberOf(item, column);
    if (!value)
        return QStringLiteral("%1 cannot be edited.").arg(ColumnHeader(column));
    const QString typed = text.trimmed();
    const QString problem = CheckCellValue(column, typed, item.start, item.end, item.Length());
    if (!problem.isEmpty())
        return problem;
    TryParseDouble(typed.toStdString(), *value);
    held.written[size_t(column)] = typed;
    item.state = KvRowState::Ready;
    item.percent = 0.0;
    item.reason.clear();
    Changed(row);
    return QString();
}

bool KvQueueModel::ChooseTrack(int row, const QString& label)
{
    if (!Valid(row))
        return false;
    KvQueueItem& item = m_rows[size_t(row)].item;
    const auto found = std::find_if(item.tracks.begin(), item.tracks.end(),
                                    [&label](const KvTrackChoice& track) { return track.label == label; });
    if (found == item.tracks.end())
        return false;
    item.track = int(found - item.tracks.begin());
    item.state = KvRowState::Ready;
    item.percent = 0.0;
    item.reason.clear();
    Changed(row);
    return true;
}

void KvQueueModel::SetState(int row, KvRowState state, double percent)
{
    if (!Valid(row))
        return;
    KvQueueItem& item = m_rows[size_t(row)].item;
    item.state = state;
    item.percent = std::clamp(percent, 0.0, 100.0);
    Changed(row);
}

void KvQueueModel::SetReason(int row, const QString& reason)
{
    if (!Valid(row))
        return;
    m_rows[size_t(row)].item.reason = reason;
    Changed(row);
}

void KvQueueModel::SetOutput(int row, const QString& path)
{
    if (Valid(row))
        m_rows[size_t(row)].item.output = path;
}

void KvQueueModel::SetMeasuredLength(int row, double seconds)
{
    if (!Valid(row) || !(seconds > 0.0) || !std::isfinite(seconds))
        return;
    Row& held = m_rows[size_t(row)];
    KvQueueItem& item = held.item;
    const double before = item.Length();
    if (Shown(seconds) == before)
        return;
    const bool endAtLength = item.end == before;
    item.measuredLength = seconds;
    if (endAtLength || item.end > item.Length()) {
        item.end = item.Length();
        held.written[kColEnd].reset();
    }
    Changed(row);
}

void KvQueueModel::ResetAllToReady()
{
    for (Row& row : m_rows) {
        row.item.state = KvRowState::Ready;
        row.item.percent = 0.0;
        row.item.reason.clear();
    }
    Changed(-1);
}

} // namespace velmora
