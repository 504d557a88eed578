#include "engine/voice_pool.h"

#include <gtest/gtest.h>

#include <memory>
#include <random>
#include <set>
#include <utility>
#include <vector>

#include "engine/synth_state.h"

using namespace morvane;

namespace {

using Order = std::array<std::int32_t, kVoiceCount>;
using ColourCall = std::pair<int, bool>; // key, pressed

struct RecordingKeyboard : KeyColourListener {
    std::vector<ColourCall> calls;
    void SetKeyColour(int key, bool pressed) override { calls.emplace_back(key, pressed); }
    std::vector<ColourCall> Take() { return std::exchange(calls, {}); }
};

class VoicePool : public ::testing::Test {
protected:
    void SetUp() override {
        s = std::make_unique<SynthState>();
        InitialiseRunningState(*s);
    }
    int KeyAtPosition(int p) const { return s->Voices[s->VoiceOrder[p]].Key; }

    // The pool's operations as the window calls them, every colour change they report
    // passed on to the keyboard.
    void NoteOn(RunningState& state, int key, NoteVelocity velocity = {}) {
        ShowKeyColours(morvane::NoteOn(state, key, velocity), keyboard);
    }
    void ReleaseNote(RunningState& state, int key) {
        ShowKeyColours(morvane::ReleaseNote(state, key), keyboard);
    }
    void NoteOff(RunningState& state, int key) {
        ShowKeyColours(morvane::NoteOff(state, key), keyboard);
    }

    std::unique_ptr<SynthState> s;
    RecordingKeyboard keyboard;
};

} // namespace

TEST_F(VoicePool, SixthKeyStealsTheOldestHeldVoice) {
    for (int key = 1; key <= 5; ++key)
        NoteOn(*s, key);
    EXPECT_EQ(s->VoiceOrder, (Order{4, 3, 2, 1, 0}));
    keyboard.Take();

    NoteOn(*s, 6);
    EXPECT_EQ(keyboard.Take(), (std::vector<ColourCall>{{1, false}, {6, true}}));
    EXPECT_EQ(s->VoiceOrder, (Order{0, 4, 3, 2, 1}));
    EXPECT_EQ(KeyAtPosition(0), 6);
    EXPECT_EQ(KeyAtPosition(4), 2);
    // The stolen key's later release finds no voice.
    ReleaseNote(*s, 1);
    EXPECT_TRUE(keyboard.Take().empty());
}

TEST_F(VoicePool, ReleasedVoiceStaysBehindHeldOnesAndFreeRecordsAreTakenLowestFirst) {
    NoteOn(*s, 10); // record 0
    NoteOn(*s, 11); // record 1
    NoteOn(*s, 12); // record 2
    EXPECT_EQ(keyboard.Take(), (std::vector<ColourCall>{{10, true}, {11, true}, {12, true}}));
    ReleaseNote(*s, 11);
    EXPECT_EQ(keyboard.Take(), (std::vector<ColourCall>{{11, false}}));
    EXPECT_EQ(s->VoiceOrder, (Order{2, 0, 1, -1, -1}));
    NoteOn(*s, 13);
    EXPECT_EQ(keyboard.Take(), (std::vector<ColourCall>{{13, true}}));
    EXPECT_EQ(s->VoiceOrder, (Order{3, 2, 0, 1, -1}));
    EXPECT_EQ(s->Voices[3].Key, 13);

    // A second release restores the colour again and moves nothing.
    ReleaseNote(*s, 12);
    keyboard.Take();
    ReleaseNote(*s, 11);
    EXPECT_EQ(keyboard.Take(), (std::vector<ColourCall>{{11, false}}));
    EXPECT_EQ(s->VoiceOrder, (Order{3, 0, 2, 1, -1}));
}

TEST_F(VoicePool, AReleasedVoiceIsStolenBeforeAHeldOne) {
    for (int key = 1; key <= 5; ++key)
        NoteOn(*s, key);
    ReleaseNote(*s, 3); // record 2
    keyboard.Take();
    NoteOn(*s, 9);
    EXPECT_EQ(keyboard.Take(), (std::vector<ColourCall>{{3, false}, {9, true}}));
    EXPECT_EQ(s->VoiceOrder, (Order{2, 4, 3, 1, 0}));
    EXPECT_EQ(s->Voices[2].Key, 9);
    EXPECT_EQ(s->Voices[2].VcaStage, StageAttack);
}

TEST_F(VoicePool, KeyPressedAgainInReleaseRestartsItsVoiceFromSilence) {
    NoteOn(*s, 4);
    NoteOn(*s, 7);
    s->Voices[0].VcaLevel = 0.7f;
    s->Voices[0].Osc1Phase = 0.3f;
    ReleaseNote(*s, 4);
    keyboard.Take();
    NoteOn(*s, 4);
    EXPECT_EQ(keyboard.Take(), (std::vector<ColourCall>{{4, true}}));
    EXPECT_EQ(s->VoiceOrder, (Order{0, 1, -1, -1, -1}));
    EXPECT_EQ(s->Voices[0].VcaLevel, 0.0f);
    EXPECT_EQ(s->Voices[0].Osc1Phase, 0.0f);
    EXPECT_EQ(s->Voices[0].VcaStage, StageAttack);
    EXPECT_EQ(s->Voices[0].VcfStage, StageAttack);
}

TEST_F(VoicePool, RepeatedKeyDownAndUnknownKeysChangeNothing) {
    NoteOn(*s, 4);
    s->Voices[0].VcaLevel = 0.4f;
    keyboard.Take();
    Order before = s->VoiceOrder;
    NoteOn(*s, 4); // auto-repeat of a held key
    ReleaseNote(*s, 30);
    NoteOff(*s, 30);
    EXPECT_EQ(s->VoiceOrder, before);
    EXPECT_EQ(s->Voices[0].VcaLevel, 0.4f);
    EXPECT_TRUE(keyboard.Take().empty());
}

// A keyless note is a key of its own under the same rules, with no button to colour; its
// velocity is taken when its voice starts or restarts, never by a press while it sounds.
TEST_F(VoicePool, KeylessNotesKeepTheRulesAndTheirVelocity) {
    const int low = KeylessNoteKey(24), high = KeylessNoteKey(100);
    NoteOn(*s, low, NoteVelocity{0.5f, -1.0f});
    NoteOn(*s, high);
    NoteOn(*s, 4);
    EXPECT_EQ(s->VoiceOrder, (Order{2, 1, 0, -1, -1}));
    EXPECT_EQ(s->Voices[0].Semitone, -12);
    EXPECT_EQ(s->Voices[1].Semitone, 64);
    EXPECT_EQ(s->Voices[0].VelocityGain, 0.5f);
    EXPECT_EQ(s->Voices[0].VelocityOctaves, -1.0f);
    EXPECT_EQ(keyboard.Take(), (std::vector<ColourCall>{{4, true}}));

    NoteOn(*s, low, NoteVelocity{0.25f, 0}); // still sounding: nothing changes
    EXPECT_EQ(s->Voices[0].VelocityGain, 0.5f);
    ReleaseNote(*s, low);
    NoteOn(*s, low, NoteVelocity{0.25f, 0}); // in release: restarts with the new velocity
    EXPECT_EQ(s->Voices[0].VelocityGain, 0.25f);
    EXPECT_EQ(s->Voices[0].VelocityOctaves, 0.0f);
    EXPECT_TRUE(keyboard.Take().empty());
}

TEST_F(VoicePool, NoteOffAtTheFrontClosesTheGap) {
    for (int key = 1; key <= 5; ++key)
        NoteOn(*s, key);
    s->Voices[4].VcaLevel = 0.25f;
    keyboard.Take();
    NoteOff(*s, 5);
    EXPECT_EQ(keyboard.Take(), (std::vector<ColourCall>{{5, false}}));
    EXPECT_EQ(s->VoiceOrder, (Order{3, 2, 1, 0, -1}));
    EXPECT_EQ(s->Voices[4].Active, 0);
    EXPECT_EQ(s->Voices[4].Key, -1);
    EXPECT_EQ(s->Voices[4].VcaLevel, 0.25f) << "the other fields keep their values";
}

TEST_F(VoicePool, RandomPlayingKeepsEveryInvariant) {
    std::mt19937 random(20261207);
    std::uniform_int_distribution<int> key(0, 12); // few keys, so they collide often
    std::uniform_int_distribution<int> operation(0, 9);
    // When each voice was last started and when it last went into release, by a step
    // count: the order of VoiceOrder must follow from them.
    std::array<int, kVoiceCount> started{}, released{};
    for (int step = 0; step < 20000; ++step) {
        int k = key(random);
        int op = operation(random);
        const std::array<TSynthVoice, kVoiceCount> before = s->Voices;
        if (op < 5)
            NoteOn(*s, k);
        else if (op < 9)
            ReleaseNote(*s, k);
        else
            NoteOff(*s, k);
        for (int v = 0; v < kVoiceCount; ++v) {
            const TSynthVoice& now = s->Voices[v];
            // A (re)start zeroes the record and sets attack; a voice in attack for its
            // own key before was left alone.
            bool restarted = now.Active == 1 && now.VcaStage == StageAttack &&
                             (before[v].Active == 0 || before[v].Key != now.Key ||
                              before[v].VcaStage == StageRelease);
            if (restarted)
                started[v] = step;
            if (now.VcaStage == StageRelease && before[v].VcaStage != StageRelease)
                released[v] = step;
        }

        bool seenEmpty = false;
        bool seenRelease = false;
        std::set<int> voices, keys;
        for (int p = 0; p < kVoiceCount; ++p) {
            int v = s->VoiceOrder[p];
            if (v == -1) {
                seenEmpty = true;
                continue;
            }
            ASSERT_FALSE(seenEmpty) << "occupied positions come first, step " << step;
            ASSERT_TRUE(voices.insert(v).second) << "a voice occurs once";
            const TSynthVoice& voice = s->Voices[v];
            ASSERT_EQ(voice.Active, 1);
            ASSERT_TRUE(keys.insert(voice.Key).second) << "no two voices share a key";
            bool inRelease = voice.VcaStage == StageRelease;
            ASSERT_FALSE(seenRelease && !inRelease) << "held voices stand before released ones";
            seenRelease = seenRelease || inRelease;
            if (p > 0 && s->VoiceOrder[p - 1] != -1) {
                int ahead = s->VoiceOrder[p - 1];
                bool aheadInRelease = s->Voices[ahead].VcaStage == StageRelease;
                if (inRelease && aheadInRelease) {
                    ASSERT_GT(released[ahead], released[v]) << "most recently released first";
                }
                if (!inRelease && !aheadInRelease) {
                    ASSERT_GT(started[ahead], started[v]) << "most recently started first";
                }
            }
        }
        for (int v = 0; v < kVoiceCount; ++v)
            ASSERT_EQ(s->Voices[v].Active == 1, voices.count(v) == 1);
    }
}
