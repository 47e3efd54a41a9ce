#include "providers/qt/widget_style.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFontDatabase>
#include <QFontMetrics>
#include <QStringList>
#include <algorithm>
#include <cctype>

#include "core/text.h"
#include "providers/qt/qt_platform.h"

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

}  // namespace rompush::platform::qt
