#include "midi/block_schedule.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

using namespace morvane;

// With 3 ticks per quarter the unit is a third of a microsecond: block 1 starts at 60000.
TEST(BlockSchedule, AnEventGoesBeforeTheFirstBlockAndSampleStartingAtOrAfterIt) {
    struct Case {
        std::int64_t time;
        std::int64_t block;
    };
    const Case cases[] = {{0, 0}, {1, 1}, {59999, 1}, {60000, 1}, {60001, 2}, {120000, 2}};
    for (const Case& c : cases)
        EXPECT_EQ(FirstBlockAtOrAfter(c.time, 3), c.block) << c.time;

    // Sample n starts at n × 3000000 / 22050 units, 136.05 × n.
    const Case samples[] = {{0, 0},       {1, 1},       {136, 1},     {137, 2},
                            {60000, 441}, {60001, 442}, {59999, 441}, {120000, 882}};
    for (const Case& c : samples)
        EXPECT_EQ(FirstSampleAtOrAfter(c.time, 3), c.block) << c.time;
    // A day at the most ticks a quarter a file can give stays exact.
    EXPECT_EQ(FirstSampleAtOrAfter(std::int64_t{86400000000} * 32767, 32767),
              std::int64_t{86400} * 22050);

    MidiFile file;
    file.ticksPerQuarter = 3;
    file.end = 180001;
    EXPECT_EQ(EndBlock(file), 4);
}

// 50 × seconds, halves up, read exactly from the text.
TEST(BlockSchedule, TailSecondsInBlocks) {
    struct Case {
        const char* text;
        std::optional<std::int64_t> blocks;
    };
    const Case cases[] = {
        {"2", 100}, {"0", 0},    {"0.01", 1},        {"0.0099999", 0}, {"0.03", 2}, {"1.234", 62},
        {".5", 25}, {"3.", 150}, {"86400", 4320000}, {"86400.01", {}}, {"", {}},    {".", {}},
        {"-1", {}}, {"1e3", {}}, {"2 ", {}},         {"1.2.3", {}},
    };
    for (const Case& c : cases) {
        const Result<std::int64_t> blocks = TailBlocks(c.text);
        if (c.blocks) {
            ASSERT_TRUE(blocks) << c.text;
            EXPECT_EQ(*blocks, *c.blocks) << c.text;
        } else {
            EXPECT_FALSE(blocks) << c.text;
        }
    }
}
