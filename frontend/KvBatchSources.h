#pragma once

// The sources of a big batch on the command line: where each file sits relative to
// what was given, lists of files from other programs, and the share of one machine
// when several convert one library into one folder.
//
// A file's relative path ("key") is its path under the folder given that it was found
// in ("Live/01 Intro.flac"), a relative path given as it is ("./a/b.mp3" as "a/b.mp3"),
// else the absolute path. The key is what --keep-tree mirrors into the target folder
// and what --shard hashes: it is the same on every machine that mounts the library
// elsewhere, as long as each is given the library's folder.
//
// Qt Core only.

#include <QString>
#include <QStringList>

#include <cstdint>
#include <vector>

class QIODevice;

namespace velmora {

struct KvBatchFile
{
    QString path;      // absolute
    QString key;       // relative path, "/"-separated; absolute when there is none
    QString subfolder; // the key's folders, cleaned for the target: "" or "a/b/"
    int number = 0;    // 1-based place among all files in key order (NumberInKeyOrder)
};

struct KvBatchSources
{
    std::vector<KvBatchFile> files;
    QStringList leftOut; // files in the folders without a media extension
};

// The files paths name, as CollectMediaFiles finds them (same order, same walk), each
// with its key.
KvBatchSources CollectBatchFiles(const QStringList& paths);

// The sub-folders of the target a file with this key goes into when the tree is kept:
// the key's folders, each cleaned (KvOutputNamePattern::CleanFolderName), "" or "a/b/";
// "" for an absolute key.
QString TargetSubfolder(const QString& key);

// The paths a list holds: one per line ("\r\n" too), or separated by NUL bytes when
// nul (the output of "find -print0"); empty entries are passed over. Names are taken
// as the file system's bytes. False and error when the list cannot be read.
bool ReadPathList(QIODevice& list, bool nul, QStringList& paths, QString& error);

// A hash of a key that is the same on every machine and every run (the first 64 bits
// of its UTF-8's SHA-1).
std::uint64_t StableKeyHash(const QString& key);

// Gives every file its number: its place among them all sorted by key (folder by
// folder, each name as the letters compare ignoring case first), then by path.
void NumberInKeyOrder(std::vector<KvBatchFile>& files);

// Of files, those whose key hashes to shard modulo count, in the order given.
std::vector<KvBatchFile> TakeShard(const std::vector<KvBatchFile>& files, int shard, int count);

} // namespace velmora
