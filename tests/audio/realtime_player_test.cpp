#include "audio/realtime_player.h"

#include "audio/sequencer_input.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <random>
#include <thread>
#include <vector>

#include "engine/block_renderer.h"
#include "midi/midi_mapping.h"
#include "tests/support/engine_fixture.h"

using namespace morvane;

namespace {

using Event = PlayerEvent;

// A phrase with every kind of event: a chord, a release, Ctrl, a sound change between
// blocks, a sweep and a release that dies away within the phrase.
std::vector<Event> Phrase() {
    SoundParameters brighter;
    fixture::SetWorstCaseSound(brighter);
    KeySet held;
    held[5] = true;
    return {
        Command{KeyDown{1}},
        Command{KeyDown{5}},
        RenderBlocks{3},
        Command{HoldLfo{LfoHolder::CtrlKey, true}},
        Command{KeyDown{9}},
        RenderBlocks{1},
        Command{SetSound{brighter}},
        Command{KeyUp{1}},
        RenderBlocks{4},
        Command{ReleaseUnheld{held, false}},
        RenderBlocks{40},
        EndOfScore{},
    };
}

// What the engine renders for the phrase when the events are applied straight to its
// state between the same samples, each command a cut.
std::vector<std::int16_t> RenderedDirectly(const std::vector<Event>& phrase) {
    std::unique_ptr<SynthState> s = fixture::MakeSynth();
    Instrument instrument(*s);
    StreamRenderer renderer;
    std::vector<std::int16_t> samples;
    for (const Event& event : phrase) {
        std::uint64_t count = 0;
        if (const auto* command = std::get_if<Command>(&event)) {
            instrument.Apply(*command);
            renderer.Cut();
        } else if (const auto* blocks = std::get_if<RenderBlocks>(&event)) {
            count = blocks->blocks * kBlockSamples;
        } else if (const auto* wait = std::get_if<RenderSamples>(&event)) {
            count = wait->samples;
        }
        const std::size_t at = samples.size();
        samples.resize(at + count);
        renderer.Render(*s, samples.data() + at, static_cast<int>(count));
    }
    return samples;
}

std::unique_ptr<RealtimePlayer> Player(RealtimePlayer::Pace pace, int rate) {
    Result<std::unique_ptr<RealtimePlayer>> player =
        RealtimePlayer::Create(*fixture::MakeSynth(), pace, rate);
    EXPECT_TRUE(player.ok());
    return std::move(*player);
}

// Pulls frames from the player in callbacks whose sizes cycle through sizes (0: random).
template <typename Sample>
std::vector<Sample> Pull(RealtimePlayer& player, std::size_t frames, std::vector<int> sizes) {
    std::mt19937 random(7);
    std::vector<Sample> out;
    for (std::size_t call = 0; out.size() < frames; ++call) {
        int size = sizes[call % sizes.size()];
        if (size == 0)
            size = std::uniform_int_distribution(1, 2048)(random);
        std::vector<Sample> buffer(size);
        player.Render(buffer.data(), size);
        out.insert(out.end(), buffer.begin(), buffer.end());
    }
    out.resize(frames);
    return out;
}

// A period's MIDI as a list of messages at their frames, in order.
class ListedMidi final : public PeriodMidi {
public:
    void Add(const MidiMessage& message, int frame) { messages_.push_back({message, frame}); }
    std::optional<PeriodMessage> NextUpTo(int frame) noexcept override {
        if (next_ == messages_.size() || messages_[next_].second > frame)
            return std::nullopt;
        const auto& [message, at] = messages_[next_++];
        return PeriodMessage{message, at};
    }

private:
    std::vector<std::pair<MidiMessage, int>> messages_;
    std::size_t next_ = 0;
};

// One period at the engine's rate, with its MIDI, as int16 samples.
std::vector<std::int16_t> RenderPeriod(RealtimePlayer& player, int frames, PeriodMidi& midi) {
    std::vector<float> period(frames);
    player.Render(period.data(), frames, midi);
    std::vector<std::int16_t> samples(frames);
    std::transform(period.begin(), period.end(), samples.begin(),
                   [](float v) { return static_cast<std::int16_t>(std::lround(v * 32768.0f)); });
    return samples;
}

} // namespace

// Whatever the device's buffers, the player gives the engine's own samples, at 22050 Hz
// untouched and at 48000 Hz the offline render through the same resampler.
TEST(RealtimePlayer, PlaysTheEnginesSamplesWhateverTheCallbackSize) {
    const std::vector<Event> phrase = Phrase();
    const std::vector<std::int16_t> direct = RenderedDirectly(phrase);

    Result<Resampler> resampler = Resampler::Create(48000);
    ASSERT_TRUE(resampler.ok());
    std::vector<float> resampled(direct.size() * 48000 / kSampleRate);
    const Resampler::Progress progress = resampler->Process(direct, resampled);
    resampled.resize(progress.produced);

    const std::vector<std::vector<int>> sizes = {{1}, {64}, {441}, {1000}, {0}, {17, 960, 3}};
    for (const std::vector<int>& size : sizes) {
        SCOPED_TRACE(testing::Message() << "callback size " << size.front());
        auto exact = Player(RealtimePlayer::Pace::Scored, kSampleRate);
        for (const Event& event : phrase)
            ASSERT_TRUE(exact->Send(event));
        std::vector<std::int16_t> played = Pull<std::int16_t>(*exact, direct.size() + 500, size);
        EXPECT_TRUE(std::equal(direct.begin(), direct.end(), played.begin()));
        EXPECT_TRUE(std::all_of(played.begin() + direct.size(), played.end(),
                                [](std::int16_t sample) { return sample == 0; }));
        EXPECT_TRUE(exact->Ended());
        EXPECT_EQ(exact->Starved(), 0);

        auto at48k = Player(RealtimePlayer::Pace::Scored, 48000);
        for (const Event& event : phrase)
            ASSERT_TRUE(at48k->Send(event));
        EXPECT_EQ(Pull<float>(*at48k, resampled.size(), size), resampled);
    }
}

// A live player applies what has arrived at the next block, never inside one, and sends
// back the key colours and, while recording, the blocks it rendered.
TEST(RealtimePlayer, AppliesEventsBetweenBlocksAndReportsBack) {
    auto player = Player(RealtimePlayer::Pace::Live, kSampleRate);
    player->SetRecording(true);
    std::vector<std::int16_t> played = Pull<std::int16_t>(*player, 100, {100});
    ASSERT_TRUE(player->Send(Command{KeyDown{1}}));
    ASSERT_TRUE(player->Send(Command{KeyDown{3}}));
    ASSERT_TRUE(player->Send(Command{KeyUp{1}}));
    std::vector<std::int16_t> rest =
        Pull<std::int16_t>(*player, 2 * kBlockSamples - 100, {341, 441});
    played.insert(played.end(), rest.begin(), rest.end());

    std::vector<Event> phrase = {RenderBlocks{1}, Command{KeyDown{1}}, Command{KeyDown{3}},
                                 Command{KeyUp{1}}, RenderBlocks{1}};
    EXPECT_EQ(played, RenderedDirectly(phrase));

    std::vector<std::int16_t> recorded;
    while (std::optional<Block> block = player->PopRecordedBlock())
        recorded.insert(recorded.end(), block->begin(), block->end());
    EXPECT_EQ(recorded, played);

    // The release of key 1 dies away: its button is told to rest once more.
    player->SetRecording(false);
    Pull<std::int16_t>(*player, 100 * kBlockSamples, {441});
    EXPECT_FALSE(player->PopRecordedBlock().has_value());
    std::vector<KeyColourChanges> colours;
    while (std::optional<KeyColourChanges> change = player->PopKeyColours())
        colours.push_back(*change);
    ASSERT_EQ(colours.size(), 4u);
    EXPECT_TRUE(colours[0].Sounding[1]);
    EXPECT_TRUE(colours[1].Sounding[3]);
    EXPECT_TRUE(colours[2].Resting[1]);
    EXPECT_TRUE(colours[3].Resting[1]);
}

// The classic lead: 26 blocks of silence, then each block heard five after the one
// played when it was rendered, so an event sent after the 21st block sounds in the 27th; a
// stop lets the rendered blocks play out, and drops the silence that is left. Callbacks of
// whole and part blocks alike.
TEST(RealtimePlayer, ALeadPlaysItsSilenceThenEachBlockFiveBehindItsRender) {
    constexpr BlockLead kClassic{.blocks = 5, .silent = 26};
    const auto blocks = [](int count) { return static_cast<std::size_t>(count) * kBlockSamples; };
    const auto silent = [](const std::vector<std::int16_t>& samples) {
        return std::all_of(samples.begin(), samples.end(), [](std::int16_t v) { return v == 0; });
    };
    for (const int size : {441, 147, 63}) {
        SCOPED_TRACE(testing::Message() << "callback size " << size);
        auto player = Player(RealtimePlayer::Pace::Live, kSampleRate);
        ASSERT_TRUE(player->KeepLead(kClassic).ok());
        player->SetRecording(true);
        EXPECT_TRUE(silent(Pull<std::int16_t>(*player, blocks(21), {size})));
        EXPECT_FALSE(player->PopRecordedBlock().has_value());

        ASSERT_TRUE(player->Send(Command{KeyDown{1}}));
        std::vector<std::int16_t> played = Pull<std::int16_t>(*player, blocks(10), {size});
        EXPECT_TRUE(silent({played.begin(), played.begin() + blocks(5)}));
        player->Stop();
        std::vector<std::int16_t> rest = Pull<std::int16_t>(*player, blocks(5), {size});
        EXPECT_FALSE(player->Ended());
        EXPECT_TRUE(silent(Pull<std::int16_t>(*player, blocks(2), {size})));
        EXPECT_TRUE(player->Ended());

        played.erase(played.begin(), played.begin() + blocks(5));
        played.insert(played.end(), rest.begin(), rest.end());
        const std::vector<std::int16_t> direct =
            RenderedDirectly({Command{KeyDown{1}}, RenderBlocks{10}});
        EXPECT_EQ(played, direct);
        std::vector<std::int16_t> recorded;
        while (std::optional<Block> block = player->PopRecordedBlock())
            recorded.insert(recorded.end(), block->begin(), block->end());
        EXPECT_EQ(recorded, direct);
    }

    auto early = Player(RealtimePlayer::Pace::Live, kSampleRate);
    ASSERT_TRUE(early->KeepLead(kClassic).ok());
    Pull<std::int16_t>(*early, blocks(3), {441});
    early->Stop();
    Pull<std::int16_t>(*early, blocks(1), {441});
    EXPECT_TRUE(early->Ended());
    EXPECT_FALSE(early->KeepLead({.blocks = 5, .silent = RealtimePlayer::kLeadCapacity + 1}).ok());
}

// A message from the JACK callback goes before the first block that starts at or after
// its frame, whether blocks and periods line up or a block straddles periods.
TEST(RealtimePlayer, MidiFromTheCallbackAppliesAtItsOwnSample) {
    const struct {
        int period, cycle, frame;
    } cases[] = {
        {441, 0, 0}, {441, 0, 1}, {441, 2, 440}, {100, 0, 50}, {100, 4, 41}, {64, 7, 63},
    };
    constexpr int kSamples = 6 * kBlockSamples;
    const MidiMessage noteOn{{kNoteOn, 69, 127}, 3};
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message()
                     << c.period << "-frame periods, cycle " << c.cycle << " frame " << c.frame);
        auto player = Player(RealtimePlayer::Pace::Live, kSampleRate);
        std::vector<std::int16_t> played;
        for (int cycle = 0; played.size() < std::size_t{kSamples}; ++cycle) {
            ListedMidi midi;
            if (cycle == c.cycle)
                midi.Add(noteOn, c.frame);
            const std::vector<std::int16_t> period = RenderPeriod(*player, c.period, midi);
            played.insert(played.end(), period.begin(), period.end());
        }
        played.resize(kSamples);
        const auto sample = static_cast<std::uint64_t>(c.cycle * c.period + c.frame);
        EXPECT_EQ(played, RenderedDirectly({RenderSamples{sample}, Command{KeyDown{KeyForNote(69)}},
                                            RenderSamples{kSamples - sample}}));
    }
}

// The offline render of messages at their engine samples (in order), through the resampler
// to rate: what a live player must play for them.
std::vector<float> OfflineRender(int rate,
                                 const std::vector<std::pair<std::uint64_t, MidiMessage>>& messages,
                                 int frames) {
    auto offline = Player(RealtimePlayer::Pace::Scored, rate);
    std::uint64_t rendered = 0;
    for (const auto& [sample, message] : messages) {
        EXPECT_TRUE(offline->Send(RenderSamples{sample - rendered}));
        EXPECT_TRUE(offline->Send(message));
        rendered = sample;
    }
    EXPECT_TRUE(offline->Send(RenderSamples{std::uint64_t(frames) + 2 * kBlockSamples - rendered}));
    EXPECT_TRUE(offline->Send(EndOfScore{}));
    return Pull<float>(*offline, frames, {441});
}

std::uint64_t SampleOfFrame(std::uint64_t frame, int rate) {
    return (frame * kSampleRate + rate - 1) / std::uint64_t(rate);
}

// Messages at random frames of periods of any size, at the engine's rate and at 48000 Hz:
// each applies before sample ceil(h x 22050 / R) of its frame h, as in the offline
// render of the same messages at those samples through the same resampler.
TEST(RealtimePlayer, MidiAtAnyFrameAppliesWhereTheOfflineRenderPutsIt) {
    constexpr int kFrames = 30 * kBlockSamples;
    for (const int rate : {kSampleRate, 48000}) {
        for (const int period : {64, 441, 1000, 0}) {
            SCOPED_TRACE(testing::Message() << rate << " Hz, period " << period);
            std::mt19937 random(static_cast<std::uint32_t>(rate + period));
            auto pick = [&](int lowest, int highest) {
                return std::uniform_int_distribution<int>(lowest, highest)(random);
            };
            std::vector<std::pair<int, MidiMessage>> messages; // by frame
            for (int i = 0; i < 80; ++i) {
                const auto data = [&] { return static_cast<std::uint8_t>(pick(0, 127)); };
                const std::uint8_t note = static_cast<std::uint8_t>(pick(40, 80));
                const MidiMessage choices[] = {
                    {{kNoteOn, note, data()}, 3},      {{kNoteOff, note, 0}, 3},
                    {{kPitchBend, data(), data()}, 3}, {{kControlChange, 1, data()}, 3},
                    {{kControlChange, 74, data()}, 3}, {{kControlChange, 20, data()}, 3},
                };
                // Half of them at a period's first frame, where a player that rendered
                // ahead for the period before would be late.
                int frame = pick(0, kFrames - 1);
                if (period > 0 && i % 2 == 0)
                    frame -= frame % period;
                messages.emplace_back(frame,
                                      choices[pick(0, static_cast<int>(std::size(choices)) - 1)]);
            }
            std::stable_sort(messages.begin(), messages.end(),
                             [](const auto& a, const auto& b) { return a.first < b.first; });

            std::vector<std::pair<std::uint64_t, MidiMessage>> atSamples;
            for (const auto& [frame, message] : messages)
                atSamples.emplace_back(SampleOfFrame(std::uint64_t(frame), rate), message);
            const std::vector<float> expected = OfflineRender(rate, atSamples, kFrames);

            auto live = Player(RealtimePlayer::Pace::Live, rate);
            std::vector<float> played;
            std::size_t next = 0;
            while (played.size() < kFrames) {
                const int size = period > 0 ? period : pick(1, 2048);
                const int start = static_cast<int>(played.size());
                ListedMidi midi;
                for (; next < messages.size() && messages[next].first < start + size; ++next)
                    midi.Add(messages[next].second, messages[next].first - start);
                std::vector<float> out(size);
                live->Render(out.data(), size, midi);
                played.insert(played.end(), out.begin(), out.end());
            }
            played.resize(kFrames);
            const auto differ = std::mismatch(played.begin(), played.end(), expected.begin());
            EXPECT_EQ(differ.first - played.begin(), kFrames);
        }
    }
}

// However many messages come in a period, none is lost: a note-off after a burst of
// controller moves still releases its key, at its own sample,
// and the last of a burst of slider moves sets the sound and, however full its queue,
// the panel.
TEST(RealtimePlayer, NoMessageOfABurstIsLost) {
    const struct {
        const char* what;
        int period;
        int movesPerPeriod; // in every period up to the note-off, spread over its frames
        int noteOffAt;      // frame from the start
    } cases[] = {
        {"600 moves and the note-off in one block-long period", 441, 600, 2 * 441},
        {"400 a period in 64-frame periods", 64, 400, 40 * 64 + 10},
        {"1200 in one period of four blocks", 2048, 1200, 2047},
    };
    const auto cc = [](std::uint8_t controller, std::uint8_t value) {
        return MidiMessage{{kControlChange, controller, value}, 3};
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const int blocks = c.noteOffAt / kBlockSamples + 9;
        auto player = Player(RealtimePlayer::Pace::Live, kSampleRate);
        std::vector<std::int16_t> played;
        for (int start = 0; played.size() < std::size_t(blocks * kBlockSamples);
             start += c.period) {
            ListedMidi midi;
            if (start == 0)
                midi.Add({{kNoteOn, 69, 127}, 3}, 0);
            const bool releases = c.noteOffAt >= start && c.noteOffAt < start + c.period;
            if (start <= c.noteOffAt) {
                const int last = releases ? c.noteOffAt - start : c.period - 1;
                // An unbound controller moves nothing; the cutoff's moves all land at the
                // release's sample, where its last one counts.
                for (int i = 0; i < c.movesPerPeriod; ++i)
                    midi.Add(cc(20, std::uint8_t(i % 128)), i * last / c.movesPerPeriod);
                for (int i = 0; releases && i <= c.movesPerPeriod; ++i)
                    midi.Add(cc(74, std::uint8_t(i == c.movesPerPeriod ? 100 : i % 128)), last);
            }
            if (releases)
                midi.Add({{kNoteOff, 69, 0}, 3}, c.noteOffAt - start);
            const std::vector<std::int16_t> period = RenderPeriod(*player, c.period, midi);
            played.insert(played.end(), period.begin(), period.end());
        }
        played.resize(blocks * kBlockSamples);
        std::optional<int> cutoffShown;
        for (int drain = 0; drain < 2; ++drain) {
            while (std::optional<PanelAction> action = player->PopPanelAction())
                if (const auto* move = std::get_if<SetControl>(&*action))
                    cutoffShown = move->position;
            Pull<std::int16_t>(*player, kBlockSamples, {kBlockSamples});
        }
        EXPECT_EQ(cutoffShown, ControllerPosition(VcfCutoff, 100));
        SoundParameters moved = *fixture::MakeSynth();
        WriteControl(moved, VcfCutoff, ControllerPosition(VcfCutoff, 100));
        EXPECT_EQ(played,
                  RenderedDirectly(
                      {Command{KeyDown{KeyForNote(69)}}, RenderSamples{std::uint64_t(c.noteOffAt)},
                       Command{SetSound{moved}}, Command{KeyUp{KeyForNote(69)}},
                       RenderSamples{std::uint64_t(blocks * kBlockSamples - c.noteOffAt)}}));
    }
}

// What the interface sends waits, in order, while the player's queue is full: a burst of
// sequencer MIDI larger than the queue still ends with its note-off, at the first block
// after the queue had room for it.
TEST(RealtimePlayer, InputThatFindsTheQueueFullWaitsInOrder) {
    const struct {
        int moves;
        int releaseBlock;
    } cases[] = {{10, 1}, {int(RealtimePlayer::kEventCapacity), 2}, {3000, 3}};
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.moves << " moves");
        auto player = Player(RealtimePlayer::Pace::Live, kSampleRate);
        std::vector<std::int16_t> played = Pull<std::int16_t>(*player, kBlockSamples, {441});
        player->SendOrKeep(Event{MidiMessage{{kNoteOn, 69, 127}, 3}});
        for (int i = 0; i < c.moves; ++i)
            player->SendOrKeep(Event{MidiMessage{{kControlChange, 20, std::uint8_t(i % 128)}, 3}});
        EXPECT_EQ(player->SendOrKeep(Event{MidiMessage{{kNoteOff, 69, 0}, 3}}), c.releaseBlock > 1);
        constexpr int kBlocks = 8;
        for (int block = 1; block < kBlocks; ++block) {
            player->SendWaiting();
            const std::vector<std::int16_t> next =
                Pull<std::int16_t>(*player, kBlockSamples, {441});
            played.insert(played.end(), next.begin(), next.end());
        }
        EXPECT_EQ(played,
                  RenderedDirectly({RenderBlocks{1}, Command{KeyDown{KeyForNote(69)}},
                                    RenderBlocks{std::uint64_t(c.releaseBlock - 1)},
                                    Command{KeyUp{KeyForNote(69)}},
                                    RenderBlocks{std::uint64_t(kBlocks - c.releaseBlock)}}));
    }
}

namespace {

std::atomic<std::int64_t> fakeNow{0};

std::int64_t FakeNow() noexcept {
    return fakeNow.load();
}

} // namespace

// The sequencer's thread hands its messages to the player itself, stamped as they come:
// each applies one period later, as far into its period as it came into the one before,
// however long the periods and whatever the rate; what is not a channel message is left.
TEST(SequencerFeed, MessagesApplyOnePeriodAfterTheyCame) {
    const struct {
        int rate, period;
    } cases[] = {{kSampleRate, 441}, {kSampleRate, 64}, {48000, 1000}};
    constexpr int kFrames = 60 * kBlockSamples;
    constexpr std::int64_t kNanoseconds = 1'000'000'000;
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.rate << " Hz, period " << c.period);
        std::mt19937 random(static_cast<std::uint32_t>(c.period));
        auto pick = [&](std::int64_t lowest, std::int64_t highest) {
            return std::uniform_int_distribution<std::int64_t>(lowest, highest)(random);
        };
        auto player = Player(RealtimePlayer::Pace::Live, c.rate);
        player->UseClock(&FakeNow);
        SequencerFeed feed(*player);
        const auto periodTime = [&](int k) {
            return std::int64_t{k} * c.period * kNanoseconds / c.rate;
        };
        std::vector<std::pair<std::uint64_t, MidiMessage>> expected;
        std::vector<float> played;
        for (int k = 0; played.size() < std::size_t{kFrames}; ++k) {
            fakeNow = periodTime(k);
            std::vector<float> out(static_cast<std::size_t>(c.period));
            player->Render(out.data(), c.period);
            played.insert(played.end(), out.begin(), out.end());
            std::vector<std::int64_t> arrivals;
            for (std::int64_t i = pick(0, 2); i > 0; --i)
                arrivals.push_back(pick(periodTime(k), periodTime(k + 1) - 1));
            std::sort(arrivals.begin(), arrivals.end());
            for (std::int64_t arrival : arrivals) {
                const auto data = [&] { return static_cast<std::uint8_t>(pick(0, 127)); };
                const std::int64_t kind = pick(0, 3);
                const MidiMessage message =
                    kind == 0 ? MidiMessage{{kPitchBend, data(), data()}, 3}
                              : MidiMessage{{kind == 1 ? kNoteOff : kNoteOn,
                                             static_cast<std::uint8_t>(pick(60, 64)), data()},
                                            3};
                fakeNow = arrival;
                feed.Receive(std::vector<unsigned char>{0xF8});
                feed.Receive(
                    std::vector<unsigned char>(message.bytes.begin(), message.bytes.end()));
                feed.Receive(std::vector<unsigned char>{0xF0, 0x7E, 0xF7});
                const std::int64_t into = std::min<std::int64_t>(
                    (arrival - periodTime(k)) * c.rate / kNanoseconds, c.period - 1);
                expected.emplace_back(
                    SampleOfFrame(std::uint64_t((k + 1) * c.period + into), c.rate), message);
            }
        }
        played.resize(kFrames);
        const std::vector<float> rendered = OfflineRender(c.rate, expected, kFrames);
        const auto differ = std::mismatch(played.begin(), played.end(), rendered.begin());
        EXPECT_EQ(differ.first - played.begin(), kFrames);
    }
}

// A burst larger than the queue waits on the sequencer's thread, in order, so its note-off
// still releases the key.
TEST(SequencerFeed, ABurstWaitsInOrder) {
    const std::vector<unsigned char> noteOn{kNoteOn, 69, 127}, noteOff{kNoteOff, 69, 0};
    for (const int moves : {int(RealtimePlayer::kSequencerCapacity), 3000}) {
        SCOPED_TRACE(testing::Message() << moves << " moves");
        auto player = Player(RealtimePlayer::Pace::Live, kSampleRate);
        SequencerFeed feed(*player);
        std::atomic<bool> fed{false};
        std::thread sequencer([&] {
            feed.Receive(noteOn);
            for (int i = 0; i < moves; ++i)
                feed.Receive(std::vector<unsigned char>{kControlChange, 20, std::uint8_t(i % 128)});
            feed.Receive(noteOff);
            fed.store(true);
        });
        while (!fed.load())
            Pull<std::int16_t>(*player, kBlockSamples, {441});
        sequencer.join();
        Pull<std::int16_t>(*player, kBlockSamples, {441});
        for (const TSynthVoice& voice : player->State().Voices)
            EXPECT_FALSE(voice.Key == KeyForNote(69) && voice.VcaStage < StageRelease);
    }
}

// The mod wheel and Ctrl hold the LFO gate together; the stuck-key sweep, which knows the
// computer keyboard and the mouse alone, leaves a key that MIDI holds sounding.
TEST(RealtimePlayer, MidiSharesTheGateWithCtrlAndOutlivesTheSweep) {
    auto player = Player(RealtimePlayer::Pace::Live, kSampleRate);
    const auto wheel = [](std::uint8_t value) {
        return Event{MidiMessage{{kControlChange, 1, value}, 3}};
    };
    const struct {
        Event event;
        bool gate;
    } steps[] = {
        {Command{HoldLfo{LfoHolder::CtrlKey, true}}, true},
        {wheel(64), true},
        {Command{HoldLfo{LfoHolder::CtrlKey, false}}, true},
        {Command{ReleaseUnheld{KeySet{}, false}}, true},
        {wheel(0), false},
    };
    for (const auto& step : steps) {
        ASSERT_TRUE(player->Send(step.event));
        player->Apply();
        EXPECT_EQ(player->State().CtrlHeld, step.gate);
    }

    ASSERT_TRUE(player->Send(Event{MidiMessage{{kNoteOn, 69, 127}, 3}}));
    ASSERT_TRUE(player->Send(Command{ReleaseUnheld{KeySet{}, false}}));
    std::vector<std::int16_t> played = Pull<std::int16_t>(*player, 3 * kBlockSamples, {441});
    EXPECT_EQ(played, RenderedDirectly({Command{KeyDown{KeyForNote(69)}}, RenderBlocks{3}}));
}

// What MIDI and the panel do to the sound lands as a drag of the slider or a load of the
// preset would there: from the callback, at the message's own sample; from the queue,
// before the next block. A
// program change loads only a preset the interface has handed over. A sound the panel
// took before it had shown the controller's move does not undo the move.
TEST(RealtimePlayer, ControllersPresetsAndControlsChangeTheSoundWhereTheyApply) {
    PresetValues bright = DefaultPresetValues();
    bright[Wave1Type] = 2;
    bright[VcfCutoff] = 90;
    const auto message = [](std::uint8_t status, std::uint8_t data1, std::uint8_t data2) {
        return MidiMessage{{status, data1, data2}, std::uint8_t(DataByteCount(status) + 1)};
    };
    const struct {
        const char* what;
        Event event;
        bool handOverPresets;
        bool thenStaleSound;
        void (*expected)(SoundParameters& s, const PresetValues& bright);
    } cases[] = {
        {"cutoff by CC74", Event{message(kControlChange, 74, 100)}, false, false,
         [](SoundParameters& s, const PresetValues&) {
             WriteControl(s, VcfCutoff, ControllerPosition(VcfCutoff, 100));
         }},
        {"cutoff by CC74, then a stale sound", Event{message(kControlChange, 74, 100)}, false, true,
         [](SoundParameters& s, const PresetValues&) {
             WriteControl(s, VcfCutoff, ControllerPosition(VcfCutoff, 100));
         }},
        {"a preset handed over", Event{message(kProgramChange, 1, 0)}, true, false,
         [](SoundParameters& s, const PresetValues& values) { LoadPresetSound(s, values); }},
        {"a preset never handed over", Event{message(kProgramChange, 1, 0)}, false, false,
         [](SoundParameters&, const PresetValues&) {}},
        {"a control from the queue", Command{SetControl{VcfResonance, 500}}, false, false,
         [](SoundParameters& s, const PresetValues&) { WriteControl(s, VcfResonance, 90); }},
    };
    constexpr int kBlocks = 6;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        auto player = Player(RealtimePlayer::Pace::Live, kSampleRate);
        if (c.handOverPresets) {
            ASSERT_TRUE(player->Send(Command{StorePreset{1, bright}}));
        }
        std::vector<std::int16_t> played;
        for (int cycle = 0; cycle < kBlocks; ++cycle) {
            ListedMidi midi;
            if (cycle == 0)
                midi.Add(message(kNoteOn, 69, 127), 0);
            // Frame 100 of period 2 applies at sample 982; the queue before period 3 at 1323.
            const auto* message = std::get_if<MidiMessage>(&c.event);
            if (cycle == 2 && message)
                midi.Add(*message, 100);
            if (cycle == 3 && !message) {
                ASSERT_TRUE(player->Send(c.event));
            }
            if (cycle == 3 && c.thenStaleSound) {
                ASSERT_TRUE(player->Send(PanelSound{SetSound{*fixture::MakeSynth()}, 0}));
            }
            const std::vector<std::int16_t> period = RenderPeriod(*player, kBlockSamples, midi);
            played.insert(played.end(), period.begin(), period.end());
        }
        SoundParameters changed = *fixture::MakeSynth();
        c.expected(changed, bright);
        const std::uint64_t at = std::holds_alternative<MidiMessage>(c.event)
                                     ? 2 * kBlockSamples + 100
                                     : 3 * kBlockSamples;
        EXPECT_EQ(played, RenderedDirectly({Command{KeyDown{KeyForNote(69)}}, RenderSamples{at},
                                            Command{SetSound{changed}},
                                            RenderSamples{kBlocks * kBlockSamples - at}}));
    }
}

// The bend range RPN 0 sets goes back for the panel to show, after the slider moves that
// came before it; when the panel's queue is full, the last range waits and comes last.
TEST(RealtimePlayer, TheBendRangeRpnSetsGoesBackToThePanel) {
    const auto cc = [](std::uint8_t controller, std::uint8_t value) {
        return Event{MidiMessage{{kControlChange, controller, value}, 3}};
    };
    for (const int moves : {0, 1, int(RealtimePlayer::kPanelActionCapacity) + 10}) {
        SCOPED_TRACE(testing::Message() << moves << " cutoff moves first");
        auto player = Player(RealtimePlayer::Pace::Live, kSampleRate);
        for (int i = 0; i < moves; ++i)
            player->SendOrKeep(cc(74, std::uint8_t(i % 128)));
        for (const std::uint8_t range : {12, 30, 5})
            for (const Event& event : {cc(101, 0), cc(100, 0), cc(6, range)})
                player->SendOrKeep(event);
        std::vector<PanelAction> shown;
        for (int block = 0; block < 4; ++block) {
            player->SendWaiting();
            Pull<std::int16_t>(*player, kBlockSamples, {441});
            while (std::optional<PanelAction> action = player->PopPanelAction())
                shown.push_back(*action);
        }
        std::vector<int> ranges;
        for (const PanelAction& action : shown)
            if (const auto* set = std::get_if<SetPlaying>(&action)) {
                EXPECT_EQ(set->control, PlayingControl::BendRange);
                ranges.push_back(set->value);
            }
        const std::vector<int> expected = moves > int(RealtimePlayer::kPanelActionCapacity)
                                              ? std::vector<int>{5}
                                              : std::vector<int>{12, 24, 5};
        EXPECT_EQ(ranges, expected);
        EXPECT_TRUE(std::holds_alternative<SetPlaying>(shown.back()));
        EXPECT_EQ(player->State().BendRange, 5);
    }
}
