// SPDX-License-Identifier: GPL-3.0-or-later
//
// tovrel_draw_skin: draws every picture of the Tovrel skin (both window backgrounds, all
// button states, the two title-bar glyphs), the window icon and the click sound.
//
//   tovrel_draw_skin OUT_DIR [--font FILE]
//
// Each picture comes from one drawing function in window coordinates and is rendered at
// scale 1 (Name.png) and scale 2 (Name@2x.png). A button picture is the window background
// cropped to the button's rectangle with the button's face painted over it, so every
// picture blends exactly with the slot the skin paints under it. Output is deterministic:
// no clocks, no random seeds, no system font lookup (the text face is loaded from a file).

#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRawFont>
#include <QString>

#include "shell/layout.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <numbers>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace {

// ---------------------------------------------------------------------------------------
// Colour table. Every colour of every picture comes from here.
// ---------------------------------------------------------------------------------------
namespace ink {
constexpr QRgb paper = 0xffffff;        // outside the panels (not part of the window)
constexpr QRgb rim = 0x0e0f11;          // outermost edge of a panel
constexpr QRgb faceTop = 0x3b3f44;      // panel face, top of the gradient
constexpr QRgb faceBottom = 0x30343a;   // panel face, bottom of the gradient
constexpr QRgb bevelLight = 0x6b7078;   // lit bevel (top and left of raised parts)
constexpr QRgb bevelDark = 0x16181b;    // shaded bevel (bottom and right of raised parts)
constexpr QRgb groove = 0x4a4f56;       // lit lip of an engraved line
constexpr QRgb slot = 0x202327;         // floor of a recessed button slot
constexpr QRgb shadow = 0x000000;       // inner shadows (always drawn with an alpha below)
constexpr QRgb display = 0x0a2a10;      // dark-green display glass
constexpr QRgb displayEdge = 0x1b5a25;  // lit edge around a display
constexpr QRgb lit = 0x00ff00;          // lit text and glyphs, glow
constexpr QRgb dim = 0x1f9a2c;          // unlit text and glyphs
constexpr QRgb marker = lit;            // the small square beside the panels
constexpr QRgb rule = 0x176b22;         // progress rule under the progress lines
constexpr QRgb dashOff = 0xff3030;      // alarm dash, OFF face
constexpr QRgb dashOn = lit;            // alarm dash, ON face
constexpr QRgb shine = 0x9aa1aa;        // highlight on the icon's metal parts
constexpr QRgb alarmHand = dashOff;     // the icon's alarm hand

// Strengths of the translucent layers, 0..255.
constexpr int glowAlpha = 89;                            // hover glow, 35 %
constexpr int scanAlpha = 20;                            // display scan lines, 8 %
constexpr std::array<int, 1> slotShadow{140};            // slot inner shadow, 1 px
constexpr std::array<int, 3> pressShadow{150, 100, 60};  // added when a button is held down
constexpr int pressDarken = 40;                          // the whole floor, held down
constexpr std::array<int, 3> displayShadow{110, 60, 30};
}  // namespace ink

QColor colour(QRgb rgb, int alpha = 255) {
    QColor c(rgb);
    c.setAlpha(alpha);
    return c;
}

// ---------------------------------------------------------------------------------------
// Layout, in window pixels at scale 1. Where the windows' elements sit comes from the
// program's layout table; the rest is the skin's own.
// ---------------------------------------------------------------------------------------
enum class Window { Main, About };

namespace layout = tovrel::shell::layout;

constexpr QRect pixels(layout::Box b) { return {b.left, b.top, b.width, b.height}; }
// The About window's places are in twips; drawn on the nearest pixel, as the window does.
constexpr int nearest(int twips) { return tovrel::forms::twipsToPixels(static_cast<float>(twips)); }
constexpr QRect aboutPixels(layout::Box b) {
    return {nearest(b.left), nearest(b.top), nearest(b.width), nearest(b.height)};
}

constexpr QSize mainSize{layout::MainSkin.width, layout::MainSkin.height};
constexpr QSize aboutSize{layout::AboutSkin.width, layout::AboutSkin.height};

constexpr QRect topPanel = pixels(layout::of(layout::Main, "Shape1"));
constexpr QRect settingsPanel = pixels(layout::of(layout::Main, "Shape2"));
constexpr QRect markerSquare{363, 62, 16, 23};  // x 363..378, y 62..84

constexpr QRect closeGlyph = pixels(layout::of(layout::Main, "Close"));
constexpr QRect miniGlyph = pixels(layout::of(layout::Main, "Mini"));
constexpr QPointF titleAt{44, 15};  // top left of the title's text box; capitals start 2 px lower

constexpr QRect alarmSlot = pixels(layout::of(layout::Main, "Alarm"));
constexpr QRect snoozeSlot = pixels(layout::of(layout::Main, "Snooze"));
constexpr QRect settingSlot = pixels(layout::of(layout::Main, "Setting"));
constexpr QRect browseSlot = pixels(layout::of(layout::Main, "Browse"));
constexpr QRect exitSlot = aboutPixels(layout::of(layout::About, "Exit"));

// Displays: the whole footprint including their recessed bezel (2 px) and lit edge (1 px).
constexpr QRect clockDisplay{48, 44, 150, 62};  // holds the time, alarm status, alarm time
constexpr QRect nameField{33, 208, 227, 28};    // behind the MP3 file name
constexpr QRect alarmField{33, 258, 48, 28};    // behind "Alarm"
constexpr QRect snoozeField{33, 307, 111, 27};  // behind the snooze length
// The credit lines reach down to y 121 and the exit slot starts at y 123, so the wide upper
// part runs under the slot's top lip (the slot is painted after it) and its glass ends at
// y 121 with the lit edge on the one row between them.
constexpr QRect aboutTextArea{50, 42, 292, 83};      // credit lines: x 50..341, y 42..124
constexpr QRect aboutVersionArea{50, 42, 196, 120};  // version line: x 50..245, y 42..161

// Wells that the two scroll bars sit in (scroll bar rectangle plus 3 px).
constexpr QRect alarmScrollWell = pixels(layout::of(layout::Main, "ScrlAlarmChg")).adjusted(-3, -3, 3, 3);
constexpr QRect snoozeScrollWell = pixels(layout::of(layout::Main, "ScrlSnooze")).adjusted(-3, -3, 3, 3);

// The progress lines run over x 220..340, y 106..107; the groove's floor is exactly that.
constexpr QRect progressGroove{layout::ProgressLeft - 2, layout::ProgressLine1Y - 2, layout::ProgressTrack + 5, 6};

// Speaker grille above the alarm button: rows of small punched holes.
constexpr QRect grille{203, 32, 142, 16};  // as wide as the alarm slot below it
constexpr qreal grillePitch = 5;
constexpr qreal grilleHole = 1.3;  // radius

// Engraved lines between the settings rows.
constexpr int rowGrooveY[] = {248, 297};
constexpr int rowGrooveLeft = 22;
constexpr int rowGrooveRight = 366;

constexpr qreal panelRadius = 10;
constexpr qreal slotRadius = 3;
constexpr qreal displayRadius = 3;
constexpr qreal bevelWidth = 2;

// Glow around lit text and glyphs: the outline widened by a pen of `glowSpread` px, then
// blurred with a Gaussian of `glowSoftness` px, so it reaches 2-3 px past the letters.
constexpr qreal glowSpread = 3;
constexpr qreal glowSoftness = 1.3;

// Text sizes (pixels).
constexpr qreal titleSize = 11;
constexpr qreal buttonTextSize = 15;

// ---------------------------------------------------------------------------------------
// Text: glyph outlines from one font file, so no font lookup can change a picture.
// ---------------------------------------------------------------------------------------
class Face {
public:
    explicit Face(const QString& file) : raw_(file, 16, QFont::PreferNoHinting) {}
    bool valid() const { return raw_.isValid(); }

    // Outline of `text` at `pixelSize` with its baseline origin at (0, 0).
    QPainterPath path(const QString& text, qreal pixelSize, qreal* advance = nullptr) {
        raw_.setPixelSize(pixelSize);
        const QList<quint32> glyphs = raw_.glyphIndexesForString(text);
        const QList<QPointF> advances = raw_.advancesForGlyphIndexes(glyphs, QRawFont::KernedAdvances);
        QPainterPath out;
        out.setFillRule(Qt::WindingFill);
        qreal x = 0;
        for (qsizetype i = 0; i < glyphs.size(); ++i) {
            out.addPath(raw_.pathForGlyph(glyphs[i]).translated(x, 0));
            x += advances[i].x();
        }
        if (advance) *advance = x;
        return out;
    }

    qreal capHeight(qreal pixelSize) {
        raw_.setPixelSize(pixelSize);
        return raw_.capHeight();
    }

private:
    QRawFont raw_;
};

// Rounds a logical coordinate to the nearest device pixel of the painter's scale.
qreal snap(qreal v, qreal scale) { return std::round(v * scale) / scale; }

qreal scaleOf(const QPainter& p) { return p.transform().m11(); }

QPainterPath roundedRect(const QRectF& r, qreal radius) {
    QPainterPath path;
    path.addRoundedRect(r, radius, radius);
    return path;
}

// A ring of width `w` just inside `shape`: `topLeft` along the top and left edges,
// `bottomRight` along the bottom and right. The caller paints the inside over it.
void bevel(QPainter& p, const QPainterPath& shape, QRgb topLeft, QRgb bottomRight, qreal w) {
    p.fillPath(shape, colour(topLeft));
    p.fillPath(shape.intersected(shape.translated(w, w)), colour(bottomRight));
}

// A shadow falling from the top-left edges into `inside`, one band per alpha entry.
template <std::size_t N>
void innerShadow(QPainter& p, const QPainterPath& inside, const std::array<int, N>& alphas) {
    for (std::size_t k = 0; k < N; ++k) {
        const qreal d = qreal(k + 1);
        p.fillPath(inside.subtracted(inside.translated(d, d)), colour(ink::shadow, alphas[k]));
    }
}

// ---------------------------------------------------------------------------------------
// Glow: the shape widened, blurred and laid over the picture in a translucent colour.
// ---------------------------------------------------------------------------------------

// Gaussian blur of an 8-bit coverage buffer, separable, integer weights (deterministic).
void blur(std::vector<int>& buf, int w, int h, double sigma) {
    const int radius = std::max(1, int(std::ceil(3 * sigma)));
    std::vector<int> weights(2 * radius + 1);
    {
        std::vector<double> raw(weights.size());
        double sum = 0;
        for (int i = -radius; i <= radius; ++i) sum += raw[i + radius] = std::exp(-(i * i) / (2 * sigma * sigma));
        for (std::size_t i = 0; i < raw.size(); ++i) weights[i] = int(std::lround(raw[i] / sum * 65536));
    }
    std::vector<int> tmp(buf.size());
    auto pass = [&](const std::vector<int>& src, std::vector<int>& dst, bool horizontal) {
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                long long acc = 0;
                for (int i = -radius; i <= radius; ++i) {
                    const int sx = horizontal ? x + i : x;
                    const int sy = horizontal ? y : y + i;
                    if (sx < 0 || sy < 0 || sx >= w || sy >= h) continue;
                    acc += 1LL * src[std::size_t(sy) * w + sx] * weights[i + radius];
                }
                dst[std::size_t(y) * w + x] = int((acc + 32768) >> 16);
            }
    };
    pass(buf, tmp, true);
    pass(tmp, buf, false);
}

void glow(QPainter& p, const QPainterPath& shape, QRgb rgb, qreal spread, qreal sigma) {
    const int w = p.device()->width();
    const int h = p.device()->height();
    QImage mask(w, h, QImage::Format_ARGB32_Premultiplied);
    mask.fill(Qt::transparent);
    {
        QPainter m(&mask);
        m.setRenderHint(QPainter::Antialiasing);
        m.setTransform(p.transform());
        m.setPen(QPen(Qt::white, spread, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        m.setBrush(Qt::white);
        m.drawPath(shape);
    }
    std::vector<int> cover(std::size_t(w) * h);
    for (int y = 0; y < h; ++y) {
        const QRgb* line = reinterpret_cast<const QRgb*>(mask.constScanLine(y));
        for (int x = 0; x < w; ++x) cover[std::size_t(y) * w + x] = qAlpha(line[x]);
    }
    blur(cover, w, h, sigma * scaleOf(p));
    QImage tint(w, h, QImage::Format_ARGB32_Premultiplied);
    for (int y = 0; y < h; ++y) {
        QRgb* line = reinterpret_cast<QRgb*>(tint.scanLine(y));
        for (int x = 0; x < w; ++x) {
            const int a = std::min(255, cover[std::size_t(y) * w + x]) * ink::glowAlpha / 255;
            line[x] = qPremultiply(qRgba(qRed(rgb), qGreen(rgb), qBlue(rgb), a));
        }
    }
    p.save();
    p.resetTransform();
    p.drawImage(0, 0, tint);
    p.restore();
}

// ---------------------------------------------------------------------------------------
// Parts of the panels.
// ---------------------------------------------------------------------------------------

// A raised panel on the outline `r` (the rounded rectangle the window is cut to). The rim
// reaches half a pixel past the outline's top-left corner and ends half a pixel short of its
// far edges, so the painted pixels span x-1..x+w-1 with a soft one-pixel edge.
void drawPanel(QPainter& p, const QRect& r) {
    const QRectF outline(r.x() - 0.5, r.y() - 0.5, r.width(), r.height());
    p.fillPath(roundedRect(outline, panelRadius), colour(ink::rim));
    const QRectF body(r.x() + 1, r.y() + 1, r.width() - 3, r.height() - 3);
    bevel(p, roundedRect(body, panelRadius - 1.5), ink::bevelLight, ink::bevelDark, bevelWidth);
    const QRectF face = body.adjusted(bevelWidth, bevelWidth, -bevelWidth, -bevelWidth);
    QLinearGradient g(face.topLeft(), face.bottomLeft());
    g.setColorAt(0, colour(ink::faceTop));
    g.setColorAt(1, colour(ink::faceBottom));
    p.fillPath(roundedRect(face, panelRadius - 1.5 - bevelWidth), g);
}

QPainterPath slotFloor(const QRect& r) {
    const QRectF in = QRectF(r).adjusted(bevelWidth, bevelWidth, -bevelWidth, -bevelWidth);
    return roundedRect(in, slotRadius - 1);
}

// A recessed slot that exactly fills `r`: shaded top-left lip, lit bottom-right lip, a
// dark floor with a one-pixel shadow under the top and left lips.
void drawSlot(QPainter& p, const QRect& r) {
    bevel(p, roundedRect(r, slotRadius), ink::bevelDark, ink::bevelLight, bevelWidth);
    const QPainterPath floor = slotFloor(r);
    p.fillPath(floor, colour(ink::slot));
    innerShadow(p, floor, ink::slotShadow);
}

// A display: recessed bezel, lit edge, dark-green glass with an inner shadow and scan lines.
// `footprint` is a union of rectangles; the glass is the union of the same rectangles inset.
void drawDisplay(QPainter& p, const std::vector<QRect>& footprint) {
    QPainterPath outer, edge, glass;
    for (const QRect& r : footprint) {
        outer = outer.united(roundedRect(r, displayRadius));
        const QRectF e = QRectF(r).adjusted(bevelWidth, bevelWidth, -bevelWidth, -bevelWidth);
        edge = edge.united(roundedRect(e, displayRadius - 1));
        glass = glass.united(roundedRect(e.adjusted(1, 1, -1, -1), displayRadius - 1));
    }
    bevel(p, outer, ink::bevelDark, ink::bevelLight, bevelWidth);
    p.fillPath(edge, colour(ink::displayEdge));
    p.fillPath(glass, colour(ink::display));
    innerShadow(p, glass, ink::displayShadow);
    p.save();
    p.setClipPath(glass);
    const QRectF box = glass.boundingRect();
    for (qreal y = std::floor(box.top()); y < box.bottom(); y += 2)
        p.fillRect(QRectF(box.left(), y, box.width(), 1), colour(ink::lit, ink::scanAlpha));
    p.restore();
}

// An engraved horizontal line: a dark cut with a lit lip below it.
void drawGroove(QPainter& p, int y, int left, int right) {
    p.fillRect(QRect(left, y, right - left + 1, 1), colour(ink::bevelDark));
    p.fillRect(QRect(left + 1, y + 1, right - left + 1, 1), colour(ink::groove));
}

// Punched holes, centred in `grille`: each a dark pit whose lower-right lip catches the light.
void drawGrille(QPainter& p) {
    const int columns = int((grille.width() - 2 * grilleHole) / grillePitch) + 1;
    const int rows = int((grille.height() - 2 * grilleHole) / grillePitch) + 1;
    const qreal x0 = grille.x() + (grille.width() - (columns - 1) * grillePitch) / 2;
    const qreal y0 = grille.y() + (grille.height() - (rows - 1) * grillePitch) / 2;
    QPainterPath lips, pits;
    for (int row = 0; row < rows; ++row)
        for (int column = 0; column < columns; ++column) {
            const QPointF c(x0 + column * grillePitch, y0 + row * grillePitch);
            lips.addEllipse(c + QPointF(0.5, 0.5), grilleHole, grilleHole);
            pits.addEllipse(c, grilleHole, grilleHole);
        }
    p.fillPath(lips, colour(ink::bevelLight));
    p.fillPath(pits, colour(ink::rim));
}

void drawProgressGroove(QPainter& p) {
    bevel(p, roundedRect(progressGroove, 1), ink::bevelDark, ink::bevelLight, bevelWidth);
    p.fillRect(QRectF(progressGroove).adjusted(bevelWidth, bevelWidth, -bevelWidth, -bevelWidth), colour(ink::rule));
}

// The window title in small lit letters at the top left of the top panel.
void drawTitle(QPainter& p, Face& face, const QString& text) {
    const qreal s = scaleOf(p);
    const qreal baseline = snap(titleAt.y() + 2 + face.capHeight(titleSize), s);
    const QPainterPath path = face.path(text, titleSize).translated(titleAt.x(), baseline);
    p.fillPath(path, colour(ink::lit));
}

// ---------------------------------------------------------------------------------------
// Title-bar glyphs.
// ---------------------------------------------------------------------------------------
enum class Glyph { Close, Mini };

QPainterPath glyphShape(Glyph g) {
    QPainterPath path;
    if (g == Glyph::Close) {
        // A green "X", 7 px square, centred in its picture.
        const QPointF c(closeGlyph.x() + 8, closeGlyph.y() + 8);
        QPainterPathStroker stroker;
        stroker.setWidth(2);
        stroker.setCapStyle(Qt::FlatCap);
        QPainterPath cross;
        cross.moveTo(c + QPointF(-3.5, -3.5));
        cross.lineTo(c + QPointF(3.5, 3.5));
        cross.moveTo(c + QPointF(3.5, -3.5));
        cross.lineTo(c + QPointF(-3.5, 3.5));
        path = stroker.createStroke(cross).simplified();
    } else {
        // A green bar "_" whose bottom lines up with the bottom of the "X".
        path.addRect(QRectF(miniGlyph.x() + 4, miniGlyph.y() + 10, 8, 2));
    }
    return path;
}

void drawGlyph(QPainter& p, Glyph g, bool hover) {
    const QPainterPath shape = glyphShape(g);
    if (hover) glow(p, shape, ink::lit, glowSpread, glowSoftness);
    p.fillPath(shape, colour(hover ? ink::lit : ink::dim));
}

// ---------------------------------------------------------------------------------------
// The two window backgrounds (without the glyph pictures).
// ---------------------------------------------------------------------------------------
void drawMarker(QPainter& p) { p.fillRect(markerSquare, colour(ink::marker)); }

void drawMainBackground(QPainter& p, Face& face) {
    p.fillRect(QRect(QPoint(0, 0), mainSize), colour(ink::paper));
    drawMarker(p);

    drawPanel(p, topPanel);
    drawTitle(p, face, QStringLiteral("MP3 Tovrel"));
    drawDisplay(p, {clockDisplay});
    drawGrille(p);
    drawSlot(p, alarmSlot);
    drawProgressGroove(p);
    drawSlot(p, snoozeSlot);
    drawSlot(p, settingSlot);

    drawPanel(p, settingsPanel);
    drawDisplay(p, {nameField});
    drawSlot(p, browseSlot);
    drawDisplay(p, {alarmField});
    drawSlot(p, alarmScrollWell);
    drawDisplay(p, {snoozeField});
    drawSlot(p, snoozeScrollWell);
    for (int y : rowGrooveY) drawGroove(p, y, rowGrooveLeft, rowGrooveRight);
}

void drawAboutBackground(QPainter& p, Face& face) {
    p.fillRect(QRect(QPoint(0, 0), aboutSize), colour(ink::paper));
    drawMarker(p);
    drawPanel(p, topPanel);
    drawTitle(p, face, QStringLiteral("About"));
    drawDisplay(p, {aboutTextArea, aboutVersionArea});
    drawSlot(p, exitSlot);
}

void drawBackground(QPainter& p, Face& face, Window w) {
    if (w == Window::Main)
        drawMainBackground(p, face);
    else
        drawAboutBackground(p, face);
}

// ---------------------------------------------------------------------------------------
// Buttons.
// ---------------------------------------------------------------------------------------
enum class State { Normal, Hover, Down };
enum class Dash { None, Off, On };

struct Button {
    Window window;
    QRect rect;
    std::string word;
    Dash dash;
};

constexpr qreal dashLength = 12;
constexpr qreal dashThickness = 3;
constexpr qreal dashGap = 7;

// The face of a button over its slot: the deeper press shadow, the word, the alarm dash.
void drawButtonFace(QPainter& p, Face& face, const Button& b, State state) {
    const qreal s = scaleOf(p);
    const QPainterPath floor = slotFloor(b.rect);
    if (state == State::Down) {
        p.fillPath(floor, colour(ink::shadow, ink::pressDarken));
        innerShadow(p, floor, ink::pressShadow);
    }

    qreal advance = 0;
    QPainterPath word = face.path(QString::fromStdString(b.word), buttonTextSize, &advance);
    const qreal dashPart = b.dash == Dash::None ? 0 : dashLength + dashGap;
    const qreal total = dashPart + advance;
    const QRectF box = QRectF(b.rect);
    const qreal shift = state == State::Down ? 1 : 0;
    const qreal left = snap(box.center().x() - total / 2, s) + shift;
    const qreal cap = face.capHeight(buttonTextSize);
    const qreal baseline = snap(box.center().y() + cap / 2, s) + shift;
    word.translate(left + dashPart, baseline);

    QPainterPath dash;
    if (b.dash != Dash::None) {
        const qreal y = snap(baseline - cap / 2 - dashThickness / 2, s);
        dash.addRoundedRect(QRectF(left, y, dashLength, dashThickness), 1, 1);
    }
    const QRgb dashInk = b.dash == Dash::Off ? ink::dashOff : ink::dashOn;

    p.save();
    p.setClipPath(floor);
    if (state != State::Normal) glow(p, word, ink::lit, glowSpread, glowSoftness);
    if (!dash.isEmpty()) glow(p, dash, dashInk, glowSpread, glowSoftness);
    p.fillPath(word, colour(state == State::Normal ? ink::dim : ink::lit));
    if (!dash.isEmpty()) p.fillPath(dash, colour(dashInk));
    p.restore();
}

// ---------------------------------------------------------------------------------------
// Window icon: a small alarm clock in the panel colours, drawn on a 32-unit grid.
// ---------------------------------------------------------------------------------------
void drawIcon(QPainter& p) {
    using std::numbers::pi;
    const QPointF c(16, 17.5);

    // Feet.
    p.setPen(Qt::NoPen);
    for (qreal side : {-1.0, 1.0}) {
        QPainterPath foot;
        foot.moveTo(c + QPointF(side * 6.5, 9));
        foot.lineTo(c + QPointF(side * 10.5, 13.5));
        foot.lineTo(c + QPointF(side * 8, 13.5));
        foot.lineTo(c + QPointF(side * 4, 10));
        foot.closeSubpath();
        p.fillPath(foot, colour(ink::rim));
    }

    // Bells: two domes leaning outwards, with the hammer between them.
    for (qreal side : {-1.0, 1.0}) {
        p.save();
        p.translate(c + QPointF(side * 8.5, -9.5));
        p.rotate(side * 40);
        QPainterPath dome;
        dome.moveTo(-6, 2);
        dome.arcTo(QRectF(-6, -4.5, 12, 13), 180, -180);
        dome.closeSubpath();
        p.fillPath(dome, colour(ink::rim));
        QPainterPath inner;
        inner.moveTo(-4.8, 1.2);
        inner.arcTo(QRectF(-4.8, -3.4, 9.6, 10.4), 180, -180);
        inner.closeSubpath();
        QLinearGradient g(-4, -3, 4, 2);
        g.setColorAt(0, colour(ink::shine));
        g.setColorAt(0.45, colour(ink::bevelLight));
        g.setColorAt(1, colour(ink::faceBottom));
        p.fillPath(inner, g);
        p.restore();
    }
    p.fillRect(QRectF(c.x() - 1, c.y() - 15, 2, 4), colour(ink::rim));
    p.fillPath(roundedRect(QRectF(c.x() - 3, c.y() - 16.5, 6, 2.5), 1), colour(ink::rim));

    // Body: rim, bevel ring lit from the top left, then the display glass.
    QPainterPath body;
    body.addEllipse(c, 12.5, 12.5);
    p.fillPath(body, colour(ink::rim));
    QPainterPath ring;
    ring.addEllipse(c, 11.5, 11.5);
    QLinearGradient rg(c + QPointF(-9, -9), c + QPointF(9, 9));
    rg.setColorAt(0, colour(ink::shine));
    rg.setColorAt(0.35, colour(ink::bevelLight));
    rg.setColorAt(0.65, colour(ink::faceBottom));
    rg.setColorAt(1, colour(ink::bevelDark));
    p.fillPath(ring, rg);
    QPainterPath edge;
    edge.addEllipse(c, 9, 9);
    p.fillPath(edge, colour(ink::bevelDark));
    QPainterPath glass;
    glass.addEllipse(c, 8.2, 8.2);
    p.fillPath(glass, colour(ink::displayEdge));
    QPainterPath inside;
    inside.addEllipse(c, 7.4, 7.4);
    p.fillPath(inside, colour(ink::display));

    // Hour marks at 12, 3, 6 and 9.
    for (int i = 0; i < 4; ++i) {
        const double a = i * pi / 2;
        const QPointF m = c + QPointF(std::sin(a) * 5.8, -std::cos(a) * 5.8);
        p.fillRect(QRectF(m.x() - 0.8, m.y() - 0.8, 1.6, 1.6), colour(ink::dim));
    }

    // Hands at ten past ten, and the alarm hand.
    auto hand = [&](double turns, qreal length, qreal width, QRgb rgb) {
        const double a = turns * 2 * pi;
        QPainterPath line;
        line.moveTo(c);
        line.lineTo(c + QPointF(std::sin(a) * length, -std::cos(a) * length));
        QPainterPathStroker st;
        st.setWidth(width);
        st.setCapStyle(Qt::RoundCap);
        p.fillPath(st.createStroke(line), colour(rgb));
    };
    hand(0.57, 4.8, 1.1, ink::alarmHand);
    hand(10.2 / 12, 4.6, 1.9, ink::lit);
    hand(2.0 / 12, 6.4, 1.5, ink::lit);
    QPainterPath hub;
    hub.addEllipse(c, 1.4, 1.4);
    p.fillPath(hub, colour(ink::lit));
}

// The 16 colours of the small icon (index 0 is transparent).
const std::array<QRgb, 16> iconPalette{
    0x00000000,
    0xff000000 | ink::rim,
    0xff000000 | ink::bevelDark,
    0xff000000 | ink::slot,
    0xff000000 | ink::faceBottom,
    0xff000000 | ink::faceTop,
    0xff000000 | ink::groove,
    0xff000000 | ink::bevelLight,
    0xff000000 | ink::shine,
    0xff000000 | ink::display,
    0xff000000 | ink::displayEdge,
    0xff000000 | ink::dim,
    0xff000000 | ink::lit,
    0xff000000 | ink::alarmHand,
    0xff000000 | ink::rule,
    0xff000000 | ink::paper,
};

// Maps each pixel to the nearest palette colour; coverage below one half becomes transparent.
QImage toPalette(const QImage& src) {
    QImage out(src.size(), QImage::Format_Indexed8);
    out.setColorTable(QList<QRgb>(iconPalette.begin(), iconPalette.end()));
    const QImage argb = src.convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < argb.height(); ++y) {
        const QRgb* in = reinterpret_cast<const QRgb*>(argb.constScanLine(y));
        uchar* o = out.scanLine(y);
        for (int x = 0; x < argb.width(); ++x) {
            if (qAlpha(in[x]) < 128) {
                o[x] = 0;
                continue;
            }
            int best = 1;
            long bestDistance = -1;
            for (int i = 1; i < int(iconPalette.size()); ++i) {
                const long dr = qRed(in[x]) - qRed(iconPalette[i]);
                const long dg = qGreen(in[x]) - qGreen(iconPalette[i]);
                const long db = qBlue(in[x]) - qBlue(iconPalette[i]);
                const long d = 3 * dr * dr + 4 * dg * dg + 2 * db * db;
                if (bestDistance < 0 || d < bestDistance) {
                    bestDistance = d;
                    best = i;
                }
            }
            o[x] = uchar(best);
        }
    }
    return out;
}

// ---------------------------------------------------------------------------------------
// Click sound: a short tick, 16-bit PCM mono 44100 Hz, peak -6 dBFS.
// ---------------------------------------------------------------------------------------
std::vector<std::int16_t> clickSamples() {
    constexpr int rate = 44100;
    constexpr double length = 0.050;  // seconds
    constexpr double attack = 0.0015;
    constexpr double decay = 0.0075;  // time constant of the fall
    constexpr double fadeOut = 0.008;
    const int n = int(length * rate);
    std::vector<double> wave(std::size_t(n), 0.0);
    std::uint32_t seed = 0x7076e1u;  // fixed, so the noise is the same on every run
    double hp = 0, lastNoise = 0;
    for (int i = 0; i < n; ++i) {
        const double t = double(i) / rate;
        double env = t < attack ? t / attack : std::exp(-(t - attack) / decay);
        if (t > length - fadeOut) env *= (length - t) / fadeOut;
        seed = seed * 1664525u + 1013904223u;
        const double noise = double(seed >> 8) / double(1u << 24) * 2 - 1;
        hp = 0.6 * (hp + noise - lastNoise);  // crude high-pass: brighter, not a thump
        lastNoise = noise;
        const double noiseEnv = std::exp(-t / 0.002);
        const double tone =
            0.65 * std::sin(2 * std::numbers::pi * 2300 * t) + 0.35 * std::sin(2 * std::numbers::pi * 1150 * t + 0.7);
        wave[std::size_t(i)] = env * tone + 0.5 * noiseEnv * hp * std::min(1.0, t / attack);
    }
    double peak = 0;
    for (double v : wave) peak = std::max(peak, std::abs(v));
    const double gain = 0.5 / peak;  // 0.5 of full scale is -6 dBFS
    std::vector<std::int16_t> out;
    out.reserve(wave.size());
    for (double v : wave) out.push_back(std::int16_t(std::lround(v * gain * 32767)));
    return out;
}

bool writeWav(const QString& file, const std::vector<std::int16_t>& samples) {
    QByteArray data;
    auto u32 = [&](std::uint32_t v) {
        for (int i = 0; i < 4; ++i) data.append(char((v >> (8 * i)) & 0xff));
    };
    auto u16 = [&](std::uint16_t v) {
        data.append(char(v & 0xff));
        data.append(char(v >> 8));
    };
    const std::uint32_t bytes = std::uint32_t(samples.size() * 2);
    data.append("RIFF");
    u32(36 + bytes);
    data.append("WAVE");
    data.append("fmt ");
    u32(16);
    u16(1);          // PCM
    u16(1);          // mono
    u32(44100);      // frames per second
    u32(44100 * 2);  // bytes per second
    u16(2);          // bytes per frame
    u16(16);         // bits per sample
    data.append("data");
    u32(bytes);
    for (std::int16_t s : samples) u16(std::uint16_t(s));
    QFile f(file);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(data) == data.size();
}

// ---------------------------------------------------------------------------------------
// Rendering and output.
// ---------------------------------------------------------------------------------------
struct Picture {
    QString name;
    QRect rect;                           // window rectangle the picture covers (origin 0,0 for a whole skin)
    std::function<void(QPainter&)> draw;  // paints in window coordinates
};

QImage render(const Picture& pic, int scale) {
    QImage img(pic.rect.size() * scale, QImage::Format_RGB32);
    img.fill(colour(ink::paper));
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(scale, scale);
    p.translate(-pic.rect.topLeft());
    pic.draw(p);
    return img;
}

// In which window a place of the layout lies, and where, in its pixels.
std::pair<Window, QRect> placed(std::string_view name) {
    for (const layout::Place& p : layout::Main)
        if (p.name == name) return {Window::Main, pixels(p.box)};
    for (const layout::Place& p : layout::About)
        if (p.name == name) return {Window::About, aboutPixels(p.box)};
    throw std::invalid_argument("no place " + std::string(name) + " in the layout");
}

std::vector<Picture> pictures(Face& face) {
    std::vector<Picture> out;
    Face& f = face;

    out.push_back({QStringLiteral("FrmTovrel"), QRect(QPoint(0, 0), mainSize), [&f](QPainter& p) {
                       drawMainBackground(p, f);
                       drawGlyph(p, Glyph::Mini, false);
                       drawGlyph(p, Glyph::Close, false);
                   }});
    out.push_back(
        {QStringLiteral("FrmAbout"), QRect(QPoint(0, 0), aboutSize), [&f](QPainter& p) { drawAboutBackground(p, f); }});

    // The buttons' and glyphs' pictures, as the program's layout lists them.
    for (const auto& [name, place] : layout::Pictures) {
        const auto [window, rect] = placed(place);
        const std::string_view look = name.substr(place.size());
        const QString pictureName = QString::fromLatin1(name.data(), static_cast<qsizetype>(name.size()));
        if (place == "Close" || place == "Mini") {
            const Glyph glyph = place == "Close" ? Glyph::Close : Glyph::Mini;
            out.push_back({pictureName, rect, [&f, glyph, hover = look == "M"](QPainter& p) {
                               drawMainBackground(p, f);
                               drawGlyph(p, glyph, hover);
                           }});
            continue;
        }
        const State state = look.front() == 'U' ? State::Normal : look.front() == 'M' ? State::Hover : State::Down;
        const Dash dash = look.ends_with("OFF") ? Dash::Off : look.ends_with("ON") ? Dash::On : Dash::None;
        const Button b{window, rect, std::string(place), dash};
        out.push_back({pictureName, rect, [&f, b, state](QPainter& p) {
                           drawBackground(p, f, b.window);
                           drawButtonFace(p, f, b, state);
                       }});
    }
    return out;
}

bool save(const QImage& img, const QString& file) {
    if (img.save(file, "PNG")) return true;
    std::fprintf(stderr, "tovrel_draw_skin: cannot write %s\n", qPrintable(file));
    return false;
}

QImage renderIcon(int size, bool fullColour) {
    QImage img(size, size, QImage::Format_ARGB32_Premultiplied);
    img.fill(Qt::transparent);
    {
        QPainter p(&img);
        p.setRenderHint(QPainter::Antialiasing);
        p.scale(size / 32.0, size / 32.0);
        drawIcon(p);
    }
    if (fullColour) return img.convertToFormat(QImage::Format_ARGB32);
    return toPalette(img);
}

int usage() {
    std::fprintf(stderr, "usage: tovrel_draw_skin OUT_DIR [--font FILE]\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    // Pictures are drawn into memory; no display is needed or wanted.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);

    QString outDir;
    QString fontFile = QStringLiteral("/usr/share/fonts/truetype/dejavu/DejaVuSans-Bold.ttf");
    const QStringList args = app.arguments();
    for (qsizetype i = 1; i < args.size(); ++i) {
        if (args[i] == QLatin1String("--font") && i + 1 < args.size())
            fontFile = args[++i];
        else if (outDir.isEmpty() && !args[i].startsWith(QLatin1Char('-')))
            outDir = args[i];
        else
            return usage();
    }
    if (outDir.isEmpty()) return usage();

    if (!QFile::exists(fontFile)) {
        std::fprintf(stderr,
                     "tovrel_draw_skin: font file %s is missing (Debian package "
                     "fonts-dejavu-core); the pictures are drawn with that face only\n",
                     qPrintable(fontFile));
        return 1;
    }
    Face face(fontFile);
    if (!face.valid()) {
        std::fprintf(stderr, "tovrel_draw_skin: %s is not a usable font file\n", qPrintable(fontFile));
        return 1;
    }

    const QString dir = outDir + QLatin1Char('/');
    bool ok = true;
    for (const Picture& pic : pictures(face)) {
        ok = save(render(pic, 1), dir + pic.name + QStringLiteral(".png")) && ok;
        ok = save(render(pic, 2), dir + pic.name + QStringLiteral("@2x.png")) && ok;
    }

    ok = save(renderIcon(32, false), dir + QStringLiteral("Tovrel.png")) && ok;
    ok = save(renderIcon(64, false), dir + QStringLiteral("Tovrel@2x.png")) && ok;
    for (int size : {48, 64, 128, 256})
        ok = save(renderIcon(size, true), dir + QStringLiteral("Tovrel-%1.png").arg(size)) && ok;

    if (!writeWav(dir + QStringLiteral("Tovrel.wav"), clickSamples())) {
        std::fprintf(stderr, "tovrel_draw_skin: cannot write %sTovrel.wav\n", qPrintable(dir));
        ok = false;
    }
    return ok ? 0 : 1;
}
