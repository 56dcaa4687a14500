#pragma once

// What a target folder holds already: the manifest that lets a run skip the sources it
// converted before ("velmora --render --skip-existing", Skip Files Already Converted).
//
// One JSON object per line in FOLDER/.velmora-manifest.jsonl, one line per row that
// ended:
//   {"source": "/music/a.flac", "size": 1234, "mtime_ns": 1765339812123456789,
//    "settings": {...}, "output": "sub/(output001)a.opus", "output_size": 99,
//    "state": "done"|"short"|"failed", "reason": "", "time": "2026-12-10T04:30:12Z"}
// "output" is relative to the folder, so the manifest holds wherever the folder is
// mounted (machines sharing it over a network file system).
//
// The file is only ever appended to, a whole line at a time under a POSIX record lock
// (which network file systems honour as well), and a line is flushed to the disk
// before the lock goes. Runs at once, on one machine or several, therefore never mix
// their lines; a crash or a kill mid-write can leave at most a torn last line, which
// reading passes over and the next writer ends before adding its own.
//
// Qt Core only.

#include <QHash>
#include <QJsonObject>
#include <QString>

#include <vector>

namespace velmora {

// The identity of a source file: its path as given, size and modification time.
struct KvSourceStamp
{
    QString path;
    qint64 size = -1;
    qint64 mtimeNs = 0;

    // False when path cannot be looked at.
    bool Read(const QString& sourcePath);
};

struct KvManifestEntry
{
    KvSourceStamp source;
    QJsonObject settings;
    QString output; // relative to the folder
    qint64 outputSize = -1;
    QString state;  // kDone, kShort or kFailed
    QString reason;
    QString time;   // ISO 8601, UTC

    static constexpr const char* kDone = "done";
    static constexpr const char* kShort = "short";
    static constexpr const char* kFailed = "failed";
};

class KvConvertedManifest
{
public:
    static constexpr const char* kFileName = ".velmora-manifest.jsonl";

    // folder: the target folder.
    explicit KvConvertedManifest(const QString& folder);

    QString Path() const { return m_path; }
    QString Folder() const { return m_folder; }

    // Reads what the manifest holds now; a missing manifest holds nothing. Lines that
    // are not whole entries are passed over. False (and error) only when the file is
    // there and cannot be read.
    bool Load(QString* error = nullptr);
    // The same from the manifest's bytes.
    void Parse(const QByteArray& bytes);
    const std::vector<KvManifestEntry>& Entries() const { return m_entries; }

    // The output (a full path) an earlier row made whole, or cut short by its source,
    // from this very source (path, size and time) with these settings into subfolder
    // ("" or "a/b/", relative to the folder), when that output is still there with the
    // size it had; empty otherwise.
    QString FindConverted(const KvSourceStamp& source, const QJsonObject& settings, const QString& subfolder) const;

    // Appends entry as one line (and keeps it in Entries()). False and error when the
    // line could not be written whole.
    bool Append(const KvManifestEntry& entry, QString* error = nullptr);

    static QByteArray Line(const KvManifestEntry& entry);
    static bool ParseLine(const QByteArray& line, KvManifestEntry& entry);

private:
    QString m_folder; // ends in "/"
    QString m_path;
    void Keep(KvManifestEntry entry);

    std::vector<KvManifestEntry> m_entries;
    // Each source's entries, oldest first: a library's run looks every row up.
    QHash<QString, std::vector<size_t>> m_bySource;
};

} // namespace velmora
