#pragma once

#include <QObject>
#include <QString>

#include <deque>

class QMessageBox;
class QWidget;

namespace morvane {

// The error boxes of a window, shown one after another. A box runs no event loop of its
// own: whoever reports an error goes on at once, so no completion or timer ever runs
// inside another's handler. Each box is modal for the whole program, as a box that
// waited would be, and the next one comes up when it is answered.
class ErrorBoxes : public QObject {
    Q_OBJECT
public:
    explicit ErrorBoxes(QWidget* parent);

    // Shows the message now, or once the boxes before it are answered.
    void Show(const QString& caption, const QString& text);
    // Whether a box is shown or waiting.
    bool Busy() const { return shown_ != nullptr || !waiting_.empty(); }
    // Nobody will answer any more: the messages still waiting go to standard error, and
    // the box now shown opens no other when it goes.
    void SendWaitingToStandardError();

signals:
    // The last box shown has been answered, and none waits.
    void AllAnswered();

private:
    struct Message {
        QString caption;
        QString text;
    };

    void ShowNext();
    void Answered();

    QWidget* parent_;
    std::deque<Message> waiting_;
    QMessageBox* shown_ = nullptr;
};

} // namespace morvane
