#include "frontend/KvConvertedManifest.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace velmora {

namespace {

QString ErrnoText(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

bool WriteAll(int fd, const QByteArray& bytes)
{
    const char* data = bytes.constData();
    qsizetype left = bytes.size();
    while (left > 0) {
        const ssize_t written = ::write(fd, data, size_t(left));
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return false;
        data += written;
        left -= written;
    }
    return true;
}

} // namespace

bool KvSourceStamp::Read(const QString& sourcePath)
{
    path = sourcePath;
    struct stat info{};
    if (::stat(QFile::encodeName(sourcePath).constData(), &info) != 0)
        return false;
    size = qint64(info.st_size);
    mtimeNs = qint64(info.st_mtim.tv_sec) * 1000000000 + info.st_mtim.tv_nsec;
    return true;
}

KvConvertedManifest::KvConvertedManifest(const QString& folder)
{
    const QString clean = QDir::cleanPath(folder);
    m_folder = clean.endsWith(u'/') ? clean : clean + u'/';
    m_path = m_folder + QLatin1String(kFileName);
}

QByteArray KvConvertedManifest::Line(const KvManifestEntry& entry)
{
    QJsonObject object;
    object.insert(QStringLiteral("source"), entry.source.path);
    object.insert(QStringLiteral("size"), entry.source.size);
    object.insert(QStringLiteral("mtime_ns"), entry.source.mtimeNs);
    object.insert(QStringLiteral("settings"), entry.settings);
    object.insert(QStringLiteral("output"), entry.output);
    object.insert(QStringLiteral("output_size"), entry.outputSize);
    object.insert(QStringLiteral("state"), entry.state);
    object.insert(QStringLiteral("reason"), entry.reason);
    object.insert(QStringLiteral("time"), entry.time);
    return QJsonDocument(object).toJson(QJsonDocument::Compact) + '\n';
}

bool KvConvertedManifest::ParseLine(const QByteArray& line, KvManifestEntry& entry)
{
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(line, &error);
    if (error.error != QJsonParseError::NoError || !document.isObject())
        return false;
    const QJsonObject object = document.object();
    const QJsonValue source = object.value(QStringLiteral("source"));
    const QJsonValue output = object.value(QStringLiteral("output"));
    const QJsonValue state = object.value(QStringLiteral("state"));
    if (!source.isString() || !output.isString() || !state.isString())
        return false;
    entry.source.path = source.toString();
    entry.source.size = object.value(QStringLiteral("size")).toInteger(-1);
    entry.source.mtimeNs = object.value(QStringLiteral("mtime_ns")).toInteger(0);
    entry.settings = object.value(QStringLiteral("settings")).toObject();
    entry.output = output.toString();
    entry.outputSize = object.value(QStringLiteral("output_size")).toInteger(-1);
    entry.state = state.toString();
    entry.reason = object.value(QStringLiteral("reason")).toString();
    entry.time = object.value(QStringLiteral("time")).toString();
    return true;
}

bool KvConvertedManifest::Load(QString* error)
{
    Parse(QByteArray());
    QFile file(m_path);
    if (!file.exists())
        return true;
    if (!file.open(QIODevice::ReadOnly)) {
        if (error)
            *error = QStringLiteral("%1 cannot be read: %2").arg(m_path, file.errorString());
        return false;
    }
    Parse(file.readAll());
    return true;
}

void KvConvertedManifest::Parse(const QByteArray& bytes)
{
    m_entries.clear();
    m_bySource.clear();
    for (const QByteArray& line : bytes.split('\n')) {
        KvManifestEntry entry;
        if (!line.trimmed().isEmpty() && ParseLine(line, entry))
            Keep(std::move(entry));
    }
}

void KvConvertedManifest::Keep(KvManifestEntry entry)
{
    m_bySource[entry.source.path].push_back(m_entries.size());
    m_entries.push_back(std::move(entry));
}

QString KvConvertedManifest::FindConverted(const KvSourceStamp& source, const QJsonObject& settings,
                                           const QString& subfolder) const
{
    const auto found = m_bySource.constFind(source.path);
    if (found == m_bySource.cend())
        return QString();
    // The latest line that fits decides: a source converted twice keeps its last output.
    for (auto index = found->rbegin(); index != found->rend(); ++index) {
        const KvManifestEntry* entry = &m_entries[*index];
        if (entry->state != QLatin1String(KvManifestEntry::kDone) && entry->state != QLatin1String(KvManifestEntry::kShort))
            continue;
        if (entry->source.path != source.path || entry->source.size != source.size
            || entry->source.mtimeNs != source.mtimeNs || entry->settings != settings)
            continue;
        // Only a file inside the folder counts, whatever a line says.
        const int slash = entry->output.lastIndexOf(u'/');
        if (entry->output.left(slash + 1) != subfolder || entry->output.isEmpty()
            || entry->output.split(u'/').contains(QStringLiteral("..")))
            continue;
        // An output that went, or was written over since, is converted again.
        const QFileInfo output(m_folder + entry->output);
        if (output.isFile() && output.size() == entry->outputSize)
            return output.filePath();
    }
    return QString();
}

bool KvConvertedManifest::Append(const KvManifestEntry& given, QString* error)
{
    KvManifestEntry entry = given;
    if (entry.time.isEmpty())
        entry.time = QDateTime::currentDateTimeUtc().toString(Qt::ISODate);
    const QByteArray line = Line(entry);

    const auto fail = [&](int code) {
        if (error)
            *error = QStringLiteral("%1 cannot be written: %2").arg(m_path, ErrnoText(code));
        return false;
    };
    const int fd = ::open(QFile::encodeName(m_path).constData(), O_RDWR | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0)
        return fail(errno);
    struct flock lock{};
    lock.l_type = F_WRLCK;
    lock.l_whence = SEEK_SET; // the whole file, however long it grows
    int result;
    while ((result = ::fcntl(fd, F_SETLKW, &lock)) != 0 && errno == EINTR) {
    }
    bool written = result == 0;
    int code = written ? 0 : errno;
    if (written) {
        // A writer that died mid-line left it torn: end it, so this line stands alone.
        struct stat info{};
        char last = '\n';
        if (::fstat(fd, &info) == 0 && info.st_size > 0 && ::pread(fd, &last, 1, info.st_size - 1) != 1)
            last = '\n';
        written = (last == '\n' || WriteAll(fd, QByteArrayLiteral("\n"))) && WriteAll(fd, line) && ::fdatasync(fd) == 0;
        if (!written)
            code = errno;
        lock.l_type = F_UNLCK;
        ::fcntl(fd, F_SETLK, &lock);
    }
    ::close(fd);
    if (!written)
        return fail(code != 0 ? code : EIO);
    Keep(std::move(entry));
    return true;
}

} // namespace velmora
