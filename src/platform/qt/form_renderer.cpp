#include "platform/qt/form_renderer.h"

#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFocusEvent>
#include <QFontDatabase>
#include <QFontMetrics>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QTextCursor>
#include <QVBoxLayout>
#include <QWindow>
#include <algorithm>
#include <cctype>

#include "platform/qt/qt_platform.h"
#include "platform/qt/text_box_keys.h"
#include "ui/frm_ui.h"

namespace rompush::platform::qt {

int Px(int twips) {
    return (twips + 7) / 15;
}

QColor ToQColor(ui::Colour colour) {
    if ((colour & 0x80000000u) != 0) {
        const QPalette palette = QApplication::palette();
        switch (colour & 0xFFu) {
            case 0x05:  // window background (text boxes, lists)
                return palette.color(QPalette::Base);
            case 0x08:  // window text
                return palette.color(QPalette::Text);
            case 0x0D:  // highlight
                return palette.color(QPalette::Highlight);
            case 0x0E:  // highlighted text
                return palette.color(QPalette::HighlightedText);
            case 0x0F:  // button face
                return palette.color(QPalette::Button);
            case 0x10:  // button shadow
                return palette.color(QPalette::Dark);
            case 0x11:  // grey text
                return palette.color(QPalette::Disabled, QPalette::Text);
            case 0x12:  // button text
                return palette.color(QPalette::ButtonText);
            case 0x14:  // button highlight
                return palette.color(QPalette::Light);
            case 0x17:  // tooltip text
                return palette.color(QPalette::ToolTipText);
            case 0x18:  // tooltip background
                return palette.color(QPalette::ToolTipBase);
            default:
                return palette.color(QPalette::Window);
        }
    }
    return QColor(static_cast<int>(colour & 0xFFu), static_cast<int>((colour >> 8) & 0xFFu),
                  static_cast<int>((colour >> 16) & 0xFFu));
}

namespace {
// The windows were laid out for a narrow 8-point sans-serif face whose 52 letters A-Z a-z
// take about 280 pixels. Desktop sans-serif faces are wider; scaling them to the same width
// keeps every caption inside the control it was laid out for.
double UiFontScale() {
    static const double scale = [] {
        QFont probe = QFontDatabase::systemFont(QFontDatabase::GeneralFont);
        probe.setPointSizeF(8.25);
        const int width = QFontMetrics(probe).horizontalAdvance(
            QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
        return width > 0 ? std::clamp(280.0 / width, 0.75, 1.0) : 1.0;
    }();
    return scale;
}
}  // namespace

QFont ToQFont(const ui::FontSpec& spec) {
    std::string name;
    for (char c : spec.Name)
        name += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    QFont font;
    double size = spec.Size;
    if (name.empty() || name == "ms sans serif" || name == "microsoft sans serif") {
        font = QFontDatabase::systemFont(QFontDatabase::GeneralFont);
        size *= UiFontScale();
    } else if (name == "times new roman" || name == "time new roman" || name == "timer new roman") {
        font = QFont(QStringLiteral("Serif"));
        font.setStyleHint(QFont::Serif);
    } else if (name == "@simsun" || name == "simsun") {
        font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    } else {
        font = QFont(FromLatin1(spec.Name));
    }
    if (size > 0)
        font.setPointSizeF(size);
    font.setBold(spec.Bold);
    return font;
}

namespace {

// "&x" marks an access key in a caption and "&&" is a literal ampersand; labels and frames
// show the text without the marks.
QString StripMnemonic(const QString& caption) {
    QString out;
    out.reserve(caption.size());
    for (qsizetype i = 0; i < caption.size(); ++i) {
        if (caption[i] == QLatin1Char('&') && i + 1 < caption.size())
            ++i;
        out += caption[i];
    }
    return out;
}

QString DisplayText(const std::string& text) {
    return FromLatin1(NormaliseLineEnds(text));
}

// Button captions wrap at blanks when they do not fit, as the window system's buttons do.
QString WrapCaption(const QString& caption, const QFont& font, int width) {
    const QFontMetrics metrics(font);
    QStringList lines;
    for (const QString& paragraph : caption.split(QLatin1Char('\n'))) {
        QString line;
        for (const QString& word : paragraph.split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
            const QString candidate = line.isEmpty() ? word : line + QLatin1Char(' ') + word;
            if (!line.isEmpty() && metrics.horizontalAdvance(StripMnemonic(candidate)) > width) {
                lines << line;
                line = word;
            } else {
                line = candidate;
            }
        }
        lines << line;
    }
    return lines.join(QLatin1Char('\n'));
}

void SetColours(QWidget* widget, QPalette::ColorRole backRole, ui::Colour back,
                QPalette::ColorRole foreRole, ui::Colour fore) {
    QPalette palette = widget->palette();
    palette.setColor(backRole, ToQColor(back));
    palette.setColor(QPalette::Active, foreRole, ToQColor(fore));
    palette.setColor(QPalette::Inactive, foreRole, ToQColor(fore));
    widget->setPalette(palette);
}

// Where a picture's file is found: as named, beside the executable, or in the data folder.
QString FindPicture(const std::string& name) {
    const QString file = QFile::decodeName(QByteArray::fromStdString(name));
    if (QDir::isAbsolutePath(file))
        return file;
    for (const std::string& folder : ProgramDataFolders()) {
        const QString candidate =
            QDir(QFile::decodeName(QByteArray::fromStdString(folder))).filePath(file);
        if (QFile::exists(candidate))
            return candidate;
    }
    return QString();
}

// ---------------------------------------------------------------------------------------------
// Widgets the toolkit lacks

class FrameWidget : public QWidget {
  public:
    using QWidget::QWidget;
    void SetCaption(const QString& caption) {
        caption_ = StripMnemonic(caption);
        update();
    }

  protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.fillRect(rect(), palette().color(QPalette::Window));
        if (caption_.isEmpty())
            return;
        // An etched border with the caption in its top edge.
        const QFontMetrics metrics(font());
        const QRect box = rect().adjusted(0, metrics.height() / 2, -2, -2);
        painter.setPen(palette().color(QPalette::Dark));
        painter.drawRect(box);
        painter.setPen(palette().color(QPalette::Light));
        painter.drawRect(box.translated(1, 1));
        const QRect text(6, 0, metrics.horizontalAdvance(caption_) + 4, metrics.height());
        painter.fillRect(text, palette().color(QPalette::Window));
        painter.setPen(palette().color(isEnabled() ? QPalette::Active : QPalette::Disabled,
                                       QPalette::WindowText));
        painter.drawText(text, Qt::AlignCenter, caption_);
    }

  private:
    QString caption_;
};

class LineWidget : public QWidget {
  public:
    explicit LineWidget(QWidget* parent) : QWidget(parent) {
        setAttribute(Qt::WA_TransparentForMouseEvents);
    }
    void SetLine(QPoint from, QPoint to, QColor colour) {
        from_ = from;
        to_ = to;
        colour_ = colour;
        update();
    }

  protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.setPen(QPen(colour_, 1));
        painter.drawLine(from_, to_);
    }

  private:
    QPoint from_, to_;
    QColor colour_;
};

class StatusBarWidget : public QWidget {
  public:
    using QWidget::QWidget;

    void SetPanels(const std::vector<ui::StatusPanel>& panels) {
        if (panels.size() != labels_.size()) {
            for (QLabel* label : labels_)
                delete label;
            labels_.clear();
            for (std::size_t i = 0; i < panels.size(); ++i) {
                auto* label = new QLabel(this);
                label->setTextFormat(Qt::PlainText);
                label->setContentsMargins(3, 0, 3, 0);
                label->lower();  // the banner and the progress bar sit on top
                label->show();
                labels_.push_back(label);
            }
        }
        for (std::size_t i = 0; i < panels.size(); ++i) {
            QLabel* label = labels_[i];
            const ui::StatusPanel& panel = panels[i];
            label->setText(DisplayText(panel.Text));
            Qt::Alignment alignment = Qt::AlignVCenter;
            switch (panel.Alignment) {
                case ui::StatusPanel::Align::Left:
                    alignment |= Qt::AlignLeft;
                    break;
                case ui::StatusPanel::Align::Centre:
                    alignment |= Qt::AlignHCenter;
                    break;
                case ui::StatusPanel::Align::Right:
                    alignment |= Qt::AlignRight;
                    break;
            }
            label->setAlignment(alignment);
            label->setFrameStyle(panel.Inset ? (QFrame::Panel | QFrame::Sunken) : QFrame::NoFrame);
        }
        widths_.clear();
        for (const ui::StatusPanel& panel : panels)
            widths_.push_back(panel.Width);
        Arrange();
    }

  protected:
    void resizeEvent(QResizeEvent*) override { Arrange(); }

  private:
    // Panels of width 0 share what the others leave.
    void Arrange() {
        constexpr int kGap = 2;
        int fixed = 0;
        int springs = 0;
        for (int width : widths_) {
            if (width > 0) {
                fixed += Px(width);
            } else {
                ++springs;
            }
        }
        const int gaps = kGap * static_cast<int>(widths_.size() + 1);
        const int spare = std::max(0, width() - fixed - gaps);
        int x = kGap;
        for (std::size_t i = 0; i < labels_.size(); ++i) {
            const int w = widths_[i] > 0 ? Px(widths_[i]) : spare / std::max(1, springs);
            labels_[i]->setGeometry(x, kGap, w, std::max(0, height() - 2 * kGap));
            x += w + kGap;
        }
    }

    std::vector<QLabel*> labels_;
    std::vector<int> widths_;
};

}  // namespace

// ---------------------------------------------------------------------------------------------
// One control: its widget and what the widget last showed of the model.

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

}  // namespace

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
