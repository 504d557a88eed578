#include "midi/controller_bindings.h"

#include <gtest/gtest.h>

#include <set>

#include "tests/support/bindings_text.h"

using namespace morvane;

TEST(ControllerBindings, TheControllersThatMeanSomethingCannotBeBound) {
    const std::set<int> reserved = {0,   1,   6,   32,  38,  64,  96,  97,  98,  99,
                                    100, 101, 120, 121, 122, 123, 124, 125, 126, 127};
    // Aftertouch, numbered after the controllers, is learnable.
    for (int controller = -1; controller <= kBindingSourceCount; ++controller) {
        const bool inRange = controller >= 0 && controller < kBindingSourceCount;
        const bool learnable = inRange && !reserved.contains(controller);
        EXPECT_EQ(ControllerBindings::Learnable(controller), learnable) << controller;
        ControllerBindings bindings;
        EXPECT_EQ(bindings.Bind(controller, VcfCutoff).ok(), learnable) << controller;
    }
    ControllerBindings bindings;
    EXPECT_FALSE(bindings.Bind(20, ModOn)) << "a check box has no travel";
    EXPECT_FALSE(bindings.Bind(20, Wave1Octave)) << "nor has a radio group";
    EXPECT_TRUE(bindings.Bind(20, EchoTime)) << "the echo sliders are sliders too";
}

TEST(ControllerBindings, AControllerMovesOneSliderAndASliderFollowsOneController) {
    ControllerBindings bindings = ControllerBindings::Defaults();
    ASSERT_TRUE(bindings.Bind(74, EnvSustain)); // taken from the cutoff
    EXPECT_EQ(bindings.ControlFor(74), EnvSustain);
    EXPECT_FALSE(bindings.ControllerFor(VcfCutoff));
    ASSERT_TRUE(bindings.Bind(21, EnvSustain)); // the sustain's old controller lets go
    EXPECT_FALSE(bindings.ControlFor(74));
    EXPECT_EQ(bindings.ControllerFor(EnvSustain), 21);
    bindings.Unbind(EnvSustain);
    EXPECT_FALSE(bindings.ControlFor(21));
    bindings.Unbind(EnvSustain); // unbinding an unbound slider is harmless
}

TEST(ControllerBindings, TextRoundTripSkipsBrokenLines) {
    EXPECT_EQ(fixture::BindingsText(ControllerBindings::Defaults()), "CC71=VCF_RESONANCE\n"
                                                                     "CC72=ENV_RELEASE\n"
                                                                     "CC73=ENV_ATTACK\n"
                                                                     "CC74=VCF_CUTOFF\n"
                                                                     "CC75=ENV_DECAY\n");
    EXPECT_EQ(fixture::BindingsFromText(fixture::BindingsText(ControllerBindings::Defaults())),
              ControllerBindings::Defaults());

    const ControllerBindings read = fixture::BindingsFromText("CC74=VCF_CUTOFF\r\n"
                                                              "no equals sign\n"
                                                              "CC1=ENV_SUSTAIN\n" // reserved
                                                              "CC20=WAVE1_TYPE\n" // no slider
                                                              "CC128=ENV_SUSTAIN\n"
                                                              "CC-5=ENV_SUSTAIN\n"
                                                              "CC=ENV_SUSTAIN\n"
                                                              "CCx1=ENV_SUSTAIN\n"
                                                              "CC22=NO_SUCH_CONTROL\n"
                                                              "CC23=\n"
                                                              " cc21 = env_sustain \n"
                                                              "CC30=ECHO_TIME\n"
                                                              "CC31=ECHO_TIME\n"
                                                              "at=MOD_DEPTH\n"
                                                              "ATX=MOD_FREQ");
    EXPECT_EQ(read.Entries(), (std::vector<ControllerBindings::Entry>{{"CC21", "ENV_SUSTAIN"},
                                                                      {"CC31", "ECHO_TIME"},
                                                                      {"CC74", "VCF_CUTOFF"},
                                                                      {"AT", "MOD_DEPTH"}}));
    EXPECT_EQ(fixture::BindingsFromText(fixture::BindingsText(read)), read);

    ControllerBindings bindings;
    EXPECT_FALSE(bindings.ReadEntry("CC64", "VCF_CUTOFF"));
    EXPECT_EQ(bindings, ControllerBindings()) << "a broken entry changes nothing";
}
