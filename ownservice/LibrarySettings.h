// Where this user's music comes from: the folders our own service serves,
// or instead the address of a server the user chose. The player's music
// library dialog writes it; the player, velmor-cli and velmor-musicd (run by
// the player or by the user's systemd unit) read it, so it lives in its own
// small file beside the player's settings rather than inside them, and this
// code needs nothing but Qt Core.
//
// The file is JSON: {"version": 1, "folders": [...], "server": "..."}.
// Reading is strict, as for the player's settings: anything else is refused
// as a whole and the defaults are used, with one line saying why.
#pragma once

#include <QString>
#include <QStringList>

struct LibraryChoice
{
    // Absolute folders our own service serves; empty means the user's music
    // folder (the XDG music directory, localised names included).
    QStringList folders;
    // A server to use instead of our own service ("" for our own).
    QString server;

    bool usesOwnService() const { return server.isEmpty(); }
    bool operator==(const LibraryChoice &) const = default;
};

class LibrarySettingsFile
{
public:
    // More folders than this is no music library but a mistake.
    static constexpr int kMaxFolders = 256;
    static constexpr int kMaxTextLength = 4096;
    static constexpr qint64 kMaxFileBytes = 1024 * 1024;

    struct ReadResult
    {
        LibraryChoice choice;
        // Empty when read or when there was no file; else why the defaults.
        QString warning;
        bool found = false;
    };

    // $XDG_CONFIG_HOME/velmor/library.json (~/.config when unset).
    static QString defaultPath();
    // The user's music folder: XDG_MUSIC_DIR, else ~/Music.
    static QString defaultMusicFolder();
    // The folders our own service serves for this choice.
    static QStringList servedFolders(const LibraryChoice &choice);

    static ReadResult parse(const QByteArray &bytes);
    static QByteArray serialise(const LibraryChoice &choice);
    // A missing file gives the defaults with no warning and found == false.
    static ReadResult read(const QString &path);
    // Atomically replaces the file (creating its folder); false on failure,
    // with the reason in *error when given.
    static bool write(const QString &path, const LibraryChoice &choice, QString *error = nullptr);
};
