// SPDX-License-Identifier: GPL-3.0-or-later
//
// The system clock text: the shape the alarm texts are cut from, and the time zone
// followed while the program runs.

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <string>

#include "platform/desktop.h"

namespace {

class TimeZone {
public:
    explicit TimeZone(const char* zone) {
        if (const char* old = std::getenv("TZ")) saved_ = old;
        setenv("TZ", zone, 1);
    }
    ~TimeZone() {
        if (saved_.empty())
            unsetenv("TZ");
        else
            setenv("TZ", saved_.c_str(), 1);
        tzset();
    }
    void change(const char* zone) { setenv("TZ", zone, 1); }

private:
    std::string saved_;
};

// "HH:mm:ss"
bool hasClockShape(const std::string& text) {
    if (text.size() != 8 || text[2] != ':' || text[5] != ':') return false;
    for (std::size_t i : {0, 1, 3, 4, 6, 7})
        if (text[i] < '0' || text[i] > '9') return false;
    return true;
}

int hourOf(const std::string& text) { return std::stoi(text.substr(0, text.find(':'))); }

}  // namespace

TEST(SystemClock, FollowsAChangeOfTimeZoneWhileRunning) {
    // The tests run in the C locale: the 24-hour shape.
    TimeZone zone("UTC0");
    for (int attempt = 0; attempt < 3; ++attempt) {
        const std::string utc = tovrel::platform::systemClockText();
        zone.change("XYZ-5");  // five hours east of UTC
        const std::string east = tovrel::platform::systemClockText();
        zone.change("UTC0");
        ASSERT_TRUE(hasClockShape(utc)) << utc;
        ASSERT_TRUE(hasClockShape(east)) << east;
        if (utc.substr(3) != east.substr(3)) continue;  // a second passed in between
        EXPECT_EQ((hourOf(utc) + 5) % 24, hourOf(east)) << utc << " then " << east;
        return;
    }
    FAIL() << "the clock moved on between every pair of readings";
}

TEST(SystemClock, MatchesTheCLibrarysLocalTime) {
    TimeZone zone("XYZ+3:30");
    for (int attempt = 0; attempt < 3; ++attempt) {
        const std::time_t before = std::time(nullptr);
        const std::string text = tovrel::platform::systemClockText();
        if (std::time(nullptr) != before) continue;
        std::tm local{};
        localtime_r(&before, &local);
        char expected[16];
        std::strftime(expected, sizeof expected, "%H:%M:%S", &local);
        EXPECT_EQ(text, expected);
        return;
    }
    FAIL() << "the second changed during every reading";
}
