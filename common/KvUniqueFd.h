#pragma once

// A file descriptor with one owner: closed when the owner lets it go (reset, another
// descriptor assigned, destruction). Moves, never copies. -1 holds nothing.

#include <unistd.h>

#include <utility>

namespace velmora {

class KvUniqueFd
{
public:
    KvUniqueFd() = default;
    explicit KvUniqueFd(int fd) : m_fd(fd) {}
    ~KvUniqueFd() { reset(); }
    KvUniqueFd(KvUniqueFd&& other) noexcept : m_fd(std::exchange(other.m_fd, -1)) {}
    KvUniqueFd& operator=(KvUniqueFd&& other) noexcept
    {
        if (this != &other)
            reset(std::exchange(other.m_fd, -1));
        return *this;
    }
    KvUniqueFd(const KvUniqueFd&) = delete;
    KvUniqueFd& operator=(const KvUniqueFd&) = delete;

    int get() const { return m_fd; }
    bool valid() const { return m_fd >= 0; }
    // Closes what is held and takes fd.
    void reset(int fd = -1)
    {
        if (m_fd >= 0)
            close(m_fd);
        m_fd = fd;
    }

private:
    int m_fd = -1;
};

} // namespace velmora
