#pragma once

#include <QLocalServer>
#include <QLockFile>
#include <QObject>
#include <QString>

#include <functional>
#include <memory>

#include "base/result.h"

class QWidget;

// Only one copy of the program runs per user. The first start holds a lock file and
// serves a local socket of the same name; a later start finds the lock taken, asks the
// first one through the socket to show its window, and ends.
namespace morvane {

inline constexpr char kInstanceName[] = "VELMORA IS ALREADY RUNNING!";

class SingleInstance : public QObject {
    Q_OBJECT
public:
    // The name is kInstanceName for the program; tests pass their own.
    explicit SingleInstance(const QString& name = QString::fromLatin1(kInstanceName),
                            QObject* parent = nullptr);
    ~SingleInstance() override;

    // True when this is the one instance: the lock is held and the socket served until
    // this object is destroyed. False when another instance runs; it has then been asked
    // to show its window (and has answered, or did not within a short wait).
    bool Claim();

    // After a refused Claim(): whether the running instance answered that it showed its
    // window (it may be hung, or still starting).
    bool RunningInstanceAnswered() const { return runningInstanceAnswered_; }

    // Called in the running instance each time a later start asks it to show itself.
    void SetShowRequestHandler(std::function<void()> handler);

    // Where the lock file and the socket live: the user's runtime directory, else the
    // temporary directory; the user id in the names keeps users apart.
    QString LockFilePath() const;
    QString SocketPath() const;

private:
    void ServeOrWarn();
    Status Serve();
    void AnswerShowRequest();
    bool AskRunningInstanceToShow() const;

    QString name_;
    std::unique_ptr<QLockFile> lock_;
    QLocalServer server_;
    std::function<void()> showRequestHandler_;
    bool runningInstanceAnswered_ = false;
};

// Brings a main window to the front: shown, not minimised, raised and activated.
void BringToFront(QWidget& window);

} // namespace morvane
