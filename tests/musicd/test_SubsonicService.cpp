// velmor-musicd --subsonic as users run it: velmor-cli against the bridge
// in front of a fake Subsonic server over http and https, the refusals at
// start, and the bridge in front of velmor-musicd's own Subsonic API on a
// generated library.
#include "tests/common/CliRun.h"
#include "tests/common/MusicdServer.h"
#include "tests/common/TestCertificate.h"
#include "tests/common/TestLibrary.h"
#include "tests/musicd/FakeSubsonic.h"

#include <QFile>
#include <QImage>
#include <QProcess>
#include <QTemporaryDir>
#include <QUrl>
#include <QUrlQuery>
#include <gtest/gtest.h>
#include <httplib.h>

namespace {

QString writePasswordFile(const QTemporaryDir &dir, const QByteArray &password,
                          QFile::Permissions mode = QFile::ReadOwner | QFile::WriteOwner)
{
    // A file of its own per call: a test may prepare several at once.
    static int made = 0;
    const QString path = dir.filePath(QStringLiteral("password-%1").arg(++made));
    QFile f(path);
    f.open(QIODevice::WriteOnly);
    f.write(password + "\n");
    f.close();
    f.setPermissions(mode);
    return path;
}

// Runs velmor-musicd with args until it ends (it should, at once).
QPair<int, QString> runToEnd(const QStringList &args)
{
    QProcess p;
    p.start(QStringLiteral(VELMOR_MUSICD_PATH),
            QStringList{QStringLiteral("--port"), QStringLiteral("0")} + args);
    if (!p.waitForFinished(20000)) {
        p.kill();
        p.waitForFinished();
        return {-1, QString()};
    }
    return {p.exitCode(), QString::fromLocal8Bit(p.readAllStandardError())};
}

// Every ID, title and singer of a search through velmor-cli.
QList<QStringList> searchRows(const QString &service, const QString &words)
{
    QList<QStringList> rows;
    for (const QString &line : runCli(service, {QStringLiteral("search"), words}).out) {
        const QStringList fields = line.split(u'\t');
        if (fields.size() == 4)
            rows.append(fields);
    }
    return rows;
}

// Whether the process has the network module (Qt's network library) mapped.
bool mapsNetworkModule(qint64 pid)
{
    QFile maps(QStringLiteral("/proc/%1/maps").arg(pid));
    return maps.open(QIODevice::ReadOnly) && maps.readAll().contains("libvelmor-network");
}

TEST(SubsonicService, CliSearchesLinksAndReadsLyricsThroughTheBridge)
{
    const TestCertificate certificate;
    ASSERT_TRUE(certificate.isValid()) << certificate.error().toStdString();
    for (const bool secure : {false, true}) {
        SCOPED_TRACE(secure ? "https" : "http");
        auto fake =
            secure ? std::make_unique<FakeSubsonic>(certificate) : std::make_unique<FakeSubsonic>();
        for (int i = 0; i < 40; ++i)
            fake->songs().append({QStringLiteral("so-%1").arg(i),
                                  QStringLiteral("Harbour %1").arg(i), QStringLiteral("晴川"),
                                  QStringLiteral("海"), 120, QString(), QString(), QString()});
        fake->songs()[5].synced = QStringLiteral("2000|灯火 line");
        ASSERT_TRUE(fake->start());
        QTemporaryDir dir;
        QStringList args{
            QStringLiteral("--subsonic"),      fake->url(),
            QStringLiteral("--user"),          QLatin1String(FakeSubsonic::kUser),
            QStringLiteral("--password-file"), writePasswordFile(dir, FakeSubsonic::kPassword)};
        if (secure)
            args << QStringLiteral("--subsonic-ca-file") << certificate.certificateFile();
        MusicdServer bridge;
        ASSERT_TRUE(bridge.start(args)) << bridge.stderrText().toStdString();

        // Two result pages, every song once.
        const QList<QStringList> rows = searchRows(bridge.url(), QStringLiteral("harbour"));
        ASSERT_EQ(rows.size(), 40);
        QString fifth;
        for (const QStringList &row : rows) {
            if (row.at(1) == QStringLiteral("Harbour 5"))
                fifth = row.at(0);
        }
        ASSERT_FALSE(fifth.isEmpty());

        const CliRun link =
            runCli(bridge.url(), {QStringLiteral("link"), fifth, QStringLiteral("晴川"),
                                  QStringLiteral("Harbour 5")});
        ASSERT_EQ(link.exitCode, 0);
        ASSERT_EQ(link.out.size(), 1);
        const QUrl url(link.out.first());
        EXPECT_EQ(url.scheme(), secure ? QStringLiteral("https") : QStringLiteral("http"));
        EXPECT_EQ(url.port(), fake->port());
        // The server takes the link as it is: the token proves the password.
        httplib::Client client(url.toString(QUrl::RemovePath | QUrl::RemoveQuery).toStdString());
        if (secure)
            client.set_ca_cert_path(certificate.certificateFile().toStdString());
        const auto answer =
            client.Get(url.toEncoded(QUrl::RemoveScheme | QUrl::RemoveAuthority).toStdString());
        ASSERT_TRUE(answer);
        EXPECT_EQ(answer->status, 200);
        EXPECT_EQ(answer->get_header_value("Content-Type"), "audio/mpeg");
        EXPECT_TRUE(fake->lastStream().contains(QStringLiteral("id=so-5")));

        const CliRun lyrics =
            runCli(bridge.url(), {QStringLiteral("lyrics"), fifth, QStringLiteral("晴川"),
                                  QStringLiteral("Harbour 5")});
        EXPECT_EQ(lyrics.exitCode, 0);
        EXPECT_TRUE(lyrics.out.join(u'\n').contains(QStringLiteral("灯火 line")))
            << lyrics.out.join(u'\n').toStdString();
        const CliRun none = runCli(bridge.url(), {QStringLiteral("lyrics"), rows.first().at(0),
                                                  QStringLiteral("晴川"), rows.first().at(1)});
        EXPECT_EQ(none.out, QStringList{QStringLiteral("暂无歌词")});
        // Qt's network library is opened for https only.
        EXPECT_EQ(mapsNetworkModule(bridge.processId()), secure);
    }
}

TEST(SubsonicService, StartRefusesWhatCannotWork)
{
    FakeSubsonic fake;
    ASSERT_TRUE(fake.start());
    const TestCertificate certificate;
    ASSERT_TRUE(certificate.isValid()) << certificate.error().toStdString();
    FakeSubsonic secure(certificate);
    ASSERT_TRUE(secure.start());
    QTemporaryDir dir;
    const QString user = QLatin1String(FakeSubsonic::kUser);
    const QString password = writePasswordFile(dir, FakeSubsonic::kPassword);
    struct Case
    {
        QStringList args;
        int status;
        QString says;
    };
    const QList<Case> cases{
        {{QStringLiteral("--subsonic"), fake.url(), QStringLiteral("--user"), user,
          QStringLiteral("--password-file"), writePasswordFile(dir, "not it")},
         1,
         QStringLiteral("wrong user name or password")},
        {{QStringLiteral("--subsonic"), QStringLiteral("http://127.0.0.1:1"),
          QStringLiteral("--user"), user, QStringLiteral("--password-file"),
          writePasswordFile(dir, FakeSubsonic::kPassword)},
         1,
         QStringLiteral("cannot reach the Subsonic server")},
        {{QStringLiteral("--subsonic"), secure.url(), QStringLiteral("--user"), user,
          QStringLiteral("--password-file"), password},
         1,
         QStringLiteral("The certificate is self-signed, and untrusted; if the server is yours, "
                        "give its certificate (PEM) with --subsonic-ca-file")},
        {{QStringLiteral("--subsonic"), secure.url(), QStringLiteral("--user"), user,
          QStringLiteral("--password-file"), password, QStringLiteral("--subsonic-ca-file"),
          password},
         1,
         QStringLiteral("holds no PEM certificate")},
        {{QStringLiteral("--subsonic"), fake.url(), QStringLiteral("--user"), user,
          QStringLiteral("--password-file"), password, QStringLiteral("--subsonic-ca-file"),
          certificate.certificateFile()},
         1,
         QStringLiteral("goes with an https:// server")},
        {{QStringLiteral("--subsonic"), fake.url(), QStringLiteral("--user"), user,
          QStringLiteral("--password-file"),
          writePasswordFile(dir, FakeSubsonic::kPassword,
                            QFile::ReadOwner | QFile::WriteOwner | QFile::ReadOther)},
         1,
         QStringLiteral("can be read by other users")},
        {{QStringLiteral("--subsonic"), fake.url(), QStringLiteral("--library"), dir.path()},
         2,
         QStringLiteral("exclude each other")},
    };
    for (const Case &c : cases) {
        const auto [status, says] = runToEnd(c.args);
        EXPECT_EQ(status, c.status) << says.toStdString();
        EXPECT_TRUE(says.contains(c.says)) << says.toStdString();
    }
}

// The bridge in front of velmor-musicd's own Subsonic API, over a generated
// library.
TEST(SubsonicService, BridgeServesTheLibraryOfOwnSubsonicApi)
{
    TestLibrary library;
    ASSERT_TRUE(library.build()) << library.error().toStdString();
    MusicdServer own;
    ASSERT_TRUE(own.start({QStringLiteral("--library"), library.root(), QStringLiteral("--index"),
                           library.indexFile()}));
    ASSERT_TRUE(own.waitForStderr(QStringLiteral("library ready"), 60000));
    const QUrl ownUrl(own.url());

    QTemporaryDir dir;
    MusicdServer bridge;
    ASSERT_TRUE(bridge.start({QStringLiteral("--subsonic"), own.url(), QStringLiteral("--user"),
                              QStringLiteral("velmor"), QStringLiteral("--password-file"),
                              writePasswordFile(dir, "velmor")}))
        << bridge.stderrText().toStdString();

    for (const TestLibrary::Track &track : library.tracks()) {
        if (track.title.isEmpty())
            continue;
        QStringList row;
        for (const QStringList &r : searchRows(bridge.url(), track.title)) {
            if (r.at(1) == track.title)
                row = r;
        }
        ASSERT_EQ(row.size(), 4) << track.title.toStdString();
        // The singer as the library's own search page shows it to the player.
        QStringList ownRow;
        for (const QStringList &r : searchRows(own.url(), track.title)) {
            if (r.at(1) == track.title)
                ownRow = r;
        }
        ASSERT_EQ(ownRow.size(), 4) << track.title.toStdString();
        EXPECT_EQ(row.at(2), ownRow.at(2)) << track.title.toStdString();

        const CliRun link =
            runCli(bridge.url(), {QStringLiteral("link"), row.at(0), track.artist, track.title});
        ASSERT_EQ(link.exitCode, 0) << track.title.toStdString();
        const QUrl url(link.out.value(0));
        EXPECT_EQ(url.port(), ownUrl.port());
        EXPECT_EQ(url.path(), QStringLiteral("/rest/stream.view"));
        httplib::Client audio(ownUrl.host().toStdString(), ownUrl.port());
        const auto bytes =
            audio.Get(url.toEncoded(QUrl::RemoveScheme | QUrl::RemoveAuthority).toStdString());
        ASSERT_TRUE(bytes);
        EXPECT_EQ(bytes->status, 200);
        EXPECT_EQ(QByteArray::fromStdString(bytes->body), [&] {
            QFile f(library.path(track.relativePath));
            return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
        }()) << track.title.toStdString();

        const CliRun lyrics =
            runCli(bridge.url(), {QStringLiteral("lyrics"), row.at(0), track.artist, track.title});
        EXPECT_EQ(lyrics.out != QStringList{QStringLiteral("暂无歌词")}, track.lyrics)
            << track.title.toStdString();
        if (track.picture) {
            const CliRun picture = runCli(bridge.url(), {QStringLiteral("picture"), track.artist});
            ASSERT_EQ(picture.exitCode, 0) << track.artist.toStdString();
            const QUrl pictureUrl(picture.out.value(0));
            httplib::Client pictures(pictureUrl.host().toStdString(), pictureUrl.port());
            const auto jpeg = pictures.Get(pictureUrl.path().toStdString());
            ASSERT_TRUE(jpeg);
            const QImage image = QImage::fromData(QByteArray::fromStdString(jpeg->body), "JPEG");
            EXPECT_FALSE(image.isNull()) << track.artist.toStdString();
            EXPECT_LE(std::max(image.width(), image.height()), 300);
        }
    }
}

} // namespace
