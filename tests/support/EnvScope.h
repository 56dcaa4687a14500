#pragma once

#include <optional>
#include <string>

namespace velmora::test {

// Sets an environment variable (or, given nullopt, removes it) for the life of the
// object, then puts back what was there.
class EnvScope
{
public:
    EnvScope(const char* name, std::optional<std::string> value);
    ~EnvScope();
    EnvScope(const EnvScope&) = delete;
    EnvScope& operator=(const EnvScope&) = delete;

private:
    const char* m_name;
    std::optional<std::string> m_old;
};

} // namespace velmora::test
