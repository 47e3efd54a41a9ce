#include "providers/qt/form_renderer.h"

#include <QApplication>
#include <QCloseEvent>
#include <QScreen>
#include <QWindow>
#include <algorithm>

#include "providers/qt/control_view.h"
#include "providers/qt/qt_platform.h"
#include "providers/qt/widget_style.h"

namespace rompush::platform::qt {

// ---------------------------------------------------------------------------------------------
// Forms

FormView::FormView(ui::Form& form, EventLoop& events, QWidget* owner)
    : QWidget(nullptr, owner != nullptr ? Qt::Dialog : Qt::Window),
      form_(form),
      events_(events),
      owner_(owner) {
    Build();
    QCoreApplication::instance()->installEventFilter(this);
}

FormView::~FormView() {
    QCoreApplication::instance()->removeEventFilter(this);
    // The widgets go with this window; the views only hold pointers to them.
    views_.clear();
}

bool FormView::eventFilter(QObject* watched, QEvent* event) {
    // A disabled form (a dialog is open over it) takes no input but keeps its look, as the
    // window system's disabled parent windows do.
    if (form_.Enabled || !watched->isWidgetType())
        return false;
    switch (event->type()) {
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonRelease:
        case QEvent::MouseButtonDblClick:
        case QEvent::MouseMove:
        case QEvent::Wheel:
        case QEvent::KeyPress:
        case QEvent::KeyRelease:
        case QEvent::Shortcut:
        case QEvent::ShortcutOverride:
            return static_cast<QWidget*>(watched)->window() == this;
        default:
            return false;
    }
}

void FormView::Build() {
    // Every control is a child of the form first, then of its container; listed order is
    // drawing order, the last on top.
    for (ui::Control* control : form_.Controls()) {
        if (auto view = CreateView(*control, form_, this))
            views_.push_back(std::move(view));
    }
    for (auto& view : views_) {
        if (ControlView* container = ViewOf(view->Model().Container)) {
            view->Widget()->setParent(container->Inside());
        }
    }
    for (auto& view : views_) {
        view->Widget()->raise();
        view->WatchFocus();
    }
}

QWidget* FormView::ControlWidget(const std::string& name) const {
    for (const auto& view : views_) {
        if (view->Model().Name == name)
            return view->Widget();
    }
    return nullptr;
}

ControlView* FormView::ViewOf(const ui::Control* control) {
    if (control == nullptr)
        return nullptr;
    for (auto& view : views_) {
        if (&view->Model() == control)
            return view.get();
    }
    return nullptr;
}

void FormView::Sync() {
    const bool all = firstSync_;
    firstSync_ = false;

    // Forms are fixed in size: the model's client size, or what the controls need.
    const bool resized = all || form_.Width != width_ || form_.Height != height_;
    if (resized) {
        width_ = form_.Width;
        height_ = form_.Height;
        if (width_ > 0 && height_ > 0)
            setFixedSize(Px(width_), Px(height_));
    }
    // Hiding the control that has the focus moves it on to another: the control the program
    // gave the focus still gets it.
    ui::Control* const wanted = form_.Focused;
    for (auto& view : views_)
        view->Sync();
    if (wanted != focused_)
        form_.Focused = wanted;
    if (resized && (width_ <= 0 || height_ <= 0)) {
        const QRect used = childrenRect();
        setFixedSize(used.right() + 8, used.bottom() + 8);
    }

    if (all || form_.Caption != caption_) {
        caption_ = form_.Caption;
        setWindowTitle(FromLatin1(caption_));
    }
    if (all || form_.Enabled != enabled_) {
        enabled_ = form_.Enabled;
        // Input is held back by eventFilter; the form's dialog takes the keyboard.
    }
    if (all || form_.TopMost != topMost_) {
        topMost_ = form_.TopMost;
        // Raised above other programs' windows or put back, without taking the focus.
        setAttribute(Qt::WA_ShowWithoutActivating, topMost_);
        if (windowHandle() != nullptr) {
            windowHandle()->setFlag(Qt::WindowStaysOnTopHint, topMost_);
        } else {
            setWindowFlag(Qt::WindowStaysOnTopHint, topMost_);
        }
    }
    if (form_.Visible != visible_) {
        visible_ = form_.Visible;
        if (visible_) {
            if (!shownOnce_) {
                shownOnce_ = true;
                // First shown in the middle of the screen, or of the window it belongs to.
                const QRect area = owner_ != nullptr && owner_->isVisible()
                                       ? owner_->frameGeometry()
                                       : screen()->availableGeometry();
                move(area.center() - QPoint(width() / 2, height() / 2));
            }
            if (owner_ != nullptr) {
                // A dialog stays above the window it belongs to.
                winId();
                if (owner_->windowHandle() != nullptr) {
                    windowHandle()->setTransientParent(owner_->windowHandle());
                }
            }
            show();
            if (!topMost_) {
                raise();
                activateWindow();
            }
        } else {
            hide();
        }
    }
    if (form_.Focused != focused_) {
        focused_ = form_.Focused;
        if (ControlView* view = ViewOf(focused_))
            view->FocusWidget()->setFocus(Qt::OtherFocusReason);
    }
    if (all || form_.Activations != activations_) {
        const bool asked = !all && visible_;
        activations_ = form_.Activations;
        if (asked) {
            raise();
            activateWindow();
        }
    }
}

void FormView::closeEvent(QCloseEvent* event) {
    // A window that a dialog has disabled cannot be closed either.
    if (!form_.Enabled) {
        event->ignore();
        return;
    }
    if (form_.Unload) {
        const std::function<void()> handler = form_.Unload;
        RunCloseHandler(handler);
    } else {
        form_.Visible = false;
    }
    // The main window closes only once the program has been asked to end; a dialog once its
    // handler has hidden it.
    if (events_.EndRequested() || !form_.Visible) {
        visible_ = form_.Visible;
        event->accept();
    } else {
        event->ignore();
    }
}

// ---------------------------------------------------------------------------------------------
// Renderer

FormRenderer::~FormRenderer() {
    // Dialogs first: they belong to the main window.
    for (auto it = forms_.rbegin(); it != forms_.rend(); ++it)
        it->view.reset();
}

void FormRenderer::AddForm(FormGetter getter) {
    Entry entry;
    entry.getter = std::move(getter);
    forms_.push_back(std::move(entry));
}

QWidget* FormRenderer::MainWindow() const {
    return forms_.empty() ? nullptr : forms_.front().view.get();
}

QWidget* FormRenderer::MainWindowControl(const std::string& name) const {
    if (forms_.empty() || !forms_.front().view)
        return nullptr;
    return forms_.front().view->ControlWidget(name);
}

void FormRenderer::Sync() {
    // Setting a widget can deliver events whose handlers process events again.
    if (syncing_)
        return;
    syncing_ = true;
    for (std::size_t i = 0; i < forms_.size(); ++i) {
        Entry& entry = forms_[i];
        ui::Form* form = entry.getter();
        if (form != entry.model) {
            entry.view.reset();
            entry.model = form;
            if (form != nullptr) {
                QWidget* owner = i == 0 ? nullptr : MainWindow();
                entry.view = std::make_unique<FormView>(*form, events_, owner);
            }
        }
        if (entry.view)
            entry.view->Sync();
    }
    syncing_ = false;
}

}  // namespace rompush::platform::qt
