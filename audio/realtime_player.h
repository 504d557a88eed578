#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <deque>
#include <memory>
#include <optional>

#include "audio/player_event.h"
#include "audio/resampler.h"
#include "audio/sample_source.h"
#include "audio/spsc_ring.h"
#include "engine/block_renderer.h"
#include "engine/command.h"
#include "engine/startup.h"
#include "engine/synth_state.h"
#include "midi/controller_bindings.h"
#include "midi/midi_message.h"

namespace morvane {

class MidiMapping;

using Block = std::array<std::int16_t, kBlockSamples>;

// Rendered blocks kept between the player and the device, as the classic mode plays: each
// time the device takes the oldest, the player renders until blocks wait behind it. It
// starts with silent blocks of silence, so the first rendered block is heard behind them.
struct BlockLead {
    int blocks = 0;
    int silent = 0;
};

// The instrument as the audio callback plays it. It owns the synth state; the user
// interface never touches that state but sends every input through a lock-free queue, as
// the engine's commands and the player's own few events, and the player applies what is
// queued between two blocks, in order, through the one Instrument that every input plays. It
// renders whenever the device needs samples, no further than the device needs, and sends back
// through lock-free queues what the interface needs: key colour changes and, while recording,
// the rendered blocks.
//
// MIDI reaches the player too and goes through its own mapping, each message at its own
// sample, where it cuts the engine's stream: from the callback's own period (a JACK port, a
// plugin host), read as the render reaches it, a message at frame h of the stream applies
// before sample ceil(h × 22050 / R); from the ALSA sequencer's queue, filled on its thread
// and stamped as it comes, a period after it came. Everything a message does to the sound
// happens here, at that sample: keys, the mod wheel, a controller moving a slider, and a
// program change of a preset the interface has handed over. What the panel shows follows:
// slider moves, program changes, learnt controllers and the bend range RPN 0 sets go back to
// the interface through a queue of their own, for it to show and keep. With a lead (the
// classic mode) blocks are rendered ahead whole, and MIDI applies between them.
//
// Two threads, and the sequencer's: the producer (the user interface) calls Send,
// SetRecording and the Pop... calls; the sequencer's thread calls SendSequencerMidi; the consumer
// (the audio callback, or the interface itself while no device plays) calls Apply, NextBlock and
// Render, none of which locks, allocates, logs or makes a system call.
//
// Live players render for ever and apply whatever has arrived. A scored player (the
// offline renderer) renders only the samples its RenderBlocks and RenderSamples events
// allow, so that every event lands at the same sample whatever the pace; it ends at its
// EndOfScore, with the block that holds it.
class RealtimePlayer final : public SampleSource {
public:
    enum class Pace { Live, Scored };

    // 20 s of the fastest typing; the interface drains the return queues every few ms.
    static constexpr std::size_t kEventCapacity = 1024;
    static constexpr std::size_t kColourCapacity = 512;
    // 1.3 s of blocks for a recorder whose disk stalls.
    static constexpr std::size_t kRecordCapacity = 64;
    // Slider moves and program changes for the panel: a knob turned fast sends a few
    // hundred a second.
    static constexpr std::size_t kPanelActionCapacity = 512;
    // Two seconds of a dense controller sweep from the sequencer.
    static constexpr std::size_t kSequencerCapacity = 1024;
    // The classic mode's 26 silent blocks and 5 in flight, with room to spare.
    static constexpr int kLeadCapacity = 32;

    // Starts from the running state of start-up and the given sound; deviceRate is the
    // rate Render(float) and Render(int16) produce (22050 passes the samples through).
    static Result<std::unique_ptr<RealtimePlayer>> Create(const SoundParameters& sound, Pace pace,
                                                          int deviceRate);
    ~RealtimePlayer();

    // A device that comes back at another rate: from now on Render produces deviceRate.
    // Only while no device pulls from the player. Fails, changing nothing, for a rate the
    // resampler cannot reach.
    Status UseDeviceRate(int deviceRate);

    // From now on the device plays through a lead of rendered blocks (none: renders as it
    // plays), starting again with its silence: at the start, or for a device back after a
    // loss. Only while no device pulls from the player. Fails, changing nothing, for a
    // lead longer than the player keeps.
    Status KeepLead(const BlockLead& lead);

    // The MIDI channel listened to, 1..16, or all when empty; and the controllers that
    // move sliders. Only before the player is attached to a device.
    Status ListenToMidi(std::optional<int> channel, const ControllerBindings& bindings);

    // --- producer side ---
    // False when the queue is full: the event is not sent.
    bool Send(const PlayerEvent& event) { return events_.Push(event); }
    // For a producer that may allocate (the interface), which must lose nothing: a burst
    // of MIDI can outrun the consumer, and a note-off dropped would leave its key held.
    // What finds the queue full waits here, in order and ahead of whatever is sent after
    // it, until SendWaiting finds room. True when the event had to wait.
    bool SendOrKeep(const PlayerEvent& event);
    // Offers what waits again; true when nothing waits any more.
    bool SendWaiting();
    // From the next block on, every rendered block is offered to PopRecordedBlock.
    void SetRecording(bool recording) { recording_.store(recording, std::memory_order_release); }
    std::optional<KeyColourChanges> PopKeyColours() { return colours_.Pop(); }
    std::optional<Block> PopRecordedBlock() { return recorded_.Pop(); }
    // For the panel to carry out, in the order they came.
    std::optional<PanelAction> PopPanelAction() { return panelActions_.Pop(); }
    // --- a second producer: the sequencer's thread ---
    // The message is stamped with the time it arrives and applies one device period later:
    // in the period after the one that was playing then, as far into it as it came into
    // that one. With a lead, or while no device plays, it applies at the next block
    // instead. False when the queue is full: the message is not sent.
    bool SendSequencerMidi(const MidiMessage& message) {
        return sequencerMidi_.Push({message, clock_()});
    }
    // Nanoseconds of a steady clock, for the sequencer's messages: the player's own reads
    // the monotonic clock, which Linux mostly answers without a system call. Tests give one
    // of their own, and a player no sequencer feeds may give one that reads nothing; before
    // any use.
    using Clock = std::int64_t (*)() noexcept;
    void UseClock(Clock clock) { clock_ = clock; }

    // From the next block on the player renders nothing more: the close has begun.
    void Stop() { stopped_.store(true, std::memory_order_release); }

    // Blocks the recorder could not take in time, colour changes lost the same way, and
    // (scored) blocks the producer was too late for, each played as silence.
    long RecordOverflows() const { return recordOverflows_.load(); }
    long ColourOverflows() const { return colourOverflows_.load(); }
    long PanelActionOverflows() const { return panelActionOverflows_.load(); }
    // Messages of the channel listened to that the player has taken, for a lamp that
    // shows MIDI coming in.
    std::uint64_t MidiHeard() const { return midiHeard_.load(std::memory_order_relaxed); }
    long Starved() const { return starved_.load(); }
    // A scored player has rendered its last block, or a live one was stopped, and the
    // lead has played out.
    bool Ended() const { return ended_.load(std::memory_order_acquire); }
    // Samples handed to the device so far, the silence after the end included.
    std::uint64_t FramesOut() const { return framesOut_.load(std::memory_order_acquire); }
    // Frames delivered when the last rendered sample had left the resampler.
    std::uint64_t LastSoundFrame() const { return lastSoundFrame_.load(); }

    // --- consumer side ---
    // Applies every queued input event that may be applied now (live: all of them, the
    // sequencer's first).
    void Apply();
    // Applies what is due and renders the next block into block: false, leaving it
    // alone, when there is none to render (ended, stopped, or a scored player waiting
    // for its producer, which takes up again where it stopped).
    bool NextBlock(std::int16_t* block);
    // Fills out with frames samples at the device rate, rendering blocks as needed and
    // silence where none may be rendered.
    void Render(std::int16_t* out, int frames) noexcept;
    void Render(float* out, int frames) noexcept;
    // The same with the MIDI messages of the period. The message at frame f of a period
    // that starts at frame p (counted since the player started, or since a new device rate)
    // applies before sample ceil((p + f) × 22050 / R). The resampler makes each frame of
    // samples up to its own time alone, so a message is never late and adds no latency:
    // the same samples as the offline renderer's of the messages at those samples, through
    // the same resampler, whatever the periods.
    void Render(float* out, int frames, PeriodMidi& midi) noexcept override;

    // The consumer's state; read it only on the consumer's thread.
    const SynthState& State() const { return *state_; }
    const ControllerBindings& Bindings() const;
    int DeviceRate() const { return resampler_.DeviceRate(); }

private:
    RealtimePlayer(Pace pace, Resampler resampler);
    void PushPanelAction(const PanelAction& action);
    bool TryPushPanelAction(const PanelAction& action);
    bool PanelActionsWaiting() const;
    void SendWaitingPanelActions();
    void ApplyCommand(const Command& command);
    void ApplyEvent(const PlayerEvent& event);
    void ApplyMidi(const MidiMessage& message);
    void ApplyMidiActions(const MidiActions& actions);
    template <typename MidiCommand> void ApplyMidiCommand(const MidiCommand& command);
    void ApplyMidiUpTo(PeriodMidi* midi, int frame);
    void ApplyTimedMidi(const MidiMessage& message);
    // The period's messages (and one kept from before) due at the next sample rendered.
    void ApplyDueMidi(PeriodMidi* midi);
    // The input sample the sequencer's waiting message applies before, when it came
    // before this period started.
    std::optional<std::uint64_t> SequencerSample();
    // The sample of the next message to apply, from either.
    std::optional<std::uint64_t> NextMidiSample();
    // The queue's events alone, without the sequencer's.
    void ApplyQueue();
    // The input sample the resampler is handed next, counted from its start.
    std::uint64_t InputPosition() const;
    std::uint64_t SampleOfFrame(std::uint64_t frame) const;
    std::uint64_t InputForFrames(std::uint64_t frames) const;
    bool TakeScoredEvents();
    // Starts a block to be rendered: false, rendering nothing, when there is none.
    bool StartBlock();
    // Renders the block on to position, applying what comes due on the way: false when a
    // scored player must stop short to wait for its producer.
    bool RenderUpTo(int position, PeriodMidi* midi);
    void NextLeadInput(PeriodMidi* midi, int done);
    void NextStreamInput(PeriodMidi* midi, std::uint64_t wanted);
    // Takes the lead's oldest block into block_ and blockIsSound_ and renders what the
    // lead then lacks: false, leaving them alone, when there is no block to take.
    bool NextFromLead();
    // Renders until lead_.blocks wait, or none can be rendered.
    void TopUpLead();
    void DropOldestLead();
    void EndRendering();
    template <typename Sample> void RenderAny(Sample* out, int frames, PeriodMidi* midi) noexcept;

    Pace pace_;
    Resampler resampler_;
    std::unique_ptr<SynthState> state_;
    Instrument instrument_;
    SpscRing<PlayerEvent, kEventCapacity> events_;
    struct StampedMessage {
        MidiMessage message;
        std::int64_t arrival = 0; // by clock_
    };
    static std::int64_t SteadyNanoseconds() noexcept;
    Clock clock_ = &SteadyNanoseconds;
    SpscRing<StampedMessage, kSequencerCapacity> sequencerMidi_;
    std::deque<PlayerEvent> waitingEvents_; // the producer's own
    SpscRing<KeyColourChanges, kColourCapacity> colours_;
    SpscRing<Block, kRecordCapacity> recorded_;
    SpscRing<PanelAction, kPanelActionCapacity> panelActions_;
    std::atomic<bool> recording_{false};
    std::atomic<bool> stopped_{false};
    std::atomic<bool> ended_{false};
    std::atomic<long> recordOverflows_{0};
    std::atomic<long> colourOverflows_{0};
    std::atomic<long> panelActionOverflows_{0};
    std::atomic<std::uint64_t> midiHeard_{0};
    std::atomic<long> starved_{0};
    std::atomic<std::uint64_t> framesOut_{0};
    std::atomic<std::uint64_t> lastSoundFrame_{0};

    // The consumer's own.
    // Scored: the samples of RenderSamples (or RenderBlocks) not yet rendered, and whether
    // the score ends with the block.
    std::uint64_t samplesAllowed_ = 0;
    bool endAfterBlock_ = false;
    StreamRenderer renderer_;
    // The block being rendered, rendered_ samples of it so far; without a lead the
    // resampler takes them from there.
    Block rendering_{};
    int rendered_ = kBlockSamples;
    // With a lead, the block the resampler takes from.
    Block block_{};
    int blockUsed_ = kBlockSamples; // samples of the input block handed to the resampler
    bool blockIsSound_ = false;
    // Since the resampler started: the output frame it started at, and the input it took.
    std::uint64_t resamplerStartFrame_ = 0;
    std::uint64_t resamplerIn_ = 0;
    // The period's first frame since the resampler started.
    std::uint64_t periodStart_ = 0;
    // A message of the period read ahead, and the input sample it applies before.
    struct TimedMessage {
        MidiMessage message;
        std::uint64_t sample = 0;
    };
    std::optional<TimedMessage> waitingMidi_;
    // The sequencer's next message, taken from its queue; the clock at the start of this
    // period and of the one before, and this period's length in frames.
    std::optional<StampedMessage> waitingSequencer_;
    std::int64_t periodTime_ = 0;
    std::int64_t previousPeriodTime_ = 0;
    int periodFrames_ = 0;
    // No more blocks will be rendered; ended_ follows once the lead is empty.
    bool renderingEnded_ = false;
    // A ring of rendered blocks, oldest at leadFirst_; silent ones are no sound.
    BlockLead lead_{};
    std::array<Block, kLeadCapacity> leadBlocks_{};
    std::bitset<kLeadCapacity> leadIsSound_;
    int leadFirst_ = 0;
    int leadCount_ = 0;
    std::unique_ptr<MidiMapping> midi_;
    // The keys MIDI holds down: the stuck-key sweep, which knows only the keyboard and
    // the mouse, must leave them sounding.
    KeySet midiKeys_;
    // A sound the panel took before it had shown every slider MIDI moved is stale: it
    // would move them back for a moment.
    std::uint64_t panelActionsPushed_ = 0;
    // What found the panel's queue full, by slider, a program change, and by playing
    // setting.
    std::array<std::optional<int>, kControlCount> waitingMoves_{};
    std::optional<int> waitingProgram_;
    std::array<std::optional<int>, kPlayingControls.size()> waitingPlaying_{};
};

} // namespace morvane
