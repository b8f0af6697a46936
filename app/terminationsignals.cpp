#include "terminationsignals.h"

#include <QSocketNotifier>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace
{

// The one value a signal handler may reach; set while a TerminationSignals object lives.
volatile std::sig_atomic_t g_writeEnd = -1;

void onTerminationSignal(int signalNumber)
{
    const int savedErrno = errno;
    const unsigned char byte = static_cast<unsigned char>(signalNumber);
    if (g_writeEnd >= 0)
        (void)!::write(g_writeEnd, &byte, 1);
    errno = savedErrno;
}

} // namespace

TerminationSignals::TerminationSignals(QObject *parent) : QObject(parent)
{
    if (::pipe2(m_pipe, O_CLOEXEC | O_NONBLOCK) != 0) {
        m_error = QString::fromLocal8Bit(std::strerror(errno));
        return;
    }
    g_writeEnd = m_pipe[1];
    m_notifier = new QSocketNotifier(m_pipe[0], QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &TerminationSignals::readPipe);

    struct sigaction action {
    };
    action.sa_handler = onTerminationSignal;
    sigemptyset(&action.sa_mask);
    // SA_RESETHAND: the first delivery runs the handler and restores the default action, so
    // a second signal ends the program even when the close cannot finish.
    action.sa_flags = SA_RESTART | SA_RESETHAND;
    if (::sigaction(SIGTERM, &action, nullptr) != 0 || ::sigaction(SIGINT, &action, nullptr) != 0) {
        m_error = QString::fromLocal8Bit(std::strerror(errno));
        return;
    }
    m_active = true;
}

TerminationSignals::~TerminationSignals()
{
    struct sigaction action {
    };
    action.sa_handler = SIG_DFL;
    sigemptyset(&action.sa_mask);
    ::sigaction(SIGTERM, &action, nullptr);
    ::sigaction(SIGINT, &action, nullptr);
    g_writeEnd = -1;
    for (int fd : m_pipe) {
        if (fd >= 0)
            ::close(fd);
    }
}

void TerminationSignals::readPipe()
{
    unsigned char bytes[16];
    ssize_t n;
    while ((n = ::read(m_pipe[0], bytes, sizeof bytes)) > 0) {
        for (ssize_t i = 0; i < n; ++i)
            emit closeRequested(bytes[i]);
    }
}
