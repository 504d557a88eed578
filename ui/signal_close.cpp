#include "ui/signal_close.h"

#include <QApplication>
#include <QDialog>
#include <QSocketNotifier>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>
#include <utility>

namespace morvane {

namespace {

constexpr std::array<int, 3> kCloseSignals{SIGTERM, SIGINT, SIGHUP};

// The pipe's write end, for the handler; set before the handler is installed.
volatile std::sig_atomic_t gSignalPipe = -1;

extern "C" void WriteSignalToPipe(int signal) {
    const int savedErrno = errno;
    const auto byte = static_cast<unsigned char>(signal);
    // A full pipe already holds a close request that the event loop will read, so a
    // byte that does not fit loses nothing.
    [[maybe_unused]] const ssize_t written = write(gSignalPipe, &byte, 1);
    errno = savedErrno;
}

Error SystemError(const char* what) {
    return Error{std::string("cannot catch the close signals (") + what +
                 "): " + std::strerror(errno)};
}

} // namespace

SignalClose::SignalClose(std::function<void()> requestClose, QObject* parent)
    : QObject(parent), requestClose_(std::move(requestClose)) {}

SignalClose::~SignalClose() {
    if (installed_) {
        for (std::size_t i = 0; i < kCloseSignals.size(); ++i)
            sigaction(kCloseSignals[i], &previous_[i], nullptr);
        gSignalPipe = -1;
    }
    for (int end : pipe_)
        if (end >= 0)
            ::close(end);
}

Status SignalClose::Install() {
    if (pipe2(pipe_.data(), O_NONBLOCK | O_CLOEXEC) != 0)
        return SystemError("pipe2");
    gSignalPipe = pipe_[1];
    notifier_ = new QSocketNotifier(pipe_[0], QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, &SignalClose::ReadSignals);

    struct sigaction action {};
    action.sa_handler = WriteSignalToPipe;
    sigemptyset(&action.sa_mask);
    // Calls the signal interrupts go on instead of failing with EINTR all over.
    action.sa_flags = SA_RESTART;
    for (std::size_t i = 0; i < kCloseSignals.size(); ++i) {
        if (sigaction(kCloseSignals[i], &action, &previous_[i]) != 0) {
            const Error error = SystemError("sigaction");
            for (std::size_t done = 0; done < i; ++done)
                sigaction(kCloseSignals[done], &previous_[done], nullptr);
            return error;
        }
    }
    installed_ = true;
    return {};
}

void SignalClose::IgnoreFromNow() {
    for (int number : kCloseSignals)
        std::signal(number, SIG_IGN);
    installed_ = false;
}

void SignalClose::ReadSignals() {
    unsigned char bytes[64];
    while (read(pipe_[0], bytes, sizeof bytes) > 0) {
    }
    requestClose_();
}

void CloseOnSignal(QWidget& window) {
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        auto* dialog = qobject_cast<QDialog*>(widget);
        if (dialog && dialog->isVisible() && dialog->isModal())
            dialog->reject();
    }
    window.close();
}

} // namespace morvane
