#pragma once

#include <array>
#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "audio/wave_out_device.h"

namespace morvane {

// A wave-output device driven by hand, for tests: buffers finish playing when the test
// says so, each step can be made to fail, and the device can go away and come back.
class ManualWaveOut : public WaveOutDevice {
public:
    enum class Step { Open, Prepare, Write, Unprepare, Count };

    Status Open(CompletionListener& listener) override;
    Status Prepare(WaveHeader& header) override;
    Status Write(WaveHeader& header) override;
    Status Unprepare(WaveHeader& header) override;
    void Reset() override;
    void Close() override;
    // Time passes one buffer at a time: when nothing has finished, the oldest queued
    // buffer finishes; then every finished buffer's completion is delivered.
    void AwaitCompletions(std::chrono::milliseconds timeout) override;
    void WaitUntilHeard() override {}

    // The call of step that follows `succeeding` more successful ones fails, once, giving
    // reason (none by default).
    void FailNext(Step step, int succeeding = 0, std::string reason = {});

    // The device goes away: every queued buffer finishes at once, the listener hears of
    // the loss (given reason), and writes fail until ComeBack. The completions wait for
    // DeliverCompletions, as after a reset.
    void Lose(std::string reason);
    // The device plays again; deliver the completions of the loss first.
    void ComeBack();

    // The oldest count queued buffers finish playing; their completions wait for
    // DeliverCompletions.
    void Finish(int count = 1);
    // Delivers the waiting completions one at a time.
    void DeliverCompletions();
    // Delivers only the oldest waiting completion.
    void DeliverNext();
    // count buffers finish one after the other, each completion delivered at once.
    void Complete(int count = 1);

    int QueuedCount() const { return static_cast<int>(queued_.size()); }
    const WaveHeader* QueuedAt(int position) const { return queued_[position]; }
    int ResetCount() const { return resets_; }
    bool IsOpen() const { return open_; }
    // Calls that reached the device while it was not open.
    int CallsWhileClosed() const { return callsWhileClosed_; }
    // The samples of every buffer written, in the order written.
    const std::vector<std::vector<std::int16_t>>& Written() const { return written_; }

private:
    Status Outcome(Step step);
    void NoteCallWhileClosed();

    CompletionListener* listener_ = nullptr;
    bool open_ = false;
    std::deque<WaveHeader*> queued_;
    std::deque<WaveHeader*> finished_;
    bool lost_ = false;
    std::array<int, static_cast<int>(Step::Count)> failAfter_{-1, -1, -1, -1};
    std::array<std::string, static_cast<int>(Step::Count)> failReason_;
    int resets_ = 0;
    int callsWhileClosed_ = 0;
    std::vector<std::vector<std::int16_t>> written_;
};

} // namespace morvane
