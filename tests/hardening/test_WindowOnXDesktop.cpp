// What a user meets first in the real window, with and without a window
// manager: keys work before any click, F11 fills the screen and Escape
// leaves it, a paused track seeks at once, a right click anywhere reaches
// About, a full playlist says what stayed out, shortened titles end in
// their own direction, and every dialog stays readable under the skin.
#include "tests/hardening/WindowOnXFixture.h"

#include "controls/image/ImageControl.h"
#include "controls/listbox/ListGeometry.h"
#include "controls/listbox/PlaylistView.h"
#include "playback/MediaPlayer.h"
#include "window/PopupMenus.h"
#include "window/SongInfoWindow.h"
#include "window/rules/PlaybackKnobs.h"

#include <QAbstractButton>
#include <QAction>
#include <QCheckBox>
#include <QDialog>
#include <QFile>
#include <QFileDialog>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPainter>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QStyleOptionButton>
#include <QTimer>
#include <QVBoxLayout>
#include <functional>
#include <memory>

namespace {

// ---- keys from the start, and full screen: without and with a window manager ----

class WindowOnXDesktops : public WindowOnX, public testing::WithParamInterface<bool>
{
protected:
    void prepareDesktop() override
    {
        if (!GetParam())
            return;
        manager = std::make_unique<WindowManager>();
        if (!manager->start())
            GTEST_SKIP() << "openbox is missing (scripts/setup-deps.sh installs it)";
    }
    void TearDown() override
    {
        WindowOnX::TearDown();
        manager.reset();
    }
    std::unique_ptr<WindowManager> manager;
};

TEST_P(WindowOnXDesktops, KeysWorkBeforeAnyClickAndF11FillsTheScreen)
{
    // The pointer away from the window: nothing but the window's own claim
    // on the keyboard can bring it the keys.
    const QRect screen = form->screen()->geometry();
    xdotool({QStringLiteral("mousemove"), QString::number(screen.right()),
             QString::number(screen.bottom())});
    // Typing goes to the search box, replacing its prompt.
    xdotool({QStringLiteral("type"), QStringLiteral("qing")});
    EXPECT_TRUE(
        QTest::qWaitFor([&] { return form->searchEdit->text() == QStringLiteral("qing"); }, 3000))
        << form->searchEdit->text().toStdString();

    // F11 shows the player's view on the whole screen; Escape, and F11 again,
    // go back to the window, which has the keys again.
    const QStringList leaveKeys = {QStringLiteral("Escape"), QStringLiteral("F11")};
    for (const QString &leave : leaveKeys) {
        key(QStringLiteral("F11"));
        ASSERT_TRUE(QTest::qWaitFor(
            [&] {
                return form->mediaPlayer->fullScreen() && form->mediaPlayer->isVisible() &&
                       form->mediaPlayer->frameGeometry() == screen;
            },
            5000))
            << leave.toStdString() << " " << form->mediaPlayer->frameGeometry().width() << "x"
            << form->mediaPlayer->frameGeometry().height();
        ASSERT_TRUE(QTest::qWaitFor([&] { return form->mediaPlayer->isActiveWindow(); }, 5000));
        key(leave);
        ASSERT_TRUE(QTest::qWaitFor([&] { return !form->mediaPlayer->fullScreen(); }, 5000))
            << leave.toStdString();
        EXPECT_FALSE(form->mediaPlayer->isWindow());
        EXPECT_TRUE(form->singerPicture->isVisible());
        ASSERT_TRUE(QTest::qWaitFor([&] { return form->isActiveWindow(); }, 5000));
    }
    xdotool({QStringLiteral("type"), QStringLiteral("x")});
    EXPECT_TRUE(
        QTest::qWaitFor([&] { return form->searchEdit->text() == QStringLiteral("qingx"); }, 3000));
    // A screen reader tells how full screen is reached and left.
    const QString spoken = form->singerPicture->accessibleDescription();
    EXPECT_TRUE(spoken.contains(QStringLiteral("F11")) && spoken.contains(QStringLiteral("Esc")))
        << spoken.toStdString();
}

INSTANTIATE_TEST_SUITE_P(Desktops, WindowOnXDesktops, testing::Bool(),
                         [](const testing::TestParamInfo<bool> &info) {
                             return info.param ? "WithWindowManager" : "WithoutWindowManager";
                         });

// ---- the plain X display: no window manager, no notification area ----------

using WindowOnXPlain = WindowOnX;

TEST_F(WindowOnXPlain, SeeksOfAPausedTrackMoveTheKnobAndTheClockAtOnce)
{
    searchAndSelect(QStringLiteral("晴川"), 0);
    form->onResultDoubleClicked();
    MediaPlayer *player = form->mediaPlayer;
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            return player->playState() == MediaPlayer::kStatePlaying &&
                   player->currentMedia().duration() > 14;
        },
        10000));
    player->controls().setCurrentPosition(8.0);
    click(form->playButton);
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return player->playState() == MediaPlayer::kStatePaused; }, 5000));
    // The window's keys, not the search box's.
    form->playlistView->setFocus();

    // The keys, and the desktop's Seek and SetPosition (which ask the
    // player's state, as the media-player interface does).
    struct Seek
    {
        const char *name;
        std::function<void()> run;
        double target;
    };
    PlayerState *state = form->playerState();
    const Seek seeks[] = {
        {"Right", [&] { key(QStringLiteral("Right")); }, 13.0},
        {"Left", [&] { key(QStringLiteral("Left")); }, 8.0},
        {"Left", [&] { key(QStringLiteral("Left")); }, 3.0},
        {"Seek", [&] { state->seekBy(4.0); }, 7.0},
        {"SetPosition", [&] { state->seekTo(11.0); }, 11.0},
    };
    const double duration = player->currentMedia().duration();
    // The knob's travel in the time the engine may round a seek by.
    const int knobSlack = PlaybackKnobs::knobForPosition(duration, 1.0) + 1;
    for (const Seek &seek : seeks) {
        seek.run();
        ASSERT_TRUE(QTest::qWaitFor(
            [&] { return std::abs(player->controls().currentPosition() - seek.target) < 0.6; },
            3000))
            << seek.name;
        // Nothing else runs the clock while paused: what shows now is what
        // the seek itself put there. The status box starts "mm:ss/".
        const QString box = form->statusEdit->text();
        const double shown = box.left(2).toInt() * 60 + box.mid(3, 2).toInt();
        EXPECT_NEAR(shown, seek.target, 1.0) << seek.name << ": " << box.toStdString();
        EXPECT_NEAR(form->seekKnob->leftTwips(),
                    PlaybackKnobs::knobForPosition(duration, seek.target), knobSlack)
            << seek.name;
        EXPECT_EQ(player->playState(), MediaPlayer::kStatePaused) << seek.name;
    }
}

TEST_F(WindowOnXPlain, RightClicksOnBothListsReachAbout)
{
    // Empty lists offer the window's menu; lists with rows their own, both
    // ending in About.
    const auto aboutShown = [&](QWidget *target, QPoint at) {
        click(target, 3, 1, at);
        QMenu *menu = nullptr;
        if (!QTest::qWaitFor(
                [&] { return (menu = qobject_cast<QMenu *>(QApplication::activePopupWidget())); },
                3000))
            return false;
        const bool found = menu->actions().contains(form->popupMenus->aboutAction) &&
                           form->popupMenus->aboutAction->isVisible();
        key(QStringLiteral("Escape"));
        return QTest::qWaitFor([] { return !QApplication::activePopupWidget(); }, 3000) && found;
    };
    const QPoint firstRow(20, 8);
    EXPECT_TRUE(aboutShown(form->playlistView, firstRow)) << "empty playlist";
    EXPECT_TRUE(aboutShown(form->resultsView->viewport(), firstRow)) << "empty results";
    form->playlistView->addItem(QStringLiteral("歌"), QStringLiteral("晴川"),
                                QStringLiteral("100001"));
    searchAndSelect(QStringLiteral("晴川"), 0);
    EXPECT_TRUE(aboutShown(form->playlistView, firstRow)) << "playlist";
    EXPECT_TRUE(aboutShown(form->resultsView->viewport(), firstRow)) << "results";

    // Chosen there, it shows the about box.
    QString title;
    QTimer closer;
    QObject::connect(&closer, &QTimer::timeout, [&] {
        if (auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget())) {
            title = box->windowTitle();
            box->reject();
        }
    });
    closer.start(50);
    click(form->resultsView->viewport(), 3, 1, firstRow);
    QMenu *menu = form->popupMenus->resultMenu();
    ASSERT_TRUE(QTest::qWaitFor([&] { return menu->isVisible(); }, 3000));
    click(menu, 1, 1, menu->actionGeometry(form->popupMenus->aboutAction).center());
    EXPECT_TRUE(QTest::qWaitFor([&] { return !title.isEmpty(); }, 5000));
    EXPECT_EQ(title, QStringLiteral("关于我们"));
}

TEST_F(WindowOnXPlain, AFullPlaylistSaysHowManySongsStayedOut)
{
    // Room for one more song.
    QList<PlaylistView::NewItem> items(
        PlaylistView::kMaxItems - 1,
        {QStringLiteral("歌"), QStringLiteral("晴川"), QStringLiteral("100001"), QString()});
    ASSERT_EQ(form->playlistView->appendItems(items), PlaylistView::kMaxItems - 1);
    searchAndSelect(QStringLiteral("晴川"), 2);
    const int rows = form->resultsView->rowCount();
    form->tickAllResults();

    // The result menu's add command, chosen with the pointer.
    click(form->resultsView->viewport(), 3, 1, QPoint(20, 8));
    QMenu *menu = form->popupMenus->resultMenu();
    ASSERT_TRUE(QTest::qWaitFor([&] { return menu->isVisible(); }, 3000));
    click(menu, 1, 1, menu->actionGeometry(form->popupMenus->addToPlaylistAction).center());
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return form->playlistView->listCount() == PlaylistView::kMaxItems; }, 5000));
    // Every ticked row, then the selected one again: one of them fitted.
    EXPECT_EQ(form->statusLabel->text(),
              QStringLiteral("播放列表已满（最多 32768 首），%1 首歌曲未添加").arg(rows));
}

// ---- shortened titles ---------------------------------------------------------

// Where a cell's text has ink: pixels unlike the colour covering most of it.
QImage inkOf(const QImage &shot, const QRect &cell)
{
    QHash<QRgb, int> seen;
    for (int y = cell.top(); y <= cell.bottom(); ++y)
        for (int x = cell.left(); x <= cell.right(); ++x)
            ++seen[shot.pixel(x, y)];
    QRgb background = 0;
    for (auto it = seen.cbegin(); it != seen.cend(); ++it)
        if (it.value() > seen.value(background))
            background = it.key();
    QImage ink(cell.size(), QImage::Format_Mono);
    ink.fill(0);
    for (int y = 0; y < cell.height(); ++y)
        for (int x = 0; x < cell.width(); ++x)
            ink.setPixel(x, y, shot.pixel(cell.left() + x, cell.top() + y) != background);
    return ink;
}

QRect inkBounds(const QImage &ink)
{
    QRect bounds;
    for (int y = 0; y < ink.height(); ++y)
        for (int x = 0; x < ink.width(); ++x)
            if (ink.pixelIndex(x, y))
                bounds |= QRect(x, y, 1, 1);
    return bounds;
}

// Whether the text in a cell ends in the ellipsis where its direction ends:
// the outermost ink on that side is exactly the ellipsis drawn alone in the
// same font.
bool endsInEllipsis(const QImage &shot, const QRect &cell, const QFont &font, bool rightToLeft)
{
    QImage alone(cell.size(), QImage::Format_RGB32);
    alone.fill(Qt::white);
    {
        QPainter painter(&alone);
        painter.setFont(font);
        painter.setPen(Qt::black);
        painter.drawText(QPoint(2, QFontMetrics(font).ascent()),
                         QString::fromUtf16(listgeo::kEllipsis));
    }
    const QImage mark = inkOf(alone, alone.rect());
    const QRect markBounds = inkBounds(mark);
    const QImage ink = inkOf(shot, cell);
    const QRect bounds = inkBounds(ink);
    if (markBounds.isEmpty() || bounds.width() <= markBounds.width())
        return false;
    const int left = rightToLeft ? bounds.left() : bounds.right() - markBounds.width() + 1;
    // Any height: the mark must match column for column, pixel for pixel.
    for (int dy = -bounds.height(); dy <= bounds.height(); ++dy) {
        bool same = true;
        for (int y = 0; y < ink.height() && same; ++y) {
            for (int x = 0; x < markBounds.width() && same; ++x) {
                const int my = y - dy;
                const bool inMark =
                    my >= 0 && my < mark.height() && mark.pixelIndex(markBounds.left() + x, my);
                same = bool(ink.pixelIndex(left + x, y)) == inMark;
            }
        }
        if (same)
            return true;
    }
    return false;
}

TEST_F(WindowOnXPlain, ShortenedTitlesEndInTheEllipsisWhereTheirDirectionEnds)
{
    struct Title
    {
        const char *name;
        QString text;
        bool rightToLeft;
    };
    const Title titles[] = {
        {"left to right",
         QStringLiteral("A very long title of a song that goes on and on and on and on"), false},
        {"Arabic",
         QStringLiteral(u"أغنية طويلة جدا عن البحر والقمر والليل والنجوم في سماء المدينة القديمة"),
         true},
        {"Hebrew", QStringLiteral(u"שיר ארוך מאוד על הים והירח והלילה והכוכבים בשמי העיר העתיקה"),
         true},
    };
    // Glyphs without smoothing: the ellipsis is the same pixels wherever
    // it is drawn.
    QFont font = form->playlistView->font();
    font.setStyleStrategy(QFont::NoAntialias);
    form->playlistView->setFont(font);
    form->resultsView->setFont(font);
    QList<SearchResult> rows;
    for (const Title &title : titles) {
        form->playlistView->addItem(title.text, QStringLiteral("晴川"), QStringLiteral("100001"));
        rows.append({QStringLiteral("100001"), title.text, QStringLiteral("晴川"), QString()});
    }
    form->resultsView->appendRows(rows);
    form->playlistView->setListIndex(-1);
    form->resultsView->setCurrentRow(-1);
    // Away from both lists: no row is hovered.
    xdotool({QStringLiteral("mousemove"), QStringLiteral("0"), QStringLiteral("0")});

    PlaylistView *list = form->playlistView;
    const QImage listShot = list->grab().toImage().convertToFormat(QImage::Format_RGB32);
    const listgeo::RowCells cells = listgeo::rowCells(list->layout(), list->numberWidth(),
                                                      list->authorWidth(), list->timeWidth());
    QWidget *viewport = form->resultsView->viewport();
    const QImage resultShot = viewport->grab().toImage().convertToFormat(QImage::Format_RGB32);
    for (int i = 0; i < int(std::size(titles)); ++i) {
        const QRect row = list->rowRect(i);
        const QRect listCell(cells.title.x, row.top(), cells.title.width, row.height());
        EXPECT_TRUE(endsInEllipsis(listShot, listCell, font, titles[i].rightToLeft))
            << "playlist, " << titles[i].name;
        const QRect resultRow = form->resultsView->rowRect(i);
        const QRect resultCell(form->resultsView->columnLeft(1), resultRow.top(),
                               form->resultsView->columnWidth(1), resultRow.height());
        EXPECT_TRUE(endsInEllipsis(resultShot, resultCell, font, titles[i].rightToLeft))
            << "results, " << titles[i].name;
    }
}

// ---- dialogs under the skin -------------------------------------------------------

class WindowOnXSkinned : public WindowOnX
{
protected:
    void prepareDesktop() override
    {
        ASSERT_TRUE(QFile::copy(QStringLiteral(VELMOR_SKIN_FILE),
                                skinDir.filePath(QStringLiteral("tessaryn.she"))));
    }
};

// The lowest contrast of any text on a shown dialog, as the X server shows
// it: in each label's and button's text area the colour covering most of
// it is the background, the one farthest from it the text's.
double lowestTextContrast(QWidget *dialog, QString &worst)
{
    const QImage shot =
        dialog->screen()
            ->grabWindow(0, dialog->x(), dialog->y(), dialog->frameGeometry().width(),
                         dialog->frameGeometry().height())
            .toImage();
    double lowest = 21.0;
    const auto measure = [&](QWidget *widget, QRect area) {
        area = QRect(widget->mapTo(dialog, area.topLeft()) +
                         (dialog->geometry().topLeft() - dialog->frameGeometry().topLeft()),
                     area.size())
                   .intersected(shot.rect());
        if (area.isEmpty())
            return;
        QHash<QRgb, int> counts;
        for (int y = area.top(); y <= area.bottom(); ++y)
            for (int x = area.left(); x <= area.right(); ++x)
                ++counts[shot.pixel(x, y) | 0xFF000000u];
        QRgb background = 0;
        for (auto it = counts.cbegin(); it != counts.cend(); ++it)
            if (it.value() > counts.value(background))
                background = it.key();
        double best = 1.0;
        for (auto it = counts.cbegin(); it != counts.cend(); ++it)
            best = std::max(best, contrast(QColor(it.key()), QColor(background)));
        if (best < lowest) {
            lowest = best;
            worst = QLatin1String(widget->metaObject()->className()) + QStringLiteral(" ") +
                    widget->objectName() + QStringLiteral(" on ") + QColor(background).name();
        }
    };
    for (QLabel *label : dialog->findChildren<QLabel *>()) {
        if (label->isVisible() && !label->text().isEmpty())
            measure(label, label->contentsRect());
    }
    for (QAbstractButton *button : dialog->findChildren<QAbstractButton *>()) {
        // A disabled button is drawn faint on purpose.
        if (!button->isVisible() || !button->isEnabled() || button->text().isEmpty())
            continue;
        // A tick box's text only: its box has colours of its own.
        QStyleOptionButton option;
        option.initFrom(button);
        option.text = button->text();
        QRect area = button->rect();
        if (qobject_cast<QCheckBox *>(button))
            area = button->style()->subElementRect(QStyle::SE_CheckBoxContents, &option, button);
        else if (qobject_cast<QRadioButton *>(button))
            area = button->style()->subElementRect(QStyle::SE_RadioButtonContents, &option, button);
        measure(button, area);
    }
    return lowest;
}

TEST_F(WindowOnXSkinned, EveryDialogKeepsItsTextReadable)
{
    struct Dialog
    {
        const char *name;
        std::function<QDialog *()> make;
    };
    const auto fileDialog = [this](QFileDialog::FileMode mode) {
        auto *dialog = new QFileDialog(form.get(), QStringLiteral("保存歌曲"));
        dialog->setFileMode(mode);
        dialog->setOption(QFileDialog::DontUseNativeDialog);
        return dialog;
    };
    const Dialog dialogs[] = {
        {"file", [&] { return fileDialog(QFileDialog::AnyFile); }},
        {"folder", [&] { return fileDialog(QFileDialog::Directory); }},
        {"message box",
         [this] {
             return new QMessageBox(QMessageBox::Warning, QStringLiteral("下载歌曲"),
                                    QStringLiteral("无法保存文件"), QMessageBox::Ok, form.get());
         }},
        // Any dialog of the program's own, with the usual widgets.
        {"own dialog",
         [this] {
             auto *dialog = new QDialog(form.get());
             auto *layout = new QVBoxLayout(dialog);
             layout->addWidget(new QLabel(QStringLiteral("音乐文件夹："), dialog));
             layout->addWidget(new QLineEdit(QStringLiteral("/home"), dialog));
             layout->addWidget(new QCheckBox(QStringLiteral("包含子文件夹"), dialog));
             layout->addWidget(new QRadioButton(QStringLiteral("按歌手排列"), dialog));
             auto *group = new QGroupBox(QStringLiteral("选项"), dialog);
             (new QVBoxLayout(group))->addWidget(new QLabel(QStringLiteral("共 12 首"), group));
             layout->addWidget(group);
             layout->addWidget(new QPushButton(QStringLiteral("确定"), dialog));
             return dialog;
         }},
        {"song information", [this] { return form->songInfoWindow(); }},
    };
    for (const Dialog &entry : dialogs) {
        QDialog *dialog = entry.make();
        dialog->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(dialog)) << entry.name;
        QTest::qWait(200);
        QString worst;
        EXPECT_GE(lowestTextContrast(dialog, worst), 4.5)
            << entry.name << ": " << worst.toStdString();
        dialog->hide();
        if (dialog != form->songInfoWindow())
            delete dialog;
    }
}

} // namespace
