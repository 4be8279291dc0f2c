// SPDX-License-Identifier: GPL-3.0-or-later
//
// Hover and press of the main window's buttons, and which other buttons each
// movement puts back on their normal images.

#include "shell/frm_tovrel.h"

namespace tovrel::shell {

using skin::reset;

void FrmTovrel::AlarmUON_MouseMove(const forms::MouseArgs& /*a*/) {
    skin::hoverFace(alarmOnFace(), alarmOffFace());
    resetAroundAlarmButton();
}

void FrmTovrel::AlarmUOFF_MouseMove(const forms::MouseArgs& /*a*/) {
    skin::hoverFace(alarmOffFace(), alarmOnFace());
    resetAroundAlarmButton();
}

void FrmTovrel::resetAroundAlarmButton() {
    reset(snoozeButton());
    reset(browseButton());
    reset(settingButton());
    reset(miniButton());
    reset(closeButton());
}

void FrmTovrel::SettingU_MouseMove(const forms::MouseArgs& /*a*/) {
    skin::hover(settingButton());
    reset(snoozeButton());
    reset(browseButton());
    reset(alarmOnFace());
    reset(alarmOffFace());
}

void FrmTovrel::SnoozeU_MouseMove(const forms::MouseArgs& /*a*/) {
    skin::hover(snoozeButton());
    reset(settingButton());
    reset(browseButton());
    reset(alarmOnFace());
    reset(alarmOffFace());
}

void FrmTovrel::BrowseU_MouseMove(const forms::MouseArgs& /*a*/) {
    skin::hover(browseButton());
    reset(settingButton());
    reset(snoozeButton());
    reset(alarmOnFace());
    reset(alarmOffFace());
}

void FrmTovrel::MiniU_MouseMove(const forms::MouseArgs& /*a*/) {
    skin::forceHover(miniButton());
    skin::forceNormal(closeButton());
}

void FrmTovrel::CloseU_MouseMove(const forms::MouseArgs& /*a*/) {
    skin::forceHover(closeButton());
    skin::forceNormal(miniButton());
}

void FrmTovrel::AlarmMOFF_MouseDown(const forms::MouseArgs& /*a*/) { skin::pressFace(alarmOffFace(), alarmOnFace()); }
void FrmTovrel::AlarmMON_MouseDown(const forms::MouseArgs& /*a*/) { skin::pressFace(alarmOnFace(), alarmOffFace()); }
void FrmTovrel::SettingM_MouseDown(const forms::MouseArgs& /*a*/) { skin::press(settingButton()); }
void FrmTovrel::SnoozeM_MouseDown(const forms::MouseArgs& /*a*/) { skin::press(snoozeButton()); }
void FrmTovrel::BrowseM_MouseDown(const forms::MouseArgs& /*a*/) { skin::press(browseButton()); }

}  // namespace tovrel::shell
