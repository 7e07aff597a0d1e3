// Window handlers of the main window: dragging the borderless window, the
// hover pictures of the image buttons, the option labels, the song
// information window and the media player's own click events.
#include "app/Form1.h"

#include "app/Form2.h"
#include "app/ImageControl.h"
#include "app/MediaPlayer.h"
#include "app/MenuFrm.h"
#include "service/FetchPage.h"
#include "service/ResolveSongLink.h"

#include <QAction>
#include <QCheckBox>
#include <QCursor>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPointer>
#include <QPushButton>
#include <QTreeWidget>
#include <QWindow>

namespace {

// Runs one step of a handler that skips a failing statement and goes on.
template <typename Step> void attempt(Step step)
{
    try {
        step();
    } catch (...) {
    }
}

// "Value 1 becomes 0, any other value becomes 1."
void toggle(QCheckBox *box)
{
    box->setCheckState(box->checkState() == Qt::Checked ? Qt::Unchecked : Qt::Checked);
}

} // namespace

void Form1::connectWindow()
{
    connect(Image19, &ImageControl::clicked, this, &Form1::Image19_Click);
    connect(Image20, &ImageControl::clicked, this, &Form1::Image20_Click);
    connect(Image12, &ImageControl::clicked, this, &Form1::Image12_Click);
    connect(Picture2, &ImageControl::clicked, this, &Form1::Picture2_Click);
    connect(Picture2, &ImageControl::mouseMoved, this, [this] { RestoreButtonImages(); });
    connect(Picture2, &ImageControl::mouseUp, this, [this] { DragWindow(); });
    connect(WindowsMediaPlayer1, &MediaPlayer::Click, this, &Form1::WindowsMediaPlayer1_Click);
    connect(WindowsMediaPlayer1, &MediaPlayer::DoubleClick, this,
            &Form1::WindowsMediaPlayer1_DoubleClick);
    connect(menuFrm->MusicTT, &QAction::triggered, this, &Form1::MusicTT_Click);

    for (ImageControl *button : {Image1, Image2, Image3, Image12, Image19, Image20, Image24})
        connect(button, &ImageControl::mouseMoved, this, [this, button] { showHover(button); });

    for (QObject *watched : {static_cast<QObject *>(Label3), static_cast<QObject *>(Label4),
                             static_cast<QObject *>(lblLabel1), static_cast<QObject *>(lblLabel2)})
        watched->installEventFilter(this);
}

bool Form1::eventFilter(QObject *watched, QEvent *event)
{
    const QEvent::Type type = event->type();
    if (watched == Label3 && type == QEvent::MouseButtonPress) {
        DragWindow();
    } else if (watched == Label4 && type == QEvent::MouseMove) {
        DragWindow();
        RestoreButtonImages();
    } else if (watched == lblLabel1 && type == QEvent::MouseButtonRelease) {
        lblLabel1_Click();
    } else if (watched == lblLabel2 && type == QEvent::MouseButtonRelease) {
        lblLabel2_Click();
    } else if (watched == Text1) {
        if (type == QEvent::MouseButtonRelease &&
            static_cast<QMouseEvent *>(event)->button() == Qt::LeftButton)
            Text1_Click();
        else if (type == QEvent::MouseButtonDblClick)
            Text1_DblClick();
        else if (type == QEvent::FocusOut)
            Text1_LostFocus();
        else if (type == QEvent::MouseMove)
            Text1_MouseMove();
    } else if (watched == Command1 && type == QEvent::MouseMove) {
        Command1_MouseMove();
    } else if (watched == ListView1->viewport() && type == QEvent::MouseButtonPress) {
        ListView1_MouseDown();
    } else if (watched == Textx2) {
        if (type == QEvent::MouseButtonPress)
            Textx2_MouseDown();
        else if (type == QEvent::KeyPress)
            Textx2_KeyDown();
    } else if (watched == txtText3 && type == QEvent::MouseButtonPress) {
        txtText3_MouseDown();
    }
    return QWidget::eventFilter(watched, event);
}

void Form1::DragWindow()
{
    // The platform's move loop ends at once when no button is held, so a
    // drag asked for by a mere mouse move does nothing.
    if (QGuiApplication::mouseButtons() == Qt::NoButton)
        return;
    if (QWindow *window = windowHandle(); window && window->startSystemMove())
        return;
    // No system move here: follow the cursor ourselves until the release.
    m_manualDrag = true;
    m_dragOffset = QCursor::pos() - frameGeometry().topLeft();
    grabMouse();
}

void Form1::mousePressEvent(QMouseEvent *event)
{
    // Form_MouseDown: restore the search prompt, then drag.
    restoreSearchPrompt();
    DragWindow();
    event->accept();
}

void Form1::mouseMoveEvent(QMouseEvent *event)
{
    if (m_manualDrag) {
        move(event->globalPosition().toPoint() - m_dragOffset);
        return;
    }
    // Form_MouseMove
    RestoreButtonImages();
}

void Form1::mouseReleaseEvent(QMouseEvent *event)
{
    if (m_manualDrag) {
        m_manualDrag = false;
        releaseMouse();
    }
    event->accept();
}

void Form1::restoreSearchPrompt()
{
    const QString text = Text1->text();
    if (text.trimmed().isEmpty() || text == kSearchPrompt) {
        Text1->setText(kSearchPrompt);
        setText1Colour(kPromptColour);
        Text2->setFocus();
    }
}

bool Form1::playerPaused() const
{
    return WindowsMediaPlayer1 && WindowsMediaPlayer1->playState() == MediaPlayer::kStatePaused;
}

void Form1::RestoreButtonImages()
{
    Image1->setPicture(Image4->picture());
    Image2->setPicture(Image10->picture());
    Image12->setPicture(Image13->picture());
    Image19->setPicture(Image15->picture());
    Image20->setPicture(Image17->picture());
    Image24->setPicture(Image25->picture());
    Image3->setPicture(playerPaused() ? Image8->picture() : Image6->picture());
}

void Form1::showHover(ImageControl *button)
{
    if (button == Image1)
        Image1->setPicture(Image5->picture());
    else if (button == Image2)
        Image2->setPicture(Image11->picture());
    else if (button == Image12)
        Image12->setPicture(Image14->picture());
    else if (button == Image19)
        Image19->setPicture(Image16->picture());
    else if (button == Image20)
        Image20->setPicture(Image18->picture());
    else if (button == Image24)
        Image24->setPicture(Image26->picture());
    else if (button == Image3)
        Image3->setPicture(playerPaused() ? Image9->picture() : Image7->picture());
}

void Form1::Image19_Click()
{
    setWindowState(windowState() | Qt::WindowMinimized);
}

void Form1::Image20_Click()
{
    // Unloading the window runs the close path, which always cancels.
    close();
}

void Form1::Image12_Click()
{
    Command1_Click();
}

void Form1::lblLabel1_Click()
{
    toggle(Check4);
}

void Form1::lblLabel2_Click()
{
    toggle(Check8);
}

void Form1::fillSongInformation()
{
    QTreeWidgetItem *row = ListView1->currentItem();
    if (!row)
        return;
    // The link request lets other events run; a new search may empty the
    // list meanwhile, so the row's texts are taken first.
    const QString songId = row->text(0);
    const QString title = row->text(1);
    const QString singer = row->text(2);
    const QString album = row->text(3);
    QPointer<Form2> info = form2;
    info->Text1->setText(title);
    info->Text2->setText(singer);
    info->Text3->setText(album);
    const QString link = GetMusicList::ResolveSongLink(songId, singer, title, *this);
    if (!info)
        return;
    info->Text4->setText(link);
    info->Text6->setText(songId);
}

void Form1::MusicTT_Click()
{
    if (!form2 || !ListView1->currentItem())
        return;
    fillSongInformation();
    QPointer<Form2> info = form2;
    info->exec();
    if (!info)
        return;
    info->setWindowState(Qt::WindowNoState);
    fillSongInformation();
}

void Form1::Picture2_Click()
{
    Picture2->hide();
    Picture1->show();
}

void Form1::WindowsMediaPlayer1_Click()
{
    attempt([&] { Picture1->hide(); });
    attempt([&] { Picture2->show(); });
    attempt([&] { WindowsMediaPlayer1->setFullScreen(false); });
}

void Form1::WindowsMediaPlayer1_DoubleClick()
{
    attempt([&] { WindowsMediaPlayer1->setFullScreen(true); });
}

QString Form1::XMLHttpGET(const QString &url)
{
    return GetMusicList::HttpGetAnsi(url);
}
