#include "frontend/KvEngineLogReader.h"

#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QStringList>

namespace velmora {

qint64 EngineLogSize(const std::string& logPath)
{
    return QFileInfo(QString::fromStdString(logPath)).size();
}

QString EngineLogReason(const std::string& logPath, qint64 offset)
{
    QFile log(QString::fromStdString(logPath));
    if (!log.open(QIODevice::ReadOnly))
        return QString();
    if (log.size() > offset)
        log.seek(offset);
    const QStringList lines = QString::fromUtf8(log.readAll()).split(u'\n', Qt::SkipEmptyParts);
    for (auto it = lines.crbegin(); it != lines.crend(); ++it) {
        QString line = it->trimmed();
        // The log's own stamp and program name mean nothing to the user.
        static const QRegularExpression stamp(QStringLiteral("^\\d{4}-\\d\\d-\\d\\dT\\S*\\s+(kvengine:\\s*)?"));
        line.remove(stamp);
        if (!line.isEmpty())
            return line;
    }
    return QString();
}

} // namespace velmora
