#include "tools/offline_renderer.h"

#include <array>
#include <cstdint>
#include <ostream>

#include "engine/block_renderer.h"
#include "engine/tuning.h"
#include "engine/voice_pool.h"
#include "settings/presets.h"
#include "settings/tuning.h"
#include "tools/wav_header.h"

namespace morvane {

namespace {

template <typename... Handlers> struct Overloaded : Handlers... { using Handlers::operator()...; };

} // namespace

OfflineRenderer::OfflineRenderer() : state_(std::make_unique<SynthState>()), controls_(*state_) {}

void OfflineRenderer::StartFresh() {
    StartEngine(*state_, controls_, kDefaultTuning);
    LoadPreset(controls_, DefaultPresetValues());
}

std::optional<FileError> OfflineRenderer::StartWith(const std::filesystem::path& settingsFile,
                                                    int presetSlot) {
    // The program reads the tuning after building the pitch table; reading it first
    // changes nothing, since only StartEngine applies it.
    if (std::optional<FileError> error = LoadSaveTuning(*state_, settingsFile, false))
        return error;
    StartEngine(*state_, controls_, state_->Tuning);
    return PresetBank(controls_, settingsFile).PresetLoadSave(presetSlot, false);
}

void OfflineRenderer::Play(const score::Score& score, std::ostream& out) {
    for (const score::Command& command : score.commands) {
        if (!out)
            return;
        Apply(command, out);
    }
}

void OfflineRenderer::Apply(const score::Command& command, std::ostream& out) {
    SynthState& s = *state_;
    std::visit(
        Overloaded{
            [&](const score::SetControl& c) { controls_.ApplyPresetValue(c.control, c.value); },
            [&](const score::SetTuning& c) { ApplyTuning(s, c.tuning); },
            [&](const score::KeyDown& c) { NoteOn(s, c.key); },
            [&](const score::KeyUp& c) { ReleaseNote(s, c.key); },
            [&](const score::SetCtrl& c) { s.CtrlHeld = c.held; },
            [&](const score::Render& c) { RenderBlocks(c.blocks, out); },
        },
        command);
}

void OfflineRenderer::RenderBlocks(std::uint64_t count, std::ostream& out) {
    std::array<std::int16_t, kBlockSamples> block{};
    std::array<char, kBlockBytes> bytes{};
    for (std::uint64_t i = 0; i < count && out; ++i) {
        RenderBlock(*state_, block.data());
        for (int n = 0; n < kBlockSamples; ++n) {
            auto sample = static_cast<std::uint16_t>(block[n]);
            bytes[2 * n] = static_cast<char>(sample & 0xFF);
            bytes[2 * n + 1] = static_cast<char>(sample >> 8);
        }
        out.write(bytes.data(), bytes.size());
    }
}

} // namespace morvane
