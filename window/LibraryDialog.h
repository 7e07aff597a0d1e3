// The "音乐库" dialog: the folders the player's own service serves (added
// with the toolkit's folder chooser, removed), or instead the address of a
// music server with a check that says what failed. OK saves the choice to
// the library settings file and hands it on (libraryChosen); a choice that
// cannot be used is named in the dialog, which stays open. What it decides
// lives in LibraryChoiceEditor; this is only its face.
#pragma once

#include "service/LibraryChoiceEditor.h"

#include <QDialog>
#include <functional>

class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;
class QRadioButton;

class LibraryDialog : public QDialog
{
    Q_OBJECT
public:
    // The folder chooser (QFileDialog::getExistingDirectory by default);
    // tests replace it. "" means nothing was chosen.
    using FolderChooser = std::function<QString(QWidget *parent)>;
    static void setFolderChooser(FolderChooser chooser);

    // settingsPath: where OK writes the choice.
    LibraryDialog(const LibraryChoice &start, const QString &settingsPath,
                  QWidget *parent = nullptr);

    const LibraryChoiceEditor &editor() const { return m_editor; }

    QRadioButton *foldersButton = nullptr; // "本机音乐文件夹"
    QListWidget *folderList = nullptr;
    QPushButton *addFolderButton = nullptr;    // "添加文件夹…"
    QPushButton *removeFolderButton = nullptr; // "删除"
    QRadioButton *serverButton = nullptr;      // "音乐服务器"
    QLineEdit *serverEdit = nullptr;
    QPushButton *checkButton = nullptr; // "检查连接"
    QLabel *messageLabel = nullptr;     // the last problem or check outcome
    QPushButton *okButton = nullptr;

    void accept() override;
    void addFolder();
    void removeSelectedFolder();
    void checkConnection();

Q_SIGNALS:
    void libraryChosen(const LibraryChoice &choice);

private:
    void showFolders();
    void showSource();

    LibraryChoiceEditor m_editor;
    QString m_settingsPath;
};
