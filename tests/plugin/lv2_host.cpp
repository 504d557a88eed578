#include "tests/plugin/lv2_host.h"

#include <cstdio>
#include <cstring>
#include <stdexcept>

#include <lv2/atom/forge.h>
#include <lv2/atom/util.h>
#include <lv2/core/lv2.h>
#include <lv2/log/log.h>
#include <lv2/midi/midi.h>
#include <lv2/state/state.h>

namespace {

// lilv's nodes are freed by their owner; this owns one for a scope.
struct Node {
    LilvNode* node;
    ~Node() { lilv_node_free(node); }
};

void ClearSequence(std::vector<std::uint64_t>& buffer, LV2_URID sequenceType) {
    auto* sequence = reinterpret_cast<LV2_Atom_Sequence*>(buffer.data());
    sequence->atom.type = sequenceType;
    sequence->body.unit = 0;
    sequence->body.pad = 0;
    lv2_atom_sequence_clear(sequence);
}

// Sets the host's control port a saved state names to its value: lilv's port-value
// callback, given the host and the float type's URID.
struct PortValueTarget {
    Lv2Host* host;
    LV2_URID floatType;
};

void SetPortValue(const char* symbol, void* user, const void* value, std::uint32_t,
                  std::uint32_t type) {
    const auto* target = static_cast<const PortValueTarget*>(user);
    if (type == target->floatType)
        target->host->Control(symbol) = *static_cast<const float*>(value);
}

} // namespace

std::unique_ptr<Lv2Host> Lv2Host::Load(const std::string& bundle, const std::string& uri,
                                       double rate, std::string& error) {
    std::unique_ptr<Lv2Host> host(new Lv2Host());
    host->world_ = lilv_world_new();
    Node bundleUri{lilv_new_file_uri(host->world_, nullptr, (bundle + "/").c_str())};
    lilv_world_load_bundle(host->world_, bundleUri.node);
    Node pluginUri{lilv_new_uri(host->world_, uri.c_str())};
    host->plugin_ =
        lilv_plugins_get_by_uri(lilv_world_get_all_plugins(host->world_), pluginUri.node);
    if (!host->plugin_) {
        error = "no plugin " + uri + " in " + bundle;
        return nullptr;
    }
    const std::uint32_t ports = lilv_plugin_get_num_ports(host->plugin_);
    host->controls_.resize(ports);
    host->minimum_.resize(ports);
    host->maximum_.resize(ports);
    lilv_plugin_get_port_ranges_float(host->plugin_, host->minimum_.data(), host->maximum_.data(),
                                      host->controls_.data());

    const LV2_Feature mapFeature{LV2_URID__map, &host->map_};
    const LV2_Feature unmapFeature{LV2_URID__unmap, &host->unmap_};
    const LV2_Feature logFeature{LV2_LOG__log, &host->log_};
    const LV2_Feature* features[] = {&mapFeature, &unmapFeature, &logFeature, nullptr};
    host->instance_ = lilv_plugin_instantiate(host->plugin_, rate, features);
    if (!host->instance_) {
        error = "the plugin does not instantiate at " + std::to_string(rate) + " Hz";
        return nullptr;
    }
    Node controlClass{lilv_new_uri(host->world_, LV2_CORE__ControlPort)};
    for (std::uint32_t i = 0; i < ports; ++i) {
        if (lilv_port_is_a(host->plugin_, lilv_plugin_get_port_by_index(host->plugin_, i),
                           controlClass.node))
            lilv_instance_connect_port(host->instance_, i, &host->controls_[i]);
    }
    lilv_instance_connect_port(host->instance_, host->Index("midi_in"), host->sequence_.data());
    host->out_ = host->Index("out");
    host->sequenceType_ = MapUri(host.get(), LV2_ATOM__Sequence);
    host->midiType_ = MapUri(host.get(), LV2_MIDI__MidiEvent);
    host->chunkType_ = MapUri(host.get(), LV2_ATOM__Chunk);
    Node controlSymbol{lilv_new_string(host->world_, "control")};
    host->hasMessagePorts_ = lilv_plugin_get_port_by_symbol(host->plugin_, controlSymbol.node);
    if (host->hasMessagePorts_) {
        ClearSequence(host->control_, host->sequenceType_);
        ClearSequence(host->notify_, host->sequenceType_);
        lilv_instance_connect_port(host->instance_, host->Index("control"), host->control_.data());
        lilv_instance_connect_port(host->instance_, host->Index("notify"), host->notify_.data());
    }
    lilv_instance_activate(host->instance_);
    return host;
}

Lv2Host::~Lv2Host() {
    if (instance_) {
        lilv_instance_deactivate(instance_);
        lilv_instance_free(instance_);
    }
    lilv_world_free(world_);
}

LV2_URID Lv2Host::MapUri(LV2_URID_Map_Handle handle, const char* uri) {
    auto* host = static_cast<Lv2Host*>(handle);
    const auto [found, added] =
        host->uris_.emplace(uri, static_cast<LV2_URID>(host->uris_.size() + 1));
    if (added)
        host->unmapped_.emplace_back(uri);
    return found->second;
}

const char* Lv2Host::UnmapUri(LV2_URID_Unmap_Handle handle, LV2_URID urid) {
    const auto& unmapped = static_cast<Lv2Host*>(handle)->unmapped_;
    return urid > 0 && urid < unmapped.size() ? unmapped[urid].c_str() : nullptr;
}

int Lv2Host::LogLine(LV2_Log_Handle handle, LV2_URID type, const char* format, va_list args) {
    auto* host = static_cast<Lv2Host*>(handle);
    char text[1024];
    const int length = std::vsnprintf(text, sizeof text, format, args);
    std::string kind = UnmapUri(host, type);
    kind = kind.substr(kind.find('#') + 1);
    for (char& c : kind)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    host->logged_.push_back(kind + ": " + text);
    return length;
}

int Lv2Host::LogFormatted(LV2_Log_Handle handle, LV2_URID type, const char* format, ...) {
    va_list args;
    va_start(args, format);
    const int length = LogLine(handle, type, format, args);
    va_end(args);
    return length;
}

std::uint32_t Lv2Host::Index(const std::string& symbol) const {
    Node name{lilv_new_string(world_, symbol.c_str())};
    const LilvPort* port = lilv_plugin_get_port_by_symbol(plugin_, name.node);
    if (!port)
        throw std::out_of_range("no port " + symbol);
    return lilv_port_get_index(plugin_, port);
}

std::vector<std::string> Lv2Host::Symbols() const {
    std::vector<std::string> symbols;
    for (std::uint32_t i = 0; i < lilv_plugin_get_num_ports(plugin_); ++i)
        symbols.push_back(lilv_node_as_string(
            lilv_port_get_symbol(plugin_, lilv_plugin_get_port_by_index(plugin_, i))));
    return symbols;
}

float& Lv2Host::Control(const std::string& symbol) {
    return controls_[Index(symbol)];
}

std::pair<float, float> Lv2Host::Range(const std::string& symbol) const {
    const std::uint32_t index = Index(symbol);
    return {minimum_[index], maximum_[index]};
}

void Lv2Host::Restart() {
    lilv_instance_deactivate(instance_);
    lilv_instance_activate(instance_);
}

bool Lv2Host::LoadPreset(const std::string& bundle, const std::string& uri) {
    Node bundleUri{lilv_new_file_uri(world_, nullptr, (bundle + "/").c_str())};
    lilv_world_load_bundle(world_, bundleUri.node);
    Node preset{lilv_new_uri(world_, uri.c_str())};
    lilv_world_load_resource(world_, preset.node);
    LilvState* state = lilv_state_new_from_world(world_, &map_, preset.node);
    if (!state)
        return false;
    PortValueTarget target{this, MapUri(this, LV2_ATOM__Float)};
    lilv_state_emit_port_values(state, SetPortValue, &target);
    lilv_state_free(state);
    return true;
}

void Lv2Host::Run(std::span<const Midi> events, std::span<float> out) {
    ClearSequence(sequence_, sequenceType_);
    auto* sequence = reinterpret_cast<LV2_Atom_Sequence*>(sequence_.data());
    const std::uint32_t capacity = sequence_.size() * sizeof(std::uint64_t) - sizeof(LV2_Atom);
    for (const Midi& midi : events) {
        struct {
            LV2_Atom_Event header;
            std::uint8_t bytes[8];
        } event{};
        event.header.time.frames = midi.frame;
        event.header.body.type = midiType_;
        event.header.body.size = static_cast<std::uint32_t>(midi.bytes.size());
        std::memcpy(event.bytes, midi.bytes.data(), midi.bytes.size());
        if (!lv2_atom_sequence_append_event(sequence, capacity, &event.header))
            throw std::length_error("too many MIDI events for one block");
    }
    lilv_instance_connect_port(instance_, out_, out.data());
    if (hasMessagePorts_) {
        // What the plugin may write into: a chunk the size of the buffer.
        auto* notify = reinterpret_cast<LV2_Atom*>(notify_.data());
        notify->type = chunkType_;
        notify->size = static_cast<std::uint32_t>(notify_.size() * sizeof(std::uint64_t));
    }
    lilv_instance_run(instance_, static_cast<std::uint32_t>(out.size()));
    if (hasMessagePorts_)
        ClearSequence(control_, sequenceType_);
}

void Lv2Host::Send(const Message& message) {
    // The event is forged on its own and then appended to the run's sequence.
    std::vector<std::uint64_t> event(512);
    LV2_Atom_Forge forge;
    lv2_atom_forge_init(&forge, &map_);
    lv2_atom_forge_set_buffer(&forge, reinterpret_cast<std::uint8_t*>(event.data()),
                              event.size() * sizeof(std::uint64_t));
    lv2_atom_forge_frame_time(&forge, 0);
    LV2_Atom_Forge_Frame frame;
    lv2_atom_forge_object(&forge, &frame, 0, MapUri(this, message.type.c_str()));
    for (const auto& [key, value] : message.numbers) {
        lv2_atom_forge_key(&forge, MapUri(this, key.c_str()));
        lv2_atom_forge_int(&forge, static_cast<std::int32_t>(value));
    }
    for (const auto& [key, value] : message.texts) {
        lv2_atom_forge_key(&forge, MapUri(this, key.c_str()));
        lv2_atom_forge_string(&forge, value.c_str(), static_cast<std::uint32_t>(value.size()));
    }
    lv2_atom_forge_pop(&forge, &frame);
    const std::uint32_t capacity =
        static_cast<std::uint32_t>(control_.size() * sizeof(std::uint64_t) - sizeof(LV2_Atom));
    if (!lv2_atom_sequence_append_event(reinterpret_cast<LV2_Atom_Sequence*>(control_.data()),
                                        capacity,
                                        reinterpret_cast<const LV2_Atom_Event*>(event.data())))
        throw std::length_error("too many messages for one block");
}

std::vector<Lv2Host::Message> Lv2Host::Notified() const {
    std::vector<Message> messages;
    if (!hasMessagePorts_)
        return messages;
    const auto* sequence = reinterpret_cast<const LV2_Atom_Sequence*>(notify_.data());
    auto* self = const_cast<Lv2Host*>(this);
    const LV2_URID objectType = MapUri(self, LV2_ATOM__Object);
    const LV2_URID intType = MapUri(self, LV2_ATOM__Int);
    const LV2_URID longType = MapUri(self, LV2_ATOM__Long);
    const LV2_URID stringType = MapUri(self, LV2_ATOM__String);
    if (sequence->atom.type != sequenceType_)
        return messages;
    LV2_ATOM_SEQUENCE_FOREACH(sequence, event) {
        if (event->body.type != objectType)
            continue;
        const auto* object = reinterpret_cast<const LV2_Atom_Object*>(&event->body);
        Message message{UnmapUri(self, object->body.otype), {}, {}};
        LV2_ATOM_OBJECT_FOREACH(object, property) {
            const std::string key = UnmapUri(self, property->key);
            const void* body = LV2_ATOM_BODY_CONST(&property->value);
            if (property->value.type == intType)
                message.numbers[key] = *static_cast<const std::int32_t*>(body);
            else if (property->value.type == longType)
                message.numbers[key] = *static_cast<const std::int64_t*>(body);
            else if (property->value.type == stringType)
                message.texts[key] = static_cast<const char*>(body);
        }
        messages.push_back(message);
    }
    return messages;
}

std::string Lv2Host::SaveState() {
    struct Ports {
        Lv2Host* host;
        LV2_URID floatType;
    } ports{this, MapUri(this, LV2_ATOM__Float)};
    const LV2_Feature mapFeature{LV2_URID__map, &map_};
    const LV2_Feature* features[] = {&mapFeature, nullptr};
    LilvState* state = lilv_state_new_from_instance(
        plugin_, instance_, &map_, nullptr, nullptr, nullptr, nullptr,
        [](const char* symbol, void* user, std::uint32_t* size, std::uint32_t* type) {
            auto* ports = static_cast<Ports*>(user);
            *size = sizeof(float);
            *type = ports->floatType;
            return static_cast<const void*>(&ports->host->Control(symbol));
        },
        &ports, 0, features);
    char* text =
        lilv_state_to_string(world_, &map_, &unmap_, state, "urn:morvane:test:state", nullptr);
    std::string turtle = text ? text : "";
    lilv_free(text);
    lilv_state_free(state);
    return turtle;
}

bool Lv2Host::RestoreState(const std::string& turtle) {
    LilvState* state = lilv_state_new_from_string(world_, &map_, turtle.c_str());
    if (!state)
        return false;
    PortValueTarget target{this, MapUri(this, LV2_ATOM__Float)};
    const LV2_Feature mapFeature{LV2_URID__map, &map_};
    const LV2_Feature* features[] = {&mapFeature, nullptr};
    lilv_state_restore(state, instance_, SetPortValue, &target, 0, features);
    lilv_state_free(state);
    return true;
}
