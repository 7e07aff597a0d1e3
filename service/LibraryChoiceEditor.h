// What the music library dialog decides, apart from its widgets: the list of
// folders our own service serves (added, removed, each checked), or instead
// a server's address, and the connection check that says what failed. The
// dialog shows an editor and reads its answers; tests call it directly.
#pragma once

#include "net/HttpTypes.h"
#include "ownservice/LibrarySettings.h"

#include <QString>
#include <QStringList>

class LibraryChoiceEditor
{
public:
    explicit LibraryChoiceEditor(const LibraryChoice &start = {});

    // ---- the folders ----------------------------------------------------------
    // The folders to serve; none stands for the user's music folder.
    const QStringList &folders() const { return m_folders; }
    // Adds a folder (made absolute and clean); "" when added, else why not.
    QString addFolder(const QString &path);
    // Removes the folder at index (nothing for an index that names none).
    void removeFolder(int index);
    // Why a folder cannot be served ("" when it can).
    static QString folderProblem(const QString &path);

    // ---- or a server --------------------------------------------------------------
    bool usesServer() const { return m_usesServer; }
    void setUsesServer(bool server) { m_usesServer = server; }
    const QString &server() const { return m_server; }
    void setServer(const QString &address) { m_server = address.trimmed(); }
    // Why an address names no server ("" when it does): http(s)://host[:port].
    static QString serverProblem(const QString &address);

    // Why the choice cannot be saved ("" when it can).
    QString problem() const;
    // The choice as it stands (the folders are kept while a server is used,
    // so switching back finds them).
    LibraryChoice choice() const;

    // ---- the connection check -------------------------------------------------------
    // The address a check reads: a search page, which every music service
    // answers.
    static QString checkUrl(const QString &address);
    // What a check's answer means, in the user's words; ok when it came
    // from a music service.
    struct CheckOutcome
    {
        bool ok = false;
        QString text;
    };
    static CheckOutcome checkOutcome(const HttpResult &answer);
    // Reads checkUrl(server()) through the player's HTTP client (at most
    // kCheckTimeoutMs without an answer).
    CheckOutcome checkServer() const;
    static constexpr int kCheckTimeoutMs = 5000;

private:
    QStringList m_folders;
    QString m_server;
    bool m_usesServer = false;
};
