#include "frontend/KvBatchSources.h"

#include "common/KvOutputNamePattern.h"
#include "frontend/KvMediaFiles.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QIODevice>

#include <algorithm>
#include <map>
#include <numeric>

namespace velmora {

QString TargetSubfolder(const QString& key)
{
    if (QDir::isAbsolutePath(key))
        return QString();
    QStringList parts = key.split(u'/', Qt::SkipEmptyParts);
    if (parts.size() < 2)
        return QString();
    parts.removeLast();
    QString folder;
    for (const QString& part : parts)
        folder += QString::fromStdWString(KvOutputNamePattern::CleanFolderName(part.toStdWString())) + u'/';
    return folder;
}

namespace {

bool KeyBefore(const KvBatchFile& a, const KvBatchFile& b)
{
    const QStringList left = a.key.split(u'/');
    const QStringList right = b.key.split(u'/');
    for (qsizetype i = 0; i < std::min(left.size(), right.size()); ++i) {
        if (const int order = CompareFileNames(left[i], right[i]); order != 0)
            return order < 0;
    }
    if (left.size() != right.size())
        return left.size() < right.size();
    return a.path < b.path;
}

} // namespace

KvBatchSources CollectBatchFiles(const QStringList& paths)
{
    KvBatchSources sources;
    const KvDroppedFiles named = CollectNamedFiles(paths);
    for (const KvSkippedFile& skipped : named.skipped)
        sources.leftOut << skipped.path;
    // A file named itself keeps its relative name as given, where it has one that stays
    // below here (a list from "find ." holds many thousands: looked up, not searched).
    std::map<QString, QString> relativeNames;
    for (const QString& path : paths) {
        const QString relative = QDir::isRelativePath(path) ? QDir::cleanPath(path) : QString();
        if (!path.isEmpty() && !relative.isEmpty() && relative != QLatin1String("..")
            && !relative.startsWith(QLatin1String("../")))
            relativeNames.emplace(QFileInfo(path).absoluteFilePath(), relative);
    }
    for (const QString& file : named.files) {
        KvBatchFile batch;
        batch.path = file;
        batch.key = PathUnder(file, FolderFoundIn(file, named.folders));
        if (batch.key.isEmpty()) {
            const auto relative = relativeNames.find(file);
            batch.key = relative != relativeNames.end() ? relative->second : file;
        }
        batch.subfolder = TargetSubfolder(batch.key);
        sources.files.push_back(std::move(batch));
    }
    return sources;
}

bool ReadPathList(QIODevice& list, bool nul, QStringList& paths, QString& error)
{
    // A pipe blocks until its writer has written or gone: read to its end.
    const QByteArray all = list.readAll();
    if (auto* file = qobject_cast<QFileDevice*>(&list); file && file->error() != QFileDevice::NoError) {
        error = file->errorString();
        return false;
    }
    for (QByteArray entry : all.split(nul ? '\0' : '\n')) {
        if (!nul && entry.endsWith('\r'))
            entry.chop(1);
        if (!entry.isEmpty())
            paths << QFile::decodeName(entry);
    }
    return true;
}

std::uint64_t StableKeyHash(const QString& key)
{
    const QByteArray digest = QCryptographicHash::hash(key.toUtf8(), QCryptographicHash::Sha1);
    std::uint64_t value = 0;
    for (int i = 0; i < 8; ++i)
        value = value << 8 | std::uint8_t(digest[i]);
    return value;
}

void NumberInKeyOrder(std::vector<KvBatchFile>& files)
{
    std::vector<size_t> order(files.size());
    std::iota(order.begin(), order.end(), size_t(0));
    std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) { return KeyBefore(files[a], files[b]); });
    for (size_t place = 0; place < order.size(); ++place)
        files[order[place]].number = int(place) + 1;
}

std::vector<KvBatchFile> TakeShard(const std::vector<KvBatchFile>& files, int shard, int count)
{
    std::vector<KvBatchFile> taken;
    for (const KvBatchFile& file : files) {
        if (count > 0 && StableKeyHash(file.key) % std::uint64_t(count) == std::uint64_t(shard))
            taken.push_back(file);
    }
    return taken;
}

} // namespace velmora
