#include "midi/block_schedule.h"

#include <string>

namespace morvane {

namespace {

constexpr std::int64_t kLongestTailSeconds = 24 * 60 * 60;

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

} // namespace

std::int64_t FirstBlockAtOrAfter(std::int64_t time, int ticksPerQuarter) {
    const std::int64_t blockLength = kBlockMicroseconds * ticksPerQuarter;
    return time / blockLength + (time % blockLength != 0 ? 1 : 0);
}

// Whole blocks and what is left of one, so that the product stays far within 64 bits for
// any time a file can reach.
std::int64_t FirstSampleAtOrAfter(std::int64_t time, int ticksPerQuarter) {
    const std::int64_t blockLength = kBlockMicroseconds * ticksPerQuarter;
    const std::int64_t rest = (time % blockLength) * kBlockSamples;
    return time / blockLength * kBlockSamples + rest / blockLength +
           (rest % blockLength != 0 ? 1 : 0);
}

std::int64_t EndBlock(const MidiFile& file) {
    return FirstBlockAtOrAfter(file.end, file.ticksPerQuarter);
}

// 50 × seconds is half of the hundredths h = floor(100 × seconds) plus a rest below
// one half, so it rounds to ceil(h / 2): digits after the hundredths never matter.
Result<std::int64_t> TailBlocks(std::string_view seconds) {
    const auto refuse = [&] {
        return Error{"tail \"" + std::string(seconds) + "\" is not 0 to " +
                     std::to_string(kLongestTailSeconds) + " seconds"};
    };
    const std::size_t point = seconds.find('.');
    const std::string_view whole = seconds.substr(0, point);
    const std::string_view fraction =
        point == std::string_view::npos ? std::string_view{} : seconds.substr(point + 1);
    if (whole.empty() && fraction.empty())
        return refuse();
    std::int64_t wholeSeconds = 0;
    for (char c : whole) {
        if (!IsDigit(c) || wholeSeconds > kLongestTailSeconds)
            return refuse();
        wholeSeconds = wholeSeconds * 10 + (c - '0');
    }
    std::int64_t hundredths = wholeSeconds * 100;
    for (std::size_t i = 0; i < fraction.size(); ++i) {
        if (!IsDigit(fraction[i]))
            return refuse();
        if (i == 0)
            hundredths += (fraction[i] - '0') * 10;
        else if (i == 1)
            hundredths += fraction[i] - '0';
    }
    if (hundredths > kLongestTailSeconds * 100)
        return refuse();
    return (hundredths + 1) / 2;
}

} // namespace morvane
