#include "update/Speed.h"

void speedSample(SpeedMeter* meter, uint32_t now, uint64_t networkBytes) {
    if (meter->count == 0) meter->firstTick = now;
    meter->latestTick = now;
    meter->latestBytes = networkBytes;
    if (meter->count > 0 && now - meter->tick[(meter->count - 1) % SPEED_SAMPLES] < SPEED_SAMPLE_MS) return;
    meter->tick[meter->count % SPEED_SAMPLES] = now;
    meter->bytes[meter->count % SPEED_SAMPLES] = networkBytes;
    ++meter->count;
}

int64_t currentSpeed(const SpeedMeter* meter) {
    if (meter->count == 0 || meter->latestTick - meter->firstTick < SPEED_FIRST_MS) return -1;
    // From the newest sample a whole window old, or else the oldest held: the
    // figure moves only as fast as five seconds of transfer can move it.
    int32_t held = meter->count < SPEED_SAMPLES ? meter->count : SPEED_SAMPLES;
    int32_t from = (meter->count - held) % SPEED_SAMPLES;
    for (int32_t i = meter->count - 1; i >= meter->count - held; --i) {
        if (meter->latestTick - meter->tick[i % SPEED_SAMPLES] >= SPEED_WINDOW_MS) {
            from = i % SPEED_SAMPLES;
            break;
        }
    }
    uint32_t span = meter->latestTick - meter->tick[from];
    uint64_t bytes = meter->latestBytes - meter->bytes[from];
    return (int64_t)((unsigned __int128)bytes * 1000 / span);
}

int64_t secondsLeft(const SpeedMeter* meter, uint64_t remainingBytes) {
    if (meter->count == 0 || meter->latestTick - meter->firstTick < SPEED_STEADY_MS) return -1;
    int64_t speed = currentSpeed(meter);
    if (speed <= 0) return -1;
    uint64_t seconds = remainingBytes / (uint64_t)speed + (remainingBytes % (uint64_t)speed != 0);
    return seconds > INT64_MAX ? INT64_MAX : (int64_t)seconds;
}
