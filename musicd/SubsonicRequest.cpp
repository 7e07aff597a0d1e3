#include "musicd/SubsonicRequest.h"

namespace musicd {

QString SubsonicRequest::value(const QString &name) const
{
    for (const auto &[key, value] : params) {
        if (key == name)
            return value;
    }
    return QString();
}

QStringList SubsonicRequest::values(const QString &name) const
{
    QStringList found;
    for (const auto &[key, value] : params) {
        if (key == name)
            found.append(value);
    }
    return found;
}

bool SubsonicRequest::has(const QString &name) const
{
    for (const auto &param : params) {
        if (param.first == name)
            return true;
    }
    return false;
}

} // namespace musicd
