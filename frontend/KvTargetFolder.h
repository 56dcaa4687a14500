#pragma once

// The checks a Render makes on its target folder before any engine starts, so a
// folder that cannot take the outputs is refused with one message that says why,
// instead of every row starting an engine that fails and uses up an output number.
// No widgets: the queue asks, the window shows the answer.

#include "common/KvOptionRecord.h"

#include <QString>
#include <QtGlobal>

namespace velmora {

// The audio bit rate, in bits per second, that the engine writes for record: the
// MP3 rate brought to what the sample rate allows, the bit rate of the chosen Windows
// Media format, or about what one of the other formats gives; 0 when it cannot be
// told (Original, or a record that names no format that can be written).
int OutputBitrate(const tagKvOptionRecord& record);

// About how many bytes an output of seconds takes at record's bit rate, with room
// for the file's headers.
qint64 EstimateOutputBytes(double seconds, const tagKvOptionRecord& record);

// Why folder cannot take an output of neededBytes (empty when it can): it does not
// exist, is not a folder, refuses a new file (a read-only disk, missing rights; found
// by creating and removing a hidden file, which also catches what permission bits do
// not tell, such as a read-only mount seen by root), or has less free room than
// neededBytes. freeBytes < 0 asks the file system; tests give their own figure.
QString CheckTargetFolder(const QString& folder, qint64 neededBytes, qint64 freeBytes = -1);

// "1.5 MB" and the like, for messages.
QString FormatBytes(qint64 bytes);

} // namespace velmora
