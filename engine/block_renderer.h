#pragma once

#include <array>
#include <cstdint>

#include "engine/key_colours.h"
#include "engine/synth_state.h"
#include "engine/voice_renderer.h"

// Rendering touches nothing but the state it is given and the samples it writes: no
// listener, no lock, no allocation, no system call. A caller on any thread may render
// when it owns the SynthState (parameters and running state) for the whole call, and
// the target; the tables are read-only and may be shared with other players. Events
// (keys, panel moves, tuning, Ctrl) are applied to the same state between two blocks, or
// at a cut point.
namespace morvane {

// What a block reports back besides its samples.
struct BlockResult {
    // The keys whose voices ended during the block, their releases having died away:
    // their buttons go back to rest.
    KeySet EndedKeys;
};

// Renders the engine's stream piece by piece. What the engine works out once for a stretch
// of samples (whether any voice sounds, and so whether the LFO runs; each voice's pitches;
// the echo length; the keys sounding, for the ended-keys report) it works out at cut
// points: every 441st sample, and any sample the caller cuts at because a timed event
// (a MIDI message) has just changed the state. Between two cut points the state must not
// change; a render may stop anywhere and go on later without a cut, giving the same samples
// as one render.
class StreamRenderer {
public:
    // The next sample rendered is a cut point.
    void Cut() { cutPending_ = true; }
    // Renders count signed 16-bit mono samples into target: every voice in VoiceOrder,
    // the LFO, distortion with its low-pass, the feedback echo and the symmetric clip.
    BlockResult Render(SynthState& s, std::int16_t* target, int count);
    // Samples rendered since the last grid cut point, 0..kBlockSamples - 1.
    int BlockPosition() const { return blockPosition_; }

private:
    void SetUp(const SynthState& s);

    // Indexed by voice record, not by position.
    std::array<VoiceSetup, kVoiceCount> setups_{};
    bool anyVoiceActive_ = false;
    int echoLength_ = 0;
    KeySet soundingAtCut_;
    int blockPosition_ = 0;
    bool cutPending_ = true;
};

// Renders one block of kBlockSamples samples into target, cut at its start alone.
BlockResult RenderBlock(SynthState& s, std::int16_t* target);

// Advances LfoPhase by one output sample and returns the LFO's pitch offset in
// PitchTable steps, truncated toward zero; 0 while neither Ctrl nor ModAlwaysOn opens
// the gate.
int AdvanceLfo(SynthState& s);

// The echo delay in samples for a delay in milliseconds, truncated: 1102 for 50 ms. Times
// beyond the longest echo give the whole line, below zero none.
int EchoLength(int echoTimeMs);

// The master chain for one sample step: distortion with its low-pass (when on), the
// feedback echo, the clip and the conversion to 16 bits. mix is the sum of the voices;
// the echo line advances by one position, wrapping at echoLength.
std::int16_t RenderMasterSample(SynthState& s, float mix, int echoLength);

} // namespace morvane
