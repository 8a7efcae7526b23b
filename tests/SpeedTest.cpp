#include <gtest/gtest.h>

#include <string>

#include "update/Speed.h"
#include "update/StatusLine.h"

namespace {

// 100,000 bytes a second for 10 s, then nothing, sampled every 250 ms across
// the wrap of the millisecond clock.
TEST(Speed, AveragesTheLastFiveSecondsAndSaysTheTimeLeftOnlyOnceSteady) {
    const uint32_t start = UINT32_MAX - 3000;
    const struct {
        uint32_t at;
        int64_t speed, secondsLeft;  // for 1,000,000 bytes
    } cases[] = {{0, -1, -1},        {1750, -1, -1},      {2000, 100000, -1}, {4750, 100000, -1},
                 {5000, 100000, 10}, {10000, 100000, 10}, {12500, 50000, 20}, {15000, 0, -1}};
    SpeedMeter meter = {};
    int64_t last = -1;
    for (uint32_t at = 0, next = 0; at <= 15000; at += 250) {
        speedSample(&meter, start + at, (at < 10000 ? at : 10000) * 100);
        int64_t speed = currentSpeed(&meter);
        // Never a jump: a quarter second moves the average by a twentieth at most.
        if (last >= 0) {
            EXPECT_LE(llabs(speed - last), 5000) << at;
        }
        last = speed;
        if (next < sizeof(cases) / sizeof(cases[0]) && cases[next].at == at) {
            EXPECT_EQ(cases[next].speed, speed) << at;
            EXPECT_EQ(cases[next].secondsLeft, secondsLeft(&meter, 1000000)) << at;
            ++next;
        }
    }
}

TEST(StatusLine, SpeedAndTimeLeftInPlainWords) {
    const struct {
        int64_t bytesPerSecond;
        const char* text;
    } speeds[] = {{0, "0.0 KB/s"},          {51, "0.0 KB/s"},        {52, "0.1 KB/s"},
                  {102348, "99.9 KB/s"},    {102349, "100 KB/s"},    {358400, "350 KB/s"},
                  {1048063, "1023 KB/s"},   {1048064, "1.0 MB/s"},   {5452595, "5.2 MB/s"},
                  {104805171, "99.9 MB/s"}, {104805172, "100 MB/s"}, {INT64_MAX, "8796093022208 MB/s"}};
    for (const auto& s : speeds) {
        char text[32];
        formatSpeed(text, sizeof(text), s.bytesPerSecond);
        EXPECT_STREQ(s.text, text) << s.bytesPerSecond;
    }
    const struct {
        int64_t seconds;
        const char* text;  // null: not said
    } times[] = {{0, "menos de 1 min"}, {59, "menos de 1 min"}, {60, "1 min"},       {61, "2 min"},
                 {3540, "59 min"},      {3541, "1 h"},          {3900, "1 h 5 min"}, {359940, "99 h 59 min"},
                 {359941, nullptr},     {INT64_MAX, nullptr}};
    for (const auto& t : times) {
        char text[32] = "";
        EXPECT_EQ(t.text != nullptr, formatTimeLeft(text, sizeof(text), t.seconds)) << t.seconds;
        EXPECT_STREQ(t.text ? t.text : "", text) << t.seconds;
    }
}

// With every character one pixel wide, the line's width is its length.
TEST(StatusLine, SaysWhatIsKnownInAsMuchAsFits) {
    StatusWidths onePixel, noFont = {};
    for (uint8_t& advance : onePixel.advance) advance = 1;
    const struct {
        int32_t finished;
        int64_t speed, secondsLeft;
        const StatusWidths* widths;
        int32_t limit;
        const char* tail;
    } cases[] = {{12, 5452595, 180, &onePixel, 71, "12 / 40 archivos (350 / 1200 MB, 5.2 MB/s, quedan 3 min)"},
                 {12, 5452595, 180, &noFont, 0, "12 / 40 archivos (350 / 1200 MB, 5.2 MB/s, quedan 3 min)"},
                 {12, 5452595, 180, &onePixel, 70, "12 / 40 archivos (350 / 1200 MB, quedan 3 min)"},
                 {12, 5452595, 180, &onePixel, 60, "12 / 40 archivos (350 / 1200 MB, 5.2 MB/s)"},
                 {12, 5452595, 180, &onePixel, 40, "12 / 40 archivos (350 / 1200 MB)"},  // said, fitting or not
                 {12, 5452595, -1, &onePixel, 200, "12 / 40 archivos (350 / 1200 MB, 5.2 MB/s)"},
                 {12, 5452595, 400000, &onePixel, 200, "12 / 40 archivos (350 / 1200 MB, 5.2 MB/s)"},
                 {12, -1, 180, &onePixel, 200, "12 / 40 archivos (350 / 1200 MB)"},
                 {40, 5452595, 0, &onePixel, 200, "40 / 40 archivos (350 / 1200 MB)"}};
    for (const auto& c : cases) {
        DownloadFigures f = {c.finished, 40, 350ull << 20, 1200ull << 20, c.speed, c.secondsLeft};
        char text[256];
        formatDownloadStatus(text, sizeof(text), &f, c.widths, c.limit);
        EXPECT_EQ(std::string("Descargando... ") + c.tail, text) << c.limit;
    }
}

}  // namespace
