// The "音乐库" dialog as a user meets it: from the window's menu, folders
// added with the folder chooser, a server typed in; OK saves the choice,
// hands it on and points the searches at the server; the next start shows
// it again, and a hostile settings file shows the defaults.
#include "tests/window/MainWindowFixture.h"

#include "service/ServiceConfig.h"
#include "window/LibraryDialog.h"
#include "window/PopupMenus.h"

#include <QAction>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>

namespace {

class LibraryDialogTest : public MainWindowFixture
{
protected:
    void SetUp() override
    {
        m_oldConfig = qgetenv("XDG_CONFIG_HOME");
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(m_config.path()));
        m_music = m_config.filePath(QStringLiteral("音乐"));
        ASSERT_TRUE(QDir().mkpath(m_music));
        LibraryDialog::setFolderChooser([this](QWidget *) { return m_music; });
        MainWindowFixture::SetUp();
    }
    void TearDown() override
    {
        MainWindowFixture::TearDown();
        LibraryDialog::setFolderChooser([](QWidget *) { return QString(); });
        ServiceConfig::setHost(QString());
        qputenv("XDG_CONFIG_HOME", m_oldConfig);
    }

    LibraryDialog *openDialog()
    {
        form->popupMenus->libraryAction->trigger();
        LibraryDialog *dialog = form->libraryDialog();
        EXPECT_TRUE(dialog && dialog->isVisible());
        return dialog;
    }

    QTemporaryDir m_config;
    QByteArray m_oldConfig;
    QString m_music;
};

TEST_F(LibraryDialogTest, ChoiceIsSavedUsedAndShownAgainAfterARestart)
{
    LibraryDialog *dialog = openDialog();
    ASSERT_TRUE(dialog);
    EXPECT_EQ(dialog->windowTitle(), QStringLiteral("音乐库"));
    EXPECT_TRUE(dialog->foldersButton->isChecked());
    dialog->addFolderButton->click();
    ASSERT_EQ(dialog->folderList->count(), 1);
    EXPECT_EQ(dialog->folderList->item(0)->text(), m_music);

    // An address that names no server keeps the dialog open and says why.
    QSignalSpy chosen(form.get(), &MainWindow::libraryChosen);
    dialog->serverButton->setChecked(true);
    dialog->serverEdit->setText(QStringLiteral("127.0.0.1:5"));
    dialog->okButton->click();
    EXPECT_TRUE(dialog->isVisible());
    EXPECT_TRUE(dialog->messageLabel->text().contains(QStringLiteral("服务器地址无效")));
    EXPECT_EQ(chosen.count(), 0);

    dialog->serverEdit->setText(QStringLiteral("http://127.0.0.1:5/"));
    dialog->okButton->click();
    ASSERT_EQ(chosen.count(), 1);
    const LibraryChoice expected{{m_music}, QStringLiteral("http://127.0.0.1:5")};
    EXPECT_EQ(chosen.at(0).at(0).value<LibraryChoice>(), expected);
    EXPECT_EQ(ServiceConfig::host(), QStringLiteral("http://127.0.0.1:5"));
    const LibrarySettingsFile::ReadResult saved =
        LibrarySettingsFile::read(LibrarySettingsFile::defaultPath());
    EXPECT_TRUE(saved.found);
    EXPECT_EQ(saved.choice, expected);

    // The next start shows the choice; going back to the folders leaves
    // the server.
    form.reset();
    MainWindowFixture::SetUp();
    dialog = openDialog();
    ASSERT_TRUE(dialog);
    EXPECT_TRUE(dialog->serverButton->isChecked());
    EXPECT_EQ(dialog->serverEdit->text(), expected.server);
    ASSERT_EQ(dialog->folderList->count(), 1);
    dialog->foldersButton->setChecked(true);
    dialog->okButton->click();
    EXPECT_EQ(ServiceConfig::host(), ServiceConfig::defaultHost());
    EXPECT_EQ(LibrarySettingsFile::read(LibrarySettingsFile::defaultPath()).choice,
              (LibraryChoice{{m_music}, QString()}));
}

TEST_F(LibraryDialogTest, HostileSettingsFileShowsTheDefaults)
{
    const QString path = LibrarySettingsFile::defaultPath();
    ASSERT_TRUE(QDir().mkpath(QFileInfo(path).absolutePath()));
    QFile hostile(path);
    ASSERT_TRUE(hostile.open(QIODevice::WriteOnly));
    hostile.write("{\"version\": 1, \"folders\": [\"relative\", 7], \"server\": \"ftp://x\"}");
    hostile.close();
    LibraryDialog *dialog = openDialog();
    ASSERT_TRUE(dialog);
    EXPECT_TRUE(dialog->foldersButton->isChecked());
    EXPECT_EQ(dialog->folderList->count(), 0);
    EXPECT_TRUE(dialog->serverEdit->text().isEmpty());
}

} // namespace
