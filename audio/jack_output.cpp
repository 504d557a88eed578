#include "audio/jack_output.h"

#include <jack/jack.h>
#include <jack/midiport.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

namespace morvane {

namespace {

// JACK's status word as words, the bits that say why an open failed.
std::string DescribeStatus(jack_status_t status) {
    static constexpr struct {
        int bit;
        const char* meaning;
    } kMeanings[] = {
        {JackServerFailed, "no JACK server answers"},
        {JackServerError, "the JACK server did not understand the request"},
        {JackVersionError, "the JACK server speaks another protocol version"},
        {JackShmFailure, "JACK's shared memory cannot be reached"},
        {JackInitFailure, "the client could not be set up"},
        {JackNameNotUnique, "the client name is taken"},
        {JackInvalidOption, "an option was refused"},
        {JackBackendError, "the server's audio backend failed"},
        {JackClientZombie, "the server dropped the client"},
    };
    std::string text;
    for (const auto& [bit, meaning] : kMeanings) {
        if (!(status & bit))
            continue;
        if (!text.empty())
            text += "; ";
        text += meaning;
    }
    if (text.empty()) {
        char code[32];
        std::snprintf(code, sizeof code, "JACK status 0x%x", static_cast<unsigned>(status));
        text = code;
    }
    return text;
}

} // namespace

JackOutput::JackOutput(jack_client_t* client, SampleSource& source)
    : client_(client), source_(source) {}

JackOutput::~JackOutput() {
    jack_client_close(client_);
}

Result<std::unique_ptr<JackOutput>> JackOutput::Open(SampleSource& source, bool connect,
                                                     const std::string& clientName,
                                                     bool midiInput) {
    jack_status_t status{};
    // Playing through JACK is chosen because a server runs; never start one behind the
    // user's back.
    jack_client_t* client = jack_client_open(clientName.c_str(), JackNoStartServer, &status);
    if (!client)
        return Error{"cannot open the JACK client: " + DescribeStatus(status)};
    // From here the destructor closes the client on every way out.
    std::unique_ptr<JackOutput> output(new JackOutput(client, source));

    output->port_ =
        jack_port_register(client, kPortName, JACK_DEFAULT_AUDIO_TYPE, JackPortIsOutput, 0);
    if (!output->port_)
        return Error{"JACK refused the output port \"" + std::string(kPortName) + "\""};
    if (midiInput)
        output->midiPort_ =
            jack_port_register(client, kMidiPortName, JACK_DEFAULT_MIDI_TYPE, JackPortIsInput, 0);
    if (midiInput && !output->midiPort_)
        return Error{"JACK refused the MIDI port \"" + std::string(kMidiPortName) + "\""};
    if (jack_set_process_callback(client, Process, output.get()) != 0)
        return Error{"JACK refused the process callback"};
    if (jack_set_xrun_callback(client, Xrun, output.get()) != 0)
        return Error{"JACK refused the xrun callback"};
    jack_on_info_shutdown(client, ServerLost, output.get());
    if (int err = jack_activate(client); err != 0)
        return Error{"JACK did not activate the client (error " + std::to_string(err) + ")"};
    if (connect) {
        if (Status connected = output->ConnectToPlayback(); !connected)
            return connected.error();
    }
    return output;
}

Status JackOutput::ConnectToPlayback() {
    // A server without playback ports (a headless one) has nothing to connect to, which
    // is not a fault.
    const char** ports = jack_get_ports(client_, nullptr, JACK_DEFAULT_AUDIO_TYPE,
                                        JackPortIsPhysical | JackPortIsInput);
    if (!ports)
        return {};
    Status status;
    for (int i = 0; i < 2 && ports[i] && status; ++i) {
        int err = jack_connect(client_, jack_port_name(port_), ports[i]);
        if (err != 0 && err != EEXIST)
            status = Error{"JACK did not connect " + PortName() + " to " + ports[i]};
    }
    jack_free(ports);
    return status;
}

std::string JackOutput::ClientName() const {
    return jack_get_client_name(client_);
}

std::string JackOutput::PortName() const {
    return jack_port_name(port_);
}

int JackOutput::SampleRate() const {
    return static_cast<int>(jack_get_sample_rate(client_));
}

int JackOutput::BufferSize() const {
    return static_cast<int>(jack_get_buffer_size(client_));
}

std::optional<Error> JackOutput::ServerLoss() const {
    if (!lost_.load(std::memory_order_acquire))
        return std::nullopt;
    return Error{"the JACK server let the client go: " + std::string(lossReason_.data())};
}

namespace {

// The period's messages straight from the port's buffer (none without a port). JACK
// delivers whole messages in time order; system exclusive and the system messages mean
// nothing to the instrument.
class PortMidi final : public PeriodMidi {
public:
    explicit PortMidi(void* buffer)
        : buffer_(buffer), count_(buffer ? jack_midi_get_event_count(buffer) : 0) {}

    std::optional<PeriodMessage> NextUpTo(int frame) noexcept override {
        for (; next_ < count_; ++next_) {
            jack_midi_event_t event;
            if (jack_midi_event_get(&event, buffer_, next_) != 0 || event.size == 0 ||
                event.size > 3 || !IsChannelStatus(event.buffer[0]))
                continue;
            if (static_cast<int>(event.time) > frame)
                return std::nullopt;
            ++next_;
            MidiMessage message;
            std::copy_n(event.buffer, event.size, message.bytes.begin());
            message.size = static_cast<std::uint8_t>(event.size);
            return PeriodMessage{message, static_cast<int>(event.time)};
        }
        return std::nullopt;
    }

private:
    void* buffer_;
    std::uint32_t count_;
    std::uint32_t next_ = 0;
};

} // namespace

int JackOutput::Process(jack_nframes_t frames, void* self) {
    auto& output = *static_cast<JackOutput*>(self);
    PortMidi midi(output.midiPort_ ? jack_port_get_buffer(output.midiPort_, frames) : nullptr);
    auto* out = static_cast<float*>(jack_port_get_buffer(output.port_, frames));
    output.source_.Render(out, static_cast<int>(frames), midi);
    return 0;
}

int JackOutput::Xrun(void* self) {
    static_cast<JackOutput*>(self)->xruns_.fetch_add(1, std::memory_order_relaxed);
    return 0;
}

void JackOutput::ServerLost(jack_status_t, const char* reason, void* self) {
    auto& output = *static_cast<JackOutput*>(self);
    // A copy into the fixed buffer: this thread must not allocate either.
    std::strncpy(output.lossReason_.data(), reason ? reason : "no reason given",
                 output.lossReason_.size() - 1);
    output.lost_.store(true, std::memory_order_release);
}

} // namespace morvane
