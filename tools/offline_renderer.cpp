#include "tools/offline_renderer.h"

#include "engine/block_renderer.h"
#include "engine/tuning.h"
#include "engine/voice_pool.h"
#include "settings/presets.h"
#include "settings/tuning_file.h"

namespace morvane {

namespace {

template <typename... Handlers> struct Overloaded : Handlers... { using Handlers::operator()...; };

} // namespace

OfflineRenderer::OfflineRenderer() : state_(std::make_unique<SynthState>()), controls_(*state_) {}

void OfflineRenderer::StartFresh() {
    settingsFile_.reset();
    StartEngine(*state_, controls_, kDefaultTuning);
    LoadPreset(controls_, DefaultPresetValues());
}

Status OfflineRenderer::StartWith(const std::filesystem::path& settingsFile, int presetSlot) {
    // The program reads the tuning after building the pitch table; reading it first
    // changes nothing, since only StartEngine applies it.
    if (Status tuning = LoadTuning(*state_, settingsFile); !tuning)
        return tuning;
    StartEngine(*state_, controls_, state_->Tuning);
    settingsFile_ = settingsFile;
    return PresetBank(controls_, settingsFile).LoadPreset(presetSlot);
}

std::uint64_t OfflineRenderer::Apply(const score::Command& command) {
    SynthState& s = *state_;
    std::uint64_t blocks = 0;
    std::visit(
        Overloaded{
            [&](const score::SetControl& c) { controls_.ApplyPresetValue(c.control, c.value); },
            [&](const score::SetTuning& c) { ApplyTuning(s, c.tuning); },
            [&](const score::KeyDown& c) { NoteOn(s, c.key); },
            [&](const score::KeyUp& c) { ReleaseNote(s, c.key); },
            [&](const score::SetCtrl& c) { s.CtrlHeld = c.held; },
            [&](const score::Render& c) { blocks = c.blocks; },
            [&](const score::MoveControl& c) { controls_.Set(c.control, c.position); },
            [&](const score::LoadPreset& c) { LoadPresetSlot(c.slot); },
        },
        command);
    return blocks;
}

void OfflineRenderer::LoadPresetSlot(int slot) {
    if (!settingsFile_) {
        LoadPreset(controls_, DefaultPresetValues());
        return;
    }
    Status loaded = PresetBank(controls_, *settingsFile_).LoadPreset(slot);
    if (!loaded && !fault_)
        fault_ = loaded.error();
}

void OfflineRenderer::RenderNextBlock(std::int16_t* block) {
    RenderBlock(*state_, block);
}

} // namespace morvane
