#include "midi/midi_mapping.h"

#include <gtest/gtest.h>

#include <string>
#include <type_traits>
#include <vector>

using namespace morvane;

namespace {

using Message = std::vector<std::uint8_t>;

// Actions as short words, so that a table reads as the scenario it checks and a failure
// prints what happened.
std::string Show(const MidiAction& action) {
    return std::visit(
        [](const auto& a) -> std::string {
            using A = std::decay_t<decltype(a)>;
            if constexpr (std::is_same_v<A, KeyDown>)
                return "down " + std::to_string(a.key) + " v" + std::to_string(a.velocity);
            else if constexpr (std::is_same_v<A, KeyUp>)
                return "up " + std::to_string(a.key);
            else if constexpr (std::is_same_v<A, MoveModWheel>)
                return "wheel " + std::to_string(a.value);
            else if constexpr (std::is_same_v<A, BendPitch>)
                return "bend " + std::to_string(a.bend);
            else if constexpr (std::is_same_v<A, SetPlaying>)
                return "range " + std::to_string(a.value);
            else if constexpr (std::is_same_v<A, LoadProgram>)
                return "preset " + std::to_string(a.slot);
            else if constexpr (std::is_same_v<A, SetControl>)
                return std::string(Describe(a.id).key) + " " + std::to_string(a.position);
            else
                return "learnt " + ControllerBindings::KeyOf(a.controller) + " " +
                       Describe(a.id).key;
        },
        action);
}

std::vector<std::string> Play(MidiMapping& mapping, const std::vector<Message>& messages) {
    std::vector<std::string> shown;
    for (const Message& message : messages) {
        for (const MidiAction& action : mapping.Apply(message))
            shown.push_back(Show(action));
    }
    return shown;
}

Message On(int note, int velocity = 100) {
    return {0x90, static_cast<std::uint8_t>(note), static_cast<std::uint8_t>(velocity)};
}
Message Off(int note) {
    return {0x80, static_cast<std::uint8_t>(note), 64};
}
Message Cc(int controller, int value) {
    return {0xB0, static_cast<std::uint8_t>(controller), static_cast<std::uint8_t>(value)};
}
Message Program(int slot) {
    return {0xC0, static_cast<std::uint8_t>(slot)};
}

} // namespace

// Every note lands on a key of its pitch class within the keyboard, in the row the key
// table gives that semitone: this is what ties the mapping to the table's layout.
TEST(MidiNotes, EveryNoteLandsOnAKeyOfItsPitchInTheKeyTable) {
    for (int note = 0; note < 128; ++note) {
        const TKeyTable& key = KeyAt(KeyForNote(note));
        EXPECT_EQ((key.Semitone - (note - 36)) % 12, 0) << note;
        EXPECT_EQ(key.Row, key.Semitone <= 27 ? 0 : 1) << note;
    }
    struct Case {
        int note;
        int key;
    };
    const Case cases[] = {
        {69, 33},  // A at 440 Hz: the upper row's "I"
        {57, 13},  // an octave below it, the lower row's ","
        {44, 0},   // the lowest key
        {63, 19},  // semitone 27, the top of the lower row
        {64, 28},  // semitone 28, the first upper-row key of its own
        {76, 40},  // the highest key
        {43, 11},  // one below the keyboard: up an octave
        {77, 29},  // one above: down an octave
        {0, 4},    // up four octaves
        {127, 31}, // down five octaves
    };
    for (const Case& c : cases)
        EXPECT_EQ(KeyForNote(c.note), c.key) << c.note;
}

TEST(MidiMapping, Scenarios) {
    struct Case {
        const char* name;
        std::vector<Message> messages;
        std::vector<std::string> actions;
    };
    const Case cases[] = {
        {"a note and its note-off", {On(57), Off(57)}, {"down 13 v100", "up 13"}},
        {"velocity 0 is a note-off", {On(57), On(57, 0)}, {"down 13 v100", "up 13"}},
        {"the velocity goes with the key",
         {On(57, 1), On(60, 127)},
         {"down 13 v1", "down 16 v127"}},
        {"notes outside 44..76 have keys of their own",
         {On(43), On(77), On(0), Off(43), On(31), Off(77)},
         {"down 84 v100", "down 118 v100", "down 41 v100", "up 84", "down 72 v100", "up 118"}},
        {"a note-off of a note not on", {Off(57)}, {}},
        {"a repeated note-on of a sounding note",
         {On(57), On(57), Off(57)},
         {"down 13 v100", "up 13"}},
        {"a note an octave below a key no longer shares it",
         {On(40), On(52), Off(40), Off(52)},
         {"down 81 v100", "down 8 v100", "up 81", "up 8"}},
        {"one note on two channels holds its key twice",
         {On(57), {0x91, 57, 100}, Off(57), {0x81, 57, 0}},
         {"down 13 v100", "up 13"}},
        {"sustain releases held-back keys in the order of their note-offs",
         {Cc(64, 127), On(48), On(52), On(55), Off(52), Off(55), Off(48), Cc(64, 0)},
         {"down 4 v100", "down 8 v100", "down 11 v100", "up 8", "up 11", "up 4"}},
        {"the pedal is down from 64",
         {Cc(64, 63), On(48), Off(48), Cc(64, 64), On(50), Off(50), Cc(64, 63)},
         {"down 4 v100", "up 4", "down 6 v100", "up 6"}},
        {"a held-back key pressed again starts afresh and leaves the held-back list",
         {Cc(64, 100), On(48), On(50), Off(48), Off(50), On(48), Cc(64, 0), Off(48)},
         {"down 4 v100", "down 6 v100", "up 4", "down 4 v100", "up 6", "up 4"}},
        {"the mod wheel reports its changes",
         {Cc(1, 0), Cc(1, 1), Cc(1, 127), Cc(1, 0), Cc(1, 0)},
         {"wheel 1", "wheel 127", "wheel 0"}},
        {"the bend wheel: LSB first, less the centre",
         {{0xE0, 0, 64}, {0xE0, 0, 0}, {0xE0, 127, 127}, {0xE0, 1, 64}},
         {"bend 0", "bend -8192", "bend 8191", "bend 1"}},
        {"RPN 0 sets the bend range; CC38 is ignored; 127/127 deselects",
         {Cc(6, 5), Cc(101, 0), Cc(100, 0), Cc(6, 12), Cc(38, 50), Cc(6, 30), Cc(101, 127),
          Cc(100, 127), Cc(6, 7), Cc(101, 0), Cc(100, 1), Cc(6, 7)},
         {"range 12", "range 24"}},
        {"reset all controllers: bend centred, pedal up, wheel to 0, bindings stay",
         {Cc(1, 90), {0xE0, 0, 100}, Cc(64, 127), On(48), Off(48), Cc(121, 0), Cc(74, 127)},
         {"wheel 90", "bend 4608", "down 4 v100", "bend 0", "up 4", "wheel 0", "VCF_CUTOFF 100"}},
        {"aftertouch moves nothing until bound", {{0xD0, 100}}, {}},
        {"program changes 0..7 load presets, others are ignored",
         {Program(0), Program(7), Program(8), Program(127)},
         {"preset 0", "preset 7"}},
        {"all notes off: every key up in ascending order, held-back keys too",
         {On(76), On(44), Cc(64, 127), On(57), Off(57), Cc(123, 0), Off(76), Cc(64, 0)},
         {"down 40 v100", "down 0 v100", "down 13 v100", "up 0", "up 13", "up 40"}},
        {"all sound off does the same", {On(48), Cc(120, 0), Off(48)}, {"down 4 v100", "up 4"}},
        {"default controllers move their sliders",
         {Cc(74, 64), Cc(71, 127), Cc(73, 0), Cc(75, 1), Cc(72, 126), Cc(20, 64)},
         {"VCF_CUTOFF 50", "VCF_RESONANCE 90", "ENV_ATTACK 0", "ENV_DECAY 1", "ENV_RELEASE 99"}},
        {"broken and foreign messages yield nothing",
         {{0x90, 60}, {0x90, 60, 0x80}, {0x3C, 100}, {0xF8}, {0xF0, 1, 0xF7}, {}, {0xE0, 0}},
         {}},
    };
    for (const Case& c : cases) {
        MidiMapping mapping;
        EXPECT_EQ(Play(mapping, c.messages), c.actions) << c.name;
    }
}

TEST(MidiMapping, ListensToOneChannelOrAll) {
    MidiMapping mapping;
    ASSERT_TRUE(mapping.ListenToChannel(2));
    EXPECT_EQ(Play(mapping, {On(48), {0x91, 50, 100}, {0x9F, 52, 100}}),
              std::vector<std::string>{"down 6 v100"});
    EXPECT_FALSE(mapping.ListenToChannel(0));
    EXPECT_FALSE(mapping.ListenToChannel(17));
    mapping.ListenToAllChannels();
    EXPECT_EQ(Play(mapping, {{0x9F, 52, 100}}), std::vector<std::string>{"down 8 v100"});
}

// Rounded to nearest in integers: the travel times the value over 127.
TEST(MidiMapping, ControllerValuesSpanTheWholeRangeOfTheSlider) {
    struct Case {
        ControlId id;
        int value;
        int position;
    };
    const Case cases[] = {
        {VcfCutoff, 0, 0},      {VcfCutoff, 1, 1},       {VcfCutoff, 63, 50}, {VcfCutoff, 127, 100},
        {VcfResonance, 64, 45}, {VcfResonance, 127, 90}, {EchoTime, 0, 50},   {EchoTime, 1, 51},
        {EchoTime, 127, 200},   {ModFreq, 64, 11},       {ModFreq, 0, 1},     {ModFreq, 127, 20},
    };
    for (const Case& c : cases)
        EXPECT_EQ(ControllerPosition(c.id, c.value), c.position)
            << Describe(c.id).key << " " << c.value;
}

TEST(MidiMapping, LearnBindsTheNextLearnableController) {
    MidiMapping mapping;
    EXPECT_FALSE(mapping.ArmLearn(Wave1Type)) << "a radio group has no travel";
    ASSERT_TRUE(mapping.ArmLearn(VcfIntensity));
    // The reserved controllers keep their meaning and leave learn armed.
    EXPECT_EQ(Play(mapping, {Cc(1, 5), Cc(64, 0), Cc(123, 0)}),
              std::vector<std::string>{"wheel 5"});
    EXPECT_EQ(mapping.ArmedControl(), VcfIntensity);
    EXPECT_EQ(Play(mapping, {Cc(20, 127), Cc(20, 0)}),
              (std::vector<std::string>{"learnt CC20 VCF_INTENSITY", "VCF_INTENSITY 100",
                                        "VCF_INTENSITY 0"}));
    EXPECT_FALSE(mapping.ArmedControl());

    // Learning a bound controller takes it from its slider.
    ASSERT_TRUE(mapping.ArmLearn(EnvSustain));
    EXPECT_EQ(Play(mapping, {Cc(74, 127)}),
              (std::vector<std::string>{"learnt CC74 ENV_SUSTAIN", "ENV_SUSTAIN 100"}));
    EXPECT_FALSE(mapping.Bindings().ControllerFor(VcfCutoff));

    // Channel aftertouch is learnt like a controller.
    ASSERT_TRUE(mapping.ArmLearn(VcfCutoff));
    EXPECT_EQ(Play(mapping, {{0xD0, 127}, {0xD0, 0}}),
              (std::vector<std::string>{"learnt AT VCF_CUTOFF", "VCF_CUTOFF 100", "VCF_CUTOFF 0"}));

    mapping.Bindings().Unbind(EnvSustain);
    ASSERT_TRUE(mapping.ArmLearn(EnvSustain));
    mapping.CancelLearn();
    EXPECT_EQ(Play(mapping, {Cc(74, 127)}), std::vector<std::string>{});
}
