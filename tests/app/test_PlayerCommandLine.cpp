// The player's command line as parsePlayerCommandLine reads it, and the
// service URL check every program shares.
#include "app/PlayerCommandLine.h"
#include "service/ServiceConfig.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QtGlobal>
#include <gtest/gtest.h>
#include <ostream>

namespace {

using commandline::Outcome;

struct CommandLineCase
{
    QStringList args; // after the program name
    Outcome outcome;
    const char *inText; // in the help, version or error text ("" for Proceed)
    bool newInstance = false;
};

// Names the case by its command line in the test's name.
void PrintTo(const CommandLineCase &c, std::ostream *os)
{
    *os << '"' << c.args.join(u' ').toStdString() << '"';
}

class PlayerCommandLineTest : public ::testing::TestWithParam<CommandLineCase>
{
protected:
    void SetUp() override { qunsetenv("VELMOR_SERVICE_URL"); }
    void TearDown() override { ServiceConfig::setHost(QString()); }
};

TEST_P(PlayerCommandLineTest, ReadsTheCommandLine)
{
    const CommandLineCase &c = GetParam();
    const PlayerOptions options =
        parsePlayerCommandLine(QStringList{QStringLiteral("/x/velmor")} + c.args);
    EXPECT_EQ(options.result.outcome, c.outcome) << options.result.text.toStdString();
    EXPECT_TRUE(options.result.text.contains(QString::fromUtf8(c.inText)))
        << options.result.text.toStdString();
    EXPECT_EQ(options.newInstance, c.newInstance);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, PlayerCommandLineTest,
    ::testing::Values(
        CommandLineCase{{}, Outcome::Proceed, ""},
        CommandLineCase{{QStringLiteral("--help")}, Outcome::Help, "Usage: velmor [options]"},
        CommandLineCase{{QStringLiteral("-h")}, Outcome::Help, "--new-instance"},
        CommandLineCase{{QStringLiteral("--version")}, Outcome::Version, "velmor 1."},
        CommandLineCase{{QStringLiteral("-v")}, Outcome::Version, "velmor "},
        CommandLineCase{{QStringLiteral("--new-instance")}, Outcome::Proceed, "", true},
        CommandLineCase{{QStringLiteral("--bogus")}, Outcome::UsageError, "Unknown option 'bogus'"},
        CommandLineCase{
            {QStringLiteral("song")}, Outcome::UsageError, "no such file or folder: 'song'"},
        CommandLineCase{{QStringLiteral("--service")}, Outcome::UsageError, "Missing value"},
        CommandLineCase{
            {QStringLiteral("--service"), QStringLiteral("file:///etc/passwd")},
            Outcome::UsageError,
            "--service \"file:///etc/passwd\" is refused: not an http:// or https:// URL"},
        CommandLineCase{
            {QStringLiteral("--service=http://127.0.0.1:5"), QStringLiteral("--new-instance")},
            Outcome::Proceed,
            "",
            true},
        // The toolkit's own options pass, as it spells them.
        CommandLineCase{
            {QStringLiteral("-platform"), QStringLiteral("offscreen"), QStringLiteral("-reverse")},
            Outcome::Proceed,
            ""}));

TEST(PlayerCommandLine, HelpLeavesOutTheToolkitsOptions)
{
    const PlayerOptions options =
        parsePlayerCommandLine({QStringLiteral("velmor"), QStringLiteral("--help")});
    EXPECT_FALSE(options.result.text.contains(QStringLiteral("platform")));
    EXPECT_TRUE(options.result.text.contains(QStringLiteral("--service <URL>")));
}

// Files are handed to a running player as absolute paths: a relative one
// would name a file in the running player's folder.
TEST(PlayerCommandLine, FilesAreHandedOverAbsolute)
{
    QTemporaryDir dir;
    ASSERT_TRUE(QFile(dir.filePath(QStringLiteral("a b.mp3"))).open(QIODevice::WriteOnly));
    const QString before = QDir::currentPath();
    QDir::setCurrent(dir.path());
    const QStringList args{QStringLiteral("velmor"), QStringLiteral("a b.mp3"),
                           QStringLiteral("--new-instance"), QStringLiteral(".")};
    const PlayerOptions options = parsePlayerCommandLine(args);
    QDir::setCurrent(before);
    ASSERT_EQ(options.result.outcome, Outcome::Proceed) << options.result.text.toStdString();
    const QString root = QDir(dir.path()).canonicalPath();
    const QStringList expected{root + QStringLiteral("/a b.mp3"), root};
    const QStringList canonical{QFileInfo(options.files.value(0)).canonicalFilePath(),
                                QFileInfo(options.files.value(1)).canonicalFilePath()};
    EXPECT_EQ(canonical, expected);
    EXPECT_TRUE(QFileInfo(options.files.value(0)).isAbsolute());
    const QStringList handed = handedArguments(args, options);
    EXPECT_EQ(handed.first(), QStringLiteral("velmor"));
    // The running player takes the paths and nothing else.
    EXPECT_EQ(handedFiles(handed.mid(1) + QStringList{QStringLiteral("--new-instance")}),
              options.files);
}

TEST(PlayerCommandLine, SetsTheServiceFromTheOptionElseTheEnvironment)
{
    qputenv("VELMOR_SERVICE_URL", "https://music.example:8443/base/");
    parsePlayerCommandLine({QStringLiteral("velmor")});
    EXPECT_EQ(ServiceConfig::host(), QStringLiteral("https://music.example:8443/base"));

    parsePlayerCommandLine({QStringLiteral("velmor"), QStringLiteral("--service"),
                            QStringLiteral("http://127.0.0.1:9")});
    EXPECT_EQ(ServiceConfig::host(), QStringLiteral("http://127.0.0.1:9"));

    // A refused value leaves the host as it was.
    qputenv("VELMOR_SERVICE_URL", "ftp://x");
    const PlayerOptions refused = parsePlayerCommandLine({QStringLiteral("velmor")});
    EXPECT_EQ(refused.result.outcome, Outcome::UsageError);
    EXPECT_TRUE(refused.result.text.startsWith(QStringLiteral("VELMOR_SERVICE_URL \"ftp://x\"")));
    EXPECT_EQ(ServiceConfig::host(), QStringLiteral("http://127.0.0.1:9"));

    qunsetenv("VELMOR_SERVICE_URL");
    parsePlayerCommandLine({QStringLiteral("velmor")});
    EXPECT_EQ(ServiceConfig::host(), ServiceConfig::defaultHost());
}

TEST(ServiceUrl, OnlyHttpUrlsWithAHostNameAService)
{
    const struct
    {
        const char *url;
        bool accepted;
    } cases[] = {
        {"http://127.0.0.1:18750", true},
        {"https://music.example/", true},
        {"HTTP://Music.Example:80/a/b", true},
        {"  http://[::1]:5/  ", true},
        {"", false},
        {"127.0.0.1:18750", false},
        {"localhost", false},
        {"ftp://127.0.0.1/", false},
        {"file:///tmp/x", false},
        {"http://", false},
        {"http:///path", false},
        {"http://host:99999999/", false},
        {"http://a b/", false},
        {"http://host/?q=1", false},
        {"http://host/#x", false},
        {"http://user:pw@host/", false},
        {"javascript:alert(1)", false},
    };
    for (const auto &c : cases) {
        const QString problem = ServiceConfig::serviceUrlProblem(QString::fromUtf8(c.url));
        EXPECT_EQ(problem.isEmpty(), c.accepted) << c.url << ": " << problem.toStdString();
    }
}

} // namespace
