#include "tools/score.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cstdint>
#include <istream>
#include <limits>
#include <optional>
#include <string>

#include "base/ascii.h"
#include "engine/keymap.h"
#include "engine/synth_state.h"
#include "engine/tuning.h"

namespace morvane::score {

namespace {

constexpr std::string_view kBlanks = " \t\r"; // a CR too, for files written with CR LF
constexpr std::string_view kTuningName = "TUNING";
constexpr std::int64_t kMostBlocksPerCommand = std::numeric_limits<std::int32_t>::max();
constexpr std::int64_t kMostSamplesPerCommand = std::numeric_limits<std::int32_t>::max();

// A line's command, nothing for a blank or comment line, or what is wrong with the line
// (ReadScore adds its place).
using LineResult = Result<std::optional<PlayerEvent>>;

std::vector<std::string_view> Tokens(std::string_view line) {
    line = line.substr(0, line.find('#'));
    std::vector<std::string_view> tokens;
    for (;;) {
        std::size_t start = line.find_first_not_of(kBlanks);
        if (start == std::string_view::npos)
            return tokens;
        line.remove_prefix(start);
        std::size_t end = std::min(line.find_first_of(kBlanks), line.size());
        tokens.push_back(line.substr(0, end));
        line.remove_prefix(end);
    }
}

std::string Quoted(std::string_view text) {
    std::string quoted(1, '\'');
    return quoted.append(Excerpt(text)).append(1, '\'');
}

// The decimal integer of the token, which must lie within lowest..highest.
Result<int> IntegerIn(std::string_view token, std::int64_t lowest, std::int64_t highest,
                      std::string_view what) {
    std::int64_t value = 0;
    auto [end, error] = std::from_chars(token.data(), token.data() + token.size(), value);
    bool tooLarge = error == std::errc::result_out_of_range;
    if ((error != std::errc{} && !tooLarge) || end != token.data() + token.size())
        return Error{Quoted(token) + " is not a decimal integer"};
    if (tooLarge || value < lowest || value > highest)
        return Error{std::string(what) + " " + Excerpt(token) + " is outside " +
                     std::to_string(lowest) + ".." + std::to_string(highest)};
    return static_cast<int>(value);
}

// The command made from the integer, or the integer's error.
template <class Make> LineResult Then(const Result<int>& value, Make make) {
    if (!value)
        return value.error();
    return std::optional<PlayerEvent>(make(*value));
}

LineResult Param(std::string_view name, std::string_view value) {
    if (EqualsIgnoringAsciiCase(name, kTuningName))
        return Then(IntegerIn(value, kLowestTuning, kHighestTuning, kTuningName),
                    [](int tuning) { return Command{SetTuning{tuning}}; });
    if (const std::optional<PlayingControl> playing = FindPlayingControl(name))
        return Then(IntegerIn(value, 0, LargestPlaying(*playing), PlayingControlKey(*playing)),
                    [&](int v) {
                        return Command{SetPlaying{*playing, v}};
                    });
    std::optional<ControlId> id = FindControl(name);
    if (!id)
        return Error{"unknown parameter " + Quoted(name)};
    // Within the control's range a preset's value is the control's position, so the
    // preset loader and a move of the control write the same sound.
    const ControlDescription& d = Describe(*id);
    return Then(IntegerIn(value, d.minimum, d.maximum, d.key), [&](int position) {
        return Command{SetControl{*id, position}};
    });
}

Result<int> KeyIndex(std::string_view token) {
    return IntegerIn(token, 0, kKeyCount - 1, "key");
}

using TokenList = std::vector<std::string_view>;

// What each command takes after its name (at least the fewest, at most arguments), and
// how its arguments become the command.
struct CommandForm {
    std::string_view name;
    std::size_t fewest;
    std::size_t arguments;
    std::string_view usage;
    LineResult (*make)(const TokenList& tokens);
};

constexpr std::array<CommandForm, 7> kCommandForms = {{
    {"param", 2, 2, "NAME VALUE", [](const TokenList& t) { return Param(t[1], t[2]); }},
    {"on", 1, 2, "KEY [VELOCITY]",
     [](const TokenList& t) -> LineResult {
         const Result<int> velocity =
             t.size() > 2 ? IntegerIn(t[2], 1, kFullVelocity, "velocity") : kFullVelocity;
         if (!velocity)
             return velocity.error();
         return Then(KeyIndex(t[1]), [&](int key) { return Command{KeyDown{key, *velocity}}; });
     }},
    {"bend", 1, 1, "VALUE",
     [](const TokenList& t) {
         return Then(IntegerIn(t[1], kLowestBend, kHighestBend, "bend"),
                     [](int bend) { return Command{BendPitch{bend}}; });
     }},
    {"off", 1, 1, "KEY",
     [](const TokenList& t) {
         return Then(KeyIndex(t[1]), [](int key) { return Command{KeyUp{key}}; });
     }},
    {"ctrl", 1, 1, "0 or 1",
     [](const TokenList& t) {
         return Then(IntegerIn(t[1], 0, 1, "ctrl"), [](int held) {
             return Command{HoldLfo{LfoHolder::CtrlKey, held == 1}};
         });
     }},
    {"render", 1, 1, "N",
     [](const TokenList& t) {
         return Then(IntegerIn(t[1], 0, kMostBlocksPerCommand, "block count"),
                     [](int blocks) { return RenderBlocks{static_cast<std::uint64_t>(blocks)}; });
     }},
    {"wait", 1, 1, "N",
     [](const TokenList& t) {
         return Then(IntegerIn(t[1], 0, kMostSamplesPerCommand, "sample count"), [](int samples) {
             return RenderSamples{static_cast<std::uint64_t>(samples)};
         });
     }},
}};

LineResult ParseLine(std::string_view line) {
    const TokenList t = Tokens(line);
    if (t.empty())
        return std::optional<PlayerEvent>();
    for (const CommandForm& form : kCommandForms) {
        if (t[0] != form.name)
            continue;
        if (t.size() < form.fewest + 1 || t.size() > form.arguments + 1)
            return Error{Quoted(t[0]) + " takes " + std::string(form.usage)};
        return form.make(t);
    }
    return Error{"unknown command " + Quoted(t[0])};
}

// Reads lines through a buffer of one line, its end and one byte beyond, so that an
// endless line is found too long after kLongestLine + 1 bytes.
class LineReader {
public:
    explicit LineReader(std::istream& in) : in_(in) {}

    enum class Outcome { Line, TooLong, End };

    Outcome Next() {
        in_.getline(buffer_.data(), buffer_.size());
        const auto extracted = static_cast<std::size_t>(in_.gcount());
        if (in_.bad())
            return Outcome::End; // ReadScore reports it
        if (in_.fail() && !in_.eof())
            return Outcome::TooLong; // the buffer filled before the line ended
        if (extracted == 0 && in_.eof())
            return Outcome::End;
        // The line's end was taken too, except at the end of the input; the CR of a
        // CR LF end does not count against the limit.
        length_ = in_.eof() ? extracted : extracted - 1;
        if (length_ == kLongestLine + 1 && buffer_[kLongestLine] == '\r')
            --length_;
        return length_ > kLongestLine ? Outcome::TooLong : Outcome::Line;
    }
    std::string_view Line() const { return {buffer_.data(), length_}; }

private:
    std::istream& in_;
    std::array<char, kLongestLine + 2> buffer_{};
    std::size_t length_ = 0;
};

} // namespace

Result<Score> ReadScore(std::istream& in, std::string_view name) {
    const std::string source(name);
    auto at = [&](int line) { return source + ":" + std::to_string(line) + ": "; };
    Score score;
    std::uint64_t samples = 0;
    LineReader reader(in);
    for (int number = 1;; ++number) {
        const LineReader::Outcome outcome = reader.Next();
        if (outcome == LineReader::Outcome::End)
            break;
        if (outcome == LineReader::Outcome::TooLong)
            return Error{at(number) + "the line is longer than " + std::to_string(kLongestLine) +
                         " bytes"};
        LineResult command = ParseLine(reader.Line());
        if (!command)
            return Error{at(number) + command.error().message};
        if (!*command)
            continue;
        if (auto* render = std::get_if<RenderBlocks>(&**command))
            samples += render->blocks * kBlockSamples;
        if (auto* wait = std::get_if<RenderSamples>(&**command))
            samples += wait->samples;
        score.events.push_back(**command);
    }
    // The player finishes the block the score ends in.
    score.blocks = (samples + kBlockSamples - 1) / kBlockSamples;
    if (in.bad())
        return Error{source + ": cannot be read"};
    return score;
}

} // namespace morvane::score
