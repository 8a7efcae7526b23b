#include <gtest/gtest.h>

#include <windows.h>

#include <string.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "shell/LauncherState.h"
#include "tests/WinTestSupport.h"
#include "update/Status.h"

namespace {

struct Status : ::testing::Test {
    void SetUp() override {
        takeStatusChanged();
        launcherState.mainWindow = createTestWindow();
        ASSERT_NE(nullptr, launcherState.mainWindow);
    }
    void TearDown() override {
        DestroyWindow(launcherState.mainWindow);
        launcherState.mainWindow = nullptr;
    }
    static std::string current() {
        char text[STATUS_TEXT_SIZE];
        copyStatusText(text);
        return text;
    }
};

// The window repaints the whole state when it takes the message, so changes
// made while one waits there post nothing more. (The engine tests check the
// texts that runs format.)
TEST_F(Status, CutsLongTextsAndKeepsOneMessageWaitingAtMost) {
    publishStatusText("Iniciando...");
    EXPECT_EQ("Iniciando...", current());
    EXPECT_EQ(0, drainMessages(launcherState.mainWindow, WM_STATUS_CHANGED));

    std::string longText(300, 'l');
    setStatus("%s", longText.c_str());
    EXPECT_EQ(longText.substr(0, 255), current());
    setProgress(999);
    EXPECT_EQ(1, drainMessages(launcherState.mainWindow, WM_STATUS_CHANGED));

    takeStatusChanged();  // the window took it: the next change posts again
    setProgress(0);
    EXPECT_EQ(1, drainMessages(launcherState.mainWindow, WM_STATUS_CHANGED));
}

// Each writer sets texts made of one letter, with a length that varies per
// call; a copy that mixes two texts shows mixed letters or a wrong length.
TEST_F(Status, ConcurrentWritersNeverShowAHalfWrittenText) {
    const int writers = 8, textsPerWriter = 400;
    std::atomic<bool> done{false};
    std::atomic<int> copies{0}, torn{0};
    publishStatusText("inicio");  // before the reader: the last test's text has no dash
    std::thread reader([&] {
        while (!done.load()) {
            std::string text = current();
            ++copies;
            if (text.empty() || text == "inicio") continue;
            size_t dash = text.find('-');
            bool whole = dash != std::string::npos && text.find_first_not_of(text[0], 0) == dash &&
                         std::to_string(dash) == text.substr(dash + 1);
            if (!whole) ++torn;
        }
    });
    std::vector<std::thread> threads;
    for (int w = 0; w < writers; ++w) {
        threads.emplace_back([w] {
            for (int i = 0; i < textsPerWriter; ++i) {
                int length = 20 + (i * 37 + w * 11) % 230;
                setStatus("%s-%d", std::string(length, (char)('a' + w)).c_str(), length);
            }
        });
    }
    for (std::thread& t : threads) t.join();
    done = true;
    reader.join();
    EXPECT_GT(copies.load(), 0);
    EXPECT_EQ(0, torn.load());
    EXPECT_EQ(1, drainMessages(launcherState.mainWindow, WM_STATUS_CHANGED));
}

}  // namespace
