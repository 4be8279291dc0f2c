// SPDX-License-Identifier: GPL-3.0-or-later

#include "platform/form_view.h"

#include "platform/form_accessible.h"

#include <QApplication>
#include <QCloseEvent>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QWindow>
#include <algorithm>
#include <cmath>
#include <cstdint>

#include <xcb/shape.h>
#include <xcb/xcb.h>

namespace tovrel::platform {

namespace {

const QColor PureGreen(0, 255, 0);

// The smallest face a one-line label steps down to.
constexpr float ReadablePoints = 6.5F;

int px(float v) { return static_cast<int>(std::lround(v)); }

// The pixels of a rounded rectangle (circular corners) whose centres lie
// inside it or on its edge, row by row.
QRegion roundedRectPixels(const QRectF& r, qreal radius) {
    radius = std::clamp(radius, 0.0, std::min(r.width(), r.height()) / 2);
    QList<QRect> rows;
    const int first = static_cast<int>(std::ceil(r.top() - 0.5));
    const int last = static_cast<int>(std::floor(r.bottom() - 0.5));
    for (int y = first; y <= last; ++y) {
        const qreal centre = y + 0.5;
        qreal dy = 0;
        if (centre < r.top() + radius) dy = r.top() + radius - centre;
        if (centre > r.bottom() - radius) dy = centre - (r.bottom() - radius);
        const qreal inset = radius - std::sqrt(std::max(0.0, radius * radius - dy * dy));
        const int left = static_cast<int>(std::ceil(r.left() + inset - 0.5));
        const int right = static_cast<int>(std::floor(r.right() - inset - 0.5));
        if (right >= left) rows.append(QRect(left, y, right - left + 1, 1));
    }
    QRegion region;
    region.setRects(rows.constData(), static_cast<int>(rows.size()));
    return region;
}

std::int16_t buttonBits(Qt::MouseButtons buttons) {
    std::int16_t bits = 0;
    if (buttons & Qt::LeftButton) bits |= forms::LeftButton;
    if (buttons & Qt::RightButton) bits |= forms::RightButton;
    if (buttons & Qt::MiddleButton) bits |= forms::MiddleButton;
    if (buttons & Qt::BackButton) bits |= 8;
    if (buttons & Qt::ForwardButton) bits |= 16;
    return bits;
}

std::int16_t shiftBits(Qt::KeyboardModifiers modifiers) {
    std::int16_t bits = 0;
    if (modifiers & Qt::ShiftModifier) bits |= 1;
    if (modifiers & Qt::ControlModifier) bits |= 2;
    if (modifiers & Qt::AltModifier) bits |= 4;
    return bits;
}

// The selectors' arrow keys move the thumb the way they point. Qt's scroll bar
// inverts its controls so that Page Down goes down the content, which on a
// horizontal bar also makes Right lower the value: Right would move the alarm
// time back. Up/Down, Page Up/Down, Home and End keep Qt's meaning.
class SelectorBar : public QScrollBar {
public:
    using QScrollBar::QScrollBar;

protected:
    void keyPressEvent(QKeyEvent* event) override {
        const bool left = event->key() == Qt::Key_Left, right = event->key() == Qt::Key_Right;
        if (orientation() != Qt::Horizontal || !(left || right)) {
            QScrollBar::keyPressEvent(event);
            return;
        }
        const bool towardsMaximum = right != isRightToLeft();
        triggerAction(towardsMaximum ? SliderSingleStepAdd : SliderSingleStepSub);
        event->accept();
    }
};

}  // namespace

FormView::FormView(forms::Form& form, SkinLibrary& skin, const QIcon& icon)
    : QWidget(nullptr, Qt::Window | Qt::FramelessWindowHint), form_(form), skin_(skin) {
    installFormAccessibility();
    setWindowTitle(QString::fromStdString(form.Caption()));
    setWindowIcon(icon);
    setAttribute(Qt::WA_OpaquePaintEvent);
    setFocusPolicy(Qt::NoFocus);
    setMouseTracking(true);

    std::vector<std::pair<int, QScrollBar*>> tabOrder;
    for (const auto& element : form.elements()) {
        if (auto* bar = dynamic_cast<forms::ScrollBar*>(element.get())) {
            auto* widget = new SelectorBar(Qt::Horizontal, this);
            widget->setObjectName(QString::fromStdString(bar->name()));
            widget->setAccessibleName(QString::fromStdString(bar->purpose()));
            widget->setGeometry(pixelRect(bar->rect()));
            widget->setRange(bar->Min(), bar->Max());
            widget->setSingleStep(bar->SmallChange());
            widget->setPageStep(bar->LargeChange());
            widget->setValue(bar->Value());
            // The value (and its Change) follows the thumb when it is let
            // go, not while it is dragged.
            widget->setTracking(false);
            widget->setFocusPolicy(Qt::StrongFocus);
            connect(widget, &QScrollBar::valueChanged, this, [bar](int value) { bar->setValue(value); });
            scrollBars_[bar] = widget;
            tabOrder.emplace_back(bar->TabIndex(), widget);
        } else if (auto* timer = dynamic_cast<forms::Timer*>(element.get())) {
            auto* qtimer = new QTimer(this);
            qtimer->setTimerType(Qt::PreciseTimer);
            qtimer->setInterval(timer->Interval());
            connect(qtimer, &QTimer::timeout, this, [timer] {
                if (timer->Enabled() != forms::False && timer->Tick) timer->Tick();
            });
            qtimer->start();
            timers_.push_back(qtimer);
        }
    }
    std::sort(tabOrder.begin(), tabOrder.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    for (std::size_t i = 1; i < tabOrder.size(); ++i) QWidget::setTabOrder(tabOrder[i - 1].second, tabOrder[i].second);
    if (!tabOrder.empty()) tabOrder.front().second->setFocus();
    // The green ring follows the keyboard focus.
    connect(qApp, &QApplication::focusChanged, this, [this](QWidget* before, QWidget* now) {
        for (const auto& [element, widget] : scrollBars_)
            if (widget == before || widget == now) update(focusRing(widget));
    });

    applyGeometry();
    form.setObserver(this);
}

FormView::~FormView() {
    if (accessible_ != nullptr) accessible_->viewGone();
    if (formAlive_) form_.setObserver(nullptr);
}

void FormView::formDestroyed() {
    if (accessible_ != nullptr) accessible_->formGone();
    formAlive_ = false;
    for (QTimer* timer : timers_) timer->stop();
    for (auto& [element, widget] : scrollBars_) widget->disconnect(this);
    scrollBars_.clear();
    hide();
}

QScrollBar* FormView::scrollBar(const std::string& name) const {
    for (const auto& [element, widget] : scrollBars_)
        if (element->name() == name) return widget;
    return nullptr;
}

QRect FormView::pixelRect(const forms::Rect& r) const {
    const bool twips = form_.scaleMode() == forms::ScaleMode::Twip;
    const auto pixels = [twips](float v) { return twips ? forms::twipsToPixels(v) : px(v); };
    return {pixels(r.left), pixels(r.top), pixels(r.width), pixels(r.height)};
}

QRegion FormView::outline(qreal ratio) const {
    QRegion region;
    const float scale = form_.scaleMode() == forms::ScaleMode::Twip ? forms::TwipsPerPixel : 1.0F;
    for (const auto& element : form_.elements()) {
        if (const auto* shape = dynamic_cast<const forms::Shape*>(element.get())) {
            const QRectF r(pixelRect(shape->rect()));
            // The outer edge of the outline painted half a pixel inside the
            // rectangle: its corners are half a pixel wider than the shape's.
            const qreal radius = shape->cornerRadius() / scale + 0.5;
            region += roundedRectPixels(QRectF(r.x() * ratio, r.y() * ratio, r.width() * ratio, r.height() * ratio),
                                        radius * ratio);
        }
    }
    return region;
}

void FormView::applyOutline() {
    shaped_ = true;
    // Qt keeps the mask in the window's own pixels and multiplies it out to
    // the screen's: at a ratio of 2 a rounded corner would come in steps of
    // two device pixels, showing bits of the skin's white surround. On X11
    // the window's shape is then set again, one device pixel at a time.
    // (Back at ratio 1 after that, Qt sees its own mask unchanged and leaves
    // the finer shape in place: the shape is set again here then, too.)
    setMask(outline());
    auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    const qreal ratio = devicePixelRatioF();
    if (x11 == nullptr || (ratio == 1.0 && nativeRatio_ == 1.0)) return;
    nativeRatio_ = ratio;
    const auto window = static_cast<xcb_window_t>(winId());
    std::vector<xcb_rectangle_t> rects;
    for (const QRect& r : outline(ratio))
        rects.push_back({static_cast<std::int16_t>(r.x()), static_cast<std::int16_t>(r.y()),
                         static_cast<std::uint16_t>(r.width()), static_cast<std::uint16_t>(r.height())});
    xcb_shape_rectangles(x11->connection(), XCB_SHAPE_SO_SET, XCB_SHAPE_SK_BOUNDING, XCB_CLIP_ORDERING_UNSORTED, window,
                         0, 0, static_cast<std::uint32_t>(rects.size()), rects.data());
    xcb_flush(x11->connection());
}

bool FormView::event(QEvent* event) {
    // On a screen of another density the outline is cut anew; the window's
    // screen is known once it is shown.
    if (event->type() == QEvent::Show && !watchingScreen_ && windowHandle() != nullptr) {
        watchingScreen_ = true;
        connect(windowHandle(), &QWindow::screenChanged, this, [this] {
            if (shaped_) applyOutline();
        });
    }
    return QWidget::event(event);
}

void FormView::shutDown() {
    for (QTimer* timer : timers_) timer->stop();
    setEnabled(false);
}

void FormView::applyGeometry() {
    const int width = forms::twipsToPixels(form_.Width());
    const int height = forms::twipsToPixels(form_.Height());
    setFixedSize(width, height);
    move(forms::twipsToPixels(form_.Left()), forms::twipsToPixels(form_.Top()));
}

void FormView::elementChanged(const forms::Element& element) {
    if (accessible_ != nullptr) accessible_->elementChanged(element);
    if (element.kind() == forms::ElementKind::ScrollBar) {
        const auto& bar = static_cast<const forms::ScrollBar&>(element);
        if (auto it = scrollBars_.find(&element); it != scrollBars_.end()) {
            const QSignalBlocker quiet(it->second);
            it->second->setValue(bar.Value());
            it->second->setVisible(bar.Visible() != forms::False);
            it->second->setEnabled(bar.Enabled() != forms::False);
        }
        return;
    }
    if (element.kind() == forms::ElementKind::Line) {
        // A progress line's old extent is not known here: repaint its row.
        const auto& line = static_cast<const forms::Line&>(element);
        const int top = static_cast<int>(std::floor(std::min(line.Y1(), line.Y2()))) - 1;
        const int bottom = static_cast<int>(std::ceil(std::max(line.Y1(), line.Y2()))) + 1;
        update(QRect(0, top, width(), bottom - top + 1));
        return;
    }
    update(pixelRect(element.rect()));
}

void FormView::geometryChanged() {
    applyGeometry();
    if (accessible_ != nullptr) accessible_->layoutChanged();
}

void FormView::visibilityChanged() {
    setVisible(form_.isShown());
    if (accessible_ != nullptr) accessible_->layoutChanged();
}

void FormView::focusRequested() {
    if (isMinimized()) showNormal();
    raise();
    activateWindow();
    // Qt stamps its focus request with the time of the last input it saw.
    // When the alarm fires there was no recent input, and an X server
    // without a window manager refuses a request older than the last focus
    // change: the window came up without the focus. The request is made
    // again, stamped "now", once the window is on screen.
    if (windowHandle() != nullptr && windowHandle()->isExposed())
        takeInputFocus();
    else
        focusWhenExposed_ = true;
}

void FormView::takeInputFocus() {
    focusWhenExposed_ = false;
    auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    if (x11 == nullptr || !isVisible()) return;
    xcb_set_input_focus(x11->connection(), XCB_INPUT_FOCUS_PARENT, static_cast<xcb_window_t>(winId()),
                        XCB_CURRENT_TIME);
    xcb_flush(x11->connection());
}

void FormView::minimizeRequested() { showMinimized(); }

void FormView::paintEvent(QPaintEvent* /*event*/) {
    if (focusWhenExposed_) takeInputFocus();
    QPainter painter(this);
    const qreal dpr = devicePixelRatioF();
    painter.fillRect(rect(), Qt::white);
    painter.drawPixmap(0, 0, skin_.picture(QString::fromStdString(form_.name()), dpr));
    for (const auto& element : form_.elements()) {
        if (element->Visible() == forms::False) continue;
        switch (element->kind()) {
            case forms::ElementKind::Image:
                painter.drawPixmap(pixelRect(element->rect()).topLeft(),
                                   skin_.picture(QString::fromStdString(element->name()), dpr));
                break;
            case forms::ElementKind::Label:
                paintLabel(painter, static_cast<const forms::Label&>(*element));
                break;
            case forms::ElementKind::Line: {
                const auto& line = static_cast<const forms::Line&>(*element);
                if (line.Y1() == line.Y2()) {
                    // A horizontal run covers its start pixel up to, not
                    // including, its end: zero length draws nothing.
                    const float x1 = std::min(line.X1(), line.X2());
                    const float x2 = std::max(line.X1(), line.X2());
                    painter.fillRect(QRectF(px(x1), px(line.Y1()), px(x2) - px(x1), 1), PureGreen);
                } else {
                    painter.setPen(QPen(PureGreen, 1));
                    painter.drawLine(QPointF(line.X1(), line.Y1()), QPointF(line.X2(), line.Y2()));
                }
                break;
            }
            case forms::ElementKind::Shape: {
                const auto& shape = static_cast<const forms::Shape&>(*element);
                const float scale = form_.scaleMode() == forms::ScaleMode::Twip ? forms::TwipsPerPixel : 1.0F;
                painter.save();
                painter.setRenderHint(QPainter::Antialiasing);
                painter.setPen(QPen(palette().color(QPalette::WindowText), 1));
                painter.setBrush(Qt::NoBrush);
                const QRectF r = QRectF(pixelRect(shape.rect())).adjusted(0.5, 0.5, -0.5, -0.5);
                painter.drawRoundedRect(r, shape.cornerRadius() / scale, shape.cornerRadius() / scale);
                painter.restore();
                break;
            }
            default:
                break;
        }
    }
    // The selector with the keyboard focus is ringed in green (the window's
    // height cuts the ring off with the panel when the panel is folded away).
    for (const auto& [element, widget] : scrollBars_)
        if (widget->hasFocus())
            for (const QRect& part : QRegion(focusRing(widget)) - QRegion(widget->geometry()))
                painter.fillRect(part, PureGreen);
}

QRect FormView::focusRing(const QWidget* bar) { return bar->geometry().adjusted(-1, -1, 1, 1); }

void FormView::paintLabel(QPainter& painter, const forms::Label& label) {
    const QRect r = pixelRect(label.rect());
    int flags = Qt::AlignTop | Qt::TextWordWrap;
    switch (label.alignment()) {
        case forms::Alignment::Left:
            flags |= Qt::AlignLeft;
            break;
        case forms::Alignment::Right:
            flags |= Qt::AlignRight;
            break;
        case forms::Alignment::Center:
            flags |= Qt::AlignHCenter;
            break;
    }
    painter.save();
    painter.setClipRect(r);
    QFont font = skin_.font(label.font());
    QString caption = QString::fromStdString(label.Caption());
    if (label.singleLine()) {
        // A one-line label is not cut at its edge without a sign: the face
        // steps down until the caption fits, but not below a readable size;
        // a caption still too long there ends in "…". Only the drawing is
        // cut: the caption (and what screen readers read) stays whole.
        const int readable = skin_.font({label.font().face, ReadablePoints}).pixelSize();
        while (font.pixelSize() > readable && QFontMetrics(font).horizontalAdvance(caption) > r.width())
            font.setPixelSize(font.pixelSize() - 1);
        caption = QFontMetrics(font).elidedText(caption, Qt::ElideRight, r.width());
    }
    painter.setFont(font);
    painter.setPen(PureGreen);
    painter.drawText(r, flags, caption);
    painter.restore();
}

forms::MouseArgs FormView::mouseArgs(const QMouseEvent* event, Qt::MouseButtons buttons) const {
    forms::MouseArgs args;
    args.button = buttonBits(buttons);
    args.shift = shiftBits(event->modifiers());
    args.x = form_.fromPixels(static_cast<float>(event->position().x()));
    args.y = form_.fromPixels(static_cast<float>(event->position().y()));
    return args;
}

void FormView::mousePressEvent(QMouseEvent* event) { form_.pointerDown(mouseArgs(event, event->button())); }

void FormView::mouseMoveEvent(QMouseEvent* event) {
    // A press whose release never reached this window (it was hidden under
    // the button) must not hold the pointer any longer.
    if (event->buttons() == Qt::NoButton && form_.capturing()) form_.cancelCapture();
    form_.pointerMove(mouseArgs(event, event->buttons()));
}

void FormView::mouseReleaseEvent(QMouseEvent* event) { form_.pointerUp(mouseArgs(event, event->button())); }

void FormView::moveEvent(QMoveEvent* event) {
    // Placed by the desktop rather than by a handler: the form's position
    // follows. During a press the form's own moves are the newer ones.
    if (!form_.capturing()) form_.notePlacedAt(event->pos().x(), event->pos().y());
}

void FormView::closeEvent(QCloseEvent* event) {
    // The windows end only with the program.
    event->ignore();
}

}  // namespace tovrel::platform
