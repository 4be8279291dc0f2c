// SPDX-License-Identifier: GPL-3.0-or-later

#include "platform/skin_library.h"

#include <QFile>
#include <QFontDatabase>
#include <cmath>
#include <stdexcept>

namespace tovrel::platform {

namespace {

QString& displayFamily() {
    static QString family;
    return family;
}

}  // namespace

SkinLibrary::SkinLibrary(QString folder) : folder_(std::move(folder)) {}

const QPixmap& SkinLibrary::picture(const QString& name, qreal devicePixelRatio) {
    const bool dense = devicePixelRatio > 1.0;
    const QString key = dense ? name + QStringLiteral("@2x") : name;
    auto it = cache_.find(key);
    if (it != cache_.end()) return *it;
    QPixmap pixmap;
    const QString path = folder_ + QLatin1Char('/') + key + QStringLiteral(".png");
    if (!pixmap.load(path)) {
        if (dense) return picture(name, 1.0);
        throw std::runtime_error("Cannot load the picture " + path.toStdString());
    }
    pixmap.setDevicePixelRatio(dense ? 2.0 : 1.0);
    return *cache_.insert(key, pixmap);
}

bool SkinLibrary::loadDisplayFace() {
    static const char* const candidates[] = {
        "/usr/share/fonts/truetype/dseg/DSEG7Classic-Bold.ttf",
        "/usr/share/fonts/truetype/dseg/DSEG7Classic-Regular.ttf",
    };
    for (const char* file : candidates) {
        if (!QFile::exists(QString::fromLatin1(file))) continue;
        const int id = QFontDatabase::addApplicationFont(QString::fromLatin1(file));
        const QStringList families = QFontDatabase::applicationFontFamilies(id);
        if (id >= 0 && !families.isEmpty()) {
            displayFamily() = families.first();
            return true;
        }
    }
    displayFamily() = QFontDatabase::systemFont(QFontDatabase::FixedFont).family();
    return false;
}

QFont SkinLibrary::font(const forms::Font& f) const {
    QFont font;
    if (f.face == forms::Face::Display) {
        if (displayFamily().isEmpty()) loadDisplayFace();
        font.setFamily(displayFamily());
    } else {
        font = QFontDatabase::systemFont(QFontDatabase::GeneralFont);
    }
    font.setPixelSize(static_cast<int>(std::lround(f.points * 96.0F / 72.0F)));
    font.setWeight(static_cast<QFont::Weight>(f.weight));
    font.setItalic(false);
    font.setUnderline(false);
    font.setStrikeOut(false);
    return font;
}

}  // namespace tovrel::platform
