// The window's own font: a cut of the system's CJK face holding the GB 2312
// hanzi, Latin and punctuation (generated at build time by
// tools/subset_font.py into a "fonts" folder beside the executable).
// Registered with the application, it is mapped instead of the full system
// face, a tenth of its size. Characters outside the cut still render: Qt
// falls back through fontconfig to the system's full faces, which are then
// loaded only when such a character is drawn.
#pragma once

#include <QFont>
#include <QString>
#include <QStringList>

namespace AppFont {

// The family the cut registers under.
inline constexpr char kFamily[] = "Velmor Sans CJK";
// The face's file name.
inline constexpr char kFileName[] = "VelmorSansCJK-Regular.otf";

// Where the face is looked for: the "fonts" folder beside the executable
// (the build tree), then the installed share folder beside "bin".
QStringList searchDirectories();

// Registers the face from the first of dirs that has it. Returns the family
// on success, or an empty text when no usable face was found (the window
// then uses the system's fonts, as before).
QString install(const QStringList &dirs = searchDirectories());

// The skin's text size, in points.
inline constexpr int kPointSize = 9;

// The application's font: the installed family (if any) first, then the
// system CJK faces the skin names, at the skin's size. Every widget takes it
// by inheritance, so the skin sets no font on each one (which costs every
// widget a font of its own when the style sheet is applied).
QFont windowFont(const QString &installedFamily);

} // namespace AppFont
