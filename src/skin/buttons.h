// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include "forms/form.h"

// Buttons drawn as stacks of images on one rectangle: normal, hover and
// pressed. Which image is visible is the button's whole state.

namespace tovrel::skin {

struct ThreeStateButton {
    forms::Image& normal;
    forms::Image& hover;
    forms::Image& pressed;
};

struct TwoStateButton {
    forms::Image& normal;
    forms::Image& hover;
};

// Back to the normal image when the hover or pressed image shows.
void reset(const ThreeStateButton& button);
// Back to the normal image when the hover image shows.
void reset(const TwoStateButton& button);
// Unconditionally: show the normal image, hide the hover image.
void forceNormal(const TwoStateButton& button);

// Pointer over the normal image: to the hover image, unless it shows already.
void hover(const ThreeStateButton& button);
// The same for one face of a two-faced button; the other face is hidden.
void hoverFace(const ThreeStateButton& face, const ThreeStateButton& other);
// Unconditionally: hide the normal image, show the hover image.
void forceHover(const TwoStateButton& button);

// A press on the hover image: to the pressed image.
void press(const ThreeStateButton& button);
void pressFace(const ThreeStateButton& face, const ThreeStateButton& other);

// A command's own switch to one face's hover image, the other face hidden.
void showFaceOnHover(const ThreeStateButton& face, const ThreeStateButton& other);

}  // namespace tovrel::skin
