#pragma once

#include <array>
#include <cstdint>

#include "engine/filter.h"
#include "engine/voice.h"

namespace morvane {

inline constexpr int kLongestEchoTimeMs = 200;
inline constexpr int kFullWheelDepth = 127;
inline constexpr int kEchoLineLength = 4410; // kLongestEchoTimeMs at the engine's rate

// What the engine carries from one sample to the next: the voices and their order, the
// LFO's phase and gate, the distortion's low-pass, the echo line and the noise
// generator. Rendering and the voice pool write it; nothing else should.
struct RunningState {
    std::array<TSynthVoice, kVoiceCount> Voices{};
    // Voices in use: those not in release first, most recent first; kNoVoice for empty.
    std::array<std::int32_t, kVoiceCount> VoiceOrder{kNoVoice, kNoVoice, kNoVoice, kNoVoice,
                                                     kNoVoice};
    float LfoPhase = 0; // periods, 0 <= phase < 1
    // The Ctrl key, which opens the LFO's gate while it is held.
    bool CtrlHeld = false;
    // The LFO's depth in 127ths: the mod wheel's value while it alone holds the gate, else 127.
    std::int32_t WheelDepth = kFullWheelDepth;
    // The bend wheel less its centre, -8192..8191; the block renderer turns it into a pitch
    // offset at the start of every block.
    std::int32_t PitchBend = 0;
    TBiquadState DistortionFilterState{};
    std::array<float, kEchoLineLength> EchoLine{};
    std::int32_t EchoPos = 0;
    // The single noise generator that every voice draws from; never reseeded.
    std::uint32_t NoiseSeed = 0;
};

} // namespace morvane
