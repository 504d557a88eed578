#pragma once

#include <QObject>

#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include <lo/lo.h>

#include "base/result.h"

class QEventLoop;
class QSocketNotifier;

// A client of a session manager that speaks the NSM protocol (OSC over UDP, through
// liblo). The manager names itself in NSM_URL and starts the program; the program
// announces itself, the manager answers with the folder the client keeps its files in
// and the client's id, and later asks it to save. It ends the program with SIGTERM,
// which the program handles as its exit button. Everything runs on the thread that owns
// this object: the OSC socket is read there when it has something.
namespace morvane {

class NsmClient : public QObject {
    Q_OBJECT
public:
    // What the manager's open message gives.
    struct Session {
        std::filesystem::path directory; // the client's own folder, made if missing
        std::string displayName;
        std::string clientId; // unique in the session: the JACK client's name
    };

    // A client that talks to the manager at the URL (osc.udp://host:port/).
    static Result<std::unique_ptr<NsmClient>> Connect(const std::string& url);
    ~NsmClient() override;

    // Announces the program and waits, running the event loop, for the manager to open
    // the session: its folder and the client's id. An error when the manager refuses the
    // announcement, sends nothing within the timeout, or gives a folder that cannot be
    // made.
    Result<Session> Open(const std::string& executable, std::chrono::milliseconds timeout);

    // The answer to the open message, once the program has opened its files and device.
    void ReplyOpen(const Status& opened);

    // Called for each save message; its outcome is the reply.
    void SetSaveHandler(std::function<Status()> save);

private:
    NsmClient(lo_server server, lo_address manager);
    void ReadMessages();
    void StopWaiting();
    void Reply(const char* path, const Status& outcome, const char* okMessage);
    static int OnMessage(const char* path, const char* types, lo_arg** argv, int argc,
                         lo_message message, void* self);
    void Handle(const std::string& path, const char* types, lo_arg** argv, int argc);

    lo_server server_;
    lo_address manager_;
    QSocketNotifier* notifier_;
    std::function<Status()> save_;
    // Filled while Open waits.
    std::optional<Result<Session>> opened_;
    bool announced_ = false;
    QEventLoop* waiting_ = nullptr;
};

} // namespace morvane
