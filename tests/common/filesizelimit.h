#pragma once

#include <algorithm>
#include <csignal>
#include <sys/resource.h>

// A full disk without privileges: while it lives, no file of this process (nor of a child
// started meanwhile, which inherits it) may grow beyond `bytes`; a write past that fails with
// EFBIG as one on a full disk fails with ENOSPC. SIGXFSZ is ignored, so the writer is told
// instead of killed. Only the soft limit is lowered, so it is raised again at the end.
class FileSizeLimit
{
public:
    explicit FileSizeLimit(rlim_t bytes)
    {
        m_oldHandler = std::signal(SIGXFSZ, SIG_IGN);
        if (::getrlimit(RLIMIT_FSIZE, &m_old) != 0)
            return;
        rlimit limit = m_old;
        limit.rlim_cur = m_old.rlim_max == RLIM_INFINITY ? bytes : std::min(bytes, m_old.rlim_max);
        m_active = ::setrlimit(RLIMIT_FSIZE, &limit) == 0;
    }
    ~FileSizeLimit()
    {
        if (m_active)
            ::setrlimit(RLIMIT_FSIZE, &m_old);
        std::signal(SIGXFSZ, m_oldHandler);
    }
    FileSizeLimit(const FileSizeLimit &) = delete;
    FileSizeLimit &operator=(const FileSizeLimit &) = delete;

    bool active() const { return m_active; }

private:
    rlimit m_old {};
    bool m_active = false;
    void (*m_oldHandler)(int) = SIG_DFL;
};
