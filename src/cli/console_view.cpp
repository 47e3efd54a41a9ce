#include "cli/console_view.h"

#include <algorithm>

#include "core/state.h"
#include "core/text.h"
#include "ui/main_window.h"

namespace rompush::cli {

namespace {
constexpr int kBarWidth = 40;

// The step label DisplayError painted red: it carries the error table's text.
const ui::Label* RedLabel() {
    auto& f = frmUI();
    for (const ui::Label* label :
         {&f.lblSCAN, &f.lblHEXFILE, &f.lblERASE, &f.lblVERIFY, &f.lblPROGRAM}) {
        if (label->BackColor == ui::colour::kRed)
            return label;
    }
    return nullptr;
}
}  // namespace

ConsoleView::ConsoleView(std::FILE* out, bool bar, std::string prefix)
    : out_(out), bar_(bar), prefix_(std::move(prefix)) {}

void ConsoleView::Print(const std::string& text) {
    ClearBar();
    std::string lines;
    std::size_t start = 0;
    const std::string plain = NormaliseLineEnds(text);
    while (start <= plain.size()) {
        const std::size_t end = std::min(plain.find('\n', start), plain.size());
        lines += prefix_ + plain.substr(start, end - start) + "\n";
        start = end + 1;
    }
    std::fputs(lines.c_str(), out_);
    std::fflush(out_);
    if (percent_ >= 0 && bar_)
        DrawBar(percent_);
}

void ConsoleView::DrawBar(int percent) {
    const int filled = percent * kBarWidth / 100;
    std::string bar = "\r" + prefix_ + "[" + std::string(static_cast<std::size_t>(filled), '#') +
                      std::string(static_cast<std::size_t>(kBarWidth - filled), '.') + "] " +
                      std::to_string(percent) + "%";
    std::fputs(bar.c_str(), out_);
    std::fflush(out_);
    barDrawn_ = true;
}

void ConsoleView::ClearBar() {
    if (!barDrawn_)
        return;
    std::fputs("\r\033[K", out_);
    barDrawn_ = false;
}

void ConsoleView::Line(const std::string& text) {
    Print(text);
}

void ConsoleView::Notice(const std::string& title, const std::string& text) {
    Print(title.empty() ? text : title + ": " + text);
}

void ConsoleView::BeginCommand() {
    shown_.clear();
    errorCode_ = 0;
    errorText_.clear();
}

bool ConsoleView::Shown(const std::string& statusText) const {
    return std::find(shown_.begin(), shown_.end(), statusText) != shown_.end();
}

void ConsoleView::Render() {
    auto& f = frmUI();
    if (f.lblPASS.Caption != caption_) {
        caption_ = f.lblPASS.Caption;
        shown_.push_back(caption_);
        if (!caption_.empty())
            Print(caption_);
    }
    if (g.result.ErrorCode != 0) {
        const ui::Label* red = RedLabel();
        const std::string text = red ? red->Caption : std::string();
        if (g.result.ErrorCode != errorCode_ || text != errorText_) {
            errorCode_ = g.result.ErrorCode;
            errorText_ = text;
            if (!text.empty())
                Print(text);
        }
    }

    const auto& progress = f.ProgressBar1;
    int percent = -1;
    if (progress.Visible && progress.Max > progress.Min) {
        const int span = progress.Max - progress.Min;
        percent = std::clamp((progress.Value - progress.Min) * 100 / span, 0, 100);
    }
    if (percent == percent_)
        return;
    if (percent < 0) {
        ClearBar();
    } else if (bar_) {
        DrawBar(percent);
    } else if (percent / 10 != std::max(percent_, 0) / 10 || percent_ < 0) {
        // Plain lines: one at each tenth passed, and none for an empty bar.
        if (percent >= 10) {
            std::fputs((prefix_ + "progress " + std::to_string(percent / 10 * 10) + "%\n").c_str(),
                       out_);
            std::fflush(out_);
        }
    }
    percent_ = percent;
}

}  // namespace rompush::cli
