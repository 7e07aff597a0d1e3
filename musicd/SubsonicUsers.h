// The users of velmor-musicd's Subsonic face, kept in a small JSON file
// (`--users FILE`, by default musicd-users in the user's velmor config
// folder): each user's name, password and API key.
//
// The password is kept as it is, not hashed: the API's token form proves
// it as md5(password + salt), which only the password itself can check.
// So the file is a password store, written with mode 0600 and refused when
// anyone but its owner may read it.
#pragma once

#include <QList>
#include <QString>
#include <optional>

namespace musicd {

struct SubsonicUser
{
    QString name;
    QString password;
    QString apiKey;
};

class SubsonicUsers
{
public:
    static QString defaultPath();

    // The users in the file; nullopt with one line in *error when it is
    // missing, readable by others, too large or not a users file.
    static std::optional<SubsonicUsers> load(const QString &path, QString *error);

    // Adds the user, or gives an existing one the new password, and writes
    // the file atomically with mode 0600. The user's API key (new for a new
    // user, kept for an existing one); empty with *error on failure.
    static QString addUser(const QString &path, const QString &name, const QString &password,
                           QString *error);

    // Reads a new password: twice without echo on a terminal, else one
    // line of stdin. Empty with *error when none was given.
    static QString readNewPassword(QString *error);

    std::optional<SubsonicUser> byName(const QString &name) const;
    std::optional<SubsonicUser> byApiKey(const QString &apiKey) const;
    qsizetype size() const { return m_users.size(); }

    static bool validName(const QString &name);

private:
    QList<SubsonicUser> m_users;
};

// Compares every byte whatever the first difference, so the time taken
// tells nothing of how much of a guess was right.
bool sameSecret(const QByteArray &a, const QByteArray &b);

} // namespace musicd
