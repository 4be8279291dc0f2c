// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include <QFont>
#include <QHash>
#include <QIcon>
#include <QPixmap>
#include <QString>

#include "forms/form.h"

namespace tovrel::platform {

// The pictures of the skin, built into the program (under ":/skin"): one
// per picture, named after the element that shows it, with a
// double-resolution "@2x" twin for high-density screens.
class SkinLibrary {
public:
    // The picture for a name, at the given device-pixel ratio: its "@2x" twin
    // where that fits better, as Qt finds it. A name without a picture is an
    // error in the program.
    const QPixmap& picture(const QString& name, qreal devicePixelRatio);

    // The windows' icon in all its sizes.
    static QIcon icon();

    // The face of a label: the seven-segment display face or the desktop's
    // dialog face, bold, sized in pixels from its points at 96 dots per inch.
    QFont font(const forms::Font& font) const;

    // Loads the seven-segment face; returns false (and a fallback face is
    // used) when it is not installed.
    static bool loadDisplayFace();

private:
    QHash<QString, QPixmap> cache_;
};

}  // namespace tovrel::platform
