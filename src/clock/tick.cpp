// SPDX-License-Identifier: GPL-3.0-or-later

#include <cmath>
#include <cstdint>
#include <limits>
#include <stdexcept>

#include "clock/progress.h"
#include "clock/time_text.h"
#include "shell/frm_tovrel.h"

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
    const std::int64_t p = whole(position * 120.0);
    const std::int64_t d = whole(length);
    if (d == 0) return std::nullopt;
    const std::int64_t end = 220 + p / d;
    if (end < std::numeric_limits<std::int32_t>::min() || end > std::numeric_limits<std::int32_t>::max())
        throw std::overflow_error("Overflow in the progress bar");
    return static_cast<float>(end);
}

}  // namespace clock

namespace shell {

using forms::False;
using forms::True;

void FrmTovrel::Timer_Timer() {
    if (auto now = clock::CurrentTimeFromClock(desktop_.clockText())) CurrentTimeText = now->text;
    LblRealTime.setCaption(CurrentTimeText);

    if (LblAlarmTime.Caption() == LblRealTime.Caption() && LblMP3.Caption() != NoFileSelected &&
        Ringing == False && AlarmArmed == True) {
        fireAlarm();
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
