#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "audio/audio_session.h"
#include "audio/realtime_output.h"

namespace morvane {

// A callback device driven by hand, for tests: it plays when the test says so (or, asked
// to, a block at each Tend of its owner), keeps every sample it played, and can go away.
class ManualOutput final : public RealtimeOutput {
public:
    explicit ManualOutput(int rate = kSampleRate)
        : rate_(rate), played_(std::make_shared<std::vector<std::int16_t>>()) {}

    // The callback asks for frames samples.
    void Play(int frames);
    void PlayBlocks(int blocks) { Play(blocks * kBlockSamples); }
    // From now on the owner's Tend plays this many frames, as a device beside it would.
    void PlayOnTend(int frames) { framesOnTend_ = frames; }
    // The device goes away: Loss says why from now on, and it plays no more.
    void Lose(std::string reason) { loss_ = Error{std::move(reason)}; }

    const std::vector<std::int16_t>& Played() const { return *played_; }
    // The same, for as long as the caller keeps it, the device gone or not.
    std::shared_ptr<const std::vector<std::int16_t>> KeepPlayed() const { return played_; }

    AudioApi Api() const override { return AudioApi::PortAudio; }
    int SampleRate() const override { return rate_; }
    std::optional<Error> Loss() const override { return loss_; }
    long Underruns() const override { return 0; }
    OutputHealth Health() const override;
    void Tend() override { Play(framesOnTend_); }

protected:
    int LatencyFrames() const override { return 0; }

private:
    int rate_;
    int framesOnTend_ = 0;
    std::optional<Error> loss_;
    std::shared_ptr<std::vector<std::int16_t>> played_;
};

// Opens ManualOutputs, or fails as the test asks; the last one opened stays in reach.
class ManualOutputs {
public:
    // The next count opens fail with reason.
    void FailNext(int count, std::string reason);
    // Every device opened from now on plays this many frames at each Tend.
    void PlayOnTend(int frames) { framesOnTend_ = frames; }
    OutputOpener Opener();
    // The classic mode, opening its devices here.
    AudioSessionSetup Classic() {
        AudioSessionSetup setup = ClassicSession();
        setup.open = Opener();
        return setup;
    }
    // The device opened last, or null; it lives as long as its owner keeps it.
    ManualOutput* Last() const { return last_; }
    // What the device opened last played, also once it has gone.
    const std::vector<std::int16_t>& LastPlayed() const { return *lastPlayed_; }
    int Opened() const { return opened_; }
    // What the last open was asked for.
    const RealtimeOutputOptions& Asked() const { return asked_; }

private:
    int failing_ = 0;
    std::string reason_;
    int framesOnTend_ = 0;
    ManualOutput* last_ = nullptr;
    std::shared_ptr<const std::vector<std::int16_t>> lastPlayed_ =
        std::make_shared<std::vector<std::int16_t>>();
    int opened_ = 0;
    RealtimeOutputOptions asked_;
};

} // namespace morvane
