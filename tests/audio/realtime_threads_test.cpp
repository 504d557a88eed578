// The low-latency mode's threads all at once, as the program runs them: the device's
// callback renders in PortAudio's periods while the window's thread plays keys, moves the
// panel, sends MIDI, takes back the key colours and the panel actions and starts and stops
// recordings; the recorder's thread writes them and the sequencer's thread sends MIDI of its
// own. Built with ThreadSanitizer, CI runs it there, where a race between these threads is a
// failure; everywhere it checks that, however they interleave, nothing is lost on the way.

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <random>
#include <set>
#include <thread>
#include <vector>

#include "audio/realtime_output.h"
#include "audio/realtime_player.h"
#include "audio/recorder_thread.h"
#include "audio/sequencer_input.h"
#include "audio/wav_recorder.h"
#include "engine/key_colours.h"
#include "engine/parameters.h"
#include "engine/startup.h"
#include "midi/controller_bindings.h"
#include "midi/midi_mapping.h"
#include "midi/midi_message.h"
#include "tests/audio/temporary_directory.h"
#include "tests/support/engine_fixture.h"

using namespace morvane;
using namespace std::chrono_literals;

namespace {

using Event = PlayerEvent;
using Clock = std::chrono::steady_clock;

// The device's pace: the queues' sizes are reckoned for it.
constexpr auto kPeriod =
    std::chrono::nanoseconds(std::chrono::seconds(kLowFramesPerBuffer)) / kSampleRate;
constexpr auto kPlaying = 2s;
// For the last input to be applied and every key to go back to rest, however busy the
// machine.
constexpr auto kSettleWithin = 10s;
// A short release, so that the end does not wait long for the last notes.
constexpr int kReleasePosition = 5;

MidiMessage Message(std::uint8_t status, std::uint8_t data1, std::uint8_t data2 = 0) {
    return MidiMessage{{status, data1, data2},
                       static_cast<std::uint8_t>(DataByteCount(status) + 1)};
}

// Each source of notes plays keys of its own, so that the key colours tell what each sent:
// the computer keyboard the keys no MIDI note reaches, the window's MIDI and the sequencer
// every other key of the rest, each by one note.
struct SharedKeys {
    std::vector<int> keyboard;
    std::vector<std::uint8_t> windowNotes;
    std::vector<std::uint8_t> sequencerNotes;
};

SharedKeys ShareTheKeys() {
    std::array<std::optional<std::uint8_t>, kKeyCount> noteOf;
    // Notes beyond the keys sound without a key, and light none.
    for (int note = 0; note < 128; ++note)
        if (const int key = VoiceKeyForNote(note); key < kKeyCount && !noteOf[key])
            noteOf[key] = static_cast<std::uint8_t>(note);
    SharedKeys keys;
    for (int key = 0; key < kKeyCount; ++key) {
        if (!noteOf[key])
            keys.keyboard.push_back(key);
        else
            (keys.windowNotes.size() > keys.sequencerNotes.size() ? keys.sequencerNotes
                                                                  : keys.windowNotes)
                .push_back(*noteOf[key]);
    }
    return keys;
}

int RandomPosition(std::mt19937& random, ControlId id) {
    const ControlDescription& d = Describe(id);
    return std::uniform_int_distribution(d.minimum, d.maximum)(random);
}

// The audio callback's thread: the player's Render every period, the samples kept.
class Device {
public:
    explicit Device(RealtimePlayer& player) : player_(player) {
        played_.reserve(std::size_t{kSampleRate} * 60);
        thread_ = std::thread([this] { Run(); });
    }
    ~Device() { Stop(); }
    void Stop() {
        stop_.store(true);
        if (thread_.joinable())
            thread_.join();
    }
    // What the device played: only once stopped.
    const std::vector<std::int16_t>& Played() const { return played_; }

private:
    void Run() {
        std::int16_t period[kLowFramesPerBuffer];
        for (Clock::time_point next = Clock::now(); !stop_.load();) {
            player_.Render(period, kLowFramesPerBuffer);
            played_.insert(played_.end(), std::begin(period), std::end(period));
            // A device that was late goes on from now, without making up for it.
            next = std::max(next + kPeriod, Clock::now());
            std::this_thread::sleep_until(next);
        }
    }

    RealtimePlayer& player_;
    std::vector<std::int16_t> played_;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

// The window's share: it sends what the user does, shows the key colours, and carries out
// the panel actions MIDI asks for, sending the panel's sound on whenever it changed.
class Window final : public KeyColourListener {
public:
    Window(RealtimePlayer& player, const SoundParameters& sound,
           const std::array<PresetValues, kPresetSlotCount>& presets)
        : player_(player), panel_(sound), sent_(sound), presets_(presets) {}

    void SetKeyColour(int key, bool pressed) override {
        lit_[key] = pressed;
        lightings_[key] += pressed;
    }

    void Send(const Event& event) {
        Sync();
        player_.SendOrKeep(event);
        sentAt_ = player_.FramesOut();
    }
    void MovePanel(ControlId id, int position) {
        WriteControl(panel_, id, position);
        Sync();
    }
    // What the return timer does: true when anything came back.
    bool Tend() {
        bool any = false;
        while (std::optional<KeyColourChanges> changes = player_.PopKeyColours()) {
            ShowKeyColours(*changes, *this);
            any = true;
        }
        while (std::optional<PanelAction> action = player_.PopPanelAction()) {
            ++actionsSeen_;
            if (const auto* move = std::get_if<SetControl>(&*action))
                WriteControl(panel_, move->id, move->position);
            else if (const auto* load = std::get_if<LoadProgram>(&*action))
                LoadPresetSound(panel_, presets_[load->slot]);
            any = true;
        }
        Sync();
        if (!player_.SendWaiting())
            sentAt_ = player_.FramesOut();
        return any;
    }
    // Everything sent has been applied, at least two blocks ago, and nothing came back since.
    bool Settled() {
        return !Tend() && player_.SendWaiting() &&
               player_.FramesOut() >= sentAt_ + 2 * kBlockSamples;
    }

    const KeySet& Lit() const { return lit_; }
    // How often each key lit up.
    const std::array<int, kKeyCount>& Lightings() const { return lightings_; }
    const SoundParameters& Panel() const { return panel_; }

private:
    void Sync() {
        if (panel_ == sent_ && actionsSeen_ == sentActionsSeen_)
            return;
        player_.SendOrKeep(PanelSound{SetSound{panel_}, actionsSeen_});
        sentAt_ = player_.FramesOut();
        sent_ = panel_;
        sentActionsSeen_ = actionsSeen_;
    }

    RealtimePlayer& player_;
    SoundParameters panel_;
    SoundParameters sent_;
    const std::array<PresetValues, kPresetSlotCount>& presets_;
    KeySet lit_;
    std::array<int, kKeyCount> lightings_{};
    std::uint64_t actionsSeen_ = 0;
    std::uint64_t sentActionsSeen_ = 0;
    std::uint64_t sentAt_ = 0;
};

struct Recordings : ErrorReporter {
    void ShowError(const std::string&) override { errors.fetch_add(1); }
    std::atomic<int> errors{0};
    std::atomic<int> started{0};
    std::atomic<int> stopped{0};
};

// The samples of a recording whose header is final and matches its size, else nothing.
std::optional<std::vector<std::int16_t>> FinishedRecording(const std::filesystem::path& path) {
    std::ifstream file(path, std::ios::binary);
    const std::vector<char> bytes{std::istreambuf_iterator<char>(file), {}};
    if (bytes.size() < std::size_t{kWavHeaderBytes} ||
        (bytes.size() - kWavHeaderBytes) % kBlockBytes != 0)
        return std::nullopt;
    const auto dataBytes = static_cast<std::uint32_t>(bytes.size() - kWavHeaderBytes);
    const auto header = WavHeader(dataBytes);
    if (!std::equal(header.begin(), header.end(), bytes.begin(),
                    [](std::uint8_t h, char b) { return h == static_cast<std::uint8_t>(b); }))
        return std::nullopt;
    std::vector<std::int16_t> samples(dataBytes / sizeof(std::int16_t));
    std::memcpy(samples.data(), bytes.data() + kWavHeaderBytes, dataBytes);
    return samples;
}

// Whether the recording is whole blocks the device played one after another.
bool PlayedInARow(const std::vector<std::int16_t>& recording,
                  const std::vector<std::int16_t>& played) {
    for (std::size_t start = 0; start + recording.size() <= played.size(); start += kBlockSamples) {
        if (std::equal(recording.begin(), recording.end(), played.begin() + start))
            return true;
    }
    return false;
}

} // namespace

TEST(RealtimeThreads, NothingIsLostWhileEveryThreadRunsAtOnce) {
    std::mt19937 random(17);
    SoundParameters sound = *fixture::MakeSynth();
    WriteControl(sound, EnvRelease, kReleasePosition);
    std::array<PresetValues, kPresetSlotCount> presets;
    for (PresetValues& preset : presets) {
        preset = DefaultPresetValues();
        preset[Wave1Type] = RandomPosition(random, Wave1Type);
        preset[VcfCutoff] = RandomPosition(random, VcfCutoff);
        preset[EnvRelease] = kReleasePosition;
    }
    auto created = RealtimePlayer::Create(sound, RealtimePlayer::Pace::Live, kSampleRate);
    ASSERT_TRUE(created);
    RealtimePlayer& player = **created;
    ASSERT_TRUE(player.ListenToMidi(std::nullopt, ControllerBindings::Defaults()));
    for (int slot = 0; slot < kPresetSlotCount; ++slot)
        ASSERT_TRUE(player.Send(Command{StorePreset{slot, presets[slot]}}));

    TemporaryDirectory directory;
    Recordings recordings;
    WavRecorder recorder(directory.Path(), recordings);
    std::time_t startTime = 1'800'000'000; // a file of its own for every start
    recorder.SetClock([&] { return startTime++; });
    recorder.SetRecordingListener(
        [&](bool recording) { (recording ? recordings.started : recordings.stopped)++; });
    RecorderThread recorderThread(player, recorder);
    Window window(player, sound, presets);
    Device device(player);

    // Every key a source pressed lights up once for every press.
    const SharedKeys keys = ShareTheKeys();
    std::array<int, kKeyCount> pressed{};
    std::array<int, kKeyCount> sequencerPressed{};

    // A keyboard on the ALSA sequencer: short notes, the filter's resonance turned between
    // them, and once a sweep longer than the player's queue. Its notes come no faster than
    // a person's, so that the key colours they send back outlast a stall of the window's
    // thread on a busy machine.
    std::atomic<bool> playing{true};
    std::thread sequencer([&] {
        SequencerFeed feed(player);
        const auto receive = [&](const MidiMessage& message) {
            feed.Receive(std::span(message.bytes.data(), message.size));
        };
        for (std::size_t i = 0; playing.load(); ++i) {
            const std::uint8_t note = keys.sequencerNotes[i % keys.sequencerNotes.size()];
            receive(Message(kNoteOn, note, 90));
            ++sequencerPressed[KeyForNote(note)];
            std::this_thread::sleep_for(std::chrono::milliseconds(1 + i % 7));
            receive(Message(kControlChange, 71, std::uint8_t(i % 128)));
            receive(Message(kNoteOff, note));
            std::this_thread::sleep_for(std::chrono::milliseconds(1 + i % 5));
            for (int move = 0; i == 40 && move < int(RealtimePlayer::kSequencerCapacity) * 2;
                 ++move)
                receive(Message(kControlChange, 71, std::uint8_t(move % 128)));
        }
    });

    // The window's thread: what a person and a MIDI port through the window do, at random.
    KeySet held;
    std::set<std::uint8_t> notesHeld;
    bool ctrl = false;
    auto toggleRecording = Clock::now();
    for (const auto end = Clock::now() + kPlaying; Clock::now() < end;) {
        const int what = std::uniform_int_distribution(0, 99)(random);
        const int key = keys.keyboard[random() % keys.keyboard.size()];
        const std::uint8_t note = keys.windowNotes[random() % keys.windowNotes.size()];
        const auto value = static_cast<std::uint8_t>(std::uniform_int_distribution(0, 127)(random));
        if (what < 30) {
            window.Send(held[key] ? Command{KeyUp{key}} : Command{KeyDown{key}});
            pressed[key] += !held[key];
            held.flip(key);
        } else if (what < 45) {
            const bool on = notesHeld.insert(note).second;
            if (!on)
                notesHeld.erase(note);
            pressed[KeyForNote(note)] += on;
            window.Send(Event(Message(on ? kNoteOn : kNoteOff, note, 100)));
        } else if (what < 60) {
            window.Send(Event(Message(kControlChange, 74, value)));
        } else if (what < 65) {
            ctrl = !ctrl;
            window.Send(Command{HoldLfo{LfoHolder::CtrlKey, ctrl}});
        } else if (what < 72) {
            const ControlId id = std::array{VcfCutoff, VcfResonance, Wave1Type,
                                            Wave2Vol,  ModDepth,     EchoDepth}[value % 6];
            window.MovePanel(id, RandomPosition(random, id));
        } else if (what < 76) {
            window.Send(Event(Message(kProgramChange, value % kPresetSlotCount)));
        } else if (what < 80) {
            window.Send(Command{ReleaseUnheld{held, ctrl}});
        } else if (what == 80) {
            // A knob turned faster than any queue: the panel ends where the last move put it.
            for (int i = 0; i < int(RealtimePlayer::kEventCapacity) * 3 / 2; ++i)
                window.Send(Event(Message(kControlChange, 74, std::uint8_t(i % 128))));
        }
        if (Clock::now() >= toggleRecording) {
            if (recorderThread.Recording())
                recorderThread.Stop();
            else
                EXPECT_TRUE(recorderThread.Start());
            toggleRecording = Clock::now() + std::chrono::milliseconds(
                                                 std::uniform_int_distribution(20, 150)(random));
        }
        window.Tend();
        std::this_thread::sleep_for(std::chrono::microseconds(value * 4));
    }

    // Everything let go; then the window waits until all it sent is applied and every key
    // is back at rest.
    playing.store(false);
    sequencer.join();
    recorderThread.Stop();
    for (int key = 0; key < kKeyCount; ++key)
        if (held[key])
            window.Send(Command{KeyUp{key}});
    for (std::uint8_t note : notesHeld)
        window.Send(Event(Message(kNoteOff, note)));
    window.Send(Command{HoldLfo{LfoHolder::CtrlKey, false}});
    bool settled = false;
    for (const auto end = Clock::now() + kSettleWithin; !settled && Clock::now() < end;) {
        std::this_thread::sleep_for(5ms);
        settled = window.Settled() && window.Lit().none() && !recorderThread.Recording();
    }
    device.Stop();
    EXPECT_TRUE(settled) << "keys still lit: " << window.Lit();

    // The last releases die away, this thread rendering in the device's place.
    std::vector<std::int16_t> tail(std::size_t{kSampleRate} * 2);
    player.Render(tail.data(), static_cast<int>(tail.size()));
    window.Tend();
    EXPECT_TRUE(window.Lit().none()) << window.Lit();
    std::array<int, kKeyCount> presses;
    std::ranges::transform(pressed, sequencerPressed, presses.begin(), std::plus());
    EXPECT_EQ(window.Lightings(), presses) << "how often each key lit up, and was pressed";
    for (const TSynthVoice& voice : player.State().Voices)
        EXPECT_FALSE(voice.Active) << "key " << voice.Key << " still sounds";
    EXPECT_TRUE(static_cast<const SoundParameters&>(player.State()) == window.Panel())
        << "the panel and the sound part";
    EXPECT_EQ(player.ColourOverflows(), 0);
    EXPECT_EQ(player.PanelActionOverflows(), 0);
    EXPECT_EQ(player.RecordOverflows(), 0);

    EXPECT_EQ(recordings.errors.load(), 0);
    EXPECT_GE(recordings.started.load(), 3);
    EXPECT_EQ(recordings.stopped.load(), recordings.started.load());
    int files = 0;
    for (const auto& entry : std::filesystem::directory_iterator(directory.Path())) {
        SCOPED_TRACE(entry.path().filename().string());
        ++files;
        const std::optional<std::vector<std::int16_t>> samples = FinishedRecording(entry.path());
        ASSERT_TRUE(samples) << "not a finished recording";
        EXPECT_TRUE(PlayedInARow(*samples, device.Played())) << "not what the device played";
    }
    EXPECT_EQ(files, recordings.started.load());
}
