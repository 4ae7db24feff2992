#pragma once
// Conversions at the boundary between the component model and Qt: texts, fonts, colours.
// The model keeps narrow UTF-8 texts, Windows font heights and 0x00BBGGRR colours.

#include "platform/ui/Control.h"

#include <QColor>
#include <QFont>
#include <QPalette>
#include <QString>

#include <string>

namespace platform {

// A model text for display: UTF-8, with CR LF and a lone CR both taken as a line break,
// as the native controls and message boxes show them.
QString ToQText(const std::string& text);
std::string FromQString(const QString& text);

// The installed family to draw a model face with. Faces that are not installed (the
// Windows faces of the window designs) map to an installed family of the same kind, so
// that letters never come out as empty boxes.
QString ResolveFontFamily(const std::string& face);

// The model font on top of `base`: the face resolved as above; a negative height is the
// character height in pixels, a positive one the cell height (taken as the pixel size:
// the internal leading is not known here); 0 keeps the base size.
QFont ToQFont(const TFont& font, const QFont& base);

// A model colour: the two system colours resolve through the palette (clBtnFace to the
// window colour, clWindowText to the text colour); other values are 0x00BBGGRR. An
// unknown system colour gives an invalid QColor, which callers leave alone.
QColor ToQColor(int color, const QPalette& palette);

} // namespace platform
