// SPDX-License-Identifier: GPL-3.0-or-later

#include "forms/form.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>

namespace tovrel::forms {

float pixelsToTwips(float pixels) { return pixels * TwipsPerPixel; }

bool Rect::contains(float x, float y) const { return x >= left && y >= top && x < left + width && y < top + height; }

// ---------------------------------------------------------------- elements

Element::Element(Form& form, std::string name, ElementKind kind, Rect rect)
    : form_(form), name_(std::move(name)), kind_(kind), rect_(rect) {}

void Element::setVisible(Flag value) {
    const Flag v = toFlag(value != False);
    if (v == visible_) return;
    visible_ = v;
    changed();
}

void Element::setEnabled(Flag value) {
    const Flag v = toFlag(value != False);
    if (v == enabled_) return;
    enabled_ = v;
    changed();
}

bool Element::takesPointer() const {
    return kind_ == ElementKind::Image || kind_ == ElementKind::Label || kind_ == ElementKind::ScrollBar;
}

void Element::changed() { form_.notifyElement(*this); }

Control::Control(Form& form, std::string name, Rect rect) : Element(form, std::move(name), ElementKind::Control, rect) {
    setVisible(False);
}

Timer::Timer(Form& form, std::string name, int intervalMs)
    : Element(form, std::move(name), ElementKind::Timer, {}), interval_(intervalMs) {
    setVisible(False);
}

Image::Image(Form& form, std::string name, Rect rect, Flag visible)
    : Element(form, std::move(name), ElementKind::Image, rect) {
    setVisible(visible);
}

Label::Label(Form& form, std::string name, Rect rect, std::string caption, Alignment alignment, Font font,
             bool singleLine)
    : Element(form, std::move(name), ElementKind::Label, rect),
      caption_(std::move(caption)),
      alignment_(alignment),
      font_(font),
      singleLine_(singleLine) {}

void Label::setCaption(std::string_view caption) {
    if (caption == caption_) return;
    caption_ = caption;
    changed();
}

ScrollBar::ScrollBar(Form& form, std::string name, Rect rect, Range range, int tabIndex)
    : Element(form, std::move(name), ElementKind::ScrollBar, rect),
      range_(range),
      value_(range.value),
      tabIndex_(tabIndex) {
    if (range.min > range.max || range.value < range.min || range.value > range.max)
        throw std::invalid_argument("scroll bar " + this->name() + ": value outside its range");
}

void ScrollBar::setValue(int value) {
    if (value < range_.min || value > range_.max)
        throw std::out_of_range("Invalid property value: " + name() + ".Value = " + std::to_string(value) + " (range " +
                                std::to_string(range_.min) + " to " + std::to_string(range_.max) + ")");
    const auto v = static_cast<std::int16_t>(value);
    if (v == value_) return;
    value_ = v;
    changed();
    if (Change) Change();
}

Line::Line(Form& form, std::string name, float x1, float y1, float x2, float y2)
    : Element(form, std::move(name), ElementKind::Line,
              Rect{std::fmin(x1, x2), std::fmin(y1, y2), std::fabs(x2 - x1), std::fabs(y2 - y1)}),
      x1_(x1),
      y1_(y1),
      x2_(x2),
      y2_(y2) {}

void Line::set(float& field, float v) {
    if (!std::isfinite(v)) throw std::domain_error("Invalid property value: " + name() + " end is not a number");
    if (field == v) return;
    field = v;
    changed();
}

void Line::setX1(float v) { set(x1_, v); }
void Line::setY1(float v) { set(y1_, v); }
void Line::setX2(float v) { set(x2_, v); }
void Line::setY2(float v) { set(y2_, v); }

Shape::Shape(Form& form, std::string name, Rect rect, float cornerRadius)
    : Element(form, std::move(name), ElementKind::Shape, rect), radius_(cornerRadius) {}

// ----------------------------------------------------------------- buttons

ImageButton::ImageButton(std::string word, std::vector<const Image*> images)
    : word_(std::move(word)), images_(std::move(images)) {
    if (images_.empty()) throw std::logic_error("button " + word_ + " has no image");
}

bool ImageButton::has(const Element& element) const {
    return std::find(images_.begin(), images_.end(), &element) != images_.end();
}

bool ImageButton::visible() const {
    return std::any_of(images_.begin(), images_.end(), [](const Image* i) { return i->Visible() != False; });
}

bool ImageButton::enabled() const {
    if (!visible()) return images_.front()->Enabled() != False;
    return std::any_of(images_.begin(), images_.end(),
                       [](const Image* i) { return i->Visible() != False && i->Enabled() != False; });
}

Rect ImageButton::rect() const {
    float left = images_.front()->rect().left;
    float top = images_.front()->rect().top;
    float right = left + images_.front()->rect().width;
    float bottom = top + images_.front()->rect().height;
    for (const Image* i : images_) {
        const Rect& r = i->rect();
        left = std::min(left, r.left);
        top = std::min(top, r.top);
        right = std::max(right, r.left + r.width);
        bottom = std::max(bottom, r.top + r.height);
    }
    return {left, top, right - left, bottom - top};
}

// -------------------------------------------------------------------- form

Form::Form(FormDesign design)
    : design_(std::move(design)),
      left_(design_.leftTwips),
      top_(design_.topTwips),
      height_(design_.clientHeightTwips) {}

Form::~Form() {
    if (observer_ != nullptr) observer_->formDestroyed();
}

float Form::fromPixels(float pixels) const { return design_.scale == ScaleMode::Twip ? pixelsToTwips(pixels) : pixels; }

Element* Form::find(std::string_view name) const {
    for (const auto& e : elements_)
        if (e->name() == name) return e.get();
    return nullptr;
}

const ImageButton* Form::buttonOf(const Element& element) const {
    for (const ImageButton& button : buttons_)
        if (button.has(element)) return &button;
    return nullptr;
}

void Form::addButton(std::string word, std::vector<const Image*> images) {
    for (const Image* image : images) {
        if (find(image->name()) != image)
            throw std::logic_error("button " + word + ": " + image->name() + " is not in this window");
        if (const ImageButton* other = buttonOf(*image))
            throw std::logic_error("button " + word + ": " + image->name() + " belongs to " + other->word());
    }
    buttons_.emplace_back(std::move(word), std::move(images));
}

void Form::adopt(std::unique_ptr<Element> element) {
    if (find(element->name()) != nullptr) throw std::logic_error("duplicate element " + element->name());
    element->index_ = static_cast<int>(elements_.size()) + 1;
    elements_.push_back(std::move(element));
}

namespace {
float checkedTwips(float v, const char* what) {
    if (!std::isfinite(v)) throw std::overflow_error(std::string("Overflow: window ") + what + " is not a number");
    return v;
}
}  // namespace

void Form::setLeft(float twips) { Move(twips, top_); }
void Form::setTop(float twips) { Move(left_, twips); }

void Form::setHeight(float twips) {
    checkedTwips(twips, "height");
    if (twips < 0) throw std::out_of_range("Invalid property value: negative window height");
    if (twips == height_) return;
    height_ = twips;
    notifyGeometry();
}

void Form::Move(float left, float top) {
    checkedTwips(left, "left");
    checkedTwips(top, "top");
    if (left == left_ && top == top_) return;
    left_ = left;
    top_ = top;
    notifyGeometry();
}

void Form::notePlacedAt(int leftPixels, int topPixels) {
    if (twipsToPixels(left_) != leftPixels) left_ = pixelsToTwips(static_cast<float>(leftPixels));
    if (twipsToPixels(top_) != topPixels) top_ = pixelsToTwips(static_cast<float>(topPixels));
}

void Form::Show() {
    if (shown_) return;
    shown_ = true;
    if (observer_ != nullptr) observer_->visibilityChanged();
}

void Form::Hide() {
    if (!shown_) return;
    shown_ = false;
    cancelCapture();
    if (observer_ != nullptr) observer_->visibilityChanged();
}

void Form::SetFocus() {
    if (observer_ != nullptr) observer_->focusRequested();
}

void Form::Minimize() {
    cancelCapture();
    if (observer_ != nullptr) observer_->minimizeRequested();
}

void Form::notifyElement(const Element& element) {
    if (observer_ != nullptr) observer_->elementChanged(element);
}

void Form::notifyGeometry() {
    if (observer_ != nullptr) observer_->geometryChanged();
}

Element* Form::hitTest(float x, float y) const {
    for (auto it = elements_.rbegin(); it != elements_.rend(); ++it) {
        Element& e = **it;
        if (e.takesPointer() && e.Visible() != False && e.Enabled() != False && e.rect().contains(x, y)) return &e;
    }
    return nullptr;
}

void Form::deliver(Element* target, const MouseHandler Element::*slot, const MouseHandler& background,
                   const MouseArgs& args) {
    const MouseHandler& handler = target != nullptr ? target->*slot : background;
    if (handler) handler(args);
}

void Form::pointerDown(const MouseArgs& args) {
    if (heldButtons_ == 0) captured_ = hitTest(args.x, args.y);
    heldButtons_ = static_cast<std::int16_t>(heldButtons_ | args.button);
    // A press with a button already held goes to the element that took the
    // first press, as do its moves and releases.
    deliver(captured_, &Element::MouseDown, Form_MouseDown, args);
}

void Form::pointerMove(const MouseArgs& args) {
    Element* target = heldButtons_ != 0 ? captured_ : hitTest(args.x, args.y);
    deliver(target, &Element::MouseMove, Form_MouseMove, args);
}

void Form::pointerUp(const MouseArgs& args) {
    Element* target = heldButtons_ != 0 ? captured_ : hitTest(args.x, args.y);
    heldButtons_ = static_cast<std::int16_t>(heldButtons_ & ~args.button);
    if (heldButtons_ == 0) captured_ = nullptr;
    deliver(target, &Element::MouseUp, Form_MouseUp, args);
}

void Form::cancelCapture() {
    heldButtons_ = 0;
    captured_ = nullptr;
}

}  // namespace tovrel::forms
