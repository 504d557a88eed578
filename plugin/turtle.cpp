#include "plugin/turtle.h"

#include <algorithm>
#include <cstdio>
#include <memory>
#include <sstream>

#include "audio/resampler.h"
#include "base/version.h"
#include "engine/startup.h"
#include "plugin/ports.h"
#include "plugin/ui_protocol.h"

namespace morvane::lv2 {

namespace {

constexpr const char* kPrefixes = "@prefix atom: <http://lv2plug.in/ns/ext/atom#> .\n"
                                  "@prefix doap: <http://usefulinc.com/ns/doap#> .\n"
                                  "@prefix foaf: <http://xmlns.com/foaf/0.1/> .\n"
                                  "@prefix log: <http://lv2plug.in/ns/ext/log#> .\n"
                                  "@prefix lv2: <http://lv2plug.in/ns/lv2core#> .\n"
                                  "@prefix midi: <http://lv2plug.in/ns/ext/midi#> .\n"
                                  "@prefix pset: <http://lv2plug.in/ns/ext/presets#> .\n"
                                  "@prefix rdf: <http://www.w3.org/1999/02/22-rdf-syntax-ns#> .\n"
                                  "@prefix rdfs: <http://www.w3.org/2000/01/rdf-schema#> .\n"
                                  "@prefix rsz: <http://lv2plug.in/ns/ext/resize-port#> .\n"
                                  "@prefix state: <http://lv2plug.in/ns/ext/state#> .\n"
                                  "@prefix urid: <http://lv2plug.in/ns/ext/urid#> .\n"
                                  "\n";

// Only the manifest and the UI's description speak of UIs.
constexpr const char* kUiPrefixes =
    "@prefix kx: <http://kxstudio.sf.net/ns/lv2ext/external-ui#> .\n"
    "@prefix ui: <http://lv2plug.in/ns/extensions/ui#> .\n"
    "\n";

// The largest delay the resampler reports at a rate a host may run: its filter's delay is
// a fixed count of engine samples, so the most host frames come at the highest rate
// (1814 at 1 MHz).
int LatencyMaximum() {
    return Resampler::Create(kHighestRate)->DelayFrames();
}

std::string Uri(const std::string& uri) {
    return "<" + uri + ">";
}

// A Turtle string: a label may hold any character a folder name can.
std::string Quoted(const std::string& text) {
    std::string quoted = "\"";
    for (const char c : text) {
        if (c == '"' || c == '\\') {
            quoted += '\\';
            quoted += c;
        } else if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\u%04X", static_cast<unsigned>(c));
            quoted += escape;
        } else {
            quoted += c;
        }
    }
    return quoted + "\"";
}

int PositionCount(ControlId id) {
    return Describe(id).maximum - Describe(id).minimum + 1;
}

void WriteControlPort(std::ostream& out, int index, const std::string& symbol,
                      const std::string& name, int minimum, int maximum, int value) {
    out << "    a lv2:InputPort, lv2:ControlPort ;\n"
        << "    lv2:index " << index << " ;\n"
        << "    lv2:symbol " << Quoted(symbol) << " ;\n"
        << "    lv2:name " << Quoted(name) << " ;\n"
        << "    lv2:default " << value << " ;\n"
        << "    lv2:minimum " << minimum << " ;\n"
        << "    lv2:maximum " << maximum << " ;\n";
}

void WriteSoundControl(std::ostream& out, ControlId id) {
    const ControlDescription& control = Describe(id);
    const ControlText& text = Text(id);
    WriteControlPort(out, ControlPort(id), ControlSymbol(id), text.name, control.minimum,
                     control.maximum, control.presetDefault);
    switch (control.kind) {
    case ControlKind::Slider:
        out << "    lv2:portProperty lv2:integer\n";
        break;
    case ControlKind::CheckBox:
        out << "    lv2:portProperty lv2:integer, lv2:toggled\n";
        break;
    case ControlKind::RadioGroup:
    case ControlKind::ModType:
        out << "    lv2:portProperty lv2:integer, lv2:enumeration ;\n    lv2:scalePoint";
        for (int i = 0; i < PositionCount(id); ++i)
            out << (i ? " ,\n        " : " ") << "[ rdfs:label " << Quoted(text.items[i])
                << " ; rdf:value " << control.minimum + i << " ]";
        out << "\n";
        break;
    }
}

void WritePresetEntry(std::ostream& out, const Preset& preset) {
    out << Uri(preset.uri) << "\n"
        << "    a pset:Preset ;\n"
        << "    lv2:appliesTo " << Uri(kPluginUri) << " ;\n"
        << "    rdfs:seeAlso " << Uri(preset.file) << " .\n\n";
}

} // namespace

std::vector<PortValue> SoundPorts(const SoundControls& controls, bool withEcho, int tuning) {
    std::vector<PortValue> ports;
    const int count = withEcho ? kControlCount : kPresetControlCount;
    for (int i = 0; i < count; ++i) {
        const auto id = static_cast<ControlId>(i);
        // The LFO shape pair may have nothing checked, which sounds as the triangle.
        const int value =
            std::clamp(controls.Position(id), Describe(id).minimum, Describe(id).maximum);
        ports.push_back({ControlSymbol(id), value});
    }
    ports.push_back({"tuning", tuning});
    return ports;
}

Preset DefaultPreset() {
    auto state = std::make_unique<SynthState>();
    SoundControls controls(*state);
    StartEngine(*state, controls, kDefaultTuning);
    LoadPreset(controls, DefaultPresetValues());
    return {std::string(kPluginUri) + ":preset:default", "Default", "default.ttl",
            SoundPorts(controls, true, kDefaultTuning)};
}

std::string PluginDescription() {
    std::ostringstream out;
    out << kPrefixes << Uri(kPluginUri) << "\n"
        << "    a lv2:Plugin, lv2:InstrumentPlugin, doap:Project ;\n"
        << "    doap:name \"Morvane\" ;\n"
        << "    doap:license <http://opensource.org/licenses/mit> ;\n"
        << "    doap:maintainer [ foaf:name \"The Morvane developers\" ] ;\n"
        << "    lv2:minorVersion " << kVersionMinor << " ;\n"
        << "    lv2:microVersion " << kVersionPatch << " ;\n"
        << "    rdfs:comment \"A small polyphonic subtractive synthesizer: five voices, two "
           "oscillators, a filter, an LFO, distortion and echo.\" ;\n"
        << "    lv2:requiredFeature urid:map ;\n"
        << "    lv2:optionalFeature lv2:hardRTCapable, log:log ;\n"
        << "    lv2:extensionData state:interface ;\n"
        << "    lv2:port [\n"
        << "    a lv2:InputPort, atom:AtomPort ;\n"
        << "    atom:bufferType atom:Sequence ;\n"
        << "    atom:supports midi:MidiEvent ;\n"
        << "    lv2:designation lv2:control ;\n"
        << "    lv2:index " << kMidiInPort << " ;\n"
        << "    lv2:symbol \"midi_in\" ;\n"
        << "    lv2:name \"MIDI in\"\n"
        << "] , [\n"
        << "    a lv2:OutputPort, lv2:AudioPort ;\n"
        << "    lv2:index " << kOutPort << " ;\n"
        << "    lv2:symbol \"out\" ;\n"
        << "    lv2:name \"Out\"\n"
        << "] , [\n"
        << "    a lv2:OutputPort, lv2:ControlPort ;\n"
        << "    lv2:index " << kLatencyPort << " ;\n"
        << "    lv2:symbol \"latency\" ;\n"
        << "    lv2:name \"Latency\" ;\n"
        << "    lv2:designation lv2:latency ;\n"
        << "    lv2:minimum 0 ;\n"
        << "    lv2:maximum " << LatencyMaximum() << " ;\n"
        << "    lv2:portProperty lv2:reportsLatency, lv2:integer\n";
    for (int i = 0; i < kControlCount; ++i) {
        out << "] , [\n";
        WriteSoundControl(out, static_cast<ControlId>(i));
    }
    out << "] , [\n";
    WriteControlPort(out, kTuningPort, "tuning", "Tuning (0.1 Hz)", kLowestTuning, kHighestTuning,
                     kDefaultTuning);
    out << "    lv2:portProperty lv2:integer\n";
    const PlayingParameters defaults;
    for (int i = 0; i < kPlayingPortCount; ++i) {
        const PlayingControl control = kPlayingControls[i];
        out << "] , [\n";
        WriteControlPort(out, kFirstPlayingPort + i, PlayingSymbol(control), PlayingName(control),
                         0, LargestPlaying(control), ReadPlaying(defaults, control));
        out << "    lv2:portProperty lv2:integer\n";
    }
    out << "] , [\n"
        << "    a lv2:InputPort, atom:AtomPort ;\n"
        << "    atom:bufferType atom:Sequence ;\n"
        << "    atom:supports atom:Object ;\n"
        << "    lv2:index " << kControlInPort << " ;\n"
        << "    lv2:symbol " << Quoted(ui::kControlSymbol) << " ;\n"
        << "    lv2:name \"Panel messages\"\n"
        << "] , [\n"
        << "    a lv2:OutputPort, atom:AtomPort ;\n"
        << "    atom:bufferType atom:Sequence ;\n"
        << "    atom:supports atom:Object ;\n"
        << "    rsz:minimumSize " << kNotifyBufferBytes << " ;\n"
        << "    lv2:index " << kNotifyPort << " ;\n"
        << "    lv2:symbol " << Quoted(ui::kNotifySymbol) << " ;\n"
        << "    lv2:name \"Panel notifications\"\n"
        << "] .\n";
    return out.str();
}

std::string UiDescription() {
    std::ostringstream out;
    out << kPrefixes << kUiPrefixes
        << "# The external kind of UI, which no vocabulary installed with LV2 describes.\n"
        << "kx:Widget\n"
        << "    a rdfs:Class ;\n"
        << "    rdfs:subClassOf ui:UI ;\n"
        << "    rdfs:label \"external UI widget\" .\n\n"
        << "kx:Host\n"
        << "    a lv2:Feature ;\n"
        << "    rdfs:label \"external UI host\" .\n\n"
        << Uri(kUiUri) << "\n"
        << "    a kx:Widget ;\n"
        << "    rdfs:label \"Morvane panel\" ;\n"
        << "    lv2:requiredFeature urid:map ;\n"
        << "    lv2:optionalFeature kx:Host ;\n"
        << "    lv2:extensionData ui:idleInterface, ui:showInterface ;\n"
        << "    ui:portNotification [\n"
        << "        ui:plugin " << Uri(kPluginUri) << " ;\n"
        << "        lv2:symbol " << Quoted(ui::kNotifySymbol) << " ;\n"
        << "        ui:protocol atom:eventTransfer\n"
        << "    ] .\n";
    return out.str();
}

std::string PluginManifest(std::span<const Preset> presets) {
    std::ostringstream out;
    out << kPrefixes << kUiPrefixes << Uri(kPluginUri) << "\n"
        << "    a lv2:Plugin ;\n"
        << "    lv2:binary " << Uri(kBinaryName) << " ;\n"
        << "    ui:ui " << Uri(kUiUri) << " ;\n"
        << "    rdfs:seeAlso " << Uri(kDescriptionFile) << " .\n\n"
        << Uri(kUiUri) << "\n"
        << "    a kx:Widget ;\n"
        << "    ui:binary " << Uri(kUiBinaryName) << " ;\n"
        << "    rdfs:seeAlso " << Uri(kUiDescriptionFile) << " .\n\n";
    for (const Preset& preset : presets)
        WritePresetEntry(out, preset);
    return out.str();
}

std::string PresetManifest(std::span<const Preset> presets) {
    std::ostringstream out;
    out << kPrefixes;
    for (const Preset& preset : presets)
        WritePresetEntry(out, preset);
    return out.str();
}

std::string PresetDescription(const Preset& preset) {
    std::ostringstream out;
    out << kPrefixes << Uri(preset.uri) << "\n"
        << "    a pset:Preset ;\n"
        << "    lv2:appliesTo " << Uri(kPluginUri) << " ;\n"
        << "    rdfs:label " << Quoted(preset.label) << " ;\n"
        << "    lv2:port";
    for (std::size_t i = 0; i < preset.ports.size(); ++i)
        out << (i ? " ,\n        " : " ") << "[ lv2:symbol " << Quoted(preset.ports[i].symbol)
            << " ; pset:value " << preset.ports[i].value << ".0 ]";
    out << " .\n";
    return out.str();
}

} // namespace morvane::lv2
