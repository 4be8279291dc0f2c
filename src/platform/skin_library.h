// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include <QFont>
#include <QHash>
#include <QPixmap>
#include <QString>

#include "forms/form.h"

namespace tovrel::platform {

// The pictures of the skin, loaded from the "skin" folder beside the
// program: one file per picture, named after the element that shows it, with
// a double-resolution "@2x" twin for high-density screens.
class SkinLibrary {
public:
    explicit SkinLibrary(QString folder);

    // The picture for a name, at the given device-pixel ratio. A picture that
    // cannot be loaded is an error: the window cannot be drawn without it.
    const QPixmap& picture(const QString& name, qreal devicePixelRatio);

    // The face of a label: the seven-segment display face or the desktop's
    // dialog face, bold, sized in pixels from its points at 96 dots per inch.
    QFont font(const forms::Font& font) const;

    // Loads the seven-segment face; returns false (and a fallback face is
    // used) when it is not installed.
    static bool loadDisplayFace();

    [[nodiscard]] const QString& folder() const { return folder_; }

private:
    QString folder_;
    QHash<QString, QPixmap> cache_;
};

}  // namespace tovrel::platform
