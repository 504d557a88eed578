#pragma once

#include <cstdarg>
#include <cstdint>
#include <map>
#include <memory>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include <lilv/lilv.h>
#include <lv2/atom/atom.h>
#include <lv2/log/log.h>
#include <lv2/urid/urid.h>

// A small LV2 host on lilv, enough to play the instrument as a DAW does: it loads a bundle,
// instantiates the plugin at a rate, holds every control port at its default until told
// otherwise and runs the plugin on blocks of any size with MIDI events inside them. It
// talks to the plugin's message ports as a panel does, keeps the instance's state as a
// session does, and keeps what the plugin logs.
class Lv2Host {
public:
    struct Midi {
        int frame; // from the start of the block it is given with
        std::vector<std::uint8_t> bytes;
    };
    // An atom:Object of a message port: its type's URI, its atom:Int and atom:Long
    // properties, its atom:String ones.
    struct Message {
        std::string type;
        std::map<std::string, std::int64_t> numbers;
        std::map<std::string, std::string> texts;
        friend bool operator==(const Message&, const Message&) = default;
    };

    // The plugin of the URI from the bundle folder; null, with the reason in error, when it
    // does not load or instantiate.
    static std::unique_ptr<Lv2Host> Load(const std::string& bundle, const std::string& uri,
                                         double rate, std::string& error);
    ~Lv2Host();
    Lv2Host(const Lv2Host&) = delete;
    Lv2Host& operator=(const Lv2Host&) = delete;

    // Every port's symbol, in index order.
    std::vector<std::string> Symbols() const;
    // The value of a control port, input or output; set takes effect at the next Run.
    float& Control(const std::string& symbol);
    // The range the bundle declares for a control port, NaN where it declares none.
    std::pair<float, float> Range(const std::string& symbol) const;
    // Sets the control ports as the preset of the URI, in the bundle folder, does; false
    // when there is no such preset.
    bool LoadPreset(const std::string& bundle, const std::string& uri);
    // Deactivates and activates the instance, as a host does to start it afresh.
    void Restart();
    // Runs one block of out.size() frames; allocates nothing of its own.
    void Run(std::span<const Midi> events, std::span<float> out);

    // The message goes to the control port in the next Run, its numbers as atom:Int.
    void Send(const Message& message);
    // What the plugin wrote to its notify port in the last Run.
    std::vector<Message> Notified() const;
    // The instance's state as a session file holds it, and that state put back into the
    // instance; false when the text holds no state.
    std::string SaveState();
    bool RestoreState(const std::string& turtle);
    // Every line the plugin logged, its kind first: "error: ...".
    const std::vector<std::string>& Logged() const { return logged_; }

private:
    Lv2Host() = default;
    static LV2_URID MapUri(LV2_URID_Map_Handle handle, const char* uri);
    static const char* UnmapUri(LV2_URID_Unmap_Handle handle, LV2_URID urid);
    static int LogLine(LV2_Log_Handle handle, LV2_URID type, const char* format, va_list args);
    static int LogFormatted(LV2_Log_Handle handle, LV2_URID type, const char* format, ...);
    std::uint32_t Index(const std::string& symbol) const;

    LilvWorld* world_ = nullptr;
    const LilvPlugin* plugin_ = nullptr;
    LilvInstance* instance_ = nullptr;
    std::map<std::string, LV2_URID> uris_;
    std::vector<std::string> unmapped_{""}; // by URID
    LV2_URID_Map map_{this, &Lv2Host::MapUri};
    LV2_URID_Unmap unmap_{this, &Lv2Host::UnmapUri};
    LV2_Log_Log log_{this, &Lv2Host::LogFormatted, &Lv2Host::LogLine};
    std::vector<std::string> logged_;
    LV2_URID sequenceType_ = 0;
    LV2_URID midiType_ = 0;
    LV2_URID chunkType_ = 0;
    std::uint32_t out_ = 0;
    std::vector<float> controls_; // by port index; audio and atom ports keep a 0 here
    std::vector<float> minimum_;
    std::vector<float> maximum_;
    // The MIDI input's sequence, 8-byte aligned as atoms must be.
    std::vector<std::uint64_t> sequence_ = std::vector<std::uint64_t>(8192);
    // The message ports' sequences, when the plugin has them.
    std::vector<std::uint64_t> control_ = std::vector<std::uint64_t>(1024);
    std::vector<std::uint64_t> notify_ = std::vector<std::uint64_t>(1024);
    bool hasMessagePorts_ = false;
};
