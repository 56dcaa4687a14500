#include "support/EnvScope.h"

#include <cstdlib>

namespace velmora::test {

EnvScope::EnvScope(const char* name, std::optional<std::string> value)
    : m_name(name)
{
    if (const char* old = std::getenv(name))
        m_old = old;
    if (value)
        setenv(name, value->c_str(), 1);
    else
        unsetenv(name);
}

EnvScope::~EnvScope()
{
    if (m_old)
        setenv(m_name, m_old->c_str(), 1);
    else
        unsetenv(m_name);
}

} // namespace velmora::test
