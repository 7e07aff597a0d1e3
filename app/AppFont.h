// The window's own font: a cut of the system's CJK face holding the GB 2312
// hanzi, Latin and punctuation (generated at build time by
// tools/subset_font.py into a "fonts" folder beside the executable).
// Registered with the application, it is mapped instead of the full system
// face, a tenth of its size. Characters outside the cut still render: Qt
// falls back through fontconfig to the system's full faces, which are then
// loaded only when such a character is drawn.
#pragma once

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

} // namespace AppFont
