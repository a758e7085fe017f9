// The voice library's rate scale: the client's 0..100 onto SAPI's -10..10
// and back.
#include "speech/win/sapi5/sapi_rate.h"

#include <gtest/gtest.h>

TEST(SapiRate, MapsLinearlyAndClamps) {
    struct Case {
        int rate;
        long voice;
    };
    for (Case c : {Case{0, -10}, Case{5, -9}, Case{45, -1}, Case{50, 0}, Case{55, 1}, Case{100, 10},
                   // Between steps: the nearest one, halves up.
                   Case{52, 0}, Case{53, 1}, Case{2, -10}, Case{3, -9}, Case{97, 9}, Case{98, 10},
                   // Out of range: clamped.
                   Case{-5, -10}, Case{150, 10}}) {
        EXPECT_EQ(sapiRateToVoice(c.rate), c.voice) << "rate " << c.rate;
    }
    EXPECT_EQ(sapiRateFromVoice(-10), 0);
    EXPECT_EQ(sapiRateFromVoice(0), 50);
    EXPECT_EQ(sapiRateFromVoice(10), 100);
    EXPECT_EQ(sapiRateFromVoice(-11), 0);
    EXPECT_EQ(sapiRateFromVoice(11), 100);
}

TEST(SapiRate, RoundTripIsExactOnStepsOfFive) {
    for (int rate = 0; rate <= 100; rate += 5)
        EXPECT_EQ(sapiRateFromVoice(sapiRateToVoice(rate)), rate) << "rate " << rate;
}
