#include "keyboard/keymap.h"

#include <gtest/gtest.h>

#include <set>

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
