#include "tests/plugin/lv2_host.h"

#include <cstring>
#include <stdexcept>

#include <lv2/atom/util.h>
#include <lv2/core/lv2.h>
#include <lv2/midi/midi.h>

namespace {

// lilv's nodes are freed by their owner; this owns one for a scope.
struct Node {
    LilvNode* node;
    ~Node() { lilv_node_free(node); }
};

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
    const LV2_Feature* features[] = {&mapFeature, nullptr};
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
    auto& uris = static_cast<Lv2Host*>(handle)->uris_;
    return uris.emplace(uri, static_cast<LV2_URID>(uris.size() + 1)).first->second;
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
    const LV2_URID floatType = MapUri(this, LV2_ATOM__Float);
    struct Target {
        Lv2Host* host;
        LV2_URID floatType;
    } target{this, floatType};
    lilv_state_emit_port_values(
        state,
        [](const char* symbol, void* user, const void* value, std::uint32_t, std::uint32_t type) {
            auto* target = static_cast<Target*>(user);
            if (type == target->floatType)
                target->host->Control(symbol) = *static_cast<const float*>(value);
        },
        &target);
    lilv_state_free(state);
    return true;
}

void Lv2Host::Run(std::span<const Midi> events, std::span<float> out) {
    auto* sequence = reinterpret_cast<LV2_Atom_Sequence*>(sequence_.data());
    sequence->atom.type = sequenceType_;
    sequence->body.unit = 0;
    sequence->body.pad = 0;
    lv2_atom_sequence_clear(sequence);
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
    lilv_instance_run(instance_, static_cast<std::uint32_t>(out.size()));
}
