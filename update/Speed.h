// The download speed as players see it: bytes fetched over the network,
// averaged over the last few seconds, and the time left at that speed. Bytes
// that come from the disk (a resumed part, a local copy) are no speed and
// never enter here.
#pragma once

#include <stdint.h>

enum {
    SPEED_WINDOW_MS = 5000,  // the average covers the last five seconds
    SPEED_FIRST_MS = 2000,   // no speed before two seconds of transfer
    SPEED_STEADY_MS = 5000,  // no time left before a whole window
    SPEED_SAMPLE_MS = 250,   // stored samples lie at least this far apart
    SPEED_SAMPLES = SPEED_WINDOW_MS / SPEED_SAMPLE_MS + 4
};

// One run's samples of the bytes fetched so far; zero-initialised to start.
struct SpeedMeter {
    uint32_t tick[SPEED_SAMPLES];  // a ring of the newest stored samples
    uint64_t bytes[SPEED_SAMPLES];
    int32_t count;  // samples stored in all
    uint32_t firstTick;
    uint32_t latestTick;  // the newest reading, stored or not
    uint64_t latestBytes;
};

// Notes that networkBytes have been fetched in all by now (milliseconds).
void speedSample(SpeedMeter* meter, uint32_t now, uint64_t networkBytes);

// Bytes a second over the last window up to the newest reading, or -1 while
// the transfer is younger than SPEED_FIRST_MS.
int64_t currentSpeed(const SpeedMeter* meter);

// Whole seconds that remainingBytes take at the current speed, rounded up, or
// -1 while the transfer is younger than a window or nothing arrives.
int64_t secondsLeft(const SpeedMeter* meter, uint64_t remainingBytes);
