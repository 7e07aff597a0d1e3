#include "window/LibraryDialog.h"

#include <QFileDialog>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPointer>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

namespace {

LibraryDialog::FolderChooser &folderChooser()
{
    static LibraryDialog::FolderChooser chooser = [](QWidget *parent) {
        return QFileDialog::getExistingDirectory(parent, QStringLiteral("选择音乐文件夹"),
                                                 LibrarySettingsFile::defaultMusicFolder());
    };
    return chooser;
}

} // namespace

void LibraryDialog::setFolderChooser(FolderChooser chooser)
{
    folderChooser() = std::move(chooser);
}

LibraryDialog::LibraryDialog(const LibraryChoice &start, const QString &settingsPath,
                             QWidget *parent)
    : QDialog(parent), m_editor(start), m_settingsPath(settingsPath)
{
    setObjectName(QStringLiteral("LibraryDialog"));
    setWindowTitle(QStringLiteral("音乐库"));

    foldersButton = new QRadioButton(QStringLiteral("本机音乐文件夹"), this);
    folderList = new QListWidget(this);
    folderList->setAccessibleName(QStringLiteral("音乐文件夹"));
    addFolderButton = new QPushButton(QStringLiteral("添加文件夹…"), this);
    removeFolderButton = new QPushButton(QStringLiteral("删除"), this);
    serverButton = new QRadioButton(QStringLiteral("音乐服务器"), this);
    serverEdit = new QLineEdit(m_editor.server(), this);
    serverEdit->setPlaceholderText(QStringLiteral("http://主机:端口"));
    serverEdit->setAccessibleName(QStringLiteral("服务器地址"));
    checkButton = new QPushButton(QStringLiteral("检查连接"), this);
    messageLabel = new QLabel(this);
    messageLabel->setWordWrap(true);
    okButton = new QPushButton(QStringLiteral("确定"), this);
    okButton->setDefault(true);
    auto *cancelButton = new QPushButton(QStringLiteral("取消"), this);

    auto *folderButtons = new QVBoxLayout;
    folderButtons->addWidget(addFolderButton);
    folderButtons->addWidget(removeFolderButton);
    folderButtons->addStretch();
    auto *folderRow = new QHBoxLayout;
    folderRow->addWidget(folderList, 1);
    folderRow->addLayout(folderButtons);
    auto *serverRow = new QHBoxLayout;
    serverRow->addWidget(serverEdit, 1);
    serverRow->addWidget(checkButton);
    auto *buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(okButton);
    buttons->addWidget(cancelButton);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(foldersButton);
    layout->addWidget(new QLabel(QStringLiteral("列表为空时使用“音乐”文件夹：%1")
                                     .arg(LibrarySettingsFile::defaultMusicFolder()),
                                 this));
    layout->addLayout(folderRow);
    layout->addWidget(serverButton);
    layout->addLayout(serverRow);
    layout->addWidget(messageLabel);
    layout->addLayout(buttons);

    (m_editor.usesServer() ? serverButton : foldersButton)->setChecked(true);
    connect(foldersButton, &QRadioButton::toggled, this, [this](bool own) {
        m_editor.setUsesServer(!own);
        showSource();
    });
    connect(serverEdit, &QLineEdit::textChanged, this,
            [this](const QString &text) { m_editor.setServer(text); });
    connect(addFolderButton, &QPushButton::clicked, this, &LibraryDialog::addFolder);
    connect(removeFolderButton, &QPushButton::clicked, this, &LibraryDialog::removeSelectedFolder);
    connect(checkButton, &QPushButton::clicked, this, &LibraryDialog::checkConnection);
    connect(okButton, &QPushButton::clicked, this, &LibraryDialog::accept);
    connect(cancelButton, &QPushButton::clicked, this, &LibraryDialog::reject);
    showFolders();
    showSource();
}

void LibraryDialog::showFolders()
{
    folderList->clear();
    folderList->addItems(m_editor.folders());
}

void LibraryDialog::showSource()
{
    const bool server = m_editor.usesServer();
    for (QWidget *part :
         {static_cast<QWidget *>(folderList), static_cast<QWidget *>(addFolderButton),
          static_cast<QWidget *>(removeFolderButton)})
        part->setEnabled(!server);
    serverEdit->setEnabled(server);
    checkButton->setEnabled(server);
}

void LibraryDialog::addFolder()
{
    const QString folder = folderChooser()(this);
    if (folder.isEmpty())
        return;
    messageLabel->setText(m_editor.addFolder(folder));
    showFolders();
}

void LibraryDialog::removeSelectedFolder()
{
    m_editor.removeFolder(folderList->currentRow());
    showFolders();
}

void LibraryDialog::checkConnection()
{
    messageLabel->setText(QStringLiteral("正在连接…"));
    checkButton->setEnabled(false);
    // The check waits in a nested event loop: the dialog may be closed
    // meanwhile.
    const QPointer<LibraryDialog> self(this);
    const LibraryChoiceEditor::CheckOutcome outcome = m_editor.checkServer();
    if (!self)
        return;
    checkButton->setEnabled(m_editor.usesServer());
    messageLabel->setText(outcome.text);
}

void LibraryDialog::accept()
{
    const QString problem = m_editor.problem();
    if (!problem.isEmpty()) {
        messageLabel->setText(problem);
        return;
    }
    const LibraryChoice choice = m_editor.choice();
    QString error;
    if (!LibrarySettingsFile::write(m_settingsPath, choice, &error)) {
        messageLabel->setText(QStringLiteral("无法保存音乐库设置：%1").arg(error));
        return;
    }
    Q_EMIT libraryChosen(choice);
    QDialog::accept();
}
