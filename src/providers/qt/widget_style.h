// How the window models look in Qt terms: twips as pixels, the models' colours and fonts,
// captions with their access-key marks, and where a picture's file is found.
#pragma once

#include <QColor>
#include <QFont>
#include <QPalette>
#include <QString>
#include <QWidget>
#include <string>

#include "ui/controls.h"

namespace rompush::platform::qt {

// Twips to pixels (15 twips a pixel).
int Px(int twips);
// A colour of the models on the application's palette (system colours included).
QColor ToQColor(ui::Colour colour);
QFont ToQFont(const ui::FontSpec& font);
// The caption without its access-key marks.
QString StripMnemonic(const QString& caption);
// A model's text with the line ends the widgets expect.
QString DisplayText(const std::string& text);
QString WrapCaption(const QString& caption, const QFont& font, int width);
void SetColours(QWidget* widget, QPalette::ColorRole backRole, ui::Colour back,
                QPalette::ColorRole foreRole, ui::Colour fore);
QString FindPicture(const std::string& name);

}  // namespace rompush::platform::qt
