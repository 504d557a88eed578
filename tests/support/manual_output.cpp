#include "tests/support/manual_output.h"

namespace morvane {

void ManualOutput::Play(int frames) {
    if (frames <= 0 || loss_)
        return;
    std::vector<std::int16_t> samples(frames);
    Pull(samples.data(), frames);
    played_->insert(played_->end(), samples.begin(), samples.end());
}

OutputHealth ManualOutput::Health() const {
    return OutputHealth{.output = "Manual",
                        .device = "manual",
                        .rate = rate_,
                        .bufferFrames = kBlockSamples,
                        .latencyFrames = 0,
                        .realtime = std::nullopt,
                        .underruns = 0};
}

void ManualOutputs::FailNext(int count, std::string reason) {
    failing_ = count;
    reason_ = std::move(reason);
}

OutputOpener ManualOutputs::Opener() {
    return [this](const RealtimeOutputOptions& options) -> Result<std::unique_ptr<RealtimeOutput>> {
        asked_ = options;
        if (failing_ > 0) {
            --failing_;
            return Error{reason_};
        }
        auto output = std::make_unique<ManualOutput>();
        output->PlayOnTend(framesOnTend_);
        last_ = output.get();
        lastPlayed_ = output->KeepPlayed();
        ++opened_;
        return std::unique_ptr<RealtimeOutput>(std::move(output));
    };
}

} // namespace morvane
