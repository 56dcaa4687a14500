#include "common/KvJobBlock.h"

#include "common/KvText.h"

#include <algorithm>
#include <cstring>
#include <sys/stat.h>

namespace velmora {

bool SetJobPath(char16_t (&field)[kKvJobPathUnits], std::u16string_view path)
{
    if (path.size() > kKvJobPathMaxLength)
        return false;
    if (path.find(u'\0') != std::u16string_view::npos)
        return false;
    std::memset(field, 0, sizeof field);
    std::copy(path.begin(), path.end(), field);
    return true;
}

bool SetJobPathWide(char16_t (&field)[kKvJobPathUnits], std::wstring_view path)
{
    return SetJobPath(field, WideToUtf16(path));
}

bool SetJobPathUtf8(char16_t (&field)[kKvJobPathUnits], std::string_view path)
{
    if (!IsValidUtf8(path))
        return false;
    return SetJobPath(field, Utf8ToUtf16(path));
}

std::u16string GetJobPath(const char16_t (&field)[kKvJobPathUnits])
{
    const char16_t* end = std::find(field, field + kKvJobPathUnits, u'\0');
    return std::u16string(field, end);
}

std::wstring GetJobPathWide(const char16_t (&field)[kKvJobPathUnits])
{
    return Utf16ToWide(GetJobPath(field));
}

std::string GetJobPathUtf8(const char16_t (&field)[kKvJobPathUnits])
{
    return Utf16ToUtf8(GetJobPath(field));
}

bool IsListModeJob(const tagKvJobBlock& block)
{
    std::string path = GetJobPathUtf8(block.szListFile);
    if (path.empty())
        return false;
    struct stat st;
    return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

} // namespace velmora
