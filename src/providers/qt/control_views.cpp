// The views of each kind of control: buttons, labels, frames, text boxes, combo boxes, option
// buttons, lines, pictures, the status bar and the progress bar.
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPixmap>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalBlocker>
#include <QTextCursor>
#include <QVBoxLayout>
#include <algorithm>

#include "core/text.h"
#include "providers/qt/control_view.h"
#include "providers/qt/drawn_widgets.h"
#include "providers/qt/qt_platform.h"
#include "providers/qt/text_box_keys.h"
#include "providers/qt/widget_style.h"
#include "ui/frm_ui.h"

namespace rompush::platform::qt {

namespace {

class ButtonView : public ControlView {
  public:
    ButtonView(ui::CommandButton& model, ui::Form& form, QWidget* parent)
        : ControlView(model, form), button_(new QPushButton(parent)), m_(model) {
        button_->setAutoDefault(false);
        QObject::connect(button_, &QPushButton::released, button_, [this] {
            if (!m_.Enabled)
                return;
            const std::function<void()> handler = m_.MouseUp;
            RunHandler(handler);
        });
    }
    QWidget* Widget() const override { return button_; }

  protected:
    void ApplyColours() override {}  // standard buttons keep the system's colours
    void ApplyCaption() override {
        const int room = std::max(1, Px(m_.Width) - 8);
        button_->setText(WrapCaption(DisplayText(m_.Caption), button_->font(), room));
    }

  private:
    QPushButton* button_;
    ui::CommandButton& m_;
};

class LabelView : public ControlView {
  public:
    LabelView(ui::Label& model, ui::Form& form, QWidget* parent)
        : ControlView(model, form), label_(new QLabel(parent)), m_(model) {
        label_->setTextFormat(Qt::PlainText);
        label_->setWordWrap(true);
    }
    QWidget* Widget() const override { return label_; }

  protected:
    void ApplyCaption() override {
        const QString text = StripMnemonic(DisplayText(m_.Caption));
        label_->setText(text);
        FitFont(text);
    }
    void SyncOwn(bool all) override {
        if (!all && m_.Alignment == alignment_)
            return;
        alignment_ = m_.Alignment;
        const Qt::Alignment horizontal = alignment_ == 1   ? Qt::AlignRight
                                         : alignment_ == 2 ? Qt::AlignHCenter
                                                           : Qt::AlignLeft;
        label_->setAlignment(horizontal | Qt::AlignTop);
    }

  private:
    // The desktop's sans-serif face is usually wider than the one the window was laid out
    // for: a description that would not fit its label is shown a little smaller rather than
    // cut off.
    void FitFont(const QString& text) {
        QFont font = ToQFont(m_.Font);
        const QRect room(0, 0, std::max(1, Px(m_.Width)), std::max(1, Px(m_.Height)));
        const double smallest = font.pointSizeF() * 0.75;
        while (font.pointSizeF() - 0.25 >= smallest &&
               QFontMetrics(font)
                       .boundingRect(QRect(0, 0, room.width(), 100000), Qt::TextWordWrap, text)
                       .height() > room.height()) {
            font.setPointSizeF(font.pointSizeF() - 0.25);
        }
        label_->setFont(font);
    }

    QLabel* label_;
    ui::Label& m_;
    int alignment_ = 0;
};

class FrameView : public ControlView {
  public:
    FrameView(ui::Frame& model, ui::Form& form, QWidget* parent)
        : ControlView(model, form), frame_(new FrameWidget(parent)), m_(model) {}
    QWidget* Widget() const override { return frame_; }

  protected:
    void ApplyColours() override {
        SetColours(frame_, QPalette::Window, m_.BackColor, QPalette::WindowText, m_.ForeColor);
    }
    void ApplyCaption() override { frame_->SetCaption(DisplayText(m_.Caption)); }

  private:
    FrameWidget* frame_;
    ui::Frame& m_;
};

class TextBoxView : public ControlView {
  public:
    TextBoxView(ui::TextBox& model, ui::Form& form, QWidget* parent)
        : ControlView(model, form),
          holder_(new QWidget(parent)),
          single_(new QLineEdit(holder_)),
          multi_(new QPlainTextEdit(holder_)),
          m_(model) {
        auto* layout = new QVBoxLayout(holder_);
        layout->setContentsMargins(0, 0, 0, 0);
        layout->setSpacing(0);
        layout->addWidget(single_);
        layout->addWidget(multi_);
        single_->setVisible(!model.MultiLine);
        multi_->setVisible(model.MultiLine);
        multiLine_ = model.MultiLine;
        new TextBoxKeys(single_, model);
        new TextBoxKeys(multi_, model);

        QObject::connect(single_, &QLineEdit::textEdited, single_, [this](const QString& text) {
            m_.Text = ToLatin1(text);
            m_.SelStart = single_->cursorPosition();
            text_ = m_.Text;
            selStart_ = m_.SelStart;
            const std::function<void()> handler = m_.Change;
            RunHandler(handler);
        });
        QObject::connect(multi_, &QPlainTextEdit::textChanged, multi_, [this] {
            if (applying_)
                return;
            // The model keeps CR LF line ends, as the window system's text boxes do.
            std::string text;
            for (char c : ToLatin1(multi_->toPlainText())) {
                if (c == '\n')
                    text += '\r';
                text += c;
            }
            m_.Text = text;
            text_ = text;
            const std::function<void()> handler = m_.Change;
            RunHandler(handler);
        });
    }
    QWidget* Widget() const override { return holder_; }
    QWidget* FocusWidget() const override {
        return multiLine_ ? static_cast<QWidget*>(multi_) : static_cast<QWidget*>(single_);
    }
    std::function<void()> GotFocusHandler() const override { return m_.GotFocus; }

  protected:
    void ApplyColours() override {
        for (QWidget* editor : {static_cast<QWidget*>(single_), static_cast<QWidget*>(multi_)}) {
            SetColours(editor, QPalette::Base, m_.BackColor, QPalette::Text, m_.ForeColor);
        }
    }

    void SyncOwn(bool all) override {
        if (m_.MultiLine != multiLine_) {
            multiLine_ = m_.MultiLine;
            single_->setVisible(!multiLine_);
            multi_->setVisible(multiLine_);
            all = true;
        }
        const bool textChanged = all || m_.Text != text_;
        if (textChanged)
            ApplyText();
        if (textChanged || m_.SelStart != selStart_) {
            selStart_ = m_.SelStart;
            ApplyCaret();
        }
    }

  private:
    void ApplyText() {
        const std::string& text = m_.Text;
        if (!multiLine_) {
            single_->setText(FromLatin1(text));
            text_ = text;
            return;
        }
        applying_ = true;
        // A console grows at its end: add only what is new, unless a line end was split.
        const bool grows = !text_.empty() && text.size() > text_.size() &&
                           text.compare(0, text_.size(), text_) == 0 && text_.back() != '\r';
        if (grows) {
            QTextCursor cursor(multi_->document());
            cursor.movePosition(QTextCursor::End);
            cursor.insertText(DisplayText(text.substr(text_.size())));
        } else {
            multi_->setPlainText(DisplayText(text));
        }
        applying_ = false;
        text_ = text;
    }

    void ApplyCaret() {
        const int raw = std::clamp(m_.SelStart, 0, static_cast<int>(m_.Text.size()));
        if (!multiLine_) {
            single_->setCursorPosition(raw);
            return;
        }
        const int shown = static_cast<int>(NormaliseLineEnds(m_.Text.substr(0, raw)).size());
        QTextCursor cursor = multi_->textCursor();
        cursor.setPosition(std::min(shown, multi_->document()->characterCount() - 1));
        multi_->setTextCursor(cursor);
        multi_->ensureCursorVisible();
    }

    QWidget* holder_;
    QLineEdit* single_;
    QPlainTextEdit* multi_;
    ui::TextBox& m_;
    bool multiLine_ = false;
    bool applying_ = false;
    std::string text_;
    int selStart_ = 0;
};

class ComboView : public ControlView {
  public:
    ComboView(ui::ComboBox& model, ui::Form& form, QWidget* parent)
        : ControlView(model, form), combo_(new QComboBox(parent)), m_(model) {
        combo_->setEditable(false);
        QObject::connect(combo_, &QComboBox::activated, combo_, [this](int index) {
            m_.ListIndex = index;
            listIndex_ = index;
            const std::function<void()> handler = m_.Click;
            RunHandler(handler);
        });
    }
    QWidget* Widget() const override { return combo_; }

  protected:
    void ApplyColours() override {
        SetColours(combo_, QPalette::Base, m_.BackColor, QPalette::Text, m_.ForeColor);
    }
    // The list's height follows its font, as the window system's drop-down lists do.
    void ApplyGeometry() override {
        combo_->setGeometry(Px(m_.Left), Px(m_.Top), Px(m_.Width),
                            std::max(combo_->sizeHint().height(), Px(m_.Height)));
    }
    void SyncOwn(bool all) override {
        const bool itemsChanged = all || m_.Items != items_;
        if (itemsChanged) {
            const QSignalBlocker block(combo_);
            combo_->clear();
            for (const std::string& item : m_.Items)
                combo_->addItem(FromLatin1(item));
            items_ = m_.Items;
        }
        if (itemsChanged || m_.ListIndex != listIndex_) {
            listIndex_ = m_.ListIndex;
            const QSignalBlocker block(combo_);
            combo_->setCurrentIndex(listIndex_ < combo_->count() ? listIndex_ : -1);
        }
    }
    std::function<void()> LostFocusHandler() const override { return m_.LostFocus; }

  private:
    QComboBox* combo_;
    ui::ComboBox& m_;
    std::vector<std::string> items_;
    int listIndex_ = -1;
};

class OptionView : public ControlView {
  public:
    OptionView(ui::OptionButton& model, ui::Form& form, QWidget* parent)
        : ControlView(model, form), radio_(new QRadioButton(parent)), m_(model) {
        radio_->setAutoExclusive(false);
        // An option button is filled with the colour of its model's BackColor (the navy panel
        // behind MAIN, USB and QRX); Qt's radio buttons would fill with the button colour and
        // hide their white captions.
        radio_->setBackgroundRole(QPalette::Window);
        QObject::connect(radio_, &QRadioButton::clicked, radio_, [this] {
            radio_->setChecked(true);
            if (m_.Value)
                return;
            // Choosing an option clears the others of its group (same container).
            for (ui::Control* control : form_.Controls()) {
                if (control->Kind == ui::ControlKind::OptionButton && control != &m_ &&
                    control->Container == m_.Container) {
                    static_cast<ui::OptionButton*>(control)->Value = false;
                }
            }
            m_.Value = true;
            value_ = true;
            const std::function<void()> handler = m_.Click;
            RunHandler(handler);
        });
    }
    QWidget* Widget() const override { return radio_; }

  protected:
    void ApplyCaption() override { radio_->setText(DisplayText(m_.Caption)); }
    void SyncOwn(bool all) override {
        if (!all && m_.Value == value_)
            return;
        value_ = m_.Value;
        radio_->setChecked(value_);
    }

  private:
    QRadioButton* radio_;
    ui::OptionButton& m_;
    bool value_ = false;
};

class LineView : public ControlView {
  public:
    LineView(ui::Line& model, ui::Form& form, QWidget* parent)
        : ControlView(model, form), line_(new LineWidget(parent)), m_(model) {}
    QWidget* Widget() const override { return line_; }

  protected:
    void ApplyColours() override { ApplyLine(); }
    void ApplyGeometry() override {}  // the end points place a line
    void SyncOwn(bool all) override {
        if (!all && m_.X1 == x1_ && m_.Y1 == y1_ && m_.X2 == x2_ && m_.Y2 == y2_) {
            return;
        }
        x1_ = m_.X1;
        y1_ = m_.Y1;
        x2_ = m_.X2;
        y2_ = m_.Y2;
        ApplyLine();
    }

  private:
    void ApplyLine() {
        const QPoint from(Px(m_.X1), Px(m_.Y1));
        const QPoint to(Px(m_.X2), Px(m_.Y2));
        const QRect box = QRect(from, to).normalized().adjusted(0, 0, 1, 1);
        line_->setGeometry(box);
        line_->SetLine(from - box.topLeft(), to - box.topLeft(), ToQColor(m_.BackColor));
    }

    LineWidget* line_;
    ui::Line& m_;
    int x1_ = 0, y1_ = 0, x2_ = 0, y2_ = 0;
};

class PictureView : public ControlView {
  public:
    PictureView(ui::PictureBox& model, ui::Form& form, QWidget* parent)
        : ControlView(model, form), label_(new QLabel(parent)), m_(model) {
        label_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    }
    QWidget* Widget() const override { return label_; }

  protected:
    void SyncOwn(bool all) override {
        if (!all && m_.Picture == picture_)
            return;
        picture_ = m_.Picture;
        const QString file = picture_.empty() ? QString() : FindPicture(picture_);
        label_->setPixmap(file.isEmpty() ? QPixmap() : QPixmap(file));
    }

  private:
    QLabel* label_;
    ui::PictureBox& m_;
    std::string picture_;
};

class StatusBarView : public ControlView {
  public:
    StatusBarView(ui::StatusBar& model, ui::Form& form, QWidget* parent)
        : ControlView(model, form), bar_(new StatusBarWidget(parent)), m_(model) {}
    QWidget* Widget() const override { return bar_; }

  protected:
    void ApplyColours() override {}  // the system's colours
    // Without a size of its own the bar runs along the bottom of the window.
    void ApplyGeometry() override {
        if (m_.Width > 0 && m_.Height > 0) {
            ControlView::ApplyGeometry();
            return;
        }
        QWidget* parent = bar_->parentWidget();
        const int height = Px(ui::FrmUI::kStatusBarHeight);
        bar_->setGeometry(0, parent->height() - height, parent->width(), height);
    }
    void SyncOwn(bool all) override {
        if (!all && Same(m_.Panels, panels_))
            return;
        panels_ = m_.Panels;
        bar_->SetPanels(panels_);
    }

  private:
    static bool Same(const std::vector<ui::StatusPanel>& a, const std::vector<ui::StatusPanel>& b) {
        return std::equal(a.begin(), a.end(), b.begin(), b.end(),
                          [](const ui::StatusPanel& x, const ui::StatusPanel& y) {
                              return x.Text == y.Text && x.Width == y.Width &&
                                     x.Alignment == y.Alignment && x.Inset == y.Inset;
                          });
    }

    StatusBarWidget* bar_;
    ui::StatusBar& m_;
    std::vector<ui::StatusPanel> panels_;
};

class ProgressView : public ControlView {
  public:
    ProgressView(ui::ProgressBar& model, ui::Form& form, QWidget* parent)
        : ControlView(model, form), bar_(new QProgressBar(parent)), m_(model) {
        bar_->setTextVisible(false);
    }
    QWidget* Widget() const override { return bar_; }

  protected:
    void ApplyColours() override {}
    void SyncOwn(bool all) override {
        if (all || m_.BarColor != barColour_) {
            barColour_ = m_.BarColor;
            QPalette palette = bar_->palette();
            palette.setColor(QPalette::Highlight, ToQColor(barColour_));
            bar_->setPalette(palette);
        }
        if (all || m_.Min != min_ || m_.Max != max_) {
            min_ = m_.Min;
            max_ = m_.Max;
            bar_->setRange(min_, std::max(min_, max_));
            value_ = min_ - 1;  // shown again below
        }
        if (m_.Value != value_) {
            value_ = m_.Value;
            bar_->setValue(std::clamp(value_, bar_->minimum(), bar_->maximum()));
        }
    }

  private:
    QProgressBar* bar_;
    ui::ProgressBar& m_;
    ui::Colour barColour_ = 0;
    int min_ = 0, max_ = 0, value_ = 0;
};
}  // namespace

std::unique_ptr<ControlView> CreateView(ui::Control& control, ui::Form& form, QWidget* parent) {
    switch (control.Kind) {
        case ui::ControlKind::CommandButton:
            return std::make_unique<ButtonView>(static_cast<ui::CommandButton&>(control), form,
                                                parent);
        case ui::ControlKind::Label:
            return std::make_unique<LabelView>(static_cast<ui::Label&>(control), form, parent);
        case ui::ControlKind::Frame:
            return std::make_unique<FrameView>(static_cast<ui::Frame&>(control), form, parent);
        case ui::ControlKind::TextBox:
            return std::make_unique<TextBoxView>(static_cast<ui::TextBox&>(control), form, parent);
        case ui::ControlKind::ComboBox:
            return std::make_unique<ComboView>(static_cast<ui::ComboBox&>(control), form, parent);
        case ui::ControlKind::OptionButton:
            return std::make_unique<OptionView>(static_cast<ui::OptionButton&>(control), form,
                                                parent);
        case ui::ControlKind::Line:
            return std::make_unique<LineView>(static_cast<ui::Line&>(control), form, parent);
        case ui::ControlKind::PictureBox:
            return std::make_unique<PictureView>(static_cast<ui::PictureBox&>(control), form,
                                                 parent);
        case ui::ControlKind::StatusBar:
            return std::make_unique<StatusBarView>(static_cast<ui::StatusBar&>(control), form,
                                                   parent);
        case ui::ControlKind::ProgressBar:
            return std::make_unique<ProgressView>(static_cast<ui::ProgressBar&>(control), form,
                                                  parent);
    }
    return nullptr;
}
}  // namespace rompush::platform::qt
