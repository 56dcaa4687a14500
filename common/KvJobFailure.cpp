#include "common/KvJobFailure.h"

#include <cerrno>

namespace velmora {

KvJobFailure FailureOfOutputError(int error, KvJobFailure otherwise)
{
    switch (error < 0 ? -error : error) {
    case ENOSPC:
    case EDQUOT:
    case EFBIG:
        return KvJobFailure::DiskFull;
    case EACCES:
    case EPERM:
    case EROFS:
        return KvJobFailure::FolderNotWritable;
    default:
        return otherwise;
    }
}

KvJobFailure JobFailureFromCode(std::int32_t code)
{
    if (code == 0)
        return KvJobFailure::None;
    if (code < 0 || code > static_cast<std::int32_t>(KvJobFailure::OutputUnplayable))
        return KvJobFailure::Internal;
    return static_cast<KvJobFailure>(code);
}

std::string_view JobFailureName(KvJobFailure failure)
{
    switch (failure) {
    case KvJobFailure::None: return "none";
    case KvJobFailure::DiskFull: return "disk-full";
    case KvJobFailure::FolderNotWritable: return "folder-not-writable";
    case KvJobFailure::SourceUnreadable: return "source-unreadable";
    case KvJobFailure::NotDecodable: return "not-decodable";
    case KvJobFailure::SourceEndedEarly: return "source-ended-early";
    case KvJobFailure::SettingsRefused: return "settings-refused";
    case KvJobFailure::Stopped: return "stopped";
    case KvJobFailure::Internal: return "internal";
    case KvJobFailure::OutputUnplayable: return "output-unplayable";
    }
    return "internal";
}

} // namespace velmora
