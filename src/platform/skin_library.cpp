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

const QPixmap& SkinLibrary::picture(const QString& name, qreal devicePixelRatio) {
    const QString key = name + QLatin1Char('@') + QString::number(devicePixelRatio);
    auto it = cache_.find(key);
    if (it != cache_.end()) return *it;
    // A screen of ratio 2 or more (rounded) gets the picture's double-size
    // twin, Name@2x.png.
    const QString base = QStringLiteral(":/skin/") + name;
    const bool twin = qRound(devicePixelRatio) >= 2 && QFile::exists(base + QStringLiteral("@2x.png"));
    QPixmap pixmap;
    if (!pixmap.load(base + (twin ? QStringLiteral("@2x.png") : QStringLiteral(".png"))))
        throw std::runtime_error("The program has no picture " + name.toStdString());
    pixmap.setDevicePixelRatio(twin ? 2.0 : 1.0);
    return *cache_.insert(key, pixmap);
}

QIcon SkinLibrary::icon() {
    QIcon icon;
    for (const char* size : {"", "-48", "-64", "-128", "-256"})
        icon.addFile(QStringLiteral(":/skin/Tovrel") + QLatin1String(size) + QStringLiteral(".png"));
    return icon;
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
