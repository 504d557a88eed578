// The plugin's C face: the one descriptor a host finds by lv2_descriptor, whose
// callbacks forward to SynthPlugin.

#include <cstdio>
#include <cstring>
#include <exception>

#include <lv2/core/lv2.h>
#include <lv2/state/state.h>

#include "plugin/ports.h"
#include "plugin/synth_plugin.h"

namespace {

using morvane::lv2::SynthPlugin;

SynthPlugin* Instance(LV2_Handle handle) {
    return static_cast<SynthPlugin*>(handle);
}

// An exception must not cross into the host's C: the only one here is memory running out.
morvane::Result<std::unique_ptr<SynthPlugin>> Create(double rate,
                                                     const LV2_Feature* const* features) {
    try {
        return SynthPlugin::Create(rate, features);
    } catch (const std::exception& error) {
        return morvane::Error{error.what()};
    }
}

LV2_Handle Instantiate(const LV2_Descriptor*, double rate, const char*,
                       const LV2_Feature* const* features) {
    morvane::Result<std::unique_ptr<SynthPlugin>> plugin = Create(rate, features);
    if (!plugin) {
        // A host learns only that instantiation failed; the reason goes to its terminal.
        std::fprintf(stderr, "morvane.lv2: %s\n", plugin.error().message.c_str());
        return nullptr;
    }
    return plugin->release();
}

void Activate(LV2_Handle handle) {
    try {
        if (morvane::Status started = Instance(handle)->Activate(); !started)
            std::fprintf(stderr, "morvane.lv2: %s\n", started.error().message.c_str());
    } catch (const std::exception& error) {
        // The instance plays on as it was.
        std::fprintf(stderr, "morvane.lv2: cannot start afresh: %s\n", error.what());
    }
}

void ConnectPort(LV2_Handle handle, uint32_t port, void* data) {
    Instance(handle)->ConnectPort(port, data);
}

void Run(LV2_Handle handle, uint32_t frames) {
    Instance(handle)->Run(frames);
}

void Cleanup(LV2_Handle handle) {
    delete Instance(handle);
}

LV2_State_Status Save(LV2_Handle handle, LV2_State_Store_Function store, LV2_State_Handle state,
                      uint32_t, const LV2_Feature* const*) {
    try {
        return Instance(handle)->Save(store, state);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "morvane.lv2: cannot save the bindings: %s\n", error.what());
        return LV2_STATE_ERR_UNKNOWN;
    }
}

LV2_State_Status Restore(LV2_Handle handle, LV2_State_Retrieve_Function retrieve,
                         LV2_State_Handle state, uint32_t, const LV2_Feature* const*) {
    try {
        return Instance(handle)->Restore(retrieve, state);
    } catch (const std::exception& error) {
        // The bindings stay as they were.
        std::fprintf(stderr, "morvane.lv2: cannot restore the bindings: %s\n", error.what());
        return LV2_STATE_ERR_UNKNOWN;
    }
}

const LV2_State_Interface kState = {Save, Restore};

const void* ExtensionData(const char* uri) {
    if (std::strcmp(uri, LV2_STATE__interface) == 0)
        return &kState;
    return nullptr;
}

const LV2_Descriptor kDescriptor = {
    morvane::lv2::kPluginUri,
    Instantiate,
    ConnectPort,
    Activate,
    Run,
    nullptr,
    Cleanup,
    ExtensionData,
};

} // namespace

LV2_SYMBOL_EXPORT const LV2_Descriptor* lv2_descriptor(uint32_t index) {
    return index == 0 ? &kDescriptor : nullptr;
}
