// The benchmark's library generator run as a program: its files read back
// through TagLib (tags agree with the Artist/Album/NN Title.ext path), the
// same seed gives the same bytes whether made at once or extended, a second
// run changes nothing, a folder of another seed is refused untouched, a
// retag changes the year of exactly the files asked, bad arguments are
// refused.
#include <QCryptographicHash>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QMap>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <taglib/fileref.h>
#include <taglib/tpropertymap.h>

namespace {

struct GenRun
{
    int status = -1;
    QString output;
};

GenRun gen(const QStringList &args)
{
    QProcess p;
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(QStringLiteral(VELMOR_GEN_LIBRARY_PATH), args);
    p.waitForFinished(180000);
    return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1,
            QString::fromUtf8(p.readAll())};
}

// Relative path -> hash of the bytes, for every file but the manifest.
QMap<QString, QByteArray> snapshot(const QString &root)
{
    QMap<QString, QByteArray> files;
    QDirIterator it(root, QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        if (path.endsWith(QStringLiteral("/.velmor-library")))
            continue;
        QFile f(path);
        EXPECT_TRUE(f.open(QIODevice::ReadOnly)) << path.toStdString();
        files.insert(QDir(root).relativeFilePath(path),
                     QCryptographicHash::hash(f.readAll(), QCryptographicHash::Sha1));
    }
    return files;
}

QString property(const TagLib::PropertyMap &map, const char *key)
{
    return map.contains(key) ? QString::fromStdString(map[key].front().to8Bit(true)) : QString();
}

class GenLibrary : public ::testing::Test
{
protected:
    QTemporaryDir m_dir;
    QString root(const char *name) const { return m_dir.filePath(QString::fromLatin1(name)); }
};

TEST_F(GenLibrary, FilesCarryTheirPathsTagsInEveryFormat)
{
    ASSERT_EQ(gen({root("a"), QStringLiteral("120"), QStringLiteral("--seed"), QStringLiteral("7")})
                  .status,
              0);
    const QMap<QString, QByteArray> files = snapshot(root("a"));
    ASSERT_EQ(files.size(), 120);
    const QRegularExpression shape(QStringLiteral("^([^/]+)/([^/]+)/(\\d\\d) (.+)\\.(\\w+)$"));
    QMap<QString, int> suffixes;
    int chinese = 0;
    for (const QString &relative : files.keys()) {
        SCOPED_TRACE(relative.toStdString());
        const QRegularExpressionMatch m = shape.match(relative);
        ASSERT_TRUE(m.hasMatch());
        TagLib::FileRef f(QFile::encodeName(root("a") + QLatin1Char('/') + relative).constData());
        ASSERT_FALSE(f.isNull());
        ASSERT_GT(f.audioProperties()->lengthInMilliseconds(), 300);
        const TagLib::PropertyMap tags = f.file()->properties();
        EXPECT_EQ(property(tags, "ARTIST"), m.captured(1));
        EXPECT_EQ(property(tags, "ALBUMARTIST"), m.captured(1));
        EXPECT_EQ(property(tags, "ALBUM"), m.captured(2));
        EXPECT_EQ(property(tags, "TRACKNUMBER").section(QLatin1Char('/'), 0, 0).toInt(),
                  m.captured(3).toInt());
        EXPECT_EQ(property(tags, "TITLE"), m.captured(4));
        const int year = property(tags, "DATE").toInt();
        EXPECT_TRUE(year >= 1970 && year < 2025) << year;
        EXPECT_FALSE(property(tags, "GENRE").isEmpty());
        ++suffixes[m.captured(5)];
        chinese += m.captured(1).front().unicode() >= 0x4e00;
    }
    EXPECT_EQ(suffixes.keys(), (QStringList{QStringLiteral("flac"), QStringLiteral("m4a"),
                                            QStringLiteral("mp3"), QStringLiteral("ogg")}));
    // 50 tracks an artist, every third artist Chinese: the first 50 of 120.
    EXPECT_EQ(chinese, 50);
}

TEST_F(GenLibrary, SameSeedSameBytesWhetherExtendedOrMadeAtOnce)
{
    const QString seed = QStringLiteral("3");
    ASSERT_EQ(gen({root("a"), QStringLiteral("60"), QStringLiteral("--seed"), seed}).status, 0);
    const QMap<QString, QByteArray> first = snapshot(root("a"));
    const QFileInfo firstFile(root("a") + QLatin1Char('/') + first.firstKey());
    const QDateTime written = firstFile.lastModified();

    const GenRun again = gen({root("a"), QStringLiteral("60"), QStringLiteral("--seed"), seed});
    EXPECT_EQ(again.status, 0);
    EXPECT_TRUE(again.output.contains(QStringLiteral("already holds 60")))
        << again.output.toStdString();
    EXPECT_EQ(QFileInfo(firstFile.filePath()).lastModified(), written);

    ASSERT_EQ(gen({root("a"), QStringLiteral("95"), QStringLiteral("--seed"), seed}).status, 0);
    ASSERT_EQ(gen({root("b"), QStringLiteral("95"), QStringLiteral("--seed"), seed}).status, 0);
    const QMap<QString, QByteArray> extended = snapshot(root("a"));
    EXPECT_EQ(extended.size(), 95);
    EXPECT_EQ(extended, snapshot(root("b")));
    EXPECT_EQ(QFileInfo(firstFile.filePath()).lastModified(), written);
    for (auto it = first.cbegin(); it != first.cend(); ++it)
        EXPECT_EQ(extended.value(it.key()), it.value()) << it.key().toStdString();

    // Another seed names other files.
    ASSERT_EQ(gen({root("c"), QStringLiteral("95"), QStringLiteral("--seed"), QStringLiteral("4")})
                  .status,
              0);
    EXPECT_NE(snapshot(root("c")).keys(), extended.keys());

    // ...and is refused on a folder of this one, which stays as it was.
    const GenRun refused =
        gen({root("a"), QStringLiteral("200"), QStringLiteral("--seed"), QStringLiteral("4")});
    EXPECT_EQ(refused.status, 1);
    EXPECT_TRUE(refused.output.contains(QStringLiteral("other parameters")))
        << refused.output.toStdString();
    EXPECT_EQ(snapshot(root("a")), extended);

    // A retag changes the year of exactly the files asked, nothing else.
    ASSERT_EQ(gen({root("a"), QStringLiteral("--retag"), QStringLiteral("10"),
                   QStringLiteral("--seed"), seed})
                  .status,
              0);
    int changed = 0;
    for (const QString &relative : extended.keys()) {
        const QString path = root("a") + QLatin1Char('/') + relative;
        TagLib::FileRef now(QFile::encodeName(path).constData());
        TagLib::FileRef before(
            QFile::encodeName(root("b") + QLatin1Char('/') + relative).constData());
        const TagLib::PropertyMap a = now.file()->properties(), b = before.file()->properties();
        changed += property(a, "DATE") != property(b, "DATE");
        EXPECT_EQ(property(a, "TITLE"), property(b, "TITLE"));
        EXPECT_EQ(property(a, "ARTIST"), property(b, "ARTIST"));
    }
    EXPECT_EQ(changed, 10);
}

TEST_F(GenLibrary, BadArgumentsAreRefused)
{
    const QString dir = root("bad");
    const struct
    {
        QStringList args;
        int status;
    } cases[] = {
        {{dir}, 2},
        {{dir, QStringLiteral("many")}, 2},
        {{dir, QStringLiteral("0")}, 2},
        {{dir, QStringLiteral("10"), QStringLiteral("--threads"), QStringLiteral("0")}, 2},
        {{dir, QStringLiteral("10"), QStringLiteral("--seed")}, 2},
        {{dir, QStringLiteral("--retag"), QStringLiteral("5")}, 1}, // nothing there to retag
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.args.join(QLatin1Char(' ')).toStdString());
        const GenRun r = gen(c.args);
        EXPECT_EQ(r.status, c.status) << r.output.toStdString();
        EXPECT_TRUE(snapshot(dir).isEmpty());
    }
}

} // namespace
