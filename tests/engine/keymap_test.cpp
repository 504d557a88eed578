#include "engine/keymap.h"

#include <gtest/gtest.h>

#include <map>
#include <set>
#include <string>

using namespace morvane;

TEST(KeyTable, CaptionsComeFromTheLabelOrTheVirtualKey) {
    EXPECT_EQ(KeyCaption(0), "A");
    EXPECT_EQ(KeyCaption(1), "Z");
    EXPECT_EQ(KeyCaption(13), ",");
    EXPECT_EQ(KeyCaption(18), "\xEF\xBC\xBC"); // full-width reverse solidus
    EXPECT_EQ(KeyCaption(20), "1");
    EXPECT_EQ(KeyCaption(40), "[");
}

TEST(KeyTable, LookupByVirtualKey) {
    EXPECT_EQ(KeyForVirtualKey(0x5A), 1);
    EXPECT_EQ(KeyForVirtualKey(0xE2), 18);
    EXPECT_EQ(KeyForVirtualKey(0xDB), 40);
    EXPECT_FALSE(KeyForVirtualKey(0x20).has_value()); // space bar
    EXPECT_FALSE(KeyForVirtualKey(0x33).has_value()); // the key 3
}

TEST(KeyTable, RowsSemitonesAndCodes) {
    std::set<int> codes;
    for (int key = 0; key < kKeyCount; ++key) {
        const TKeyTable& row = KeyAt(key);
        codes.insert(row.VirtualKey);
        EXPECT_EQ(row.Row, key < 20 ? 0 : 1) << key;
        EXPECT_GE(row.Semitone, 8);
        EXPECT_LE(row.Semitone, 40);
    }
    EXPECT_EQ(codes.size(), static_cast<std::size_t>(kKeyCount)) << "codes must be unique";
    // K and 1 are two different keys of the same pitch.
    EXPECT_EQ(KeyAt(12).Semitone, 20);
    EXPECT_EQ(KeyAt(20).Semitone, 20);
    EXPECT_EQ(KeyAt(33).Semitone, 33); // I, A at 440 Hz
    EXPECT_EQ(KeyAt(0).Black, 1);
    EXPECT_EQ(KeyAt(1).Black, 0);
}

// The whole table, column by column: the captions along both rows, the pitch rising a
// semitone per key in each row (the rows overlap on semitones 20..27), black keys where
// a piano has them, and the virtual-key codes of the keys that are not letters or digits.
TEST(KeyTable, EveryRowAsThePianoRowsLieOnTheKeyboard) {
    std::string captions;
    for (int key = 0; key < kKeyCount; ++key)
        captions += KeyCaption(key);
    EXPECT_EQ(captions, "AZSXCFVGBNJMK,L./:\xEF\xBC\xBC]1Q2WE4R5TY7U8I9OP-@^[");

    const std::map<int, int> punctuation = {{13, 0xBC}, {15, 0xBE}, {16, 0xBF}, {17, 0xBA},
                                            {18, 0xE2}, {19, 0xDD}, {37, 0xBD}, {38, 0xC0},
                                            {39, 0xDE}, {40, 0xDB}};
    const std::set<int> blackNotes = {1, 3, 6, 8, 10}; // C#, D#, F#, G#, A#
    for (int key = 0; key < kKeyCount; ++key) {
        const TKeyTable& row = KeyAt(key);
        EXPECT_EQ(row.Semitone, row.Row == 0 ? key + 8 : key) << key;
        EXPECT_EQ(row.Black, blackNotes.count(row.Semitone % 12) ? 1 : 0) << key;
        if (auto oem = punctuation.find(key); oem != punctuation.end()) {
            EXPECT_EQ(row.VirtualKey, oem->second) << key;
        } else {
            EXPECT_STREQ(row.Label, kCodeLabel) << key;
            EXPECT_EQ(KeyCaption(key), std::string(1, static_cast<char>(row.VirtualKey))) << key;
        }
    }
}
