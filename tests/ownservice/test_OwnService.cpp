// This user's own music service: the controller finding or starting
// velmor-musicd, the runtime folder's trust checks, and the service's
// /status answer during and after a scan.
#include "ownservice/OwnService.h"
#include "ownservice/OwnServiceController.h"
#include "ownservice/RuntimeFolder.h"
#include "tests/common/MusicdServer.h"
#include "tests/common/RawHttp.h"
#include "tests/common/TestLibrary.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <csignal>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

// Every test has a home of its own: runtime, settings and cache folders.
class OwnService : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_home.isValid());
        for (const char *name : {"run", "config", "cache"})
            QDir(m_home.path()).mkpath(QString::fromLatin1(name));
        ::chmod(QFile::encodeName(m_home.filePath(QStringLiteral("run"))).constData(), 0700);
        setEnv("XDG_RUNTIME_DIR", m_home.filePath(QStringLiteral("run")));
        setEnv("XDG_CONFIG_HOME", m_home.filePath(QStringLiteral("config")));
        setEnv("XDG_CACHE_HOME", m_home.filePath(QStringLiteral("cache")));
    }
    void TearDown() override
    {
        for (const auto &[name, value] : m_saved) {
            if (value.isNull())
                qunsetenv(name);
            else
                qputenv(name, value);
        }
    }
    void setEnv(const char *name, const QString &value)
    {
        m_saved.emplace_back(name, qgetenv(name));
        qputenv(name, QFile::encodeName(value));
    }
    QString runtime() const { return m_home.filePath(QStringLiteral("run/velmor")); }

    // Waits until the controller has a service, or has failed.
    static bool waitReady(OwnServiceController &c, QSignalSpy &failed)
    {
        return QTest::qWaitFor([&] { return !c.url().isEmpty() || failed.count() > 0; }, 30000) &&
               !c.url().isEmpty();
    }

    QTemporaryDir m_home;
    std::vector<std::pair<const char *, QByteArray>> m_saved;
};

struct CliRun
{
    int exitCode = -1;
    QString out;
};

// velmor-cli with no --service: it finds this user's service by itself.
CliRun cliSearch(const QString &words)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove(QStringLiteral("VELMOR_SERVICE_URL"));
    QProcess p;
    p.setProcessEnvironment(env);
    p.start(QStringLiteral(VELMOR_CLI_PATH), {QStringLiteral("search"), words});
    CliRun run;
    if (p.waitForFinished(60000) && p.exitStatus() == QProcess::NormalExit)
        run.exitCode = p.exitCode();
    run.out = QString::fromUtf8(p.readAllStandardOutput());
    return run;
}

bool processLives(qint64 pid)
{
    return pid > 0 && ::kill(pid_t(pid), 0) == 0;
}

TEST_F(OwnService, StartsTheServiceBesideThePlayerAndTheCliFindsItsSongs)
{
    TestLibrary library;
    ASSERT_TRUE(library.build()) << library.error().toStdString();
    // The program is looked for beside the player first.
    QTemporaryDir bin;
    ASSERT_TRUE(QFile::link(QStringLiteral(VELMOR_MUSICD_PATH),
                            bin.filePath(QStringLiteral("velmor-musicd"))));
    const QString program = ownservice::findProgram(bin.path());
    ASSERT_EQ(program, bin.filePath(QStringLiteral("velmor-musicd")));

    // Nothing answers yet, so the CLI has nowhere to go.
    ASSERT_TRUE(ownservice::findRunning().isEmpty());
    qint64 pid = 0;
    {
        OwnServiceController controller;
        controller.setProgram(program);
        QSignalSpy failed(&controller, &OwnServiceController::failed);
        QSignalSpy lines(&controller, &OwnServiceController::statusChanged);
        controller.apply({{library.root()}, QString()});
        ASSERT_TRUE(waitReady(controller, failed))
            << failed.value(0).value(0).toString().toStdString();
        EXPECT_TRUE(controller.startedService());
        pid = controller.serviceProcessId();
        ASSERT_TRUE(QTest::qWaitFor(
            [&] {
                return !controller.firstScanRunning() && controller.status().updated.size() > 0;
            },
            60000));
        EXPECT_EQ(controller.status().tracks, library.tracks().size());
        const QString line = lines.last().value(0).toString();
        EXPECT_TRUE(line.startsWith(QStringLiteral("音乐库共 %1 首；%2 个文件无法读取")
                                        .arg(library.tracks().size())
                                        .arg(library.broken().size())))
            << line.toStdString();

        const CliRun run = cliSearch(QStringLiteral("Starlight"));
        EXPECT_EQ(run.exitCode, 0);
        EXPECT_TRUE(run.out.contains(QStringLiteral("Starlight Road"))) << run.out.toStdString();

        // Applying the same choice again keeps the service.
        controller.apply({{library.root()}, QString()});
        EXPECT_EQ(controller.serviceProcessId(), pid);
    }
    // The player's service went with it, and so did its announcement.
    EXPECT_FALSE(processLives(pid));
    EXPECT_FALSE(QFile::exists(ownservice::announcementFile(runtime())));
    EXPECT_TRUE(ownservice::findRunning().isEmpty());
}

// What the music library dialog hands the program: new folders restart the
// player's own service on them, a server stops it and takes its place.
TEST_F(OwnService, AnotherChoiceChangesWhatASearchFinds)
{
    TestLibrary library;
    ASSERT_TRUE(library.build()) << library.error().toStdString();
    QTemporaryDir other;
    ASSERT_TRUE(other.isValid());
    OwnServiceController controller;
    controller.setProgram(QStringLiteral(VELMOR_MUSICD_PATH));
    QSignalSpy failed(&controller, &OwnServiceController::failed);
    const auto searchFinds = [&](const QString &title) {
        return QTest::qWaitFor([&] { return !controller.firstScanRunning(); }, 60000) &&
               cliSearch(title).out.contains(title);
    };

    controller.apply({{library.root()}, QString()});
    ASSERT_TRUE(waitReady(controller, failed));
    const qint64 first = controller.serviceProcessId();
    EXPECT_TRUE(searchFinds(QStringLiteral("Starlight Road")));

    controller.apply({{other.path()}, QString()});
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return controller.serviceProcessId() != first && !controller.url().isEmpty(); },
        30000));
    EXPECT_FALSE(processLives(first));
    EXPECT_FALSE(searchFinds(QStringLiteral("Starlight Road")));

    const qint64 second = controller.serviceProcessId();
    const QString server = QStringLiteral("http://192.0.2.7:4533");
    controller.apply({{}, server});
    EXPECT_EQ(controller.url(), server);
    EXPECT_FALSE(controller.startedService());
    EXPECT_TRUE(QTest::qWaitFor([&] { return !processLives(second); }, 10000));
    EXPECT_EQ(failed.count(), 0);
}

TEST_F(OwnService, TwoRacingStartsStartOneService)
{
    QTemporaryDir music;
    OwnServiceController first;
    OwnServiceController second;
    QSignalSpy firstFailed(&first, &OwnServiceController::failed);
    QSignalSpy secondFailed(&second, &OwnServiceController::failed);
    for (OwnServiceController *c : {&first, &second})
        c->setProgram(QStringLiteral(VELMOR_MUSICD_PATH));
    first.apply({{music.path()}, QString()});
    second.apply({{music.path()}, QString()});
    ASSERT_TRUE(waitReady(first, firstFailed));
    ASSERT_TRUE(waitReady(second, secondFailed));
    EXPECT_EQ(first.url(), second.url());
    // One of them runs the service; the other uses it.
    EXPECT_EQ(int(first.startedService()) + int(second.startedService()), 1);
}

TEST_F(OwnService, AFailedStartIsReportedWithItsReason)
{
    QTemporaryDir music;
    struct Case
    {
        const char *name;
        std::function<void()> arrange;
        QString program;
        QString reason;
    } cases[] = {
        {"program missing", [this] { setEnv("PATH", m_home.filePath(QStringLiteral("empty"))); },
         QString(), QStringLiteral("找不到 velmor-musicd")},
        {"index cannot be made",
         [this] {
             QFile blocker(m_home.filePath(QStringLiteral("cache/velmor")));
             ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
         },
         QStringLiteral(VELMOR_MUSICD_PATH), QStringLiteral("cannot use the library index")},
        {"runtime folder open to others",
         [this] {
             QDir().mkpath(runtime());
             ::chmod(QFile::encodeName(runtime()).constData(), 0755);
         },
         QStringLiteral(VELMOR_MUSICD_PATH), QStringLiteral("is open to other users")},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        TearDown();
        m_saved.clear();
        SetUp();
        c.arrange();
        OwnServiceController controller;
        controller.setProgram(c.program);
        QSignalSpy failed(&controller, &OwnServiceController::failed);
        QSignalSpy lines(&controller, &OwnServiceController::statusChanged);
        controller.apply({{music.path()}, QString()});
        ASSERT_TRUE(QTest::qWaitFor([&] { return failed.count() > 0; }, 30000));
        const QString text = failed.first().value(0).toString();
        EXPECT_TRUE(text.startsWith(QStringLiteral("未能启动音乐服务："))) << text.toStdString();
        EXPECT_TRUE(text.contains(c.reason)) << text.toStdString();
        // The window's status line gets the same words.
        EXPECT_EQ(lines.last().value(0).toString(), text);
        EXPECT_TRUE(controller.url().isEmpty());
    }
}

TEST_F(OwnService, ServiceStatusCountsAScanExactlyAndStaysSmall)
{
    // 10,000 tiny WAV files in 100 folders, and three that cannot be read.
    QTemporaryDir dir;
    const QString root = dir.filePath(QStringLiteral("music"));
    const QByteArray wav = TestLibrary::toneWav(0.01, 440);
    constexpr int kFolders = 100;
    constexpr int kPerFolder = 100;
    for (int f = 0; f < kFolders; ++f) {
        const QString folder = QStringLiteral("%1/Singer %2/Album").arg(root).arg(f);
        ASSERT_TRUE(QDir().mkpath(folder));
        for (int i = 0; i < kPerFolder; ++i) {
            QFile file(QStringLiteral("%1/Song %2.wav").arg(folder).arg(i));
            ASSERT_TRUE(file.open(QIODevice::WriteOnly) && file.write(wav) == wav.size());
        }
    }
    for (int i = 0; i < 3; ++i) {
        QFile junk(QStringLiteral("%1/junk %2.mp3").arg(root).arg(i));
        ASSERT_TRUE(junk.open(QIODevice::WriteOnly) && junk.write("not audio at all") > 0);
    }
    const QString missing = dir.filePath(QStringLiteral("not here"));
    MusicdServer server;
    ASSERT_TRUE(
        server.start({QStringLiteral("--library"), root, QStringLiteral("--library"), missing,
                      QStringLiteral("--index"), dir.filePath(QStringLiteral("index.sqlite"))}));
    const int port = server.url().section(QLatin1Char(':'), -1).toInt();

    bool sawFirstScan = false;
    qint64 lastFound = 0;
    std::optional<ServiceStatus> status;
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < 240000) {
        const rawhttp::Answer answer = rawhttp::ask(
            port, "GET /status HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n");
        ASSERT_EQ(answer.status, 200);
        ASSERT_LT(answer.body.size(), 4096u);
        status = ServiceStatus::fromJson(QByteArray::fromStdString(answer.body));
        ASSERT_TRUE(status);
        ASSERT_TRUE(status->library);
        if (!status->firstScan)
            break;
        sawFirstScan = true;
        EXPECT_TRUE(status->scanning);
        EXPECT_LE(status->done, status->found);
        EXPECT_LE(status->found, kFolders * kPerFolder + 3);
        EXPECT_GE(status->found, lastFound);
        lastFound = status->found;
        EXPECT_TRUE(status->statusLine().startsWith(QStringLiteral("正在扫描音乐库：")))
            << status->statusLine().toStdString();
        QThread::msleep(20);
    }
    EXPECT_TRUE(sawFirstScan);
    ASSERT_FALSE(status->firstScan);
    EXPECT_FALSE(status->scanning);
    EXPECT_EQ(status->found, kFolders * kPerFolder + 3);
    EXPECT_EQ(status->done, kFolders * kPerFolder + 3);
    EXPECT_EQ(status->tracks, kFolders * kPerFolder);
    EXPECT_EQ(status->unreadable, 3);
    EXPECT_EQ(status->unreadableNames.size(), 3);
    EXPECT_FALSE(status->updated.isEmpty());
    const QList<ServiceStatus::Root> roots{{root, ServiceStatus::RootState::Ok},
                                           {missing, ServiceStatus::RootState::Missing}};
    EXPECT_EQ(status->roots, roots);
    EXPECT_EQ(
        status->statusLine(),
        QStringLiteral("音乐库共 10,000 首；音乐文件夹不存在：%1；3 个文件无法读取").arg(missing));
    // The service says so itself, too.
    EXPECT_TRUE(
        server.waitForStderr(QStringLiteral("music folder %1 does not exist").arg(missing), 10000));
}

// The parent of a process, from /proc.
qint64 parentOf(qint64 pid)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray line = stat.readAll();
    return line.mid(line.lastIndexOf(')') + 2).split(' ').value(1).toLongLong();
}

TEST_F(OwnService, ThePlayerStartsItsOwnServiceAndLeavesTheUsersAlone)
{
    QTemporaryDir bin;
    ASSERT_TRUE(QFile::link(QStringLiteral(VELMOR_MUSICD_PATH),
                            bin.filePath(QStringLiteral("velmor-musicd"))));
    QTemporaryDir music;
    // The folders chosen in the music library, as the dialog saves them.
    ASSERT_TRUE(LibrarySettingsFile::write(LibrarySettingsFile::defaultPath(),
                                           {{music.path()}, QString()}));
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove(QStringLiteral("VELMOR_SERVICE_URL"));
    env.insert(QStringLiteral("PATH"),
               bin.path() + QLatin1Char(':') + env.value(QStringLiteral("PATH")));
    env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"),
               QStringLiteral("unix:path=/nonexistent"));
    const auto runPlayer = [&env](QProcess &player) {
        player.setProcessEnvironment(env);
        player.start(QStringLiteral(VELMOR_PLAYER_PATH), {QStringLiteral("--new-instance")});
        return player.waitForStarted(10000);
    };
    const auto stopPlayer = [](QProcess &player) {
        player.terminate();
        return player.waitForFinished(30000) && player.exitCode() == 0;
    };

    // No service: the player starts one of its own, and it ends with it.
    {
        QProcess player;
        ASSERT_TRUE(runPlayer(player));
        std::optional<ownservice::Announcement> announced;
        ASSERT_TRUE(QTest::qWaitFor(
            [&] { return (announced = ownservice::findAnnounced()).has_value(); }, 30000));
        EXPECT_EQ(parentOf(announced->pid), player.processId());
        QFile command(QStringLiteral("/proc/%1/cmdline").arg(announced->pid));
        ASSERT_TRUE(command.open(QIODevice::ReadOnly));
        EXPECT_TRUE(command.readAll().contains(QFile::encodeName(music.path())));
        ASSERT_TRUE(stopPlayer(player));
        EXPECT_FALSE(processLives(announced->pid));
        EXPECT_FALSE(ownservice::findAnnounced());
    }
    // One the user started (a terminal, the unit) is used and left running.
    MusicdServer users;
    ASSERT_TRUE(
        users.start({QStringLiteral("--announce"), QStringLiteral("--library"), music.path()}));
    ASSERT_TRUE(QTest::qWaitFor([] { return ownservice::findAnnounced().has_value(); }, 10000));
    {
        QProcess player;
        ASSERT_TRUE(runPlayer(player));
        ASSERT_FALSE(users.waitForLogLine(QStringLiteral("GET /status"), 30000)
                         .filter(QStringLiteral("GET /status"))
                         .isEmpty());
        ASSERT_TRUE(stopPlayer(player));
    }
    EXPECT_TRUE(processLives(users.processId()));
    ASSERT_TRUE(ownservice::findAnnounced());
    EXPECT_EQ(ownservice::findAnnounced()->pid, users.processId());
}

TEST(ServiceStatusAnswer, IsBoundedWhateverTheLibrary)
{
    ServiceStatus s;
    s.library = true;
    for (int i = 0; i < 200; ++i)
        s.roots.append({QStringLiteral("/m/") + QString(4000, QLatin1Char('x')),
                        ServiceStatus::RootState::Unreadable});
    s.rootCount = 200;
    for (int i = 0; i < 50; ++i)
        s.unreadableNames.append(QString(4000, QLatin1Char('y')));
    const QByteArray json = s.toJson();
    EXPECT_LT(json.size(), ServiceStatus::kMaxBytes / 2);
    const std::optional<ServiceStatus> back = ServiceStatus::fromJson(json);
    ASSERT_TRUE(back);
    EXPECT_EQ(back->roots.size(), ServiceStatus::kMaxRoots);
    EXPECT_EQ(back->unreadableNames.size(), ServiceStatus::kMaxNames);
    EXPECT_EQ(back->rootCount, 200);
}

TEST(ServiceStatusAnswer, StatusLineSaysWhereTheLibraryStands)
{
    using R = ServiceStatus::RootState;
    struct Case
    {
        bool firstScan;
        qint64 found, done, tracks;
        QList<ServiceStatus::Root> roots;
        QString line;
    } cases[] = {
        {true,
         5000,
         1234,
         1000,
         {{QStringLiteral("/m"), R::Ok}},
         QStringLiteral("正在扫描音乐库：1,234 / 5,000 首")},
        {false,
         5000,
         5000,
         1234567,
         {{QStringLiteral("/m"), R::Ok}},
         QStringLiteral("音乐库共 1,234,567 首")},
        {false, 0, 0, 0, {{QStringLiteral("/m"), R::Ok}}, QStringLiteral("音乐库中没有歌曲（/m）")},
        {false,
         0,
         0,
         0,
         {{QStringLiteral("/a"), R::Missing}, {QStringLiteral("/b"), R::Unreadable}},
         QStringLiteral("音乐库中没有歌曲；音乐文件夹不存在：/a；音乐文件夹无法读取：/b")},
    };
    for (const Case &c : cases) {
        ServiceStatus s;
        s.library = true;
        s.firstScan = c.firstScan;
        s.found = c.found;
        s.done = c.done;
        s.tracks = c.tracks;
        s.roots = c.roots;
        EXPECT_EQ(s.statusLine(), c.line);
    }
}

// A listener on a loopback port run by another user, for as long as it
// lives: the child process is that user.
class ForeignListener
{
public:
    explicit ForeignListener(uid_t uid)
    {
        int ports[2];
        if (::pipe(ports) != 0)
            return;
        m_pid = ::fork();
        if (m_pid == 0) {
            ::close(ports[0]);
            if (::setgid(uid) != 0 || ::setuid(uid) != 0)
                ::_exit(1);
            const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
            sockaddr_in a{};
            a.sin_family = AF_INET;
            a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
            socklen_t len = sizeof a;
            if (::bind(fd, reinterpret_cast<sockaddr *>(&a), len) != 0 || ::listen(fd, 1) != 0 ||
                ::getsockname(fd, reinterpret_cast<sockaddr *>(&a), &len) != 0)
                ::_exit(1);
            const int port = ntohs(a.sin_port);
            if (::write(ports[1], &port, sizeof port) != sizeof port)
                ::_exit(1);
            ::pause();
            ::_exit(0);
        }
        ::close(ports[1]);
        if (::read(ports[0], &m_port, sizeof m_port) != sizeof m_port)
            m_port = 0;
        ::close(ports[0]);
    }
    ~ForeignListener()
    {
        if (m_pid > 0) {
            ::kill(m_pid, SIGKILL);
            ::waitpid(m_pid, nullptr, 0);
        }
    }
    pid_t pid() const { return m_pid; }
    int port() const { return m_port; }

private:
    pid_t m_pid = -1;
    int m_port = 0;
};

TEST_F(OwnService, WhatIsNotThisUsersIsNotUsed)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root to act as a second user";
    constexpr uid_t kOtherUser = 65534;
    ForeignListener foreign(kOtherUser);
    ASSERT_GT(foreign.port(), 0);
    EXPECT_EQ(ownservice::listenerOwner(foreign.port()), kOtherUser);

    // A service of ours, to announce.
    MusicdServer ours;
    ASSERT_TRUE(ours.start());
    const int ourPort = ours.url().section(QLatin1Char(':'), -1).toInt();
    EXPECT_EQ(ownservice::listenerOwner(ourPort), 0);

    const QString folder = runtimefolder::path();
    ASSERT_FALSE(folder.isEmpty());
    const QString file = ownservice::announcementFile(folder);
    const ownservice::Announcement good{ours.url(), ours.processId(), ourPort};
    struct Case
    {
        const char *name;
        ownservice::Announcement announcement;
        std::function<void()> spoil;
        bool used;
    } cases[] = {
        {"ours", good, [] {}, true},
        {"a listener of another user",
         {QStringLiteral("http://127.0.0.1:%1").arg(foreign.port()), foreign.pid(), foreign.port()},
         [] {},
         false},
        {"a file of another user", good,
         [&] {
             ASSERT_EQ(::chown(QFile::encodeName(file).constData(), kOtherUser, kOtherUser), 0);
         },
         false},
        {"a file others may write", good,
         [&] { ::chmod(QFile::encodeName(file).constData(), 0622); }, false},
        {"a link to our file", good,
         [&] {
             QFile::rename(file, file + QStringLiteral(".real"));
             QFile::link(file + QStringLiteral(".real"), file);
         },
         false},
        {"a process that is gone", {ours.url(), 0x3fffffff, ourPort}, [] {}, false},
        {"a URL off this machine",
         {QStringLiteral("http://192.0.2.1:%1").arg(ourPort), ours.processId(), ourPort},
         [] {},
         false},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        QFile::remove(file);
        QFile::remove(file + QStringLiteral(".real"));
        ASSERT_TRUE(ownservice::announce(folder, c.announcement));
        c.spoil();
        const std::optional<ownservice::Announcement> found = ownservice::findAnnounced();
        EXPECT_EQ(found.has_value(), c.used);
        if (c.used) {
            EXPECT_EQ(*found, c.announcement);
        }
    }
    // A runtime folder another user owns is not used at all.
    ASSERT_EQ(::chown(QFile::encodeName(folder).constData(), kOtherUser, kOtherUser), 0);
    QString why;
    EXPECT_TRUE(runtimefolder::path(&why).isEmpty());
    EXPECT_TRUE(why.contains(QStringLiteral("belongs to another user"))) << why.toStdString();
}

} // namespace
