/* The voice library's rate scale: the client's 0..100 (50 = normal) onto
 * SAPI's -10..10 (0 = normal), linearly, 5 client steps per SAPI step.  The
 * round trip is exact on multiples of 5, the steps the client's rate
 * commands take; values in between go to the nearest SAPI step.  Plain C,
 * shared by sapi5.dll and the portable unit tests. */
#pragma once

static inline long sapiRateToVoice(int rate) {
    if (rate < 0) rate = 0;
    if (rate > 100) rate = 100;
    return (long)((rate * 2 + 5) / 10 - 10); /* nearest step, halves up */
}

static inline int sapiRateFromVoice(long voiceRate) {
    if (voiceRate < -10) voiceRate = -10;
    if (voiceRate > 10) voiceRate = 10;
    return (int)((voiceRate + 10) * 5);
}
