// SPDX-License-Identifier: GPL-3.0-or-later

#include "platform/form_accessible.h"

#include <QMetaObject>
#include <algorithm>

#include "platform/form_view.h"

namespace tovrel::platform {

namespace {

QAccessibleInterface* formViewFactory(const QString& className, QObject* object) {
    if (className != QLatin1String(FormView::staticMetaObject.className())) return nullptr;
    auto* view = qobject_cast<FormView*>(object);
    return view != nullptr ? new FormAccessible(view) : nullptr;
}

QString fromModel(const std::string& text) { return QString::fromStdString(text); }

}  // namespace

void installFormAccessibility() {
    static const bool installed = [] {
        QAccessible::installFactory(formViewFactory);
        return true;
    }();
    (void)installed;
}

// ------------------------------------------------------------ painted

PaintedAccessible::PaintedAccessible(FormView& view, QAccessible::Role role) : view_(&view), role_(role) {}

bool PaintedAccessible::isValid() const { return view_ != nullptr && view_->form() != nullptr; }

QWindow* PaintedAccessible::window() const { return view_ != nullptr ? view_->windowHandle() : nullptr; }

QAccessibleInterface* PaintedAccessible::parent() const {
    return view_ != nullptr ? QAccessible::queryAccessibleInterface(view_.data()) : nullptr;
}

QRect PaintedAccessible::rect() const {
    if (!isValid()) return {};
    return view_->pixelRect(formRect()).translated(view_->mapToGlobal(QPoint(0, 0)));
}

QAccessible::State PaintedAccessible::state() const {
    QAccessible::State s;
    if (!isValid()) {
        s.invisible = true;
        return s;
    }
    if (!shownByForm() || !view_->isVisible()) s.invisible = true;
    // Below the window's bottom edge: the settings panel is folded away.
    if (!view_->rect().intersects(view_->pixelRect(formRect()))) s.offscreen = true;
    if (!enabledByForm()) s.disabled = true;
    return s;
}

void PaintedAccessible::remember() {
    reported_ = state();
    reportedName_ = text(QAccessible::Name);
}

void PaintedAccessible::reportChanges() {
    if (!isValid()) return;
    const QString name = text(QAccessible::Name);
    if (name != reportedName_) {
        reportedName_ = name;
        QAccessibleEvent event(this, QAccessible::NameChanged);
        QAccessible::updateAccessibility(&event);
    }
    const QAccessible::State now = state();
    QAccessible::State changed;
    changed.disabled = now.disabled != reported_.disabled;
    changed.invisible = now.invisible != reported_.invisible;
    changed.offscreen = now.offscreen != reported_.offscreen;
    const bool wasShowing = !reported_.invisible && !reported_.offscreen;
    reported_ = now;
    if (!changed.disabled && !changed.invisible && !changed.offscreen) return;
    QAccessibleStateChangeEvent stateEvent(this, changed);
    QAccessible::updateAccessibility(&stateEvent);
    // Screen readers hear of showing and hiding through these.
    const bool showing = !now.invisible && !now.offscreen;
    if (showing != wasShowing) {
        QAccessibleEvent shown(this, showing ? QAccessible::ObjectShow : QAccessible::ObjectHide);
        QAccessible::updateAccessibility(&shown);
    }
}

LabelAccessible::LabelAccessible(FormView& view, const forms::Label& label)
    : PaintedAccessible(view, QAccessible::StaticText), label_(label) {}

QString LabelAccessible::text(QAccessible::Text t) const {
    if (!isValid()) return {};
    switch (t) {
        case QAccessible::Name:
            return fromModel(label_.Caption());
        case QAccessible::Description:
            return fromModel(label_.purpose());
        default:
            return {};
    }
}

bool LabelAccessible::shownByForm() const { return label_.Visible() != forms::False; }
bool LabelAccessible::enabledByForm() const { return label_.Enabled() != forms::False; }

ButtonAccessible::ButtonAccessible(FormView& view, const forms::ImageButton& button)
    : PaintedAccessible(view, QAccessible::Button), button_(button) {}

QString ButtonAccessible::text(QAccessible::Text t) const {
    if (!isValid() || t != QAccessible::Name) return {};
    return fromModel(button_.word());
}

// ------------------------------------------------------------- window

FormAccessible::FormAccessible(FormView* view) : QAccessibleWidget(view, QAccessible::Window), view_(view) {
    view->setAccessible(this);
}

FormAccessible::~FormAccessible() {
    // The cache deletes this interface after its view, or with itself at the
    // application's end.
    if (view_ != nullptr) view_->setAccessible(nullptr);
    dropPainted();
}

void FormAccessible::dropPainted() {
    for (const Entry& entry : entries_)
        if (entry.painted != 0) QAccessible::deleteAccessibleInterface(entry.painted);
    entries_.clear();
}

const std::vector<FormAccessible::Entry>& FormAccessible::entries() const {
    if (built_ || view_ == nullptr || view_->form() == nullptr) return entries_;
    built_ = true;
    const forms::Form& form = *view_->form();
    std::vector<const forms::ImageButton*> placed;
    for (const auto& element : form.elements()) {
        QAccessibleInterface* made = nullptr;
        switch (element->kind()) {
            case forms::ElementKind::ScrollBar:
                if (QScrollBar* bar = view_->scrollBar(element->name())) entries_.push_back({bar, 0});
                break;
            case forms::ElementKind::Label: {
                auto* label = new LabelAccessible(*view_, static_cast<const forms::Label&>(*element));
                label->remember();
                made = label;
                break;
            }
            case forms::ElementKind::Image: {
                const forms::ImageButton* button = form.buttonOf(*element);
                if (button == nullptr || std::find(placed.begin(), placed.end(), button) != placed.end()) break;
                placed.push_back(button);
                auto* face = new ButtonAccessible(*view_, *button);
                face->remember();
                made = face;
                break;
            }
            default:
                break;
        }
        if (made != nullptr) entries_.push_back({nullptr, QAccessible::registerAccessibleInterface(made)});
    }
    return entries_;
}

PaintedAccessible* FormAccessible::painted(const Entry& entry) const {
    if (entry.painted == 0) return nullptr;
    return static_cast<PaintedAccessible*>(QAccessible::accessibleInterface(entry.painted));
}

int FormAccessible::childCount() const { return static_cast<int>(entries().size()); }

QAccessibleInterface* FormAccessible::child(int index) const {
    const auto& list = entries();
    if (index < 0 || index >= static_cast<int>(list.size())) return nullptr;
    const Entry& entry = list[static_cast<std::size_t>(index)];
    if (entry.painted != 0) return QAccessible::accessibleInterface(entry.painted);
    return entry.bar != nullptr ? QAccessible::queryAccessibleInterface(entry.bar.data()) : nullptr;
}

int FormAccessible::indexOfChild(const QAccessibleInterface* wanted) const {
    if (wanted == nullptr) return -1;
    const int count = childCount();
    for (int i = 0; i < count; ++i)
        if (child(i) == wanted) return i;
    return -1;
}

QAccessibleInterface* FormAccessible::childAt(int x, int y) const {
    // The last-created element on top, as the pointer finds it.
    for (int i = childCount() - 1; i >= 0; --i) {
        QAccessibleInterface* c = child(i);
        if (c == nullptr) continue;
        const QAccessible::State s = c->state();
        if (!s.invisible && !s.offscreen && c->rect().contains(x, y)) return c;
    }
    return nullptr;
}

void FormAccessible::elementChanged(const forms::Element& element) {
    if (!built_) return;  // nobody has asked for the children yet
    if (element.kind() == forms::ElementKind::Label) {
        for (const Entry& entry : entries_)
            if (auto* label = dynamic_cast<LabelAccessible*>(painted(entry)); label && &label->label() == &element)
                label->reportChanges();
    } else if (element.kind() == forms::ElementKind::Image) {
        reportSoon();
    }
}

void FormAccessible::layoutChanged() {
    if (built_) reportSoon();
}

void FormAccessible::formGone() {
    dropPainted();
    built_ = true;  // nothing to show any more
}

void FormAccessible::viewGone() {
    dropPainted();
    built_ = true;
    view_ = nullptr;
}

void FormAccessible::reportSoon() {
    if (reportPending_ || view_ == nullptr) return;
    reportPending_ = true;
    QMetaObject::invokeMethod(
        view_.data(),
        [view = view_.data()] {
            if (FormAccessible* self = view->accessible()) self->reportAll();
        },
        Qt::QueuedConnection);
}

void FormAccessible::reportAll() {
    reportPending_ = false;
    for (const Entry& entry : entries_)
        if (PaintedAccessible* p = painted(entry)) p->reportChanges();
}

}  // namespace tovrel::platform
