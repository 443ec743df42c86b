#include "OrlaStopSignals.h"

#include "VHLog.h"

#include <QSocketNotifier>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {
// The write end the handler uses; -1 while no object listens.
std::atomic<int> g_signalWriteFd{-1};
} // namespace

OrlaStopSignals::OrlaStopSignals(QObject *parent) : QObject(parent)
{
    int fds[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, fds) != 0) {
        vhWarning() << "no pipe for termination signals:" << strerror(errno);
        return;
    }
    m_readEnd.reset(fds[0]);
    m_writeEnd.reset(fds[1]);
    int expected = -1;
    if (!g_signalWriteFd.compare_exchange_strong(expected, m_writeEnd.get())) {
        vhWarning() << "termination signals are already watched";
        return;
    }
    struct sigaction action = {};
    action.sa_handler = &OrlaStopSignals::handleSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    ::sigaction(SIGTERM, &action, &m_previousTerm);
    ::sigaction(SIGINT, &action, &m_previousInt);
    m_notifier = new QSocketNotifier(m_readEnd.get(), QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &OrlaStopSignals::readPending);
}

OrlaStopSignals::~OrlaStopSignals()
{
    if (!m_notifier)
        return;
    ::sigaction(SIGTERM, &m_previousTerm, nullptr);
    ::sigaction(SIGINT, &m_previousInt, nullptr);
    g_signalWriteFd.store(-1);
}

void OrlaStopSignals::handleSignal(int signalNumber)
{
    const int savedErrno = errno;
    const int fd = g_signalWriteFd.load();
    if (fd >= 0) {
        const char byte = char(signalNumber);
        [[maybe_unused]] const ssize_t written = ::write(fd, &byte, 1);
    }
    errno = savedErrno;
}

void OrlaStopSignals::readPending()
{
    char bytes[16];
    ssize_t count;
    while ((count = ::read(m_readEnd.get(), bytes, sizeof bytes)) > 0) {
        for (ssize_t i = 0; i < count; ++i) {
            vhDebug() << "termination signal" << int(bytes[i]);
            emit stopRequested(int(bytes[i]));
        }
    }
}
