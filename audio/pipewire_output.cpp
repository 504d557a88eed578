#include "audio/pipewire_output.h"

#include <pipewire/extensions/metadata.h>
#include <pipewire/pipewire.h>
#include <spa/node/io.h>
#include <spa/param/audio/format-utils.h>
#include <spa/utils/result.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>

#include "audio/realtime_scheduling.h"

namespace morvane {

namespace {

// The rate of a server whose settings say nothing: PipeWire's own default.
constexpr int kFallbackRate = 48000;
// Each of the round trips at Open; a server that takes longer is as good as absent.
constexpr int kRoundTripSeconds = 2;

// The stream carries sound alone.
class NoMidi final : public PeriodMidi {
public:
    std::optional<PeriodMessage> NextUpTo(int) noexcept override { return std::nullopt; }
};

void InitialiseOnce() {
    static std::once_flag once;
    std::call_once(once, [] { pw_init(nullptr, nullptr); });
}

} // namespace

// The hooks PipeWire calls back through, and the settings read at Open. Only the loop's
// thread touches them, while it holds the loop's lock.
struct PipeWireOutput::Listeners {
    spa_hook core{};
    spa_hook stream{};
    spa_hook registry{};
    spa_hook metadata{};
    pw_registry* registryProxy = nullptr;
    pw_metadata* settings = nullptr;
    int pendingSeq = -1;
    bool done = false;
    int clockRate = 0;
    int forcedRate = 0;
};

PipeWireOutput::PipeWireOutput(SampleSource& source, int askedQuantum)
    : source_(source), listeners_(std::make_unique<Listeners>()), askedQuantum_(askedQuantum) {}

PipeWireOutput::~PipeWireOutput() {
    if (loop_) {
        pw_thread_loop_lock(loop_);
        if (stream_)
            pw_stream_destroy(stream_);
        if (listeners_->settings)
            pw_proxy_destroy(reinterpret_cast<pw_proxy*>(listeners_->settings));
        if (listeners_->registryProxy)
            pw_proxy_destroy(reinterpret_cast<pw_proxy*>(listeners_->registryProxy));
        if (core_)
            pw_core_disconnect(core_);
        pw_thread_loop_unlock(loop_);
        pw_thread_loop_stop(loop_);
    }
    if (context_)
        pw_context_destroy(context_);
    if (loop_)
        pw_thread_loop_destroy(loop_);
}

Result<std::unique_ptr<PipeWireOutput>> PipeWireOutput::Open(SampleSource& source, bool connect,
                                                             double quantumSeconds) {
    InitialiseOnce();
    std::unique_ptr<PipeWireOutput> output(new PipeWireOutput(source, 0));
    if (Status connected = output->Connect(connect, quantumSeconds); !connected)
        return connected.error();
    return output;
}

Status PipeWireOutput::Connect(bool connect, double quantumSeconds) {
    loop_ = pw_thread_loop_new("morvane-pipewire", nullptr);
    if (!loop_)
        return Error{"cannot make PipeWire's loop"};
    // The client configuration with PipeWire's real-time module, which makes the data
    // thread real-time, through RealtimeKit where the program has no privilege.
    context_ = pw_context_new(pw_thread_loop_get_loop(loop_),
                              pw_properties_new(PW_KEY_CONFIG_NAME, "client-rt.conf", nullptr), 0);
    if (!context_)
        return Error{"cannot make PipeWire's context"};
    if (pw_thread_loop_start(loop_) != 0)
        return Error{"cannot start PipeWire's loop"};

    pw_thread_loop_lock(loop_);
    Status status;
    core_ = pw_context_connect(context_, nullptr, 0);
    if (!core_) {
        const int error = errno;
        pw_thread_loop_unlock(loop_);
        return Error{std::string("no PipeWire server answers (") + std::strerror(error) + ")"};
    }
    static const pw_core_events kCoreEvents = [] {
        pw_core_events events{};
        events.version = PW_VERSION_CORE_EVENTS;
        events.done = [](void* self, std::uint32_t id, int seq) {
            auto& output = *static_cast<PipeWireOutput*>(self);
            if (id == PW_ID_CORE && seq == output.listeners_->pendingSeq) {
                output.listeners_->done = true;
                pw_thread_loop_signal(output.loop_, false);
            }
        };
        events.error = CoreError;
        return events;
    }();
    pw_core_add_listener(core_, &listeners_->core, &kCoreEvents, this);

    rate_ = ReadGraphRate();
    askedQuantum_ = std::max(1, static_cast<int>(std::lround(quantumSeconds * rate_)));
    quantum_.store(askedQuantum_);

    const std::string latency = std::to_string(askedQuantum_) + "/" + std::to_string(rate_);
    stream_ = pw_stream_new(
        core_, kNodeName,
        pw_properties_new(PW_KEY_MEDIA_TYPE, "Audio", PW_KEY_MEDIA_CATEGORY, "Playback",
                          PW_KEY_MEDIA_ROLE, "Production", PW_KEY_NODE_NAME, kNodeName,
                          PW_KEY_NODE_DESCRIPTION, kNodeName, PW_KEY_APP_NAME, kNodeName,
                          PW_KEY_NODE_LATENCY, latency.c_str(), PW_KEY_NODE_ALWAYS_PROCESS, "true",
                          PW_KEY_NODE_WANT_DRIVER, "true", nullptr));
    if (!stream_) {
        pw_thread_loop_unlock(loop_);
        return Error{"PipeWire refused the stream"};
    }
    static const pw_stream_events kStreamEvents = [] {
        pw_stream_events events{};
        events.version = PW_VERSION_STREAM_EVENTS;
        events.state_changed = [](void* self, pw_stream_state old, pw_stream_state state,
                                  const char* error) { StateChanged(self, old, state, error); };
        events.io_changed = IoChanged;
        events.process = Process;
        return events;
    }();
    pw_stream_add_listener(stream_, &listeners_->stream, &kStreamEvents, this);

    std::uint8_t buffer[1024];
    spa_pod_builder builder = SPA_POD_BUILDER_INIT(buffer, sizeof buffer);
    spa_audio_info_raw info{};
    info.format = SPA_AUDIO_FORMAT_F32;
    info.channels = 1;
    info.rate = static_cast<std::uint32_t>(rate_);
    info.position[0] = SPA_AUDIO_CHANNEL_MONO;
    const spa_pod* params[] = {spa_format_audio_raw_build(&builder, SPA_PARAM_EnumFormat, &info)};
    const auto flags =
        static_cast<pw_stream_flags>((connect ? PW_STREAM_FLAG_AUTOCONNECT : 0) |
                                     PW_STREAM_FLAG_MAP_BUFFERS | PW_STREAM_FLAG_RT_PROCESS);
    if (int err = pw_stream_connect(stream_, PW_DIRECTION_OUTPUT, PW_ID_ANY, flags, params, 1);
        err < 0)
        status = Error{std::string("PipeWire did not connect the stream: ") + spa_strerror(err)};
    pw_thread_loop_unlock(loop_);
    return status;
}

// The rate the server forces, else the one it runs at; read from its "settings"
// metadata, which the loop's thread fills in while this one waits for two round trips:
// one for the registry to name the metadata, one for the metadata's properties.
int PipeWireOutput::ReadGraphRate() {
    Listeners& l = *listeners_;
    static const pw_metadata_events kMetadataEvents = [] {
        pw_metadata_events events{};
        events.version = PW_VERSION_METADATA_EVENTS;
        events.property = [](void* self, std::uint32_t subject, const char* key, const char*,
                             const char* value) {
            auto& listeners = *static_cast<Listeners*>(self);
            if (subject != PW_ID_CORE || !key || !value)
                return 0;
            if (std::strcmp(key, "clock.rate") == 0)
                listeners.clockRate = std::atoi(value);
            else if (std::strcmp(key, "clock.force-rate") == 0)
                listeners.forcedRate = std::atoi(value);
            return 0;
        };
        return events;
    }();
    static const pw_registry_events kRegistryEvents = [] {
        pw_registry_events events{};
        events.version = PW_VERSION_REGISTRY_EVENTS;
        events.global = [](void* self, std::uint32_t id, std::uint32_t, const char* type,
                           std::uint32_t, const spa_dict* props) {
            auto& listeners = *static_cast<Listeners*>(self);
            const char* name = props ? spa_dict_lookup(props, PW_KEY_METADATA_NAME) : nullptr;
            if (listeners.settings || std::strcmp(type, PW_TYPE_INTERFACE_Metadata) != 0 || !name ||
                std::strcmp(name, "settings") != 0)
                return;
            listeners.settings = static_cast<pw_metadata*>(
                pw_registry_bind(listeners.registryProxy, id, type, PW_VERSION_METADATA, 0));
            if (listeners.settings)
                pw_metadata_add_listener(listeners.settings, &listeners.metadata, &kMetadataEvents,
                                         &listeners);
        };
        return events;
    }();
    l.registryProxy = pw_core_get_registry(core_, PW_VERSION_REGISTRY, 0);
    if (l.registryProxy)
        pw_registry_add_listener(l.registryProxy, &l.registry, &kRegistryEvents, &l);
    for (int trip = 0; trip < 2; ++trip) {
        l.done = false;
        l.pendingSeq = pw_core_sync(core_, PW_ID_CORE, 0);
        while (!l.done && !lost_.load())
            if (pw_thread_loop_timed_wait(loop_, kRoundTripSeconds) != 0)
                break;
    }
    if (l.forcedRate > 0)
        return l.forcedRate;
    return l.clockRate > 0 ? l.clockRate : kFallbackRate;
}

// The latency a node asks for is one of its properties, which the server reads again
// when it changes: the graph takes the new quantum from its next cycle on.
bool PipeWireOutput::AskQuantum(double quantumSeconds) {
    const int frames = std::max(1, static_cast<int>(std::lround(quantumSeconds * rate_)));
    const std::string latency = std::to_string(frames) + "/" + std::to_string(rate_);
    const spa_dict_item item = SPA_DICT_ITEM_INIT(PW_KEY_NODE_LATENCY, latency.c_str());
    const spa_dict properties = SPA_DICT_INIT(&item, 1);
    pw_thread_loop_lock(loop_);
    const int updated = pw_stream_update_properties(stream_, &properties);
    pw_thread_loop_unlock(loop_);
    return updated >= 0;
}

int PipeWireOutput::Quantum() const {
    return quantum_.load(std::memory_order_relaxed);
}

int PipeWireOutput::LatencyFrames() const {
    pw_time time{};
    std::int64_t delay = 0;
    if (stream_ && pw_stream_get_time_n(stream_, &time, sizeof time) == 0 && time.rate.denom > 0)
        delay = time.delay * rate_ * time.rate.num / time.rate.denom;
    return Quantum() + static_cast<int>(std::max<std::int64_t>(delay, 0));
}

std::optional<Error> PipeWireOutput::ServerLoss() const {
    if (!lost_.load(std::memory_order_acquire))
        return std::nullopt;
    return Error{std::string(lossReason_.data())};
}

void PipeWireOutput::Lose(const char* reason) noexcept {
    if (lost_.load(std::memory_order_relaxed))
        return;
    std::strncpy(lossReason_.data(), reason, lossReason_.size() - 1);
    lost_.store(true, std::memory_order_release);
    pw_thread_loop_signal(loop_, false);
}

void PipeWireOutput::CoreError(void* self, std::uint32_t id, int, int res, const char* message) {
    auto& output = *static_cast<PipeWireOutput*>(self);
    // Errors about other objects are the server's answers to requests of ours that it
    // could not carry out; only the core's own broken pipe means the server is gone.
    if (id == PW_ID_CORE && res == -EPIPE)
        output.Lose("the PipeWire server went away");
    else if (id == PW_ID_CORE && message)
        output.Lose(message);
}

void PipeWireOutput::StateChanged(void* self, int, int state, const char* error) {
    auto& output = *static_cast<PipeWireOutput*>(self);
    switch (state) {
    case PW_STREAM_STATE_ERROR:
        output.Lose(error ? error : "PipeWire stopped the stream");
        break;
    case PW_STREAM_STATE_UNCONNECTED:
        output.Lose("PipeWire disconnected the stream");
        break;
    default:
        output.resync_.store(true, std::memory_order_release);
        break;
    }
}

void PipeWireOutput::IoChanged(void* self, std::uint32_t id, void* area, std::uint32_t) {
    if (id == SPA_IO_Position)
        static_cast<PipeWireOutput*>(self)->position_ = static_cast<spa_io_position*>(area);
}

// A cycle's frames from the source. The driver's clock runs on by the quantum each
// cycle; when it has run further since the last call, cycles went by without this stream.
void PipeWireOutput::Process(void* self) {
    auto& output = *static_cast<PipeWireOutput*>(self);
    if (output.dataThread_.load(std::memory_order_relaxed) == 0)
        output.dataThread_.store(CurrentThreadId(), std::memory_order_release);
    if (const spa_io_position* position = output.position_) {
        const std::uint64_t at = position->clock.position;
        // Another driver's clock, after a move to another device, starts elsewhere.
        if (output.resync_.exchange(false, std::memory_order_acq_rel) ||
            position->clock.id != output.clockId_)
            output.positionKnown_ = false;
        output.clockId_ = position->clock.id;
        if (output.positionKnown_ && at > output.nextPosition_)
            output.underruns_.fetch_add(1, std::memory_order_relaxed);
        output.nextPosition_ = at + position->clock.duration;
        output.positionKnown_ = true;
    }
    pw_buffer* buffer = pw_stream_dequeue_buffer(output.stream_);
    if (!buffer) {
        output.underruns_.fetch_add(1, std::memory_order_relaxed);
        return;
    }
    spa_data& data = buffer->buffer->datas[0];
    auto* samples = static_cast<float*>(data.data);
    if (samples) {
        std::uint32_t frames = data.maxsize / sizeof(float);
        if (buffer->requested > 0)
            frames = std::min<std::uint32_t>(frames, static_cast<std::uint32_t>(buffer->requested));
        NoMidi none;
        output.source_.Render(samples, static_cast<int>(frames), none);
        output.quantum_.store(static_cast<int>(frames), std::memory_order_relaxed);
        data.chunk->offset = 0;
        data.chunk->stride = sizeof(float);
        data.chunk->size = frames * sizeof(float);
    }
    pw_stream_queue_buffer(output.stream_, buffer);
}

} // namespace morvane
