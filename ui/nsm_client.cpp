#include "ui/nsm_client.h"

#include <QEventLoop>
#include <QSocketNotifier>
#include <QTimer>

#include <unistd.h>

#include <system_error>

namespace morvane {

namespace {

constexpr char kAnnounce[] = "/nsm/server/announce";
constexpr char kOpen[] = "/nsm/client/open";
constexpr char kSave[] = "/nsm/client/save";
constexpr char kReply[] = "/reply";
constexpr char kError[] = "/error";
constexpr char kApplicationName[] = "Morvane";
// No optional capabilities: the program cannot switch sessions without a restart.
constexpr char kCapabilities[] = "";
constexpr int kApiMajor = 1;
constexpr int kApiMinor = 2;
// The protocol's general failure code.
constexpr int kErrorGeneral = -1;

std::string ArgumentString(const char* types, lo_arg** argv, int argc, int index) {
    if (index >= argc || types[index] != LO_STRING)
        return {};
    return &argv[index]->s;
}

} // namespace

Result<std::unique_ptr<NsmClient>> NsmClient::Connect(const std::string& url) {
    lo_address manager = lo_address_new_from_url(url.c_str());
    if (!manager)
        return Error{"NSM_URL \"" + url + "\" is not an OSC address"};
    // Any free port: the manager answers to the address a message came from.
    lo_server server = lo_server_new_with_proto(nullptr, LO_UDP, nullptr);
    if (!server) {
        lo_address_free(manager);
        return Error{"cannot open a UDP port for the session manager"};
    }
    return std::unique_ptr<NsmClient>(new NsmClient(server, manager));
}

NsmClient::NsmClient(lo_server server, lo_address manager)
    : server_(server), manager_(manager),
      notifier_(new QSocketNotifier(lo_server_get_socket_fd(server), QSocketNotifier::Read, this)) {
    lo_server_add_method(server_, nullptr, nullptr, &NsmClient::OnMessage, this);
    connect(notifier_, &QSocketNotifier::activated, this, &NsmClient::ReadMessages);
}

NsmClient::~NsmClient() {
    delete notifier_; // before the socket it watches goes
    lo_server_free(server_);
    lo_address_free(manager_);
}

void NsmClient::ReadMessages() {
    while (lo_server_recv_noblock(server_, 0) > 0) {
    }
}

int NsmClient::OnMessage(const char* path, const char* types, lo_arg** argv, int argc, lo_message,
                         void* self) {
    static_cast<NsmClient*>(self)->Handle(path, types, argv, argc);
    return 0;
}

void NsmClient::Handle(const std::string& path, const char* types, lo_arg** argv, int argc) {
    if (path == kReply && ArgumentString(types, argv, argc, 0) == kAnnounce) {
        announced_ = true;
    } else if (path == kError && ArgumentString(types, argv, argc, 0) == kAnnounce) {
        opened_ =
            Error{"the session manager refused Morvane: " + ArgumentString(types, argv, argc, 2)};
        StopWaiting();
    } else if (path == kOpen) {
        if (opened_) { // a second open would be a switch, which this client cannot do
            Reply(kOpen, Error{"Morvane cannot switch sessions"}, "");
            return;
        }
        Session session{ArgumentString(types, argv, argc, 0), ArgumentString(types, argv, argc, 1),
                        ArgumentString(types, argv, argc, 2)};
        std::error_code error;
        std::filesystem::create_directories(session.directory, error);
        if (session.directory.empty() || session.clientId.empty())
            opened_ = Error{"the session manager's open message names no folder or client id"};
        else if (error)
            opened_ = Error{"cannot make the session folder " + session.directory.string() + ": " +
                            error.message()};
        else
            opened_ = session;
        if (!*opened_)
            Reply(kOpen, opened_->error(), "");
        StopWaiting();
    } else if (path == kSave) {
        Reply(kSave, save_ ? save_() : Status{}, "saved");
    }
}

Result<NsmClient::Session> NsmClient::Open(const std::string& executable,
                                           std::chrono::milliseconds timeout) {
    if (lo_send_from(manager_, server_, LO_TT_IMMEDIATE, kAnnounce, "sssiii", kApplicationName,
                     kCapabilities, executable.c_str(), kApiMajor, kApiMinor,
                     static_cast<int>(getpid())) < 0)
        return Error{std::string("cannot reach the session manager: ") +
                     lo_address_errstr(manager_)};
    QEventLoop loop;
    QTimer::singleShot(timeout, &loop, &QEventLoop::quit);
    waiting_ = &loop;
    loop.exec();
    waiting_ = nullptr;
    if (!opened_)
        return Error{announced_ ? "the session manager did not open a session"
                                : "the session manager did not answer"};
    return *opened_;
}

void NsmClient::StopWaiting() {
    if (waiting_)
        waiting_->quit();
}

void NsmClient::ReplyOpen(const Status& opened) {
    Reply(kOpen, opened, "opened");
}

void NsmClient::SetSaveHandler(std::function<Status()> save) {
    save_ = std::move(save);
}

void NsmClient::Reply(const char* path, const Status& outcome, const char* okMessage) {
    if (outcome)
        lo_send_from(manager_, server_, LO_TT_IMMEDIATE, kReply, "ss", path, okMessage);
    else
        lo_send_from(manager_, server_, LO_TT_IMMEDIATE, kError, "sis", path, kErrorGeneral,
                     outcome.error().message.c_str());
}

} // namespace morvane
