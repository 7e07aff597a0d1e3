// The music library dialog's decisions without its widgets: which folders
// and addresses it takes, and what its connection check tells the user
// about loopback servers that refuse, answer wrongly, fail, or are a music
// service. Also the local-files request's refusals before any request.
#include "service/LibraryChoiceEditor.h"
#include "service/LocalFiles.h"
#include "service/ServiceConfig.h"
#include "tests/common/MusicdServer.h"
#include "tests/common/TestHttpServer.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <httplib.h>

namespace {

TEST(LibraryChoiceEditor, TakesOnlyFoldersThatCanBeServed)
{
    QTemporaryDir dir;
    const QString music = dir.filePath(QStringLiteral("音乐"));
    const QString file = dir.filePath(QStringLiteral("song.mp3"));
    ASSERT_TRUE(QDir().mkpath(music));
    ASSERT_TRUE(QFile(file).open(QIODevice::WriteOnly));
    LibraryChoiceEditor editor;
    const struct
    {
        QString path;
        const char *problem; // "" when taken
    } cases[] = {
        {QString(), "请选择一个文件夹"},
        {QStringLiteral("music"), "文件夹必须是完整路径"},
        {dir.filePath(QStringLiteral("missing")), "文件夹不存在"},
        {file, "不是文件夹"},
        {music + QStringLiteral("/"), ""},
        {music, "文件夹已在列表中"},
        {dir.path(), ""},
    };
    for (const auto &c : cases) {
        const QString problem = editor.addFolder(c.path);
        EXPECT_TRUE(QString::fromUtf8(c.problem).isEmpty()
                        ? problem.isEmpty()
                        : problem.contains(QString::fromUtf8(c.problem)))
            << c.path.toStdString() << ": " << problem.toStdString();
    }
    EXPECT_EQ(editor.folders(), (QStringList{music, QDir::cleanPath(dir.path())}));
    editor.removeFolder(7);
    editor.removeFolder(0);
    EXPECT_EQ(editor.folders(), QStringList{QDir::cleanPath(dir.path())});
    EXPECT_TRUE(editor.problem().isEmpty());

    // A folder that went away since is named when the choice is saved.
    LibraryChoiceEditor stale({{dir.filePath(QStringLiteral("gone"))}, QString()});
    EXPECT_TRUE(stale.problem().contains(QStringLiteral("文件夹不存在")));
}

TEST(LibraryChoiceEditor, TakesOnlyServerAddresses)
{
    const struct
    {
        const char *address;
        bool taken;
    } cases[] = {
        {"", false},
        {"192.168.1.20:18750", false},
        {"ftp://192.168.1.20/", false},
        {"http://", false},
        {"http://host:5/?q=1", false},
        {"http://user@host:5", false},
        {"http://192.168.1.20:18750", true},
        {"  https://music.example:8443/  ", true},
        {"http://[::1]:5", true},
    };
    for (const auto &c : cases) {
        LibraryChoiceEditor editor;
        editor.setUsesServer(true);
        editor.setServer(QString::fromUtf8(c.address));
        EXPECT_EQ(editor.problem().isEmpty(), c.taken) << c.address;
    }

    // The folders stay while a server is used, and the address is kept
    // without its trailing slash.
    LibraryChoiceEditor editor({{QDir::tempPath()}, QString()});
    editor.setUsesServer(true);
    editor.setServer(QStringLiteral("https://music.example:8443/"));
    EXPECT_EQ(editor.choice(),
              (LibraryChoice{{QDir::tempPath()}, QStringLiteral("https://music.example:8443")}));
    editor.setUsesServer(false);
    EXPECT_EQ(editor.choice(), (LibraryChoice{{QDir::tempPath()}, QString()}));
}

TEST(LibraryChoiceEditor, CheckNamesWhatFailed)
{
    TestHttpServer wrong;
    wrong.http().Get(R"(.*)", [](const httplib::Request &, httplib::Response &res) {
        res.set_content("<html><body>It works!</body></html>", "text/html");
    });
    ASSERT_TRUE(wrong.start());
    TestHttpServer failing;
    failing.http().Get(R"(.*)",
                       [](const httplib::Request &, httplib::Response &res) { res.status = 500; });
    ASSERT_TRUE(failing.start());
    TestHttpServer closed;
    ASSERT_TRUE(closed.start());
    const QString refusing = closed.url();
    closed.stop();
    MusicdServer music;
    ASSERT_TRUE(music.start());

    const struct
    {
        QString address;
        bool ok;
        const char *text;
    } cases[] = {
        {refusing, false, "连接失败：连接被拒绝"},
        {wrong.url(), false, "不是音乐服务"},
        {failing.url(), false, "HTTP 500"},
        {QStringLiteral("http://no-such-host.invalid:5"), false, "连接失败：找不到服务器"},
        {QStringLiteral("bogus"), false, "服务器地址无效"},
        {music.url() + QStringLiteral("/"), true, "连接成功"},
    };
    for (const auto &c : cases) {
        LibraryChoiceEditor editor;
        editor.setUsesServer(true);
        editor.setServer(c.address);
        const LibraryChoiceEditor::CheckOutcome outcome = editor.checkServer();
        EXPECT_EQ(outcome.ok, c.ok) << c.address.toStdString();
        EXPECT_TRUE(outcome.text.contains(QString::fromUtf8(c.text)))
            << c.address.toStdString() << ": " << outcome.text.toStdString();
    }
}

TEST(LocalFiles, GoOnlyToTheUsersOwnServiceOnThisComputer)
{
    EXPECT_EQ(musicservice::loopbackPort(QStringLiteral("http://127.0.0.1:18750")), 18750);
    EXPECT_EQ(musicservice::loopbackPort(QStringLiteral("http://localhost")), 80);
    EXPECT_EQ(musicservice::loopbackPort(QStringLiteral("http://[::1]:5")), 5);
    EXPECT_EQ(musicservice::loopbackPort(QStringLiteral("http://192.0.2.2:18750")), -1);
    EXPECT_EQ(musicservice::loopbackPort(QStringLiteral("https://127.0.0.1:5")), -1);

    // A remote service is never asked; a loopback one without this user's
    // secret is not either.
    QTemporaryDir runtime;
    const QByteArray oldRuntime = qgetenv("XDG_RUNTIME_DIR");
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(runtime.path()));
    ServiceConfig::setHost(QStringLiteral("http://192.0.2.2:18750"));
    const musicservice::LocalFilesAnswer remote =
        musicservice::addLocalFiles({QStringLiteral("/tmp/a.mp3")});
    EXPECT_TRUE(remote.songs.isEmpty());
    EXPECT_TRUE(remote.problem.contains(QStringLiteral("不在本机")))
        << remote.problem.toStdString();
    ServiceConfig::setHost(QStringLiteral("http://127.0.0.1:1"));
    const musicservice::LocalFilesAnswer tokenless =
        musicservice::addLocalFiles({QStringLiteral("/tmp/a.mp3")});
    EXPECT_TRUE(tokenless.problem.contains(QStringLiteral("不接收文件")))
        << tokenless.problem.toStdString();
    ServiceConfig::setHost(QString());
    qputenv("XDG_RUNTIME_DIR", oldRuntime);
}

} // namespace
