#include "frontend/KvQueueReport.h"

#include <QFileInfo>
#include <QStringList>

namespace velmora {

namespace KvFailureReason {

QString NothingToConvert()
{
    return QStringLiteral("nothing to convert: End must be after Start");
}

QString ProfileNotSaved()
{
    return QStringLiteral("the Windows Media settings could not be saved");
}

QString JobFilesNotWritten()
{
    return QStringLiteral("Velmora cannot write its work files");
}

QString PathTooLong()
{
    return QStringLiteral("the output path is too long");
}

QString EngineNotStarted()
{
    return QStringLiteral("the conversion program could not be started");
}

QString EngineStopped()
{
    return QStringLiteral("the conversion program stopped before it finished");
}

QString ConversionFailed()
{
    return QStringLiteral("the conversion failed");
}

QString NoOutput()
{
    return QStringLiteral("no output file was written");
}

QString DiskFull()
{
    return QStringLiteral("the disk is full");
}

QString FolderNotWritable()
{
    return QStringLiteral("the target folder cannot be written");
}

} // namespace KvFailureReason

QString ShortFailureReason(const QString& engineLine)
{
    const auto has = [&engineLine](const char* text) {
        return engineLine.contains(QLatin1String(text), Qt::CaseInsensitive);
    };
    if (has("No space left") || has("quota"))
        return KvFailureReason::DiskFull();
    if (has("Permission denied") || has("Read-only file system") || has("cannot write")
        || has("cannot rename"))
        return KvFailureReason::FolderNotWritable();
    return KvFailureReason::ConversionFailed();
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
