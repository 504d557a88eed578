#include "tools/offline_renderer.h"

#include <gtest/gtest.h>

#include <sstream>

#include "render_fixture.h"

using namespace morvane;
using namespace morvane::render_fixture;

namespace {

std::string PlayFresh(const std::string& text) {
    OfflineRenderer renderer;
    renderer.StartFresh();
    std::ostringstream out;
    PlayScore(renderer, text, out);
    return out.str();
}

} // namespace

TEST(OfflineRenderer, CommandsReachTheEngineAsThePanelAndKeysWouldSend) {
    OfflineRenderer renderer;
    renderer.StartFresh();
    std::ostringstream out;
    PlayScore(renderer,
              "param TUNING 4700\nparam MOD_TYPE 1\nparam WAVE2_DETUNE 1\n"
              "param VCF_CUTOFF 66\nctrl 1\non 4\non 9\noff 9\n",
              out);
    const SynthState& s = renderer.State();
    EXPECT_EQ(s.Tuning, 4700);
    EXPECT_EQ(s.TuningRatio, 1.0681819f);
    EXPECT_TRUE(s.ModSquare);
    EXPECT_TRUE(s.ChorusChecked);
    EXPECT_EQ(s.CutoffHz, 1052);
    EXPECT_EQ(renderer.Controls().Label(VcfCutoff), "1.1k");
    EXPECT_TRUE(s.CtrlHeld);
    EXPECT_EQ(s.Voices[s.VoiceOrder[0]].Key, 4); // held voices before released ones
    EXPECT_EQ(s.Voices[s.VoiceOrder[1]].VcaStage, StageRelease);
    EXPECT_TRUE(out.str().empty());

    // Released at once, key 9 falls silent within the first block and frees its voice.
    PlayScore(renderer, "render 2\n", out);
    EXPECT_EQ(out.str().size(), 2u * 882u);
    EXPECT_EQ(s.VoiceOrder[1], -1);
}

TEST(OfflineRenderer, TheSameScoreGivesTheSameSamples) {
    std::string first = PlayFresh(kChordScore);
    EXPECT_EQ(first.size(), 150u * 882u);
    EXPECT_NE(first.find_first_not_of('\0'), std::string::npos);
    EXPECT_EQ(PlayFresh(kChordScore), first);
}

TEST(OfflineRenderer, StartsWithTheTuningAndPresetOfASettingsFile) {
    ScratchDirectory dir;
    std::string ini = dir / "morvane.ini";
    WriteBytes(ini, "[SETUP]\r\nTUNING=4500\r\n[PRESET2]\r\nVCF_CUTOFF=100\r\nWAVE1_OCTAVE=0\r\n");

    OfflineRenderer slot2;
    ASSERT_TRUE(slot2.StartWith(ini, 2).ok());
    EXPECT_EQ(slot2.State().Tuning, 4500);
    EXPECT_EQ(slot2.State().CutoffHz, 11025);
    EXPECT_EQ(slot2.State().Osc1Octave, 2);
    EXPECT_EQ(slot2.State().EchoTimeMs, 100);

    OfflineRenderer slot0;
    ASSERT_TRUE(slot0.StartWith(ini, 0).ok());
    EXPECT_EQ(slot0.State().CutoffHz, 348);

    OfflineRenderer unreadable;
    EXPECT_FALSE(unreadable.StartWith(dir / "", 0).ok());
}
