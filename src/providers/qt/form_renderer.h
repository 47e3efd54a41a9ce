// Shows the window models on the screen. Each form model gets a top-level widget and each of
// its controls one child widget; Sync() copies into the widgets whatever the program changed
// in the models since the previous Sync(), and the widgets' signals run the models' handlers.
#pragma once

#include <QWidget>
#include <functional>
#include <memory>
#include <vector>

#include "platform/platform.h"
#include "ui/controls.h"

namespace rompush::platform::qt {

class ControlView;

class FormView : public QWidget {
  public:
    FormView(ui::Form& form, EventLoop& events, QWidget* owner);
    ~FormView() override;

    ui::Form& Model() { return form_; }
    void Sync();
    // The widget that shows the control of that name (nullptr when the form has none).
    QWidget* ControlWidget(const std::string& name) const;

  protected:
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void Build();
    ControlView* ViewOf(const ui::Control* control);

    ui::Form& form_;
    EventLoop& events_;
    QWidget* owner_;  // the main window a dialog belongs to
    std::vector<std::unique_ptr<ControlView>> views_;
    bool firstSync_ = true;
    bool shownOnce_ = false;
    std::string caption_;
    bool enabled_ = true;
    bool visible_ = false;
    bool topMost_ = false;
    unsigned activations_ = 0;
    int width_ = -1, height_ = -1;
    ui::Control* focused_ = nullptr;
};

class FormRenderer {
  public:
    // The form a getter returns may be replaced by the program (a fresh set of windows); the
    // renderer then builds its widgets anew.
    using FormGetter = std::function<ui::Form*()>;

    explicit FormRenderer(EventLoop& events) : events_(events) {}
    ~FormRenderer();

    // The first form added is the main window; later ones are its dialogs.
    void AddForm(FormGetter getter);
    void Sync();
    QWidget* MainWindow() const;
    // The widget of a main-window control, by name (nullptr when not built).
    QWidget* MainWindowControl(const std::string& name) const;

  private:
    struct Entry {
        FormGetter getter;
        ui::Form* model = nullptr;
        std::unique_ptr<FormView> view;
    };
    EventLoop& events_;
    std::vector<Entry> forms_;
    bool syncing_ = false;
};

}  // namespace rompush::platform::qt
