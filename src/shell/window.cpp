// SPDX-License-Identifier: GPL-3.0-or-later
//
// Dragging the frameless window, hiding it to the tray, and the way to the
// About window.

#include <cmath>
#include <stdexcept>

#include "shell/frm_about.h"
#include "shell/frm_tovrel.h"

namespace tovrel::shell {

using forms::False;
using forms::True;

void FrmTovrel::Form_MouseDown(const forms::MouseArgs& a) {
    Dragging = True;
    DragX = a.x;
    DragY = a.y;
}

void FrmTovrel::Form_MouseUp(const forms::MouseArgs& /*a*/) { Dragging = False; }

void FrmTovrel::Form_MouseMove(const forms::MouseArgs& a) {
    if (Dragging != False) {
        const float left = Left();
        const float top = Top();
        // The pointer's offset is in pixels and the position in twips: the
        // offset is converted so that the window follows the pointer.
        const float newTop = forms::pixelsToTwips(a.y - DragY) + top;
        const float newLeft = forms::pixelsToTwips(a.x - DragX) + left;
        if (!std::isfinite(newTop) || !std::isfinite(newLeft))
            throw std::overflow_error("Overflow while moving the window");
        Move(newLeft, newTop);
    }
    skin::reset(settingButton());
    skin::reset(snoozeButton());
    skin::reset(browseButton());
    skin::reset(alarmOnFace());
    skin::reset(alarmOffFace());
    skin::reset(miniButton());
    skin::reset(closeButton());
}

void FrmTovrel::MiniM_MouseDown(const forms::MouseArgs& /*a*/) {
    SettingsOpen = False;
    // Collapsed as well, so that the height and SettingsOpen agree when the
    // window comes back.
    setHeight(CollapsedHeight);
    // Without a notification area the window could not come back from
    // hiding: it goes to the task bar instead.
    if (STray.isAvailable())
        Hide();
    else
        Minimize();
    skin::forceNormal(miniButton());
    playClick();
}

void FrmTovrel::STray_Click() {
    Show();
    SetFocus();
}

void FrmTovrel::STray_AvailabilityChanged() {
    // Hidden with no notification area to come back from, the window would
    // be lost: it goes to the task bar, as minimising does on such a desktop.
    // Minimised before it is shown, so that it goes there straight.
    if (!STray.isAvailable() && !isShown()) {
        Minimize();
        Show();
    }
}

void FrmTovrel::CloseM_MouseDown(const forms::MouseArgs& /*a*/) {
    Player.stop();
    About().setLeft(Left());
    About().setTop(Top());
    About().Show();
    Hide();
}

}  // namespace tovrel::shell
