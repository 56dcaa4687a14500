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
    }
    return QString();
}

QString ShortFailureReason(const QString& engineLine)
{
    const auto has = [&engineLine](const char* text) {
        return engineLine.contains(QLatin1String(text), Qt::CaseInsensitive);
    };
    if (has("No space left") || has("quota"))
        return FailureReason(KvFailure::DiskFull);
    if (has("Permission denied") || has("Read-only file system") || has("cannot write")
        || has("cannot rename"))
        return FailureReason(KvFailure::FolderNotWritable);
    return FailureReason(KvFailure::ConversionFailed);
}

QString FailureSummary(const std::vector<KvQueueFailure>& failures)
{
    if (failures.empty())
        return QString();
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
    return text + QStringLiteral("\n\nPoint at a failed row in the list to see more.");
}

} // namespace velmora
