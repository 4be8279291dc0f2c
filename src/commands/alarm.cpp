// SPDX-License-Identifier: GPL-3.0-or-later

#include "shell/frm_tovrel.h"

namespace tovrel::shell {

using forms::False;
using forms::True;

// The notice shown when the alarm is switched on with no file chosen. Its
// lines are joined by line feed + carriage return, in that order.
extern const char* const NoFileNotice;
const char* const NoFileNotice =
    "There is no MP3 file selected!\n\r"
    "- Press the SETTING button\n\r"
    "- Press the BROWSE button to choose a file\n\r"
    "- Choose the alarm time with the SCROLLBAR\n\r"
    "- Press ALARM button again";

void FrmTovrel::AlarmMOFF_MouseUp(const forms::MouseArgs& /*a*/) {
    skin::showFaceOnHover(alarmOnFace(), alarmOffFace());
    AlarmArmed = True;
    LblAlarmStatus.setCaption("On");
    if (LblMP3.Caption() == NoFileSelected) {
        desktop_.messageBox(NoFileNotice, ProgramTitle);
        AlarmArmed = False;
        skin::showFaceOnHover(alarmOffFace(), alarmOnFace());
        LblAlarmStatus.setCaption("Off");
    }
    playClick();
}

void FrmTovrel::AlarmMON_MouseUp(const forms::MouseArgs& /*a*/) {
    skin::showFaceOnHover(alarmOffFace(), alarmOnFace());
    SnoozeU.setEnabled(False);
    Player.stop();
    AlarmArmed = False;
    Ringing = False;
    SettingU.setEnabled(True);
    LblAlarmStatus.setCaption("Off");
    resetProgressBar();
    playClick();
}

void FrmTovrel::SnoozeM_MouseUp(const forms::MouseArgs& /*a*/) {
    SnoozeM.setVisible(False);
    SnoozeU.setVisible(True);
    SnoozeD.setVisible(False);
    SnoozeU.setEnabled(False);
    Player.stop();
    const std::int16_t a = ScrlAlarmChg.Value();
    const std::int16_t s = ScrlSnooze.Value();
    if (a <= 1439 - s)
        ScrlAlarmChg.setValue(a + s);
    else
        ScrlAlarmChg.setValue(s - (1439 - a) - 1);
    Ringing = False;
    AlarmArmed = True;
    resetProgressBar();
    playClick();
}

}  // namespace tovrel::shell
