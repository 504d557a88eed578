#include "midi/versioned_bindings.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/ascii.h"

using namespace morvane;

namespace {

ControllerBindings Changed(void (*change)(ControllerBindings&)) {
    ControllerBindings bindings = ControllerBindings::Defaults();
    change(bindings);
    return bindings;
}

} // namespace

// Whatever the bindings, the text gives them back, and says only what differs from the
// defaults.
TEST(VersionedBindings, TheTextGivesTheBindingsBack) {
    struct Case {
        const char* name;
        ControllerBindings bindings;
        const char* text;
    };
    const std::vector<Case> cases = {
        {"defaults", ControllerBindings::Defaults(), "morvane-bindings 1\n"},
        {"none at all", ControllerBindings(),
         "morvane-bindings 1\nCC71=\nCC72=\nCC73=\nCC74=\nCC75=\n"},
        {"a learnt controller takes the slider from its default one",
         Changed([](ControllerBindings& b) { (void)b.Bind(20, VcfCutoff); }),
         "morvane-bindings 1\nCC20=VCF_CUTOFF\nCC74=\n"},
        {"two default controllers trade sliders", Changed([](ControllerBindings& b) {
             (void)b.Bind(71, VcfCutoff);
             (void)b.Bind(74, VcfResonance);
         }),
         "morvane-bindings 1\nCC71=VCF_CUTOFF\nCC74=VCF_RESONANCE\n"},
        {"aftertouch", Changed([](ControllerBindings& b) { (void)b.Bind(kAftertouch, EchoTime); }),
         "morvane-bindings 1\nAT=ECHO_TIME\n"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(VersionedBindings(c.bindings), c.text) << c.name;
        const Result<ControllerBindings> read = ReadVersionedBindings(c.text);
        ASSERT_TRUE(read) << c.name;
        EXPECT_EQ(*read, c.bindings) << c.name;
    }

    // The longest text: every slider on a controller of its own, no default left.
    ControllerBindings most;
    int controller = 2;
    for (int i = 0; i < kControlCount; ++i) {
        while (!ControllerBindings::Learnable(controller))
            ++controller;
        if (ControllerBindings::Bindable(static_cast<ControlId>(i))) {
            ASSERT_TRUE(most.Bind(controller++, static_cast<ControlId>(i)));
        }
    }
    const std::string text = VersionedBindings(most);
    ASSERT_FALSE(text.empty()) << "does not fit in " << kVersionedBindingsCapacity;
    EXPECT_EQ(ReadVersionedBindings(text).value(), most);
    char small[32];
    EXPECT_EQ(WriteVersionedBindings(most, small), 0u) << "too long a text is not cut";
}

// Lines a later version adds, and broken ones, are skipped and told; a text of another
// version or none is refused whole.
TEST(VersionedBindings, ReadsWhatItCanAndRefusesAnotherVersion) {
    struct Case {
        const char* text;
        bool read;
        ControllerBindings bindings;
        std::vector<std::string> skipped;
    };
    const ControllerBindings defaults = ControllerBindings::Defaults();
    const std::vector<Case> cases = {
        {"morvane-bindings 1\r\n\nCC20=VCF_CUTOFF\r\nSHOW=1\nCC1=ECHO_TIME\nCC21=NOTHING\n"
         "CC22 VCF_CUTOFF\nCC23=MOD_ON",
         true,
         Changed([](ControllerBindings& b) { (void)b.Bind(20, VcfCutoff); }),
         {"SHOW=1", "CC1=ECHO_TIME", "CC21=NOTHING", "CC22 VCF_CUTOFF", "CC23=MOD_ON"}},
        {"morvane-bindings 1", true, defaults, {}},
        {"morvane-bindings 2\nCC20=VCF_CUTOFF\n", false, defaults, {}},
        {"CC20=VCF_CUTOFF\n", false, defaults, {}},
        {"", false, defaults, {}},
        {"morvane-bindings 1\n\xff\xfe\n", true, defaults, {"\xff\xfe"}},
    };
    for (const Case& c : cases) {
        std::vector<std::string> skipped;
        const Result<ControllerBindings> read =
            ReadVersionedBindings(c.text, [&](std::string_view line, const std::string& why) {
                EXPECT_FALSE(why.empty());
                skipped.emplace_back(Trimmed(line));
            });
        EXPECT_EQ(read.ok(), c.read) << c.text;
        if (read) {
            EXPECT_EQ(*read, c.bindings) << c.text;
        }
        EXPECT_EQ(skipped, c.skipped) << c.text;
    }
}
