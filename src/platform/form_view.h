// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include <QIcon>
#include <QScrollBar>
#include <QTimer>
#include <QWidget>
#include <map>
#include <string>
#include <vector>

#include "forms/form.h"
#include "platform/skin_library.h"

namespace tovrel::platform {

class FormAccessible;

// One frameless window showing one form: it paints the skin and the
// elements in creation order, hosts real scroll bars for the scroll-bar
// elements, feeds the pointer to the form and follows the form's window
// state (position, height, shown, focus).
class FormView : public QWidget, public forms::FormObserver {
    Q_OBJECT
public:
    FormView(forms::Form& form, SkinLibrary& skin, const QIcon& icon);
    ~FormView() override;

    [[nodiscard]] QScrollBar* scrollBar(const std::string& name) const;
    // An element's rectangle in the window's pixels.
    [[nodiscard]] QRect pixelRect(const forms::Rect& rect) const;
    // The window's outline at a device-pixel ratio, in device pixels: every
    // pixel whose centre lies inside one of its rounded rectangles.
    [[nodiscard]] QRegion outline(qreal ratio = 1.0) const;
    // Cuts the window to its outline, at the screen's own resolution.
    void applyOutline();
    // The program is ending: no more ticks or pointer events reach the form.
    void shutDown();
    // The form shown; nullptr once it has gone.
    [[nodiscard]] const forms::Form* form() const { return formAlive_ ? &form_ : nullptr; }
    // What screen readers see of the window, while it exists (it registers
    // itself here and hears of the form's changes).
    [[nodiscard]] FormAccessible* accessible() const { return accessible_; }
    void setAccessible(FormAccessible* accessible) { accessible_ = accessible; }

    // forms::FormObserver
    void elementChanged(const forms::Element& element) override;
    void geometryChanged() override;
    void visibilityChanged() override;
    void focusRequested() override;
    void minimizeRequested() override;
    void formDestroyed() override;

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void moveEvent(QMoveEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    bool event(QEvent* event) override;

private:
    forms::MouseArgs mouseArgs(const QMouseEvent* event, Qt::MouseButtons buttons) const;
    void paintLabel(QPainter& painter, const forms::Label& label);
    // The one-pixel frame around a selector that shows it has the keyboard focus.
    static QRect focusRing(const QWidget* bar);
    void applyGeometry();
    void takeInputFocus();

    forms::Form& form_;
    bool formAlive_ = true;
    bool focusWhenExposed_ = false;
    bool shaped_ = false;
    bool watchingScreen_ = false;
    qreal nativeRatio_ = 1.0;  // the ratio of the shape last set on X11 directly
    SkinLibrary& skin_;
    std::map<const forms::Element*, QScrollBar*> scrollBars_;
    std::vector<QTimer*> timers_;
    FormAccessible* accessible_ = nullptr;
};

}  // namespace tovrel::platform
