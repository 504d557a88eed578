#include "audio/block_player.h"

#include <string>
#include <utility>
#include <vector>

#include "audio/portaudio_wave_out.h"
#include "audio/wave_out.h"

namespace morvane {

namespace {

// A completion comes every 20 ms; this much silence from the device means it is stuck.
constexpr auto kPollInterval = std::chrono::milliseconds(100);
constexpr int kPollsBeforeStall = 20;

class Player : BlockSource, ErrorReporter, WaveOutOwner {
public:
    Player(WaveOutDevice& device, const NextBlock& nextBlock)
        : device_(device), nextBlock_(nextBlock), stream_(device, *this, *this, *this) {}

    PlayOutcome Run() {
        if (stream_.OpenOutput())
            WaitForTheEnd();
        if (finished_)
            device_.WaitUntilHeard();
        stream_.Close();
        if (errors_.empty())
            return Played{};
        std::string lines = errors_.front();
        for (std::size_t i = 1; i < errors_.size(); ++i)
            lines += '\n' + errors_[i];
        return Error{lines};
    }

private:
    bool RenderInto(std::int16_t* block) override { return nextBlock_(block); }
    void ShowError(const std::string& message) override { errors_.push_back(message); }
    void RequestClose() override { finished_ = stream_.CloseQuery(); }

    // Until the last buffer has come back, or none can come any more.
    void WaitForTheEnd() {
        int idlePolls = 0;
        while (!finished_ && stream_.BuffersInFlight() > 0) {
            auto before = std::pair(stream_.CurrentBuffer(), stream_.BuffersInFlight());
            device_.AwaitCompletions(kPollInterval);
            bool moved = before != std::pair(stream_.CurrentBuffer(), stream_.BuffersInFlight());
            idlePolls = moved ? 0 : idlePolls + 1;
            if (idlePolls == kPollsBeforeStall) {
                errors_.emplace_back(kWriteError);
                return;
            }
        }
    }

    WaveOutDevice& device_;
    const NextBlock& nextBlock_;
    WaveOut stream_;
    std::vector<std::string> errors_;
    bool finished_ = false;
};

} // namespace

PlayOutcome PlayBlocks(WaveOutDevice& device, const NextBlock& nextBlock) {
    return Player(device, nextBlock).Run();
}

PlayOutcome PlayBlocksOnDefaultDevice(const NextBlock& nextBlock) {
    PortAudioWaveOut device;
    PlayOutcome outcome = PlayBlocks(device, nextBlock);
    if (outcome)
        outcome->underruns = device.QueueUnderruns() + device.DeviceUnderruns();
    return outcome;
}

} // namespace morvane
