#include "app/Form2.h"

#include "app/Artwork.h"

#include <QFormLayout>
#include <QGroupBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QVBoxLayout>

Form2::Form2(QWidget *parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("Form2"));
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
    Text1 = box("Text1", QStringLiteral("歌名："));
    Text2 = box("Text2", QStringLiteral("歌手："));
    Text3 = box("Text3", QStringLiteral("专辑："));
    Text4 = box("Text4", QStringLiteral("引用地址："));
    Text6 = box("Text6", QStringLiteral("ID："));

    Frame1 = new QGroupBox(QStringLiteral("歌词信息："), this);
    Frame1->setObjectName(QStringLiteral("Frame1"));
    Text5 = new QPlainTextEdit(Frame1);
    Text5->setObjectName(QStringLiteral("Text5"));
    Text5->setReadOnly(true);
    auto *frameLayout = new QVBoxLayout(Frame1);
    frameLayout->addWidget(Text5);

    auto *layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(Frame1, 1);
}
