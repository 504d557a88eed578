// A host that shows the plugin's own panel, for the end-to-end test: lilv for the plugin,
// dlopen for the UI library, the external-UI host feature, as a DAW loads them. It runs the
// plugin at 22050 Hz in blocks of 441 frames at the pace of the clock, appends its float
// samples to a file, and talks on its standard input and output, a line at a time:
//   in:  set SYMBOL VALUE   the host moves a control port (and tells the UI)
//        show | hide        the external UI's show and hide
//        frames             how many frames have run
//        dump               every control input's value
//        midi HEX           a MIDI message of the host's own at the next block
//        quit               cleans the UI up and ends
//   out: ready | shown | hidden | closed (the UI reported itself closed) | frames N
//        value SYMBOL VALUE ... end   the dump
//        port SYMBOL VALUE  the UI wrote a control port
//        midi FRAME HEX     the UI's MIDI event, delivered at that frame of the output
//        keys MASK          the plugin told the UI which keys sound
//        notify TYPE        the URI of each message the plugin sent the UI
//   morvane-lv2-ui-host BUNDLE OUTPUT

#include <dlfcn.h>
#include <poll.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <lilv/lilv.h>
#include <lv2/atom/atom.h>
#include <lv2/atom/util.h>
#include <lv2/midi/midi.h>
#include <lv2/ui/ui.h>
#include <lv2/urid/urid.h>

#include "plugin/external_ui.h"
#include "plugin/ports.h"
#include "plugin/ui_protocol.h"

namespace {

constexpr double kRate = 22050;
constexpr int kBlock = 441;
constexpr auto kBlockTime = std::chrono::microseconds(20'000);
constexpr std::size_t kSequenceBytes = 65536;

using morvane::lv2::ExternalUiHost;
using morvane::lv2::ExternalUiWidget;

std::map<std::string, LV2_URID> uris;

LV2_URID Map(LV2_URID_Map_Handle, const char* uri) {
    return uris.emplace(uri, static_cast<LV2_URID>(uris.size() + 1)).first->second;
}

void Say(const std::string& line) {
    std::cout << line << std::endl;
}

// An atom sequence the host fills (an input) or the plugin fills (an output).
struct Sequence {
    std::vector<std::uint64_t> words = std::vector<std::uint64_t>(kSequenceBytes / 8);
    LV2_Atom_Sequence* Get() { return reinterpret_cast<LV2_Atom_Sequence*>(words.data()); }
    void Clear(LV2_URID type) {
        Get()->atom = {sizeof(LV2_Atom_Sequence_Body), type};
        Get()->body = {0, 0};
    }
    void Append(const std::vector<std::uint8_t>& atom) {
        std::vector<std::uint64_t> event((sizeof(LV2_Atom_Event) + atom.size() + 7) / 8 + 1);
        auto* e = reinterpret_cast<LV2_Atom_Event*>(event.data());
        e->time.frames = 0;
        std::memcpy(&e->body, atom.data(), atom.size());
        lv2_atom_sequence_append_event(Get(), kSequenceBytes - sizeof(LV2_Atom), e);
    }
};

class Host {
public:
    int Main(const char* bundle, const char* output);

private:
    static void Write(LV2UI_Controller controller, std::uint32_t port, std::uint32_t size,
                      std::uint32_t protocol, const void* buffer);
    static void Closed(LV2UI_Controller controller);
    bool LoadUi(const LilvPlugin* plugin);
    void RunBlock();
    void Command(const std::string& line);

    LV2_URID_Map map_{nullptr, Map};
    LilvInstance* instance_ = nullptr;
    std::vector<std::string> symbols_;
    std::vector<float> controls_;
    std::vector<bool> isControlInput_;
    Sequence midi_, control_, notify_;
    std::vector<std::vector<std::uint8_t>> pendingMidi_, pendingControl_;
    std::vector<float> out_ = std::vector<float>(kBlock);
    std::FILE* output_ = nullptr;
    long frames_ = 0;
    void* library_ = nullptr;
    const LV2UI_Descriptor* descriptor_ = nullptr;
    LV2UI_Handle ui_ = nullptr;
    ExternalUiWidget* widget_ = nullptr;
    ExternalUiHost external_{&Host::Closed, "Morvane"};
    bool quit_ = false;
};

void Host::Write(LV2UI_Controller controller, std::uint32_t port, std::uint32_t size,
                 std::uint32_t protocol, const void* buffer) {
    auto& host = *static_cast<Host*>(controller);
    if (port >= host.symbols_.size())
        return;
    if (protocol == 0 && size == sizeof(float) && host.isControlInput_[port]) {
        std::memcpy(&host.controls_[port], buffer, sizeof(float));
        std::ostringstream line;
        line << "port " << host.symbols_[port] << ' ' << host.controls_[port];
        Say(line.str());
    } else if (protocol == Map(nullptr, LV2_ATOM__eventTransfer)) {
        const auto* bytes = static_cast<const std::uint8_t*>(buffer);
        std::vector<std::uint8_t> atom(bytes, bytes + size);
        if (static_cast<int>(port) == morvane::lv2::kMidiInPort)
            host.pendingMidi_.push_back(atom);
        else if (static_cast<int>(port) == morvane::lv2::kControlInPort)
            host.pendingControl_.push_back(atom);
    }
}

void Host::Closed(LV2UI_Controller) {
    Say("closed");
}

bool Host::LoadUi(const LilvPlugin* plugin) {
    LilvUIs* uis = lilv_plugin_get_uis(plugin);
    const LilvUI* ui = nullptr;
    LILV_FOREACH(uis, i, uis) {
        if (std::strcmp(lilv_node_as_uri(lilv_ui_get_uri(lilv_uis_get(uis, i))),
                        morvane::lv2::kUiUri) == 0)
            ui = lilv_uis_get(uis, i);
    }
    if (!ui) {
        std::cerr << "no UI " << morvane::lv2::kUiUri << '\n';
        return false;
    }
    char* binary = lilv_file_uri_parse(lilv_node_as_uri(lilv_ui_get_binary_uri(ui)), nullptr);
    char* folder = lilv_file_uri_parse(lilv_node_as_uri(lilv_ui_get_bundle_uri(ui)), nullptr);
    library_ = dlopen(binary, RTLD_NOW | RTLD_LOCAL);
    lilv_free(binary);
    const auto find = library_ ? reinterpret_cast<const LV2UI_Descriptor* (*)(std::uint32_t)>(
                                     dlsym(library_, "lv2ui_descriptor"))
                               : nullptr;
    for (std::uint32_t i = 0; find && find(i); ++i)
        if (std::strcmp(find(i)->URI, morvane::lv2::kUiUri) == 0)
            descriptor_ = find(i);
    if (!descriptor_) {
        std::cerr << "the UI library has no descriptor: " << dlerror() << '\n';
        lilv_free(folder);
        return false;
    }
    const LV2_Feature mapFeature{LV2_URID__map, &map_};
    const LV2_Feature hostFeature{morvane::lv2::kExternalUiHost, &external_};
    const LV2_Feature* features[] = {&mapFeature, &hostFeature, nullptr};
    LV2UI_Widget widget = nullptr;
    ui_ = descriptor_->instantiate(descriptor_, morvane::lv2::kPluginUri, folder, &Host::Write,
                                   this, &widget, features);
    lilv_free(folder);
    widget_ = static_cast<ExternalUiWidget*>(widget);
    if (!ui_ || !widget_) {
        std::cerr << "the UI does not instantiate\n";
        return false;
    }
    for (std::size_t port = 0; port < controls_.size(); ++port)
        if (isControlInput_[port])
            descriptor_->port_event(ui_, port, sizeof(float), 0, &controls_[port]);
    return true;
}

void Host::RunBlock() {
    midi_.Clear(Map(nullptr, LV2_ATOM__Sequence));
    control_.Clear(Map(nullptr, LV2_ATOM__Sequence));
    for (const auto& atom : pendingMidi_) {
        midi_.Append(atom);
        std::ostringstream line;
        line << "midi " << frames_ << ' ';
        for (std::size_t i = sizeof(LV2_Atom); i < atom.size(); ++i) {
            char hex[3];
            std::snprintf(hex, sizeof hex, "%02x", atom[i]);
            line << hex;
        }
        Say(line.str());
    }
    for (const auto& atom : pendingControl_)
        control_.Append(atom);
    pendingMidi_.clear();
    pendingControl_.clear();
    notify_.Get()->atom = {kSequenceBytes - sizeof(LV2_Atom), Map(nullptr, LV2_ATOM__Chunk)};
    lilv_instance_run(instance_, kBlock);
    std::fwrite(out_.data(), sizeof(float), out_.size(), output_);
    std::fflush(output_);
    frames_ += kBlock;
    if (notify_.Get()->atom.type != Map(nullptr, LV2_ATOM__Sequence))
        return;
    LV2_ATOM_SEQUENCE_FOREACH(notify_.Get(), event) {
        if (ui_)
            descriptor_->port_event(ui_, morvane::lv2::kNotifyPort,
                                    sizeof(LV2_Atom) + event->body.size,
                                    Map(nullptr, LV2_ATOM__eventTransfer), &event->body);
        if (event->body.type != Map(nullptr, LV2_ATOM__Object))
            continue;
        const auto* object = reinterpret_cast<const LV2_Atom_Object*>(&event->body);
        for (const auto& [uri, urid] : uris)
            if (urid == object->body.otype)
                Say("notify " + uri);
        if (object->body.otype != Map(nullptr, morvane::lv2::ui::kKeys))
            continue;
        LV2_ATOM_OBJECT_FOREACH(object, property) {
            if (property->key == Map(nullptr, morvane::lv2::ui::kSounding))
                Say("keys " +
                    std::to_string(reinterpret_cast<const LV2_Atom_Long&>(property->value).body));
        }
    }
}

void Host::Command(const std::string& line) {
    std::istringstream words(line);
    std::string command;
    words >> command;
    if (command == "set") {
        std::string symbol;
        float value;
        words >> symbol >> value;
        for (std::size_t port = 0; port < symbols_.size(); ++port)
            if (symbols_[port] == symbol && isControlInput_[port]) {
                controls_[port] = value;
                descriptor_->port_event(ui_, port, sizeof(float), 0, &controls_[port]);
            }
    } else if (command == "show") {
        widget_->show(widget_);
        Say("shown");
    } else if (command == "hide") {
        widget_->hide(widget_);
        Say("hidden");
    } else if (command == "dump") {
        for (std::size_t port = 0; port < symbols_.size(); ++port)
            if (isControlInput_[port]) {
                std::ostringstream value;
                value << "value " << symbols_[port] << ' ' << controls_[port];
                Say(value.str());
            }
        Say("end");
    } else if (command == "midi") {
        std::string hex;
        words >> hex;
        std::vector<std::uint8_t> atom(sizeof(LV2_Atom));
        for (std::size_t i = 0; i + 1 < hex.size(); i += 2)
            atom.push_back(static_cast<std::uint8_t>(std::stoi(hex.substr(i, 2), nullptr, 16)));
        const LV2_Atom header{static_cast<std::uint32_t>(atom.size() - sizeof(LV2_Atom)),
                              Map(nullptr, LV2_MIDI__MidiEvent)};
        std::memcpy(atom.data(), &header, sizeof header);
        pendingMidi_.push_back(atom);
    } else if (command == "frames") {
        Say("frames " + std::to_string(frames_));
    } else if (command == "quit") {
        quit_ = true;
    }
}

int Host::Main(const char* bundle, const char* output) {
    LilvWorld* world = lilv_world_new();
    LilvNode* bundleUri = lilv_new_file_uri(world, nullptr, (std::string(bundle) + "/").c_str());
    lilv_world_load_bundle(world, bundleUri);
    LilvNode* pluginUri = lilv_new_uri(world, morvane::lv2::kPluginUri);
    const LilvPlugin* plugin =
        lilv_plugins_get_by_uri(lilv_world_get_all_plugins(world), pluginUri);
    if (!plugin) {
        std::cerr << "no plugin in " << bundle << '\n';
        return 1;
    }
    const std::uint32_t ports = lilv_plugin_get_num_ports(plugin);
    controls_.resize(ports);
    std::vector<float> minimum(ports), maximum(ports);
    lilv_plugin_get_port_ranges_float(plugin, minimum.data(), maximum.data(), controls_.data());
    const LV2_Feature mapFeature{LV2_URID__map, &map_};
    const LV2_Feature* features[] = {&mapFeature, nullptr};
    instance_ = lilv_plugin_instantiate(plugin, kRate, features);
    output_ = std::fopen(output, "wb");
    if (!instance_ || !output_) {
        std::cerr << "the plugin does not instantiate, or " << output << " cannot be written\n";
        return 1;
    }
    LilvNode* controlClass = lilv_new_uri(world, LV2_CORE__ControlPort);
    LilvNode* inputClass = lilv_new_uri(world, LV2_CORE__InputPort);
    isControlInput_.resize(ports);
    for (std::uint32_t i = 0; i < ports; ++i) {
        const LilvPort* port = lilv_plugin_get_port_by_index(plugin, i);
        symbols_.push_back(lilv_node_as_string(lilv_port_get_symbol(plugin, port)));
        if (lilv_port_is_a(plugin, port, controlClass)) {
            lilv_instance_connect_port(instance_, i, &controls_[i]);
            isControlInput_[i] = lilv_port_is_a(plugin, port, inputClass);
        }
    }
    lilv_instance_connect_port(instance_, morvane::lv2::kMidiInPort, midi_.Get());
    lilv_instance_connect_port(instance_, morvane::lv2::kControlInPort, control_.Get());
    lilv_instance_connect_port(instance_, morvane::lv2::kNotifyPort, notify_.Get());
    lilv_instance_connect_port(instance_, morvane::lv2::kOutPort, out_.data());
    lilv_instance_activate(instance_);
    if (!LoadUi(plugin))
        return 1;
    widget_->show(widget_);
    Say("ready");

    std::string input;
    auto next = std::chrono::steady_clock::now();
    while (!quit_) {
        widget_->run(widget_);
        const auto now = std::chrono::steady_clock::now();
        if (now >= next) {
            RunBlock();
            next += kBlockTime;
            continue;
        }
        pollfd in{STDIN_FILENO, POLLIN, 0};
        const int wait = static_cast<int>(
            std::chrono::duration_cast<std::chrono::milliseconds>(next - now).count());
        if (::poll(&in, 1, std::min(wait, 5)) <= 0)
            continue;
        char buffer[4096];
        const ssize_t size = ::read(STDIN_FILENO, buffer, sizeof buffer);
        if (size <= 0)
            break;
        input.append(buffer, static_cast<std::size_t>(size));
        for (std::size_t end; (end = input.find('\n')) != std::string::npos;) {
            Command(input.substr(0, end));
            input.erase(0, end + 1);
        }
    }
    descriptor_->cleanup(ui_);
    Say("bye");
    lilv_instance_deactivate(instance_);
    lilv_instance_free(instance_);
    std::fclose(output_);
    lilv_node_free(controlClass);
    lilv_node_free(inputClass);
    lilv_node_free(pluginUri);
    lilv_node_free(bundleUri);
    lilv_world_free(world);
    return 0;
}

} // namespace

int main(int argc, char* argv[]) {
    if (argc != 3) {
        std::cerr << "usage: morvane-lv2-ui-host BUNDLE OUTPUT\n";
        return 2;
    }
    return Host().Main(argv[1], argv[2]);
}
