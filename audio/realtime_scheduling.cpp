#include "audio/realtime_scheduling.h"

#include <dbus/dbus.h>
#include <sched.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>

namespace morvane {

namespace {

constexpr const char* kRtkitService = "org.freedesktop.RealtimeKit1";
constexpr const char* kRtkitObject = "/org/freedesktop/RealtimeKit1";
// A bus that does not answer within this is taken for a refusal.
constexpr int kBusTimeoutMs = 1000;

bool SetFifo(pid_t thread, int priority) {
    sched_param parameter{};
    parameter.sched_priority = priority;
    // Threads a fork would copy must not inherit the policy.
    return sched_setscheduler(thread, SCHED_FIFO | SCHED_RESET_ON_FORK, &parameter) == 0;
}

// A property of RealtimeKit's interface as a 64-bit integer, or -1.
std::int64_t RtkitProperty(DBusConnection* bus, const char* name) {
    DBusMessage* call = dbus_message_new_method_call(kRtkitService, kRtkitObject,
                                                     "org.freedesktop.DBus.Properties", "Get");
    if (!call)
        return -1;
    const char* interface = kRtkitService;
    dbus_message_append_args(call, DBUS_TYPE_STRING, &interface, DBUS_TYPE_STRING, &name,
                             DBUS_TYPE_INVALID);
    DBusMessage* reply =
        dbus_connection_send_with_reply_and_block(bus, call, kBusTimeoutMs, nullptr);
    dbus_message_unref(call);
    if (!reply)
        return -1;
    std::int64_t value = -1;
    DBusMessageIter iter;
    DBusMessageIter variant;
    if (dbus_message_iter_init(reply, &iter) &&
        dbus_message_iter_get_arg_type(&iter) == DBUS_TYPE_VARIANT) {
        dbus_message_iter_recurse(&iter, &variant);
        switch (dbus_message_iter_get_arg_type(&variant)) {
        case DBUS_TYPE_INT32: {
            dbus_int32_t v = 0;
            dbus_message_iter_get_basic(&variant, &v);
            value = v;
            break;
        }
        case DBUS_TYPE_INT64: {
            dbus_int64_t v = 0;
            dbus_message_iter_get_basic(&variant, &v);
            value = v;
            break;
        }
        default:
            break;
        }
    }
    dbus_message_unref(reply);
    return value;
}

// RealtimeKit grants a thread only to a process whose real-time CPU time is bounded
// within its own limit, so that a runaway thread cannot hang the desktop.
bool BoundRealtimeTime(std::int64_t maxMicroseconds) {
    if (maxMicroseconds <= 0)
        return false;
    rlimit limit{};
    if (getrlimit(RLIMIT_RTTIME, &limit) != 0)
        return false;
    const auto bound = static_cast<rlim_t>(maxMicroseconds);
    if (limit.rlim_max != RLIM_INFINITY && limit.rlim_max <= bound)
        return true;
    limit.rlim_cur = std::min(limit.rlim_cur, bound);
    limit.rlim_max = bound;
    return setrlimit(RLIMIT_RTTIME, &limit) == 0;
}

bool AskRtkit(pid_t thread, int priority) {
    DBusError error;
    dbus_error_init(&error);
    // A private connection: the program holds no bus otherwise, and closes this one.
    DBusConnection* bus = dbus_bus_get_private(DBUS_BUS_SYSTEM, &error);
    dbus_error_free(&error);
    if (!bus)
        return false;
    dbus_connection_set_exit_on_disconnect(bus, false);
    bool granted = false;
    const std::int64_t maxPriority = RtkitProperty(bus, "MaxRealtimePriority");
    if (maxPriority > 0 && BoundRealtimeTime(RtkitProperty(bus, "RTTimeUSecMax"))) {
        DBusMessage* call = dbus_message_new_method_call(kRtkitService, kRtkitObject, kRtkitService,
                                                         "MakeThreadRealtime");
        if (call) {
            dbus_uint64_t id = static_cast<dbus_uint64_t>(thread);
            dbus_uint32_t level =
                static_cast<dbus_uint32_t>(std::min<std::int64_t>(priority, maxPriority));
            dbus_message_append_args(call, DBUS_TYPE_UINT64, &id, DBUS_TYPE_UINT32, &level,
                                     DBUS_TYPE_INVALID);
            DBusMessage* reply =
                dbus_connection_send_with_reply_and_block(bus, call, kBusTimeoutMs, nullptr);
            dbus_message_unref(call);
            if (reply) {
                granted = dbus_message_get_type(reply) == DBUS_MESSAGE_TYPE_METHOD_RETURN;
                dbus_message_unref(reply);
            }
        }
    }
    dbus_connection_close(bus);
    dbus_connection_unref(bus);
    return granted;
}

} // namespace

pid_t CurrentThreadId() noexcept {
    return static_cast<pid_t>(syscall(SYS_gettid));
}

bool MakeThreadRealtime(pid_t thread, int priority) {
    if (thread <= 0)
        return false;
    if (RunsRealtime(thread) || SetFifo(thread, priority))
        return true;
    return AskRtkit(thread, priority) && RunsRealtime(thread);
}

bool RunsRealtime(pid_t thread) {
    const int policy = sched_getscheduler(thread);
    return policy >= 0 && ((policy & ~SCHED_RESET_ON_FORK) == SCHED_FIFO ||
                           (policy & ~SCHED_RESET_ON_FORK) == SCHED_RR);
}

std::vector<pid_t> ThreadsNamed(std::string_view name) {
    std::vector<pid_t> threads;
    std::error_code error;
    for (const auto& task : std::filesystem::directory_iterator("/proc/self/task", error)) {
        std::ifstream comm(task.path() / "comm");
        std::string taskName;
        if (std::getline(comm, taskName) && taskName == name)
            threads.push_back(static_cast<pid_t>(std::stol(task.path().filename().string())));
    }
    return threads;
}

void RaisePortAudioThreads(pid_t callbackThread) {
    // Below the sound server's real-time threads, which must run first to take what the
    // callback gives them; the client thread that carries it to the server just above.
    constexpr int kCallbackPriority = 4;
    constexpr int kClientThreadPriority = 5;
    constexpr std::string_view kPulseClientThread = "threaded-ml";
    MakeThreadRealtime(callbackThread, kCallbackPriority);
    for (pid_t client : ThreadsNamed(kPulseClientThread))
        MakeThreadRealtime(client, kClientThreadPriority);
}

bool LockInMemory(const void* start, std::size_t bytes) {
    return mlock(start, bytes) == 0;
}

} // namespace morvane
