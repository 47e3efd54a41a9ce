// Plain models of the window controls. The program's rules write these properties; the Qt
// layer only renders them and routes the operator's clicks and keys back to the handlers.
// Positions and sizes are in twips (15 twips = 1 pixel), colours are 0x00BBGGRR values.
#pragma once

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <string>
#include <vector>

namespace rompush::ui {

using Colour = std::uint32_t;

namespace colour {
constexpr Colour kGreen = 0x0000C000;
constexpr Colour kRed = 0x000000FF;
constexpr Colour kLightYellow = 0x0080FFFF;
constexpr Colour kNavy = 0x00800000;
constexpr Colour kWhite = 0x00FFFFFF;
constexpr Colour kBlack = 0x00000000;
constexpr Colour kButtonFace = 0x8000000F;  // the system button-face colour
constexpr Colour kButtonText = 0x80000012;  // the system button-text colour
constexpr Colour kWindowBackground = 0x80000005;
constexpr Colour kWindowText = 0x80000008;
}  // namespace colour

struct FontSpec {
    std::string Name = "MS Sans Serif";
    double Size = 8.25;
    bool Bold = false;
};

enum class ControlKind {
    CommandButton,
    Label,
    Frame,
    TextBox,
    ComboBox,
    OptionButton,
    Line,
    PictureBox,
    StatusBar,
    ProgressBar
};

struct Control {
    Control(ControlKind kind, std::string name) : Kind(kind), Name(std::move(name)) {}
    virtual ~Control() = default;
    Control(const Control&) = delete;
    Control& operator=(const Control&) = delete;

    const ControlKind Kind;
    const std::string Name;
    Control* Container = nullptr;  // frame or picture it sits in; nullptr: the form itself

    std::string Caption;
    bool Enabled = true;
    bool Visible = true;
    int Left = 0, Top = 0, Width = 0, Height = 0;
    Colour ForeColor = colour::kButtonText;
    Colour BackColor = colour::kButtonFace;
    FontSpec Font;
    std::string ToolTipText;

    void Move(int left, int top, int width, int height) {
        Left = left;
        Top = top;
        Width = width;
        Height = height;
    }
};

struct CommandButton : Control {
    explicit CommandButton(std::string name) : Control(ControlKind::CommandButton, name) {}
    std::function<void()> MouseUp;  // handler the window routes the click to
};

struct Label : Control {
    explicit Label(std::string name) : Control(ControlKind::Label, name) {}
    int Alignment = 0;  // 0 left, 1 right, 2 centre
};

struct Frame : Control {
    explicit Frame(std::string name) : Control(ControlKind::Frame, name) {}
};

struct PictureBox : Control {
    explicit PictureBox(std::string name) : Control(ControlKind::PictureBox, name) {}
    std::string Picture;  // file name of the image shown, "" none
};

struct TextBox : Control {
    explicit TextBox(std::string name) : Control(ControlKind::TextBox, name) {
        BackColor = colour::kWindowBackground;
        ForeColor = colour::kWindowText;
    }
    std::string Text;
    bool MultiLine = false;
    bool Locked = false;  // the operator's keys do not change the text (set before it is shown)
    int SelStart = 0;     // caret position
    std::function<void()> Change;
    std::function<void()> GotFocus;          // the operator moved the focus into the box
    std::function<void(int keyCode)> KeyUp;  // a key released in the box (virtual key code)
    void SetText(const std::string& text) {
        Text = text;
        if (Change)
            Change();
    }
};

// A drop-down list. Selecting an entry by program runs the Click handler exactly as an
// operator's click does.
struct ComboBox : Control {
    explicit ComboBox(std::string name) : Control(ControlKind::ComboBox, name) {
        BackColor = colour::kWindowBackground;
        ForeColor = colour::kWindowText;
    }
    std::vector<std::string> Items;
    int ListIndex = -1;
    std::function<void()> Click;
    std::function<void()> LostFocus;

    int ListCount() const { return static_cast<int>(Items.size()); }
    void AddItem(const std::string& item) { Items.push_back(item); }
    void Clear() {
        Items.clear();
        ListIndex = -1;
    }
    // The selected entry, "" when none.
    std::string Text() const {
        return ListIndex >= 0 && ListIndex < ListCount() ? Items[ListIndex] : std::string();
    }
    void SetListIndex(int index) {
        ListIndex = index >= 0 && index < ListCount() ? index : -1;
        if (Click)
            Click();
    }
};

struct OptionButton : Control {
    explicit OptionButton(std::string name) : Control(ControlKind::OptionButton, name) {}
    bool Value = false;
    std::function<void()> Click;
};

struct Line : Control {
    explicit Line(std::string name) : Control(ControlKind::Line, name) {
        BackColor = colour::kWhite;
    }
    int X1 = 0, Y1 = 0, X2 = 0, Y2 = 0;  // BackColor is the line's colour
};

struct StatusPanel {
    enum class Align { Left, Centre, Right };
    std::string Text;
    int Width = 0;  // twips; 0 fills what is left
    Align Alignment = Align::Left;
    bool Inset = true;
};

struct StatusBar : Control {
    explicit StatusBar(std::string name) : Control(ControlKind::StatusBar, name) {}
    std::vector<StatusPanel> Panels;  // Panels[0] is panel 1
};

struct ProgressBar : Control {
    explicit ProgressBar(std::string name) : Control(ControlKind::ProgressBar, name) {}
    int Min = 0;
    int Max = 100;
    int Value = 0;
    Colour BarColor = 0x00CD00CD;
};

// What every form model offers the renderer: its caption, size and controls in z-order
// (first drawn first).
struct Form {
    explicit Form(std::string name) : Name(std::move(name)) {}
    virtual ~Form() = default;
    const std::string Name;
    std::string Caption;
    bool Enabled = true;
    bool Visible = false;
    bool TopMost = false;
    int Left = 0, Top = 0, Width = 0, Height = 0;  // outer size in twips
    Control* Focused = nullptr;
    std::function<void()> Unload;  // the window's close handler
    // Asked by the rules to bring the window to the front and give it the keyboard; the
    // renderer does so once for every request.
    unsigned Activations = 0;
    virtual std::vector<Control*> Controls() = 0;
    void SetFocus(Control& control) { Focused = &control; }
    void Activate() { ++Activations; }
};

// Keeps a window above all other windows (or takes it off that level) at its own place and
// size, without activating it, and shows it. Every dialog that stays on top goes through it.
inline void KeepOnTop(Form& form, bool onTop) {
    form.TopMost = onTop;
    form.Visible = true;
}

// A dialog unloaded: off the top level and hidden, and loaded again before it is next shown.
template <typename Dialog>
void UnloadDialog(Dialog& dialog) {
    dialog.TopMost = false;
    dialog.Visible = false;
    dialog.Loaded = false;
}

// A dialog's column of captioned lists: a row every 420 twips from `top`, the caption at the
// left margin with the given alignment, the list at `listLeft`. Returns the next row's top.
struct CaptionedList {
    Label& label;
    ComboBox& list;
    const char* caption;
};
inline int PlaceCaptionedLists(std::initializer_list<CaptionedList> rows, int top, int labelWidth,
                               int listLeft, int listWidth, int alignment) {
    for (const CaptionedList& row : rows) {
        row.label.Caption = row.caption;
        row.label.Alignment = alignment;
        row.label.Move(240, top + 45, labelWidth, 255);
        row.list.Move(listLeft, top, listWidth, 315);
        top += 420;
    }
    return top;
}

}  // namespace rompush::ui
