#include <gtest/gtest.h>

#include <string>

#include "update/SelfUpdate.h"

namespace {

// Whether the running launcher replaces itself: only with another build, once
// per start, and ten minutes from the folder's last self-update either way of
// the clock, since a clock set back must not hold updates back for longer.
TEST(SelfUpdate, AnotherBuildOncePerStartAndNotWithinTenMinutes) {
    const std::string named(64, 'b');
    const int64_t now = 1800000000;
    const struct {
        const char* line;
        std::string running;
        int tried;
        uint64_t last;
        int verdict;
    } cases[] = {
        {"", std::string(64, 'a'), 0, 0, SELF_UPDATE_NOT_NAMED},
        {"#launcher", std::string(64, 'B'), 0, 0, SELF_UPDATE_CURRENT},
        {"#launcher", std::string(64, 'b'), 1, now, SELF_UPDATE_CURRENT},
        {"#launcher", "", 0, 0, SELF_UPDATE_UNHASHED},
        {"#launcher", std::string(64, 'a'), 0, 0, SELF_UPDATE_GO},
        {"#launcher", std::string(64, 'a'), 1, 0, SELF_UPDATE_ONCE},
        {"#launcher", std::string(64, 'a'), 0, now - 599, SELF_UPDATE_RECENT},
        {"#launcher", std::string(64, 'a'), 0, now, SELF_UPDATE_RECENT},
        {"#launcher", std::string(64, 'a'), 0, now + 599, SELF_UPDATE_RECENT},
        {"#launcher", std::string(64, 'a'), 0, now - 600, SELF_UPDATE_GO},
        {"#launcher", std::string(64, 'a'), 0, now + 600, SELF_UPDATE_GO},
        {"#launcher", std::string(64, 'a'), 0, UINT64_MAX, SELF_UPDATE_GO},
    };
    for (const auto& c : cases) {
        std::string text = c.line[0] ? std::string(c.line) + " " + named + " 5\n" : "";
        ManifestDirectives d;
        readManifestDirectives(text.data(), text.size(), &d);
        EXPECT_EQ(c.verdict, selfUpdateVerdict(&d, c.running.c_str(), c.tried, c.last, now))
            << c.running << " " << c.tried << " " << c.last;
    }
}

}  // namespace
