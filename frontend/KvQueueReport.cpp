#include "frontend/KvQueueReport.h"

#include <QFileInfo>
#include <QStringList>

namespace velmora {

QString FailureReason(KvFailure failure)
{
    switch (failure) {
    case KvFailure::NothingToConvert: return QStringLiteral("nothing to convert: End must be after Start");
    case KvFailure::ProfileNotSaved: return QStringLiteral("the Windows Media settings could not be saved");
    case KvFailure::JobFilesNotWritten: return QStringLiteral("Velmora cannot write its work files");
    case KvFailure::PathTooLong: return QStringLiteral("the output path is too long");
    case KvFailure::EngineNotStarted: return QStringLiteral("the conversion program could not be started");
    case KvFailure::EngineStopped: return QStringLiteral("the conversion program stopped before it finished");
    case KvFailure::ConversionFailed: return QStringLiteral("the conversion failed");
    case KvFailure::NoOutput: return QStringLiteral("no output file was written");
    case KvFailure::DiskFull: return QStringLiteral("the disk is full");
    case KvFailure::FolderNotWritable: return QStringLiteral("the target folder cannot be written");
    case KvFailure::NotDecodable: return QStringLiteral("the sound track cannot be decoded");
    case KvFailure::OutputUnplayable: return QStringLiteral("the written file does not play back in full");
    case KvFailure::SourceUnreadable: return QStringLiteral("the source cannot be read");
    case KvFailure::NoSoundInTrim: return QStringLiteral("the source's sound ends before Start");
    case KvFailure::SettingsRefused: return QStringLiteral("the output settings were refused");
    }
    return QString();
}

QString EngineFailureReason(KvJobFailure failure)
{
    switch (failure) {
    case KvJobFailure::DiskFull: return FailureReason(KvFailure::DiskFull);
    case KvJobFailure::FolderNotWritable: return FailureReason(KvFailure::FolderNotWritable);
    case KvJobFailure::SourceUnreadable: return FailureReason(KvFailure::SourceUnreadable);
    case KvJobFailure::NotDecodable: return FailureReason(KvFailure::NotDecodable);
    case KvJobFailure::SourceEndedEarly: return FailureReason(KvFailure::NoSoundInTrim);
    case KvJobFailure::SettingsRefused: return FailureReason(KvFailure::SettingsRefused);
    case KvJobFailure::Stopped: return FailureReason(KvFailure::EngineStopped);
    case KvJobFailure::OutputUnplayable: return FailureReason(KvFailure::OutputUnplayable);
    case KvJobFailure::None:
    case KvJobFailure::Internal: break;
    }
    return FailureReason(KvFailure::ConversionFailed);
}

QString ShortOutputReason(double sourceEnd, double declared)
{
    return QStringLiteral("the source ends at %1 s; its header says %2 s")
        .arg(QString::number(sourceEnd, 'f', 2), QString::number(declared, 'f', 2));
}

QString FailureSummary(const std::vector<KvQueueFailure>& failures, const std::vector<KvQueueShort>& shortened)
{
    QString partly;
    if (!shortened.empty()) {
        partly = QStringLiteral("Converted only in part (the source ends before its header says):");
        for (const KvQueueShort& row : shortened)
            partly += u'\n' + QFileInfo(row.file).fileName();
    }
    if (failures.empty()) {
        if (partly.isEmpty())
            return QString();
        const QString count = shortened.size() == 1
                                  ? QStringLiteral("One file was converted only in part.")
                                  : QStringLiteral("%1 files were converted only in part.").arg(shortened.size());
        return count + QStringLiteral("\n\n") + partly + QStringLiteral("\n\nPoint at its row in the list to see more.");
    }
    QStringList reasons;
    for (const auto& failure : failures) {
        if (!reasons.contains(failure.second))
            reasons << failure.second;
    }
    QString text = failures.size() == 1 ? QStringLiteral("One file could not be converted.")
                                        : QStringLiteral("%1 files could not be converted.").arg(failures.size());
    for (const QString& reason : reasons) {
        text += QStringLiteral("\n\n") + reason.left(1).toUpper() + reason.mid(1) + u':';
        for (const auto& [file, why] : failures) {
            if (why == reason)
                text += u'\n' + QFileInfo(file).fileName();
        }
    }
    if (!partly.isEmpty())
        text += QStringLiteral("\n\n") + partly;
    return text + QStringLiteral("\n\nPoint at a failed row in the list to see more.");
}

} // namespace velmora
