// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include <QAccessibleWidget>
#include <QPointer>
#include <QScrollBar>
#include <vector>

#include "forms/form.h"

namespace tovrel::platform {

class FormView;

// Makes Qt give every FormView the accessible interface below. Safe to call
// more than once.
void installFormAccessibility();

// A painted element as screen readers see it: a child of its window's
// interface, with no QObject of its own. Reading only: it has no actions,
// and writing its texts changes nothing.
class PaintedAccessible : public QAccessibleInterface {
public:
    PaintedAccessible(FormView& view, QAccessible::Role role);

    bool isValid() const override;
    QObject* object() const override { return nullptr; }
    QWindow* window() const override;
    QAccessibleInterface* childAt(int /*x*/, int /*y*/) const override { return nullptr; }
    QAccessibleInterface* parent() const override;
    QAccessibleInterface* child(int /*index*/) const override { return nullptr; }
    int childCount() const override { return 0; }
    int indexOfChild(const QAccessibleInterface* /*child*/) const override { return -1; }
    void setText(QAccessible::Text /*t*/, const QString& /*text*/) override {}
    QRect rect() const override;
    QAccessible::Role role() const override { return role_; }
    QAccessible::State state() const override;

    // Tells screen readers what changed in name and state since the last
    // report (or since it was made).
    void reportChanges();
    // Starts from what it shows now, reporting nothing.
    void remember();

protected:
    // Where it is, in the form's own units.
    [[nodiscard]] virtual forms::Rect formRect() const = 0;
    [[nodiscard]] virtual bool shownByForm() const = 0;
    [[nodiscard]] virtual bool enabledByForm() const = 0;
    [[nodiscard]] FormView* view() const { return view_.data(); }

private:
    QPointer<FormView> view_;
    QAccessible::Role role_;
    QAccessible::State reported_;
    QString reportedName_;
};

// A label: static text named by its caption, described by its purpose.
class LabelAccessible : public PaintedAccessible {
public:
    LabelAccessible(FormView& view, const forms::Label& label);
    QString text(QAccessible::Text t) const override;
    [[nodiscard]] const forms::Label& label() const { return label_; }

protected:
    forms::Rect formRect() const override { return label_.rect(); }
    bool shownByForm() const override;
    bool enabledByForm() const override;

private:
    const forms::Label& label_;
};

// An image button: a push button named by its word, at its images' place,
// enabled and shown as its images are.
class ButtonAccessible : public PaintedAccessible {
public:
    ButtonAccessible(FormView& view, const forms::ImageButton& button);
    QString text(QAccessible::Text t) const override;
    [[nodiscard]] const forms::ImageButton& button() const { return button_; }

protected:
    forms::Rect formRect() const override { return button_.rect(); }
    bool shownByForm() const override { return button_.visible(); }
    bool enabledByForm() const override { return button_.enabled(); }

private:
    const forms::ImageButton& button_;
};

// A form's window: named by its caption, with its scroll bars, labels and
// image buttons as children in the window's creation order (a button where
// its first image was created).
class FormAccessible : public QAccessibleWidget {
public:
    explicit FormAccessible(FormView* view);
    ~FormAccessible() override;
    FormAccessible(const FormAccessible&) = delete;
    FormAccessible& operator=(const FormAccessible&) = delete;

    int childCount() const override;
    QAccessibleInterface* child(int index) const override;
    int indexOfChild(const QAccessibleInterface* child) const override;
    QAccessibleInterface* childAt(int x, int y) const override;

    // From the view: a label's caption, an image's flags, the window's size
    // or visibility changed; the form has gone; the view is going.
    void elementChanged(const forms::Element& element);
    void layoutChanged();
    void formGone();
    void viewGone();

private:
    struct Entry {
        QPointer<QScrollBar> bar;
        QAccessible::Id painted = 0;
    };
    const std::vector<Entry>& entries() const;
    PaintedAccessible* painted(const Entry& entry) const;
    void dropPainted();
    // Button states settle after a handler's run of writes (a hover swaps
    // two images): they are reported from the event loop.
    void reportSoon();
    void reportAll();

    QPointer<FormView> view_;
    mutable std::vector<Entry> entries_;
    mutable bool built_ = false;
    bool reportPending_ = false;
};

}  // namespace tovrel::platform
