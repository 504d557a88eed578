#include "engine/synth_state.h"

namespace morvane {

void InitialiseRunningState(SynthState& s) {
    s.CtrlHeld = false;
    s.WheelDepth = kFullWheelDepth;
    s.PitchBend = 0;
    s.ModAlwaysOn = false;
    s.ModSquare = false;
    s.Voices.fill(TSynthVoice{});
    s.VoiceOrder.fill(kNoVoice);
    s.LfoPhase = 0;
    s.EchoLine.fill(0.0f);
    s.EchoPos = 0;
}

} // namespace morvane
