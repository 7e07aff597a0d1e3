#include "window/SongInfoWindow.h"

#include "window/Artwork.h"

#include <QFormLayout>
#include <QGroupBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QVBoxLayout>

SongInfoWindow::SongInfoWindow(QWidget *parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("SongInfoWindow"));
    setWindowTitle(QStringLiteral("歌曲信息"));
    setWindowIcon(Artwork::appIcon());
    resize(460, 420);

    auto *form = new QFormLayout;
    const auto box = [this, form](const char *name, const QString &label) {
        auto *edit = new QLineEdit(this);
        edit->setObjectName(QLatin1String(name));
        // The boxes show what the service gave; copying out is allowed,
        // editing would suggest the change goes somewhere.
        edit->setReadOnly(true);
        form->addRow(label, edit);
        return edit;
    };
    titleEdit = box("titleEdit", QStringLiteral("歌名："));
    singerEdit = box("singerEdit", QStringLiteral("歌手："));
    albumEdit = box("albumEdit", QStringLiteral("专辑："));
    linkEdit = box("linkEdit", QStringLiteral("引用地址："));
    songIdEdit = box("songIdEdit", QStringLiteral("ID："));

    lyricFrame = new QGroupBox(QStringLiteral("歌词信息："), this);
    lyricFrame->setObjectName(QStringLiteral("lyricFrame"));
    lyricEdit = new QPlainTextEdit(lyricFrame);
    lyricEdit->setObjectName(QStringLiteral("lyricEdit"));
    lyricEdit->setReadOnly(true);
    auto *frameLayout = new QVBoxLayout(lyricFrame);
    frameLayout->addWidget(lyricEdit);

    auto *layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(lyricFrame, 1);
}
