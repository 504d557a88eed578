#include "engine/command.h"

#include <gtest/gtest.h>

#include <memory>

#include "tests/support/engine_fixture.h"

using namespace morvane;

// Whatever a command's numbers, the instrument stays within its tables: a control lands
// within its range, and a preset slot outside the eight is neither kept nor loaded. An
// audio callback applies these, where a stray write would go unseen.
TEST(Instrument, KeepsEveryCommandWithinTheInstrumentsRanges) {
    PresetValues bright = DefaultPresetValues();
    bright[VcfCutoff] = Describe(VcfCutoff).maximum;
    const struct {
        const char* what;
        Command command;
        void (*expected)(SoundParameters& s);
    } cases[] = {
        {"a control above its range", SetControl{VcfResonance, 500},
         [](SoundParameters& s) { WriteControl(s, VcfResonance, Describe(VcfResonance).maximum); }},
        {"a control below its range", SetControl{ModFreq, -5},
         [](SoundParameters& s) { WriteControl(s, ModFreq, Describe(ModFreq).minimum); }},
        {"a preset kept in slot 8", StorePreset{kPresetSlotCount, bright}, [](SoundParameters&) {}},
        {"a preset kept in slot -1", StorePreset{-1, bright}, [](SoundParameters&) {}},
        {"slot 8 loaded", LoadProgram{kPresetSlotCount}, [](SoundParameters&) {}},
        {"slot -1 loaded", LoadProgram{-1}, [](SoundParameters&) {}},
        {"a slot never kept loaded", LoadProgram{3}, [](SoundParameters&) {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        std::unique_ptr<SynthState> s = fixture::MakeSynth();
        Instrument instrument(*s);
        instrument.Apply(StorePreset{0, bright});
        instrument.Apply(c.command);
        SoundParameters expected = *fixture::MakeSynth();
        c.expected(expected);
        EXPECT_TRUE(static_cast<const SoundParameters&>(*s) == expected);
    }
}
