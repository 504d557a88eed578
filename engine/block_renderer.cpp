#include "engine/block_renderer.h"

#include <algorithm>
#include <array>

#include "engine/filter.h"
#include "engine/numbers.h"
#include "engine/triangle.h"
#include "engine/voice_renderer.h"

namespace morvane {

namespace {

using X = long double;

// The chorus lifts oscillator 2 by a tenth of a semitone.
constexpr int kChorusDetune = 12;
// Square LFO: +-ModDepth/800; triangle: ModDepth x t/400 with t in -1..+1.
constexpr int kSquareLfoDivisor = 800;
constexpr int kTriangleLfoDivisor = 400;
// The LFO value is in octaves (a quarter at most): times 12 semitones of 120 steps.
constexpr int kSemitonesPerOctave = 12;
// The pitch table's margins hold the deepest triangle LFO.
static_assert(kLargestPercent * kSemitonesPerOctave * kPitchStepsPerSemitone /
                  kTriangleLfoDivisor <=
              kLfoReach);
constexpr int kDistortionLevelDivisor = 5; // gain DistortionLevel/5 + 1: 1.2 to 21
constexpr float kDistortionClip = 8191;
constexpr int kPercent = 100;
constexpr int kEchoDepthDivisor = 200; // feedback at most 0.5
constexpr int kMillisecondsPerSecond = 1000;
constexpr float kOutputClip = 32767; // symmetric: -32768 never occurs

void RenderVoices(SynthState& s, std::array<VoiceSetup, kVoiceCount>& setups, int lfoOffset,
                  float& mix) {
    for (int position = 0; position < kVoiceCount; ++position) {
        int v = s.VoiceOrder[position];
        if (v == kNoVoice)
            continue;
        // An ended voice closes the gap in VoiceOrder; the voices behind it lose this
        // sample step and are rendered again from the next one.
        if (RenderVoice(s, s.Voices[v], setups[v], lfoOffset, mix))
            return;
    }
}

// The keys of the voices in VoiceOrder.
KeySet SoundingKeys(const RunningState& s) {
    KeySet keys;
    for (int v : s.VoiceOrder) {
        if (v != kNoVoice && s.Voices[v].Key < kKeyCount)
            keys[s.Voices[v].Key] = true;
    }
    return keys;
}

} // namespace

int AdvanceLfo(SynthState& s) {
    s.LfoPhase = X(s.LfoPhase) + s.Tables->LfoIncrementTable[s.ModFreq];
    if (s.LfoPhase >= 1)
        s.LfoPhase = X(s.LfoPhase) - 1;
    float value;
    if (s.ModSquare) {
        // Negative in the first half of the period, positive in the second.
        value = s.LfoPhase >= 0.5f ? X(s.ModDepth) / kSquareLfoDivisor
                                   : X(-s.ModDepth) / kSquareLfoDivisor;
    } else {
        value = X(s.ModDepth) * TriangleShape(s.LfoPhase) / kTriangleLfoDivisor;
    }
    // The phase runs on while the gate is closed. The mod wheel sets the depth while it
    // alone holds the gate: at 127, (value x 127) / 127 is value exactly.
    if (!s.CtrlHeld && !s.ModAlwaysOn)
        value = 0;
    else if (!s.ModAlwaysOn)
        value = (X(value) * s.WheelDepth) / kFullWheelDepth;
    return static_cast<int>(X(value) * kSemitonesPerOctave * kPitchStepsPerSemitone);
}

std::int16_t RenderMasterSample(SynthState& s, float mix, int echoLength) {
    if (s.DistortionLevel != 0) {
        mix = (X(s.DistortionLevel) / kDistortionLevelDivisor + 1) * mix;
        if (mix > kDistortionClip)
            mix = kDistortionClip;
        else if (mix < -kDistortionClip)
            mix = -kDistortionClip;
        mix = X(CascadeFilter(DistortionCascade, s.DistortionFilterState, mix)) *
              s.DistortionVolume / kPercent;
    }

    // A feedback echo: the line holds the final mix, echoes included, and it enters
    // after the distortion so that echoes are not distorted again.
    mix = X(s.EchoDepth) * s.EchoLine[s.EchoPos] / kEchoDepthDivisor + mix;

    std::int16_t sample;
    if (mix > kOutputClip) {
        mix = kOutputClip;
        sample = static_cast<std::int16_t>(kOutputClip);
    } else if (mix < -kOutputClip) {
        mix = -kOutputClip;
        sample = static_cast<std::int16_t>(-kOutputClip);
    } else {
        sample = static_cast<std::int16_t>(mix);
    }

    s.EchoLine[s.EchoPos] = Flush(mix);
    // A shortened echo time leaves EchoPos beyond the new length for one more sample.
    if (++s.EchoPos >= echoLength)
        s.EchoPos = 0;
    return sample;
}

int EchoLength(int echoTimeMs) {
    // The line is written at every position below the length: a longer time from a
    // settings file or a host would write past it on the audio thread.
    return std::clamp(echoTimeMs, 0, kLongestEchoTimeMs) * kSampleRate / kMillisecondsPerSecond;
}

void StreamRenderer::SetUp(const SynthState& s) {
    // Pitches are fixed per voice up to the next cut, so a voice moved forward by the end
    // of another keeps its own.
    const bool chorus = s.ChorusChecked;
    const int bend = BendOffset(s.PitchBend, s.BendRange);
    anyVoiceActive_ = false;
    for (int v : s.VoiceOrder) {
        if (v == kNoVoice)
            continue;
        anyVoiceActive_ = true;
        const TSynthVoice& voice = s.Voices[v];
        int n = voice.Semitone * kPitchStepsPerSemitone + bend;
        int p1 = s.Osc1Octave * kPitchStepsPerOctave + n;
        int p2 = s.Osc2Octave * kPitchStepsPerOctave + n + (chorus ? kChorusDetune : 0);
        setups_[v] = SetUpVoice(s, voice, p1, p2);
    }
    echoLength_ = EchoLength(s.EchoTimeMs);
    // Between two cuts voices only end, none starts: the keys sounding at the cut that
    // no longer sound are those whose voices ended, found without a cost per sample.
    soundingAtCut_ = SoundingKeys(s);
}

BlockResult StreamRenderer::Render(SynthState& s, std::int16_t* target, int count) {
    BlockResult result;
    int done = 0;
    while (done < count) {
        if (cutPending_ || blockPosition_ == 0) {
            SetUp(s);
            cutPending_ = false;
        }
        const int piece = std::min(count - done, kBlockSamples - blockPosition_);
        std::int16_t* out = target + done;
        for (int i = 0; i < piece; ++i) {
            float mix = 0;
            // The LFO only runs from a cut with a voice, then up to the next cut.
            if (anyVoiceActive_)
                RenderVoices(s, setups_, AdvanceLfo(s), mix);
            out[i] = RenderMasterSample(s, mix, echoLength_);
        }
        done += piece;
        blockPosition_ = (blockPosition_ + piece) % kBlockSamples;
        const KeySet sounding = SoundingKeys(s);
        result.EndedKeys |= soundingAtCut_ & ~sounding;
        soundingAtCut_ &= sounding;
    }
    return result;
}

BlockResult RenderBlock(SynthState& s, std::int16_t* target) {
    StreamRenderer renderer;
    return renderer.Render(s, target, kBlockSamples);
}

} // namespace morvane
