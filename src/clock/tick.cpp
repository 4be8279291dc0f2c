// SPDX-License-Identifier: GPL-3.0-or-later

#include <cmath>
#include <cstdint>
#include <limits>
#include <stdexcept>
#include <utility>

#include "clock/progress.h"
#include "clock/time_text.h"
#include "shell/frm_tovrel.h"
#include "shell/layout.h"

namespace tovrel {

namespace clock {

namespace {

// Nearest 32-bit integer, ties to the even one.
std::int32_t whole(double value) {
    const double r = std::nearbyint(value);
    if (!std::isfinite(r) || r < std::numeric_limits<std::int32_t>::min() ||
        r > std::numeric_limits<std::int32_t>::max())
        throw std::overflow_error("Overflow in the progress bar: " + std::to_string(value));
    return static_cast<std::int32_t>(r);
}

}  // namespace

std::optional<float> ProgressEnd(double position, double length) {
    const std::int64_t p = whole(position * shell::layout::ProgressTrack);
    const std::int64_t d = whole(length);
    if (d == 0) return std::nullopt;
    const std::int64_t end = shell::layout::ProgressLeft + p / d;
    if (end < std::numeric_limits<std::int32_t>::min() || end > std::numeric_limits<std::int32_t>::max())
        throw std::overflow_error("Overflow in the progress bar");
    return static_cast<float>(end);
}

}  // namespace clock

namespace shell {

using forms::False;
using forms::True;

void FrmTovrel::Timer_Timer() {
    const std::string clockText = desktop_.clockText();
    if (auto now = clock::CurrentTimeFromClock(clockText)) CurrentTimeText = now->text;
    LblRealTime.setCaption(CurrentTimeText);
    const bool skipped = alarmMinuteSkipped(clockText);

    if (LblAlarmTime.Caption() == LblRealTime.Caption() && LblMP3.Caption() != NoFileSelected && Ringing == False &&
        AlarmArmed == True) {
        fireAlarm();
        return;
    }
    if (skipped) {
        fireAlarm();
        // Late, it shows the minute it rings at, where the follow would
        // bring it only a minute a tick: a snooze right away counts from now.
        if (const auto minute = clock::MinuteFromClock(clockText)) ScrlAlarmChg.setValue(*minute);
        return;
    }

    if (LblRealTime.Caption() != LblAlarmTime.Caption() && Ringing == True) {
        // While the alarm rings its time follows the clock, one minute a tick.
        const std::int16_t v = ScrlAlarmChg.Value();
        ScrlAlarmChg.setValue(v < 1439 ? v + 1 : 0);
        return;
    }

    if (Player.length() != 0 && Ringing == True) {
        for (forms::Line* line : {&Line1, &Line2}) {
            const double position = Player.position();
            const double length = Player.length();
            if (auto end = clock::ProgressEnd(position, length)) line->setX2(*end);
        }
    }
}

// The alarm fires on a tick that reads its minute, but the ticks stop while
// the computer sleeps or the program is stopped, and the clock may be set
// forward or jump at a change of daylight-saving time: the alarm minute can
// pass between two ticks. An armed alarm whose minute passed so rings on the
// first tick after, as it would have at its minute, unless it is more than an
// hour late (nobody wants last night's alarm in the afternoon); then it stays
// armed for its minute the next day. A clock set back skips nothing. The
// date is kept with the minute: the minute of the day alone cannot tell a
// clock set back by an hour from a sleep of twenty-three hours.
bool FrmTovrel::alarmMinuteSkipped(const std::string& clockText) {
    constexpr std::int64_t MinutesADay = 1440;
    constexpr std::int64_t LatestRing = 60;  // minutes after the alarm minute
    const auto minute = clock::MinuteFromClock(clockText);
    if (!minute) return false;
    const std::int64_t now = desktop_.clockDay() * MinutesADay + *minute;
    const auto last = std::exchange(lastMinuteRead_, now);
    if (!last || now - *last <= 1) return false;
    const std::int64_t late = (*minute - ScrlAlarmChg.Value() + MinutesADay) % MinutesADay;
    return late < now - *last && late <= LatestRing && AlarmArmed == True && Ringing == False &&
           LblMP3.Caption() != NoFileSelected;
}

void FrmTovrel::fireAlarm() {
    Player.setMediaFile(Dialog.fileName());
    Player.play();
    Ringing = True;
    Show();
    SetFocus();
    SnoozeU.setEnabled(True);
    SettingU.setEnabled(False);
    setHeight(CollapsedHeight);
    SettingsOpen = False;
    resetProgressBar();
}

void FrmTovrel::ScrlAlarmChg_Change() {
    const clock::TimeStyle style = clock::ClockStyle(desktop_.clockText());
    LblAlarmTime.setCaption(clock::AlarmTimeText(ScrlAlarmChg.Value(), style));
}

void FrmTovrel::ScrlSnooze_Change() {
    LblSnooze.setCaption("Snooze:" + clock::DecimalText(ScrlSnooze.Value()) + " Min");
}

}  // namespace shell
}  // namespace tovrel
