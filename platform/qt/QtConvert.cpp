#include "platform/qt/QtConvert.h"

#include <QFontDatabase>

#include <initializer_list>

namespace platform {

QString ToQText(const std::string& text)
{
    QString s = QString::fromStdString(text);
    s.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    s.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    return s;
}

std::string FromQString(const QString& text) { return text.toStdString(); }

namespace {

QString FirstInstalled(std::initializer_list<const char*> families, QFontDatabase::SystemFont fallback)
{
    for (const char* f : families)
        if (QFontDatabase::hasFamily(QString::fromLatin1(f)))
            return QString::fromLatin1(f);
    return QFontDatabase::systemFont(fallback).family();
}

} // namespace

QString ResolveFontFamily(const std::string& face)
{
    const QString name = QString::fromStdString(face);
    if (!name.isEmpty() && QFontDatabase::hasFamily(name))
        return name;
    // "MS Sans Serif" names a sans face although it contains "Serif": look for "Sans" first.
    if (name.contains(QLatin1String("Courier"), Qt::CaseInsensitive) ||
        name.contains(QLatin1String("Mono"), Qt::CaseInsensitive) ||
        name.contains(QLatin1String("Console"), Qt::CaseInsensitive) ||
        name.contains(QLatin1String("Fixed"), Qt::CaseInsensitive))
        return FirstInstalled({"DejaVu Sans Mono", "Liberation Mono"}, QFontDatabase::FixedFont);
    if (!name.contains(QLatin1String("Sans"), Qt::CaseInsensitive) &&
        (name.contains(QLatin1String("Serif"), Qt::CaseInsensitive) ||
         name.contains(QLatin1String("Times"), Qt::CaseInsensitive)))
        return FirstInstalled({"DejaVu Serif", "Liberation Serif"}, QFontDatabase::GeneralFont);
    return FirstInstalled({"DejaVu Sans", "Liberation Sans"}, QFontDatabase::GeneralFont);
}

QFont ToQFont(const TFont& font, const QFont& base)
{
    QFont f = base;
    f.setFamily(ResolveFontFamily(font.Name));
    if (font.Height != 0)
        f.setPixelSize(font.Height < 0 ? -font.Height : font.Height);
    f.setBold((font.Style & fsBold) != 0);
    f.setItalic((font.Style & fsItalic) != 0);
    f.setUnderline((font.Style & fsUnderline) != 0);
    f.setStrikeOut((font.Style & fsStrikeOut) != 0);
    return f;
}

QColor ToQColor(int color, const QPalette& palette)
{
    if (color == clBtnFace)
        return palette.color(QPalette::Window);
    if (color == clWindowText)
        return palette.color(QPalette::WindowText);
    if (color < 0)
        return {};
    return QColor(color & 0xFF, (color >> 8) & 0xFF, (color >> 16) & 0xFF);
}

} // namespace platform
