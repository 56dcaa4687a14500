#include "frontend/KvFrontEndState.h"

#include <QFileInfo>
#include <QSettings>
#include <QThread>

#include <algorithm>

namespace velmora {

namespace {

constexpr const char* kSettingsFile = "skin/frontend.ini";
const QString kParallelKey = QStringLiteral("Queue/ParallelConversions");
const QString kNamePatternKey = QStringLiteral("Queue/NamePattern");
const QString kCheckOutputKey = QStringLiteral("Queue/CheckEveryOutput");
const QString kKeepFoldersKey = QStringLiteral("Queue/KeepFolderStructure");
const QString kSkipConvertedKey = QStringLiteral("Queue/SkipConverted");
const QString kSplitFilesKey = QStringLiteral("Queue/SplitFilesWithChapters");
const QString kLoudnessKey = QStringLiteral("Queue/Loudness");
const QString kLoudnessAlbumKey = QStringLiteral("Queue/LoudnessByAlbum");
const QString kSplitWords[] = {QStringLiteral("ask"), QStringLiteral("always"), QStringLiteral("never")};

} // namespace

KvFrontEndState& KvFrontEndState::Instance()
{
    static KvFrontEndState state;
    return state;
}

KvFrontEndState::KvFrontEndState()
{
    Reset(std::string());
}

void KvFrontEndState::Reset(const std::string& programFolder)
{
    m_programFolder = programFolder;
    if (!m_programFolder.empty() && m_programFolder.back() != '/')
        m_programFolder += '/';
    m_defaults = MakeFrontEndPresetTable();
    m_working = m_defaults;
    m_current = kKvDefaultPreset;
    m_outputWidth = 856;
    m_outputHeight = 480;
    m_h264 = tagKvH264Settings();
    m_parallelConversions = DefaultParallelConversions();
    m_outputNamePattern = KvOutputNamePattern();
    m_checkEveryOutput = true;
    m_keepFolderStructure = false;
    m_skipConverted = false;
    m_splitFiles = SplitFiles::Ask;
    m_loudness = Loudness();
}

int KvFrontEndState::DefaultParallelConversions()
{
    return std::clamp(QThread::idealThreadCount(), 1, kMaxParallelConversions);
}

void KvFrontEndState::SetParallelConversions(int count)
{
    m_parallelConversions = std::clamp(count, 1, kMaxParallelConversions);
}

bool KvFrontEndState::LoadFrontEndSettings()
{
    const QString path = QString::fromStdString(Path(kSettingsFile));
    if (!QFileInfo(path).isFile())
        return false;
    QSettings settings(path, QSettings::IniFormat);
    if (settings.status() != QSettings::NoError)
        return false;
    bool ok = false;
    const int parallel = settings.value(kParallelKey).toInt(&ok);
    if (ok)
        SetParallelConversions(parallel);
    // A hand-edited pattern that does not parse leaves the one in use.
    const QVariant pattern = settings.value(kNamePatternKey);
    if (pattern.isValid())
        m_outputNamePattern.Parse(pattern.toString().toStdWString());
    const QVariant check = settings.value(kCheckOutputKey);
    if (check.isValid())
        m_checkEveryOutput = check.toBool();
    m_keepFolderStructure = settings.value(kKeepFoldersKey, m_keepFolderStructure).toBool();
    m_skipConverted = settings.value(kSkipConvertedKey, m_skipConverted).toBool();
    const QString split = settings.value(kSplitFilesKey).toString();
    for (int choice = 0; choice < 3; ++choice) {
        if (split == kSplitWords[choice])
            m_splitFiles = SplitFiles(choice);
    }
    // "off", "replaygain", or the target of normalising ("-16").
    const QString loudness = settings.value(kLoudnessKey).toString();
    if (loudness == QLatin1String("off")) {
        m_loudness = Loudness();
    } else if (loudness == QLatin1String("replaygain")) {
        m_loudness = {LoudnessMode::ReplayGain, m_loudness.target, m_loudness.byAlbum};
    } else {
        for (int target : kLoudnessTargets) {
            if (loudness == QString::number(target))
                m_loudness = {LoudnessMode::Normalise, target, m_loudness.byAlbum};
        }
    }
    m_loudness.byAlbum = settings.value(kLoudnessAlbumKey, m_loudness.byAlbum).toBool();
    return true;
}

bool KvFrontEndState::SaveFrontEndSettings() const
{
    QSettings settings(QString::fromStdString(WritablePath(kSettingsFile)), QSettings::IniFormat);
    settings.setValue(kParallelKey, m_parallelConversions);
    settings.setValue(kNamePatternKey, QString::fromStdWString(m_outputNamePattern.Text()));
    settings.setValue(kCheckOutputKey, m_checkEveryOutput);
    settings.setValue(kKeepFoldersKey, m_keepFolderStructure);
    settings.setValue(kSkipConvertedKey, m_skipConverted);
    settings.setValue(kSplitFilesKey, kSplitWords[int(m_splitFiles)]);
    settings.setValue(kLoudnessKey, m_loudness.mode == LoudnessMode::Off          ? QStringLiteral("off")
                                    : m_loudness.mode == LoudnessMode::ReplayGain ? QStringLiteral("replaygain")
                                                                                  : QString::number(m_loudness.target));
    settings.setValue(kLoudnessAlbumKey, m_loudness.byAlbum);
    settings.sync();
    return settings.status() == QSettings::NoError;
}

void KvFrontEndState::SetCurrentPreset(int index)
{
    if (index >= 0 && index < kKvPresetCount)
        m_current = index;
}

void KvFrontEndState::SetOutputSize(int width, int height)
{
    m_outputWidth = width;
    m_outputHeight = height;
}

bool KvFrontEndState::LoadH264()
{
    return LoadH264Settings(m_programFolder, m_h264);
}

bool KvFrontEndState::SaveH264() const
{
    return SaveH264Settings(m_programFolder, m_h264);
}

} // namespace velmora
