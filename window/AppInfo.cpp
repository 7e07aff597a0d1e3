#include "window/AppInfo.h"

namespace AppInfo {

QString version()
{
    return QStringLiteral("%1.%2.%3")
        .arg(VELMOR_VERSION_MAJOR)
        .arg(VELMOR_VERSION_MINOR)
        .arg(VELMOR_VERSION_PATCH);
}

QString windowTitle()
{
    return QStringLiteral("Velmor音乐播放器 Version") + version();
}

} // namespace AppInfo
