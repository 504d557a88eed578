#include "tools/score.h"

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <istream>
#include <limits>
#include <optional>
#include <string_view>

#include "engine/tuning.h"
#include "engine/keymap.h"

namespace morvane::score {

namespace {

constexpr std::string_view kBlanks = " \t\r"; // a CR too, for files written with CR LF
constexpr std::string_view kTuningName = "TUNING";
constexpr std::int64_t kMostBlocksPerCommand = std::numeric_limits<std::int32_t>::max();

// What is wrong with the line being read; ReadScore adds the line number.
struct LineError {
    std::string message;
};

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
    return "'" + std::string(text) + "'";
}

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
    auto upper = [](char c) { return c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c; };
    return std::ranges::equal(a, b, [&](char x, char y) { return upper(x) == upper(y); });
}

// The decimal integer of the token, which must lie within lowest..highest.
int IntegerIn(std::string_view token, std::int64_t lowest, std::int64_t highest,
              std::string_view what) {
    std::int64_t value = 0;
    auto [end, error] = std::from_chars(token.data(), token.data() + token.size(), value);
    bool tooLarge = error == std::errc::result_out_of_range;
    if ((error != std::errc{} && !tooLarge) || end != token.data() + token.size())
        throw LineError{Quoted(token) + " is not a decimal integer"};
    if (tooLarge || value < lowest || value > highest)
        throw LineError{std::string(what) + " " + std::string(token) + " is outside " +
                        std::to_string(lowest) + ".." + std::to_string(highest)};
    return static_cast<int>(value);
}

void ExpectArguments(const std::vector<std::string_view>& tokens, std::size_t count,
                     std::string_view usage) {
    if (tokens.size() != count + 1)
        throw LineError{Quoted(tokens[0]) + " takes " + std::string(usage)};
}

Command Param(std::string_view name, std::string_view value) {
    if (EqualsIgnoringCase(name, kTuningName))
        return SetTuning{IntegerIn(value, kLowestTuning, kHighestTuning, kTuningName)};
    std::optional<ControlId> id = FindControl(name);
    if (!id)
        throw LineError{"unknown parameter " + Quoted(name)};
    const ControlDescription& d = Describe(*id);
    return SetControl{*id, IntegerIn(value, d.minimum, d.maximum, d.key)};
}

int KeyIndex(std::string_view token) {
    return IntegerIn(token, 0, kKeyCount - 1, "key");
}

// The line's command; nothing for a blank or comment line.
std::optional<Command> ParseLine(std::string_view line) {
    std::vector<std::string_view> t = Tokens(line);
    if (t.empty())
        return std::nullopt;
    std::string_view command = t[0];
    if (command == "param") {
        ExpectArguments(t, 2, "NAME VALUE");
        return Param(t[1], t[2]);
    }
    if (command == "on") {
        ExpectArguments(t, 1, "KEY");
        return KeyDown{KeyIndex(t[1])};
    }
    if (command == "off") {
        ExpectArguments(t, 1, "KEY");
        return KeyUp{KeyIndex(t[1])};
    }
    if (command == "ctrl") {
        ExpectArguments(t, 1, "0 or 1");
        return SetCtrl{IntegerIn(t[1], 0, 1, "ctrl") == 1};
    }
    if (command == "render") {
        ExpectArguments(t, 1, "N");
        return Render{
            static_cast<std::uint64_t>(IntegerIn(t[1], 0, kMostBlocksPerCommand, "block count"))};
    }
    throw LineError{"unknown command " + Quoted(command)};
}

} // namespace

std::variant<Score, ScoreError> ReadScore(std::istream& in) {
    Score score;
    std::string line;
    for (int number = 1; std::getline(in, line); ++number) {
        try {
            std::optional<Command> command = ParseLine(line);
            if (!command)
                continue;
            if (auto* render = std::get_if<Render>(&*command))
                score.blocks += render->blocks;
            score.commands.push_back(*command);
        } catch (const LineError& e) {
            return ScoreError{number, e.message};
        }
    }
    if (in.bad())
        return ScoreError{0, "cannot be read"};
    return score;
}

} // namespace morvane::score
