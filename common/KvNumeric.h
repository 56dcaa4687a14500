#pragma once

// Checked conversions from the doubles that times arrive in (project values, stream
// stamps) to the integers that frame counts, stream positions and byte sizes need.
// A double that is not finite or lies outside the target type has no integer value:
// casting it is undefined, so every such conversion goes through here.

#include <cmath>
#include <cstdint>

namespace velmora {

// The longest time, in seconds and in either direction, that a reader seeks to or
// the pipeline streams: about 31 years. Far beyond any real media, yet small enough
// that seconds × any sample rate × 4 bytes still fits a 64-bit integer.
inline constexpr double kKvMaxMediaSeconds = 1e9;

// seconds is finite and within ±kKvMaxMediaSeconds.
inline bool IsUsableSeconds(double seconds)
{
    return std::isfinite(seconds) && std::fabs(seconds) <= kKvMaxMediaSeconds;
}

// value truncated toward zero, when it is finite and the result fits; false (out
// untouched) otherwise.
inline bool TruncateToInt64(double value, std::int64_t& out)
{
    // 2^63 is exact as a double; every double below it converts without overflow.
    constexpr double kLimit = 9223372036854775808.0;
    if (!std::isfinite(value) || value >= kLimit || value < -kLimit)
        return false;
    out = static_cast<std::int64_t>(value);
    return true;
}

// The same, rounded to the nearest integer (halves away from zero).
inline bool RoundToInt64(double value, std::int64_t& out)
{
    return std::isfinite(value) && TruncateToInt64(std::round(value), out);
}

// value truncated toward zero and held inside the int64 range; 0 for NaN. For counts
// and indices worked out from a file's own stamps and rates, where a crafted file
// must still get some answer rather than an undefined one.
inline std::int64_t SaturateToInt64(double value)
{
    if (std::isnan(value))
        return 0;
    if (value >= 9223372036854775807.0)
        return INT64_MAX;
    if (value <= -9223372036854775808.0)
        return INT64_MIN;
    return static_cast<std::int64_t>(value);
}

} // namespace velmora
