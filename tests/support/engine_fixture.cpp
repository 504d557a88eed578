#include "tests/support/engine_fixture.h"

#include "engine/block_renderer.h"
#include "engine/voice_pool.h"

namespace morvane::fixture {

float EnvelopeTime(int position) {
    return (static_cast<long double>(position) + 1) / 100 * kSampleRate;
}

void SetEnvelope(EnvelopeParameters& e, int attack, int decay, int sustain, int release) {
    e.AttackPos = attack;
    e.DecayPos = decay;
    e.SustainPos = sustain;
    e.ReleasePos = release;
    e.AttackTime = EnvelopeTime(attack);
    e.DecayTime = EnvelopeTime(decay);
    e.SustainLevel = static_cast<long double>(sustain) / 100;
    e.ReleaseTime = EnvelopeTime(release);
}

void SetDefaultSound(SoundParameters& s) {
    s.Osc1Wave = 1;
    s.Osc2Wave = 0;
    s.Osc1Octave = s.Osc2Octave = 1;
    s.Osc1Volume = s.Osc2Volume = 1.0f;
    s.Osc1WidthPos = s.Osc2WidthPos = 50;
    s.Osc1Width = s.Osc2Width = 0.5f;
    s.NoiseLevel = 0;
    s.ChorusChecked = false;
    s.ModDepth = 20;
    s.ModFreq = 10;
    s.ModSquare = false;
    s.ModAlwaysOn = false;
    SetEnvelope(s.Vca, 25, 25, 50, 50);
    SetEnvelope(s.Vcf, 25, 25, 50, 50);
    s.UseVcfEnvelope = false;
    s.CutoffHz = 348;
    s.VcfIntensity = 50;
    s.Resonance = 0.5f;
    s.DistortionLevel = 0;
    s.DistortionVolume = 50;
    s.EchoDepth = 0;
    s.EchoTimeMs = 100;
    s.Tuning = kDefaultTuning;
    s.TuningRatio = 1.0f;
}

void SetWorstCaseSound(SoundParameters& s) {
    SetDefaultSound(s);
    s.Osc2Wave = 2;
    s.ChorusChecked = true;
    s.NoiseLevel = 50;
    s.Resonance = 0.9f;
    s.VcfIntensity = 100;
    s.UseVcfEnvelope = true;
    s.DistortionLevel = 37;
    s.DistortionVolume = 60;
    s.EchoDepth = 70;
    s.EchoTimeMs = 200;
    s.ModAlwaysOn = true;
    s.ModDepth = 100;
    s.ModFreq = 20;
}

std::unique_ptr<SynthState> MakeSynth() {
    auto s = std::make_unique<SynthState>();
    InitialiseRunningState(*s);
    SetDefaultSound(*s);
    return s;
}

void Press(SynthState& s, std::initializer_list<int> keys) {
    for (int key : keys)
        NoteOn(s, key);
}

std::vector<std::int16_t> Render(SynthState& s, int blocks) {
    std::vector<std::int16_t> out(static_cast<std::size_t>(blocks) * kBlockSamples);
    for (int b = 0; b < blocks; ++b)
        RenderBlock(s, out.data() + static_cast<std::size_t>(b) * kBlockSamples);
    return out;
}

std::uint64_t Fingerprint(const std::int16_t* samples, std::size_t count, std::uint64_t h) {
    for (std::size_t n = 0; n < count; ++n) {
        h ^= static_cast<std::uint16_t>(samples[n]);
        h *= 1099511628211ull;
    }
    return h;
}

std::uint64_t Fingerprint(const std::vector<std::int16_t>& samples) {
    return Fingerprint(samples.data(), samples.size());
}

} // namespace morvane::fixture
