#pragma once

#include <unistd.h>

// Owns one file descriptor and closes it on destruction.
class VHFd
{
public:
    VHFd() = default;
    explicit VHFd(int fd) : m_fd(fd) {}
    VHFd(VHFd &&other) noexcept : m_fd(other.release()) {}
    VHFd &operator=(VHFd &&other) noexcept
    {
        if (this != &other)
            reset(other.release());
        return *this;
    }
    VHFd(const VHFd &) = delete;
    VHFd &operator=(const VHFd &) = delete;
    ~VHFd() { reset(); }

    int get() const { return m_fd; }
    bool isValid() const { return m_fd >= 0; }
    int release()
    {
        const int fd = m_fd;
        m_fd = -1;
        return fd;
    }
    void reset(int fd = -1)
    {
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = fd;
    }

private:
    int m_fd = -1;
};
