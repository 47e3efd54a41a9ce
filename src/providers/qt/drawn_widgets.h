// Widgets the toolkit lacks: a frame with its caption in the border, a line, and a status bar
// of panels.
#pragma once

#include <QLabel>
#include <QPainter>
#include <QWidget>
#include <algorithm>
#include <vector>

#include "providers/qt/widget_style.h"
#include "ui/controls.h"

namespace rompush::platform::qt {

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
}  // namespace rompush::platform::qt
