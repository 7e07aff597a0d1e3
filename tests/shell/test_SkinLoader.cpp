// The skin layer applies a style sheet file to the whole application, and a
// skin that cannot be used leaves the application exactly as it was.
#include "shell/SkinLoader.h"

#include <QApplication>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

QString writeFile(const QTemporaryDir &dir, const QString &name, const QByteArray &bytes)
{
    const QString path = dir.filePath(name);
    QFile file(path);
    file.open(QIODevice::WriteOnly);
    file.write(bytes);
    return path;
}

class SkinTest : public ::testing::Test
{
protected:
    void TearDown() override
    {
        detachSkin();
        qApp->setStyleSheet(QString());
    }
    QTemporaryDir dir;
};

} // namespace

TEST_F(SkinTest, AReadableSkinIsAppliedAndDetachRestoresTheOldSheet)
{
    qApp->setStyleSheet(QStringLiteral("QLabel { color: red; }"));
    const QByteArray sheet("QWidget#MainWindow { background: #1b1f27; } /* 皮肤 */");
    const QString path = writeFile(dir, QStringLiteral("tessaryn.she"), sheet);
    EXPECT_EQ(attachSkin(path, QString()), kSkinOk);
    EXPECT_EQ(qApp->styleSheet(), QString::fromUtf8(sheet));
    EXPECT_EQ(setSkinAero(0), kSkinOk);
    EXPECT_EQ(skinAero(), 0);
    detachSkin();
    EXPECT_EQ(qApp->styleSheet(), QStringLiteral("QLabel { color: red; }"));
}

TEST_F(SkinTest, AnUnusableSkinChangesNothing)
{
    const QString before = QStringLiteral("QLabel { color: blue; }");
    qApp->setStyleSheet(before);
    const QString oversized =
        writeFile(dir, QStringLiteral("big.she"), QByteArray((1 << 20) + 1, ' '));
    const QString paths[] = {dir.filePath(QStringLiteral("missing.she")), QString(), dir.path(),
                             oversized};
    for (const QString &path : paths) {
        EXPECT_EQ(attachSkin(path, QString()), kSkinFailed) << path.toStdString();
        EXPECT_EQ(qApp->styleSheet(), before) << path.toStdString();
    }
}

// The skin comes with the program: a copy of it without the skin file beside
// it (as installed) looks the same; a file put beside it is taken instead.
TEST_F(SkinTest, TheSkinComesWithTheProgramAndAFileBesideItOverridesIt)
{
    QFile source(QStringLiteral(QT_TESTCASE_SOURCEDIR "/../../resources/ui/tessaryn.she"));
    ASSERT_TRUE(source.open(QIODevice::ReadOnly));
    const QString shipped = QString::fromUtf8(source.readAll());
    ASSERT_TRUE(shipped.contains(QLatin1String("QWidget#MainWindow")));

    const QString beside = QCoreApplication::applicationDirPath() + QStringLiteral("/tessaryn.she");
    ASSERT_FALSE(QFile::exists(beside));
    EXPECT_EQ(defaultSkinPath(), QStringLiteral(":/skin/tessaryn.she"));
    EXPECT_EQ(attachSkin(defaultSkinPath(), QString()), kSkinOk);
    EXPECT_EQ(qApp->styleSheet(), shipped);
    detachSkin();

    const QByteArray own("QWidget#MainWindow { background: #000000; }");
    {
        QFile file(beside);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(own);
    }
    const QString chosen = defaultSkinPath();
    QFile::remove(beside);
    EXPECT_EQ(chosen, beside);
}
