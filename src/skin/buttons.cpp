// SPDX-License-Identifier: GPL-3.0-or-later

#include "skin/buttons.h"

namespace tovrel::skin {

using forms::False;
using forms::True;

namespace {
void hideAll(const ThreeStateButton& b) {
    b.hover.setVisible(False);
    b.normal.setVisible(False);
    b.pressed.setVisible(False);
}
}  // namespace

void reset(const ThreeStateButton& b) {
    if (b.hover.Visible() == True || b.pressed.Visible() == True) {
        b.hover.setVisible(False);
        b.normal.setVisible(True);
        b.pressed.setVisible(False);
    }
}

void reset(const TwoStateButton& b) {
    if (b.hover.Visible() == True) forceNormal(b);
}

void forceNormal(const TwoStateButton& b) {
    b.normal.setVisible(True);
    b.hover.setVisible(False);
}

void hover(const ThreeStateButton& b) {
    if (b.hover.Visible() == False) {
        b.hover.setVisible(True);
        b.normal.setVisible(False);
        b.pressed.setVisible(False);
    }
}

void hoverFace(const ThreeStateButton& face, const ThreeStateButton& other) {
    if (face.hover.Visible() == False) {
        face.hover.setVisible(True);
        face.normal.setVisible(False);
        face.pressed.setVisible(False);
        hideAll(other);
    }
}

void forceHover(const TwoStateButton& b) {
    b.normal.setVisible(False);
    b.hover.setVisible(True);
}

void press(const ThreeStateButton& b) {
    b.hover.setVisible(False);
    b.normal.setVisible(False);
    b.pressed.setVisible(True);
}

void pressFace(const ThreeStateButton& face, const ThreeStateButton& other) {
    press(face);
    hideAll(other);
}

void showFaceOnHover(const ThreeStateButton& face, const ThreeStateButton& other) {
    hideAll(other);
    face.hover.setVisible(True);
    face.normal.setVisible(False);
    face.pressed.setVisible(False);
}

}  // namespace tovrel::skin
