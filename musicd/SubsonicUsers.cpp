#include "musicd/SubsonicUsers.h"

#include "files/CheckedCommit.h"
#include "files/SmallFile.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRandomGenerator>
#include <QSaveFile>
#include <QStandardPaths>
#include <cstdio>
#include <iostream>
#include <string>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

namespace musicd {
namespace {

// A users file is a handful of lines; anything far larger is not one.
constexpr qint64 kMaxFileBytes = 1024 * 1024;
constexpr int kApiKeyBytes = 24;
constexpr qsizetype kMaxNameLength = 64;
constexpr qsizetype kMaxPasswordLength = 256;

// Group or world may read or write it.
bool openToOthers(const QString &path)
{
    struct stat st
    {
    };
    return ::stat(QFile::encodeName(path).constData(), &st) == 0 && (st.st_mode & 077) != 0;
}

QString newApiKey()
{
    QByteArray bytes(kApiKeyBytes, Qt::Uninitialized);
    QRandomGenerator::system()->fillRange(reinterpret_cast<quint32 *>(bytes.data()),
                                          kApiKeyBytes / 4);
    return QString::fromLatin1(bytes.toHex());
}

// One line of stdin without its line end; nullopt at the end of input.
std::optional<QString> readLine()
{
    std::string line;
    if (!std::getline(std::cin, line))
        return std::nullopt;
    if (!line.empty() && line.back() == '\r')
        line.pop_back();
    return QString::fromLocal8Bit(line);
}

std::optional<QString> askHidden(const char *prompt)
{
    std::fputs(prompt, stderr);
    std::fflush(stderr);
    termios saved{};
    const bool terminal = ::tcgetattr(STDIN_FILENO, &saved) == 0;
    if (terminal) {
        termios quiet = saved;
        quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
        ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet);
    }
    const std::optional<QString> line = readLine();
    if (terminal) {
        ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &saved);
        std::fputs("\n", stderr);
    }
    return line;
}

} // namespace

bool sameSecret(const QByteArray &a, const QByteArray &b)
{
    if (a.size() != b.size())
        return false;
    unsigned char diff = 0;
    for (qsizetype i = 0; i < a.size(); ++i)
        diff |= static_cast<unsigned char>(a[i] ^ b[i]);
    return diff == 0;
}

QString SubsonicUsers::defaultPath()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
           QStringLiteral("/velmor/musicd-users");
}

bool SubsonicUsers::validName(const QString &name)
{
    if (name.isEmpty() || name.size() > kMaxNameLength || name.trimmed() != name)
        return false;
    for (const QChar c : name) {
        if (c.unicode() < 0x20 || c.unicode() == 0x7F)
            return false;
    }
    return true;
}

std::optional<SubsonicUsers> SubsonicUsers::load(const QString &path, QString *error)
{
    const smallfile::Contents contents = smallfile::read(path, kMaxFileBytes);
    if (contents.missing) {
        *error = QStringLiteral("%1 does not exist (velmor-musicd --add-user NAME creates it)")
                     .arg(path);
        return std::nullopt;
    }
    if (!contents.problem.isEmpty()) {
        *error = QStringLiteral("cannot read %1: %2").arg(path, contents.problem);
        return std::nullopt;
    }
    if (openToOthers(path)) {
        *error =
            QStringLiteral("%1 holds passwords but others may read it; run chmod 600 %1").arg(path);
        return std::nullopt;
    }
    QJsonObject object;
    const QString problem = smallfile::jsonObjectIn(contents.bytes, kMaxFileBytes, &object);
    if (!problem.isEmpty() || !object.value(QStringLiteral("users")).isArray()) {
        *error = QStringLiteral("%1 is not a users file: %2")
                     .arg(path, problem.isEmpty() ? QStringLiteral("no users list") : problem);
        return std::nullopt;
    }
    SubsonicUsers users;
    for (const QJsonValue &value : object.value(QStringLiteral("users")).toArray()) {
        SubsonicUser user;
        user.name = value[QLatin1String("name")].toString();
        user.password = value[QLatin1String("password")].toString();
        user.apiKey = value[QLatin1String("apiKey")].toString();
        if (!validName(user.name) || user.password.isEmpty() || user.apiKey.isEmpty()) {
            *error = QStringLiteral("%1 is not a users file: an entry lacks a name, password "
                                    "or API key")
                         .arg(path);
            return std::nullopt;
        }
        users.m_users.append(user);
    }
    return users;
}

QString SubsonicUsers::addUser(const QString &path, const QString &name, const QString &password,
                               QString *error)
{
    if (!validName(name)) {
        *error = QStringLiteral("not a user name: \"%1\" (1 to %2 characters, no control "
                                "characters or outer spaces)")
                     .arg(name)
                     .arg(kMaxNameLength);
        return QString();
    }
    SubsonicUsers users;
    if (QFileInfo::exists(path)) {
        std::optional<SubsonicUsers> loaded = load(path, error);
        if (!loaded)
            return QString();
        users = std::move(*loaded);
    }
    QString apiKey;
    for (SubsonicUser &user : users.m_users) {
        if (user.name == name) {
            user.password = password;
            apiKey = user.apiKey;
        }
    }
    if (apiKey.isEmpty()) {
        apiKey = newApiKey();
        users.m_users.append({name, password, apiKey});
    }
    QJsonArray list;
    for (const SubsonicUser &user : users.m_users)
        list.append(QJsonObject{{QStringLiteral("name"), user.name},
                                {QStringLiteral("password"), user.password},
                                {QStringLiteral("apiKey"), user.apiKey}});
    const QByteArray bytes =
        QJsonDocument(QJsonObject{{QStringLiteral("users"), list}}).toJson(QJsonDocument::Indented);

    const QString folder = QFileInfo(path).absolutePath();
    if (!QDir().mkpath(folder)) {
        *error = QStringLiteral("cannot create %1").arg(folder);
        return QString();
    }
    // The permissions are set on the temporary file before a byte of it is
    // written, so the passwords are never on disk readable by others.
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) ||
        !file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner) ||
        file.write(bytes) != bytes.size()) {
        *error = QStringLiteral("cannot write %1: %2").arg(path, file.errorString());
        return QString();
    }
    const CheckedCommit commit = CheckedCommit::commit(file, bytes.size());
    if (!commit.saved) {
        *error = QStringLiteral("cannot write %1: %2").arg(path, commit.reason);
        return QString();
    }
    return apiKey;
}

QString SubsonicUsers::readNewPassword(QString *error)
{
    const bool terminal = ::isatty(STDIN_FILENO) == 1;
    const std::optional<QString> first = terminal ? askHidden("Password: ") : readLine();
    if (!first || first->isEmpty()) {
        *error = QStringLiteral("no password given");
        return QString();
    }
    if (first->size() > kMaxPasswordLength) {
        *error =
            QStringLiteral("the password is longer than %1 characters").arg(kMaxPasswordLength);
        return QString();
    }
    if (terminal) {
        const std::optional<QString> again = askHidden("Again: ");
        if (!again || *again != *first) {
            *error = QStringLiteral("the two passwords differ; nothing was changed");
            return QString();
        }
    }
    return *first;
}

std::optional<SubsonicUser> SubsonicUsers::byName(const QString &name) const
{
    for (const SubsonicUser &user : m_users) {
        if (user.name == name)
            return user;
    }
    return std::nullopt;
}

std::optional<SubsonicUser> SubsonicUsers::byApiKey(const QString &apiKey) const
{
    std::optional<SubsonicUser> found;
    // Every key is compared, so the time taken does not tell which is near.
    for (const SubsonicUser &user : m_users) {
        if (sameSecret(user.apiKey.toUtf8(), apiKey.toUtf8()))
            found = user;
    }
    return found;
}

} // namespace musicd
