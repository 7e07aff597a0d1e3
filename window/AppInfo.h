// The program's name and version as the window title shows them.
#pragma once

#include <QString>

namespace AppInfo {

// "Velmor音乐播放器 Version" immediately followed by major.minor.revision.
QString windowTitle();
QString version();

} // namespace AppInfo
