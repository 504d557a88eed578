#pragma once

#include <cstdint>

#include "engine/filter.h"

namespace morvane {

inline constexpr int kVoiceCount = 5;
// Marks an empty position in VoiceOrder.
inline constexpr std::int32_t kNoVoice = -1;

// There is no stage 3; 0 only ever appears in a record that was zeroed.
enum TEnvelopeStage : std::int32_t {
    StageIdle = 0,
    StageAttack = 1,
    StageDecaySustain = 2,
    StageRelease = 4,
};

// One voice record. A started voice is zeroed first, so every level, phase and
// filter history begins at 0: a note always starts from silence.
struct TSynthVoice {
    std::int32_t Active = 0;   // 1 while the voice is in VoiceOrder
    std::int32_t Key = 0;      // voice key 0..kVoiceKeyCount-1; -1 after NoteOff
    std::int32_t Semitone = 0; // the key's, taken when the voice starts
    // From the note's velocity when NoteOn starts or restarts the voice: the factor on its
    // output and the octaves added to its cutoff (1 and 0 at velocity 127).
    float VelocityGain = 1;
    float VelocityOctaves = 0;
    float Osc1Phase = 0; // cycles, 0 <= phase < 1
    float Osc2Phase = 0;
    float VcaLevel = 0;
    std::int32_t VcaStage = StageIdle;
    float VcfLevel = 0;
    std::int32_t VcfStage = StageIdle;
    float LadderY1 = 0, LadderY2 = 0, LadderY3 = 0, LadderY4 = 0;
    float LadderOldX = 0;
    float LadderOldY1 = 0, LadderOldY2 = 0, LadderOldY3 = 0;
    TBiquadState DecimatorState{};
};

} // namespace morvane
