// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "forms/flag.h"

namespace tovrel::forms {

inline constexpr float TwipsPerPixel = 15.0F;

// Twips are stored as written; on screen they round to the nearest whole
// pixel, halves away from zero. The one rounding of twips: the windows, the
// picture program and the layout the tests read all use it.
constexpr int twipsToPixels(float twips) {
    const float pixels = twips / TwipsPerPixel;
    const int whole = static_cast<int>(pixels);  // toward zero
    const float rest = pixels - static_cast<float>(whole);
    return rest >= 0.5F ? whole + 1 : (rest <= -0.5F ? whole - 1 : whole);
}
float pixelsToTwips(float pixels);

enum class ElementKind { Control, Timer, Image, Label, ScrollBar, Line, Shape };

// Left, top, width, height in the window's own coordinate unit.
struct Rect {
    float left = 0;
    float top = 0;
    float width = 0;
    float height = 0;
    [[nodiscard]] bool contains(float x, float y) const;
};

using MouseHandler = std::function<void(const MouseArgs&)>;

class Form;

class Element {
public:
    Element(Form& form, std::string name, ElementKind kind, Rect rect);
    virtual ~Element() = default;
    Element(const Element&) = delete;
    Element& operator=(const Element&) = delete;

    [[nodiscard]] const std::string& name() const { return name_; }
    [[nodiscard]] ElementKind kind() const { return kind_; }
    // 1-based position in the window's creation order.
    [[nodiscard]] int index() const { return index_; }
    [[nodiscard]] const Rect& rect() const { return rect_; }

    [[nodiscard]] Flag Visible() const { return visible_; }
    void setVisible(Flag value);
    [[nodiscard]] Flag Enabled() const { return enabled_; }
    void setEnabled(Flag value);

    // What the element is for, in a few words ("Alarm time"), for screen
    // readers; empty when its caption says it all.
    [[nodiscard]] const std::string& purpose() const { return purpose_; }
    void setPurpose(std::string purpose) { purpose_ = std::move(purpose); }

    // Images, labels and scroll bars take the pointer; lines, outlines and
    // the non-visual controls are transparent to it.
    [[nodiscard]] bool takesPointer() const;

    MouseHandler MouseDown;
    MouseHandler MouseMove;
    MouseHandler MouseUp;

protected:
    void changed();

private:
    friend class Form;
    Form& form_;
    std::string name_;
    ElementKind kind_;
    Rect rect_;
    int index_ = 0;
    Flag visible_ = True;
    Flag enabled_ = True;
    std::string purpose_;
};

// A hosted control or other element that is never drawn (dialog, tray icon,
// shaper, player); it holds its place in the creation order.
class Control : public Element {
public:
    Control(Form& form, std::string name, Rect rect = {});
};

class Timer : public Element {
public:
    Timer(Form& form, std::string name, int intervalMs);
    [[nodiscard]] int Interval() const { return interval_; }
    std::function<void()> Tick;

private:
    int interval_;
};

// A picture element; its picture is the skin file named after the element.
class Image : public Element {
public:
    Image(Form& form, std::string name, Rect rect, Flag visible);
};

enum class Alignment { Left, Right, Center };
enum class Face { Display, Dialog };

struct Font {
    Face face = Face::Dialog;
    float points = 8.25F;
    int weight = 700;
};

class Label : public Element {
public:
    Label(Form& form, std::string name, Rect rect, std::string caption, Alignment alignment, Font font,
          bool singleLine = true);

    [[nodiscard]] const std::string& Caption() const { return caption_; }
    // Writing the caption it already has changes nothing and costs nothing.
    void setCaption(std::string_view caption);
    [[nodiscard]] Alignment alignment() const { return alignment_; }
    [[nodiscard]] const Font& font() const { return font_; }
    [[nodiscard]] bool singleLine() const { return singleLine_; }

private:
    std::string caption_;
    Alignment alignment_;
    Font font_;
    bool singleLine_;
};

class ScrollBar : public Element {
public:
    struct Range {
        std::int16_t min;
        std::int16_t max;
        std::int16_t value;
        std::int16_t smallChange;
        std::int16_t largeChange;
    };
    ScrollBar(Form& form, std::string name, Rect rect, Range range, int tabIndex);

    [[nodiscard]] std::int16_t Value() const { return value_; }
    // A write of a new value runs Change before it returns; a write of the
    // same value runs nothing. A value outside Min..Max is refused.
    void setValue(int value);
    [[nodiscard]] std::int16_t Min() const { return range_.min; }
    [[nodiscard]] std::int16_t Max() const { return range_.max; }
    [[nodiscard]] std::int16_t SmallChange() const { return range_.smallChange; }
    [[nodiscard]] std::int16_t LargeChange() const { return range_.largeChange; }
    [[nodiscard]] int TabIndex() const { return tabIndex_; }

    std::function<void()> Change;

private:
    Range range_;
    std::int16_t value_;
    int tabIndex_;
};

class Line : public Element {
public:
    Line(Form& form, std::string name, float x1, float y1, float x2, float y2);

    [[nodiscard]] float X1() const { return x1_; }
    [[nodiscard]] float Y1() const { return y1_; }
    [[nodiscard]] float X2() const { return x2_; }
    [[nodiscard]] float Y2() const { return y2_; }
    void setX1(float v);
    void setY1(float v);
    void setX2(float v);
    void setY2(float v);

private:
    void set(float& field, float v);
    float x1_, y1_, x2_, y2_;
};

// A rounded rectangle: drawn as a 1-pixel outline and used for the window's
// outline.
class Shape : public Element {
public:
    Shape(Form& form, std::string name, Rect rect, float cornerRadius);
    [[nodiscard]] float cornerRadius() const { return radius_; }

private:
    float radius_;
};

// A button as its user knows it: one word, drawn by several images on one
// rectangle (normal, hover and pressed pictures; the alarm button has those
// of both its faces). Which image shows is the button's whole state.
class ImageButton {
public:
    ImageButton(std::string word, std::vector<const Image*> images);

    [[nodiscard]] const std::string& word() const { return word_; }
    [[nodiscard]] const std::vector<const Image*>& images() const { return images_; }
    [[nodiscard]] bool has(const Element& element) const;
    // On screen while any of its images is.
    [[nodiscard]] bool visible() const;
    // The pointer can work it: an image it shows takes the pointer, or, with
    // none shown, its first (normal) image would.
    [[nodiscard]] bool enabled() const;
    // The smallest rectangle holding all its images.
    [[nodiscard]] Rect rect() const;

private:
    std::string word_;
    std::vector<const Image*> images_;
};

// What a view of the form needs to hear about.
class FormObserver {
public:
    virtual ~FormObserver() = default;
    virtual void elementChanged(const Element& element) = 0;
    virtual void geometryChanged() = 0;
    virtual void visibilityChanged() = 0;
    virtual void focusRequested() = 0;
    virtual void minimizeRequested() = 0;
    // The form is going away; the observer must not touch it any more.
    virtual void formDestroyed() {}
};

enum class ScaleMode { Pixel, Twip };

struct FormDesign {
    std::string name;
    std::string caption;
    ScaleMode scale = ScaleMode::Pixel;
    float clientWidthTwips = 0;
    float clientHeightTwips = 0;
    float leftTwips = 0;
    float topTwips = 0;
};

// A window of the program: its elements in creation order, its own position
// and height in twips, and the routing of pointer events to elements with
// capture.
class Form {
public:
    explicit Form(FormDesign design);
    virtual ~Form();
    Form(const Form&) = delete;
    Form& operator=(const Form&) = delete;

    [[nodiscard]] const std::string& name() const { return design_.name; }
    [[nodiscard]] const std::string& Caption() const { return design_.caption; }
    [[nodiscard]] ScaleMode scaleMode() const { return design_.scale; }
    // Converts a length in pixels to the form's own coordinate unit.
    [[nodiscard]] float fromPixels(float pixels) const;

    [[nodiscard]] const std::vector<std::unique_ptr<Element>>& elements() const { return elements_; }
    [[nodiscard]] Element* find(std::string_view name) const;
    // The window's image buttons, in the order they were declared.
    [[nodiscard]] const std::vector<ImageButton>& buttons() const { return buttons_; }
    // The button an image belongs to, or nullptr.
    [[nodiscard]] const ImageButton* buttonOf(const Element& element) const;

    // Window geometry, twips.
    [[nodiscard]] float Left() const { return left_; }
    [[nodiscard]] float Top() const { return top_; }
    [[nodiscard]] float Width() const { return design_.clientWidthTwips; }
    [[nodiscard]] float Height() const { return height_; }
    void setLeft(float twips);
    void setTop(float twips);
    void setHeight(float twips);
    // Moves the window in one call; width and height stay.
    void Move(float left, float top);
    // The window system placed the window itself (the user's desktop, not a
    // handler): the stored position follows unless it already rounds there.
    void notePlacedAt(int leftPixels, int topPixels);

    [[nodiscard]] bool isShown() const { return shown_; }
    void Show();
    void Hide();
    void SetFocus();
    // Minimises the window to the task bar; it stays shown.
    void Minimize();

    // Pointer events from the platform, in the form's own units.
    void pointerDown(const MouseArgs& args);
    void pointerMove(const MouseArgs& args);
    void pointerUp(const MouseArgs& args);
    // The platform lost the pointer (the window was hidden under a held
    // button, another window grabbed it): forget the press.
    void cancelCapture();
    // The element the pointer would reach at x, y; nullptr is the background.
    [[nodiscard]] Element* hitTest(float x, float y) const;
    [[nodiscard]] bool capturing() const { return heldButtons_ != 0; }

    MouseHandler Form_MouseDown;
    MouseHandler Form_MouseMove;
    MouseHandler Form_MouseUp;

    void setObserver(FormObserver* observer) { observer_ = observer; }

protected:
    template <class T, class... Args>
    T& add(Args&&... args) {
        auto element = std::make_unique<T>(*this, std::forward<Args>(args)...);
        T& ref = *element;
        adopt(std::move(element));
        return ref;
    }
    // Declares a button drawn by images of this window; an image belongs to
    // one button at most.
    void addButton(std::string word, std::vector<const Image*> images);

private:
    friend class Element;
    void adopt(std::unique_ptr<Element> element);
    void notifyElement(const Element& element);
    void notifyGeometry();
    static void deliver(Element* target, const MouseHandler Element::*slot, const MouseHandler& background,
                        const MouseArgs& args);

    FormDesign design_;
    std::vector<std::unique_ptr<Element>> elements_;
    std::vector<ImageButton> buttons_;
    float left_;
    float top_;
    float height_;
    bool shown_ = false;
    std::int16_t heldButtons_ = 0;
    Element* captured_ = nullptr;  // nullptr with buttons held: the background
    FormObserver* observer_ = nullptr;
};

}  // namespace tovrel::forms
