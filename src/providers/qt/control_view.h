// One control of a window model on the screen: its widget and what the widget last showed of
// the model, so that a sync copies only what changed.
#pragma once

#include <QEvent>
#include <QFocusEvent>
#include <QObject>
#include <QWidget>
#include <functional>
#include <memory>
#include <string>

#include "providers/qt/qt_platform.h"
#include "providers/qt/widget_style.h"
#include "ui/controls.h"

namespace rompush::platform::qt {

class ControlView : public QObject {
  public:
    ControlView(ui::Control& model, ui::Form& form) : model_(model), form_(form) {}

    ui::Control& Model() { return model_; }
    virtual QWidget* Widget() const = 0;
    // The widget that takes the keyboard focus.
    virtual QWidget* FocusWidget() const { return Widget(); }
    // The widget the controls inside this one are children of.
    virtual QWidget* Inside() const { return Widget(); }

    void Sync() {
        const bool all = first_;
        first_ = false;
        const ui::Control& m = model_;
        QWidget* w = Widget();
        bool relayout = false;
        if (all || m.Font.Name != last_.font.Name || m.Font.Size != last_.font.Size ||
            m.Font.Bold != last_.font.Bold) {
            last_.font = m.Font;
            w->setFont(ToQFont(m.Font));
            relayout = true;
        }
        if (all || m.ForeColor != last_.fore || m.BackColor != last_.back) {
            last_.fore = m.ForeColor;
            last_.back = m.BackColor;
            ApplyColours();
        }
        if (all || m.Left != last_.left || m.Top != last_.top || m.Width != last_.width ||
            m.Height != last_.height) {
            last_.left = m.Left;
            last_.top = m.Top;
            last_.width = m.Width;
            last_.height = m.Height;
            ApplyGeometry();
            relayout = true;
        }
        if (all || m.Caption != last_.caption) {
            last_.caption = m.Caption;
            relayout = true;
        }
        if (relayout)
            ApplyCaption();
        if (all || m.ToolTipText != last_.toolTip) {
            last_.toolTip = m.ToolTipText;
            w->setToolTip(FromLatin1(m.ToolTipText));
        }
        SyncOwn(all);
        if (all || m.Enabled != last_.enabled) {
            last_.enabled = m.Enabled;
            w->setEnabled(m.Enabled);
        }
        if (all || m.Visible != last_.visible) {
            last_.visible = m.Visible;
            w->setVisible(m.Visible);
        }
    }

    // Keyboard focus follows the operator: the form model learns which control has it, and
    // the control's lost-focus handler runs once the focus has moved on.
    void WatchFocus() { FocusWidget()->installEventFilter(this); }

  protected:
    virtual void ApplyColours() {
        Widget()->setAutoFillBackground(true);
        SetColours(Widget(), QPalette::Window, model_.BackColor, QPalette::WindowText,
                   model_.ForeColor);
    }
    virtual void ApplyGeometry() {
        Widget()->setGeometry(Px(model_.Left), Px(model_.Top), Px(model_.Width), Px(model_.Height));
    }
    virtual void ApplyCaption() {}
    virtual void SyncOwn(bool /*all*/) {}
    virtual std::function<void()> LostFocusHandler() const { return nullptr; }
    virtual std::function<void()> GotFocusHandler() const { return nullptr; }

    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::FocusIn) {
            form_.Focused = &model_;
            const auto reason = static_cast<QFocusEvent*>(event)->reason();
            // Only the operator's move into the control counts; the window coming back to
            // the front (after a message box) leaves it as it was.
            if (reason != Qt::PopupFocusReason && reason != Qt::ActiveWindowFocusReason &&
                GotFocusHandler()) {
                QMetaObject::invokeMethod(
                    Widget(),
                    [this] {
                        const std::function<void()> handler = GotFocusHandler();
                        RunHandler(handler);
                    },
                    Qt::QueuedConnection);
            }
        } else if (event->type() == QEvent::FocusOut) {
            const auto reason = static_cast<QFocusEvent*>(event)->reason();
            if (reason != Qt::PopupFocusReason && reason != Qt::ActiveWindowFocusReason &&
                LostFocusHandler()) {
                // Run after the focus change has been delivered, never inside it.
                QMetaObject::invokeMethod(
                    Widget(),
                    [this] {
                        const std::function<void()> handler = LostFocusHandler();
                        RunHandler(handler);
                    },
                    Qt::QueuedConnection);
            }
        }
        return QObject::eventFilter(watched, event);
    }

    ui::Control& model_;
    ui::Form& form_;

  private:
    bool first_ = true;
    struct {
        std::string caption;
        bool enabled = true;
        bool visible = true;
        int left = 0, top = 0, width = 0, height = 0;
        ui::Colour fore = 0, back = 0;
        ui::FontSpec font;
        std::string toolTip;
    } last_;
};

// The view of a control of any kind, its widget a child of parent (nullptr for an unknown kind).
std::unique_ptr<ControlView> CreateView(ui::Control& control, ui::Form& form, QWidget* parent);

}  // namespace rompush::platform::qt
