#include "engine/parameters.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <utility>

#include "base/ascii.h"

namespace morvane {

namespace {

constexpr long double kLn10 = 2.302585092994045684017991454684364208L;
constexpr long double kNyquistDecade = 11.025L; // 11025 Hz / 1000: the cutoff at r = 1000

// Writes the converted position into the sound parameters.
using Writer = void (*)(SoundParameters& s, int p);

enum class LabelFormat {
    None,
    Number,       // "%d"
    Percent,      // "%d%%"
    Hertz,        // "%dHz"
    Milliseconds, // "%dms"
    Cutoff,       // "%d" of CutoffHz below 1000, else "%.1fk" of CutoffHz / 1000
    Resonance,    // "%.2f" of the stored Resonance
};

struct Row {
    ControlDescription description;
    Writer write;
    LabelFormat label;
};

constexpr Row Radio(const char* key, const char* control, int items, int presetDefault,
                    Writer write) {
    return {{key, control, ControlKind::RadioGroup, 0, items - 1, kNothingSelected, presetDefault,
             false},
            write,
            LabelFormat::None};
}

constexpr Row Slider(const char* key, const char* control, int minimum, int maximum, int start,
                     int presetDefault, LabelFormat label, Writer write) {
    return {{key, control, ControlKind::Slider, minimum, maximum, start, presetDefault,
             label != LabelFormat::None},
            write,
            label};
}

constexpr Row CheckBox(const char* key, const char* control, Writer write) {
    return {{key, control, ControlKind::CheckBox, 0, 1, 0, 0, false}, write, LabelFormat::None};
}

// (p + 1) / 100 seconds in samples: exactly (p + 1) * 220.5 once rounded to single.
float EnvelopeTime(int p) {
    return (static_cast<long double>(p) + 1) / 100 * kSampleRate;
}

float Fraction(int p) {
    return static_cast<long double>(p) / 100;
}

// Three decades over the slider's travel, 11 Hz to 11025 Hz. The whole powers of ten at
// the ends are multiplied out so that p = 100 gives exactly 11025, not 11024.
std::int32_t CutoffFrequency(int p) {
    long double e = static_cast<long double>(p) / 100 * 3;
    long double r = 1;
    if (e == std::trunc(e)) {
        for (int i = 0; i < static_cast<int>(e); ++i)
            r *= 10;
    } else {
        r = std::exp(e * kLn10);
    }
    return static_cast<std::int32_t>(r * kNyquistDecade);
}

// Octave radio items run HIGH, MID, LOW, the reverse of the octave numbers.
constexpr int kHighestOctave = 2;

// The order of the first 28 rows is the order in which a preset is written and read,
// and so the order in which a preset load changes the engine.
const std::array<Row, kControlCount> kRows = {{
    Radio("WAVE1_TYPE", "RadioWaveSel1", 4, 1, [](SoundParameters& s, int p) { s.Osc1Wave = p; }),
    Radio("WAVE2_TYPE", "RadioWaveSel2", 4, 0, [](SoundParameters& s, int p) { s.Osc2Wave = p; }),
    Radio("WAVE1_OCTAVE", "RadioOctave1", 3, 1,
          [](SoundParameters& s, int p) { s.Osc1Octave = kHighestOctave - p; }),
    Radio("WAVE2_OCTAVE", "RadioOctave2", 3, 1,
          [](SoundParameters& s, int p) { s.Osc2Octave = kHighestOctave - p; }),
    Slider("WAVE1_VOL", "ScrollBarVol1", 0, 100, 0, 100, LabelFormat::Number,
           [](SoundParameters& s, int p) { s.Osc1Volume = Fraction(p); }),
    Slider("WAVE2_VOL", "ScrollBarVol2", 0, 100, 0, 100, LabelFormat::Number,
           [](SoundParameters& s, int p) { s.Osc2Volume = Fraction(p); }),
    Slider("WAVE1_WIDTH", "ScrollBarWidth1", 0, 100, 0, 50, LabelFormat::Number,
           [](SoundParameters& s, int p) {
               s.Osc1WidthPos = p;
               s.Osc1Width = Fraction(p);
           }),
    Slider("WAVE2_WIDTH", "ScrollBarWidth2", 0, 100, 0, 50, LabelFormat::Number,
           [](SoundParameters& s, int p) {
               s.Osc2WidthPos = p;
               s.Osc2Width = Fraction(p);
           }),
    Slider("NOISE_VOL", "ScrollBarNoise", 0, 100, 0, 0, LabelFormat::Number,
           [](SoundParameters& s, int p) { s.NoiseLevel = p; }),
    // The chorus box has no handler; this only keeps the copy of its state that the
    // block renderer reads in step with the box.
    CheckBox("WAVE2_DETUNE", "CheckBoxChorus",
             [](SoundParameters& s, int p) { s.ChorusChecked = p != 0; }),
    Slider("MOD_DEPTH", "ScrollBarModDepth", 0, 100, 0, 20, LabelFormat::Percent,
           [](SoundParameters& s, int p) { s.ModDepth = p; }),
    Slider("MOD_FREQ", "ScrollBarModFreq", 1, 20, 1, 10, LabelFormat::Hertz,
           [](SoundParameters& s, int p) { s.ModFreq = p; }),
    {{"MOD_TYPE", "RadioButtonModType", ControlKind::ModType, 0, 1, kNothingSelected, 0, false},
     [](SoundParameters& s, int p) { s.ModSquare = p == 1; },
     LabelFormat::None},
    CheckBox("MOD_ON", "CheckBoxModOn", [](SoundParameters& s, int p) { s.ModAlwaysOn = p != 0; }),
    Slider("ENV_ATTACK", "ScrollBarAttack", 0, 100, 0, 25, LabelFormat::Number,
           [](SoundParameters& s, int p) {
               s.Vca.AttackPos = p;
               s.Vca.AttackTime = EnvelopeTime(p);
           }),
    Slider("ENV_DECAY", "ScrollBarDecay", 0, 100, 0, 25, LabelFormat::Number,
           [](SoundParameters& s, int p) {
               s.Vca.DecayPos = p;
               s.Vca.DecayTime = EnvelopeTime(p);
           }),
    Slider("ENV_SUSTAIN", "ScrollBarSustain", 0, 100, 0, 50, LabelFormat::Number,
           [](SoundParameters& s, int p) {
               s.Vca.SustainPos = p;
               s.Vca.SustainLevel = Fraction(p);
           }),
    Slider("ENV_RELEASE", "ScrollBarRelease", 0, 100, 0, 50, LabelFormat::Number,
           [](SoundParameters& s, int p) {
               s.Vca.ReleasePos = p;
               s.Vca.ReleaseTime = EnvelopeTime(p);
           }),
    Slider("ENV_VCF_ATTACK", "ScrollBarVcfAttack", 0, 100, 0, 25, LabelFormat::Number,
           [](SoundParameters& s, int p) {
               s.Vcf.AttackPos = p;
               s.Vcf.AttackTime = EnvelopeTime(p);
           }),
    Slider("ENV_VCF_DECAY", "ScrollBarVcfDecay", 0, 100, 0, 25, LabelFormat::Number,
           [](SoundParameters& s, int p) {
               s.Vcf.DecayPos = p;
               s.Vcf.DecayTime = EnvelopeTime(p);
           }),
    Slider("ENV_VCF_SUSTAIN", "ScrollBarVcfSustain", 0, 100, 0, 50, LabelFormat::Number,
           [](SoundParameters& s, int p) {
               s.Vcf.SustainPos = p;
               s.Vcf.SustainLevel = Fraction(p);
           }),
    Slider("ENV_VCF_RELEASE", "ScrollBarVcfRelease", 0, 100, 0, 50, LabelFormat::Number,
           [](SoundParameters& s, int p) {
               s.Vcf.ReleasePos = p;
               s.Vcf.ReleaseTime = EnvelopeTime(p);
           }),
    CheckBox("USE_VCF_ENVELOPE", "CheckBoxUseVcfEnvelope",
             [](SoundParameters& s, int p) { s.UseVcfEnvelope = p != 0; }),
    Slider("VCF_CUTOFF", "ScrollBarCutOff", 0, 100, 0, 50, LabelFormat::Cutoff,
           [](SoundParameters& s, int p) { s.CutoffHz = CutoffFrequency(p); }),
    Slider("VCF_INTENSITY", "ScrollBarIntensity", 0, 100, 0, 50, LabelFormat::Number,
           [](SoundParameters& s, int p) { s.VcfIntensity = p; }),
    Slider("VCF_RESONANCE", "ScrollBarResonance", 0, 90, 0, 50, LabelFormat::Resonance,
           [](SoundParameters& s, int p) { s.Resonance = Fraction(p); }),
    Slider("DISTORTION_LEVEL", "ScrollBarDistortion", 0, 100, 1, 0, LabelFormat::Number,
           [](SoundParameters& s, int p) { s.DistortionLevel = p; }),
    Slider("DISTORTION_VOLUME", "ScrollBarDistVol", 0, 100, 1, 50, LabelFormat::Number,
           [](SoundParameters& s, int p) { s.DistortionVolume = p; }),
    Slider("ECHO_DEPTH", "ScrollBarEchoDepth", 0, 100, 0, 0, LabelFormat::Percent,
           [](SoundParameters& s, int p) { s.EchoDepth = p; }),
    Slider("ECHO_TIME", "ScrollBarEchoTime", 50, 200, 50, 100, LabelFormat::Milliseconds,
           [](SoundParameters& s, int p) { s.EchoTimeMs = p; }),
}};

const Row& RowOf(ControlId id) {
    return kRows[id];
}

bool HasSelection(ControlKind kind) {
    return kind == ControlKind::RadioGroup || kind == ControlKind::ModType;
}

// A fixed-point number with a full stop as decimal point, whatever the C locale says.
std::string FixedPoint(long double value, int decimals) {
    std::array<char, 64> buffer{};
    auto [end, error] = std::to_chars(buffer.data(), buffer.data() + buffer.size(), value,
                                      std::chars_format::fixed, decimals);
    return std::string(buffer.data(), end);
}

std::string FormatLabel(LabelFormat format, const SoundParameters& s, int p) {
    switch (format) {
    case LabelFormat::None:
        return {};
    case LabelFormat::Number:
        return std::to_string(p);
    case LabelFormat::Percent:
        return std::to_string(p) + "%";
    case LabelFormat::Hertz:
        return std::to_string(p) + "Hz";
    case LabelFormat::Milliseconds:
        return std::to_string(p) + "ms";
    case LabelFormat::Cutoff:
        if (s.CutoffHz < 1000)
            return std::to_string(s.CutoffHz);
        // The quotient in extended precision: 3650 shows as 3.7k, where double says 3.6k.
        return FixedPoint(static_cast<long double>(s.CutoffHz) / 1000, 1) + "k";
    case LabelFormat::Resonance:
        return FixedPoint(s.Resonance, 2);
    }
    return {};
}

} // namespace

const ControlDescription& Describe(ControlId id) {
    return RowOf(id).description;
}

std::optional<ControlId> FindControl(std::string_view key) {
    for (int i = 0; i < kControlCount; ++i) {
        if (EqualsIgnoringAsciiCase(kRows[i].description.key, key))
            return static_cast<ControlId>(i);
    }
    return std::nullopt;
}

void WriteControl(SoundParameters& s, ControlId id, int position) {
    RowOf(id).write(s, position);
}

int PresetPosition(ControlId id, int value) {
    const ControlDescription& d = Describe(id);
    switch (d.kind) {
    case ControlKind::RadioGroup:
        return std::clamp(value < 0 ? d.presetDefault : value, d.minimum, d.maximum);
    case ControlKind::Slider:
        return std::clamp(value, d.minimum, d.maximum);
    case ControlKind::CheckBox:
    case ControlKind::ModType:
        return value != 0 ? 1 : 0;
    }
    return value;
}

SoundControls::SoundControls(SoundParameters& parameters) : parameters_(parameters) {
    for (int i = 0; i < kControlCount; ++i)
        positions_[i] = kRows[i].description.startPosition;
}

void SoundControls::Set(ControlId id, int value) {
    const ControlDescription& d = Describe(id);
    int lowest = HasSelection(d.kind) ? kNothingSelected : d.minimum;
    int position = std::clamp(value, lowest, d.maximum);
    if (position == positions_[id])
        return;
    StorePosition(id, position);
    RunHandler(id);
}

void SoundControls::RunHandler(ControlId id) {
    const Row& row = RowOf(id);
    int p = positions_[id];
    // Unselecting a radio item runs nothing; and with nothing selected the octave
    // handlers would store 3, beyond the pitch table.
    if (HasSelection(row.description.kind) && p == kNothingSelected)
        return;
    row.write(parameters_, p);
    if (row.label != LabelFormat::None)
        WriteLabel(id, FormatLabel(row.label, parameters_, p));
}

void SoundControls::ApplyPresetValue(ControlId id, int value) {
    Set(id, PresetPosition(id, value));
    // Checking an LFO shape button runs its handler only if it was unchecked; for the
    // chorus box, which has no handler, the run only repeats what setting it passed on.
    if (Describe(id).kind != ControlKind::ModType)
        RunHandler(id);
}

void SoundControls::MoveStartUpSliders() {
    // The detour through 10 makes the echo depth handler run although the slider
    // already stands at 0; likewise the distortion slider through 100.
    Set(EchoDepth, 10);
    Set(EchoDepth, 0);
    Set(EchoTime, 100);
    Set(DistortionLevel, 100);
    Set(DistortionLevel, 0);
    Set(DistortionVolume, 50);
}

void SoundControls::StorePosition(ControlId id, int position) {
    positions_[id] = position;
    if (listener_)
        listener_->PositionChanged(id, position);
}

void SoundControls::WriteLabel(ControlId id, std::string text) {
    labels_[id] = std::move(text);
    if (listener_)
        listener_->LabelChanged(id, labels_[id]);
}

} // namespace morvane
