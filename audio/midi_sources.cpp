#include "audio/midi_sources.h"

#include <alsa/asoundlib.h>
#include <jack/jack.h>

#include <atomic>
#include <cerrno>
#include <optional>

#include "audio/sequencer_input.h"

namespace morvane {
namespace {

constexpr const char* kJackClientName = "Morvane sources";
constexpr const char* kSequencerClientName = "Morvane sources";

class JackMidiSources : public MidiSources {
public:
    JackMidiSources(jack_client_t* client, std::string destination)
        : client_(client), destination_(std::move(destination)) {
        jack_on_shutdown(
            client_, [](void* lost) { static_cast<std::atomic<bool>*>(lost)->store(true); },
            &lost_);
    }
    ~JackMidiSources() override { jack_client_close(client_); }
    JackMidiSources(const JackMidiSources&) = delete;
    JackMidiSources& operator=(const JackMidiSources&) = delete;

    std::vector<std::string> List() override {
        std::vector<std::string> names;
        const char** ports =
            jack_get_ports(client_, nullptr, JACK_DEFAULT_MIDI_TYPE, JackPortIsOutput);
        if (!ports)
            return names;
        for (const char** port = ports; *port; ++port)
            names.emplace_back(*port);
        jack_free(static_cast<void*>(ports));
        return names;
    }

    bool Connected(const std::string& source) override {
        jack_port_t* port = jack_port_by_name(client_, destination_.c_str());
        return port && jack_port_connected_to(port, source.c_str());
    }

    Status Connect(const std::string& source) override {
        const int failed = jack_connect(client_, source.c_str(), destination_.c_str());
        if (failed && failed != EEXIST)
            return Error{"JACK could not connect " + source + " to " + destination_};
        return {};
    }

    Status Disconnect(const std::string& source) override {
        if (Connected(source) && jack_disconnect(client_, source.c_str(), destination_.c_str()))
            return Error{"JACK could not disconnect " + source + " from " + destination_};
        return {};
    }

    bool Lost() const override { return lost_.load(); }

private:
    jack_client_t* client_;
    std::string destination_;
    // Set on the server's thread.
    std::atomic<bool> lost_{false};
};

class SequencerMidiSources : public MidiSources {
public:
    explicit SequencerMidiSources(snd_seq_t* sequencer) : sequencer_(sequencer) {}
    ~SequencerMidiSources() override { snd_seq_close(sequencer_); }
    SequencerMidiSources(const SequencerMidiSources&) = delete;
    SequencerMidiSources& operator=(const SequencerMidiSources&) = delete;

    std::vector<std::string> List() override {
        std::vector<std::string> names;
        ForEachPort([&](const snd_seq_port_info_t* port, const std::string& name) {
            constexpr unsigned kReadable = SND_SEQ_PORT_CAP_READ | SND_SEQ_PORT_CAP_SUBS_READ;
            const bool own = snd_seq_port_info_get_client(port) == snd_seq_client_id(sequencer_);
            const bool system = snd_seq_port_info_get_client(port) == SND_SEQ_CLIENT_SYSTEM;
            if (!own && !system &&
                (snd_seq_port_info_get_capability(port) & kReadable) == kReadable)
                names.push_back(name);
        });
        return names;
    }

    bool Connected(const std::string& source) override {
        const auto addresses = Addresses(source);
        if (!addresses)
            return false;
        snd_seq_port_subscribe_t* subscription = nullptr;
        snd_seq_port_subscribe_alloca(&subscription);
        snd_seq_port_subscribe_set_sender(subscription, &addresses->first);
        snd_seq_port_subscribe_set_dest(subscription, &addresses->second);
        return snd_seq_get_port_subscription(sequencer_, subscription) == 0;
    }

    Status Connect(const std::string& source) override { return Subscribe(source, true); }
    Status Disconnect(const std::string& source) override {
        if (!Connected(source))
            return {};
        return Subscribe(source, false);
    }

private:
    template <typename Visit> void ForEachPort(const Visit& visit) {
        snd_seq_client_info_t* client = nullptr;
        snd_seq_port_info_t* port = nullptr;
        snd_seq_client_info_alloca(&client);
        snd_seq_port_info_alloca(&port);
        snd_seq_client_info_set_client(client, -1);
        while (snd_seq_query_next_client(sequencer_, client) >= 0) {
            snd_seq_port_info_set_client(port, snd_seq_client_info_get_client(client));
            snd_seq_port_info_set_port(port, -1);
            while (snd_seq_query_next_port(sequencer_, port) >= 0)
                visit(port, std::string(snd_seq_client_info_get_name(client)) + ":" +
                                snd_seq_port_info_get_name(port));
        }
    }

    std::optional<snd_seq_addr_t> Find(const std::string& name) {
        std::optional<snd_seq_addr_t> found;
        ForEachPort([&](const snd_seq_port_info_t* port, const std::string& portName) {
            if (!found && portName == name)
                found = *snd_seq_port_info_get_addr(port);
        });
        return found;
    }

    std::optional<std::pair<snd_seq_addr_t, snd_seq_addr_t>> Addresses(const std::string& source) {
        const std::optional<snd_seq_addr_t> sender = Find(source);
        const std::optional<snd_seq_addr_t> destination =
            Find(std::string(SequencerInput::kClientName) + ":" + SequencerInput::kPortName);
        if (!sender || !destination)
            return std::nullopt;
        return std::pair{*sender, *destination};
    }

    Status Subscribe(const std::string& source, bool connect) {
        const auto addresses = Addresses(source);
        if (!addresses)
            return Error{"the sequencer has no port " + source + " or no Morvane input"};
        snd_seq_port_subscribe_t* subscription = nullptr;
        snd_seq_port_subscribe_alloca(&subscription);
        snd_seq_port_subscribe_set_sender(subscription, &addresses->first);
        snd_seq_port_subscribe_set_dest(subscription, &addresses->second);
        const int result = connect ? snd_seq_subscribe_port(sequencer_, subscription)
                                   : snd_seq_unsubscribe_port(sequencer_, subscription);
        if (result < 0 && !(connect && result == -EBUSY))
            return Error{"the sequencer could not " +
                         std::string(connect ? "connect " : "disconnect ") + source + ": " +
                         snd_strerror(result)};
        return {};
    }

    snd_seq_t* sequencer_;
};

} // namespace

Result<std::unique_ptr<MidiSources>> OpenJackMidiSources(const std::string& destination) {
    jack_status_t status{};
    jack_client_t* client = jack_client_open(kJackClientName, JackNoStartServer, &status);
    if (!client)
        return Error{"no JACK server to list MIDI sources on"};
    // Told of a shutdown before it activates. Connections are made by an active client;
    // without a process callback it costs the server's cycle nothing.
    auto sources = std::make_unique<JackMidiSources>(client, destination);
    if (jack_activate(client))
        return Error{"JACK refused the client that lists MIDI sources"};
    return std::unique_ptr<MidiSources>(std::move(sources));
}

Result<std::unique_ptr<MidiSources>> OpenSequencerMidiSources() {
    snd_seq_t* sequencer = nullptr;
    if (snd_seq_open(&sequencer, "default", SND_SEQ_OPEN_DUPLEX, 0) < 0)
        return Error{"no ALSA sequencer to list MIDI sources on"};
    snd_seq_set_client_name(sequencer, kSequencerClientName);
    return std::unique_ptr<MidiSources>(std::make_unique<SequencerMidiSources>(sequencer));
}

} // namespace morvane
