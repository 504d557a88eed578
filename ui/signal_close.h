#pragma once

#include <QObject>

#include <array>
#include <csignal>
#include <functional>

#include "base/result.h"

class QSocketNotifier;
class QWidget;

// SIGTERM, SIGINT and SIGHUP (a log-out, kill, Ctrl+C in a terminal) close the program
// the way its exit button does, so that a recording is finished and a changed tuning
// kept. The handler only writes the signal's number into a pipe; the event loop reads
// it and asks for the close there, where the toolkit may be called.
namespace morvane {

class SignalClose : public QObject {
    Q_OBJECT
public:
    // requestClose runs in the event loop once for every batch of signals that arrives,
    // also while a close is already under way: it has to take a repeated request.
    explicit SignalClose(std::function<void()> requestClose, QObject* parent = nullptr);
    // Gives the signals back to the handlers they had before.
    ~SignalClose() override;

    // Catches the signals from now on. Only one SignalClose may be installed at a time.
    [[nodiscard]] Status Install();

    // Once the window has closed, a late signal must not cut short the rest of the end
    // (the device released, the instance's lock removed): the signals are ignored for the
    // rest of the process, also after this object is gone.
    void IgnoreFromNow();

private:
    void ReadSignals();

    std::function<void()> requestClose_;
    std::array<int, 2> pipe_{-1, -1};
    QSocketNotifier* notifier_ = nullptr;
    std::array<struct sigaction, 3> previous_{};
    bool installed_ = false;
};

// What a close signal does to the main window: boxes that wait for an answer are
// dismissed, since they would keep the program running after the window has closed,
// and the window is asked to close as its exit button does.
void CloseOnSignal(QWidget& window);

} // namespace morvane
