// The search half of the main window: the search and stop buttons, the
// search box's grey prompt, the result list (filling, ticking, fitting)
// and the window's side of the search loop and of the lyric step.
#include "app/Form1.h"

#include "app/Form2.h"
#include "service/SearchSongs.h"
#include "service/SearchState.h"

#include <QCheckBox>
#include <QCoreApplication>
#include <QHeaderView>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QTreeWidget>

namespace {

// The empty-search warning: text and title.
const QString kEmptySearchText = QStringLiteral("请输入要搜索的歌名、歌手或者专辑！");
const QString kEmptySearchTitle = QStringLiteral("输入信息不完整");
// Character code of the Enter key.
constexpr int kEnterKey = 13;

void showWarningBox(QWidget *parent, const QString &title, const QString &text)
{
    QMessageBox::warning(parent, title, text);
}

Form1::WarningBox g_warningBox = showWarningBox;

QColor fromBgr(unsigned bgr)
{
    return QColor(bgr & 0xFF, (bgr >> 8) & 0xFF, (bgr >> 16) & 0xFF);
}

} // namespace

void Form1::setWarningBox(WarningBox box)
{
    g_warningBox = box ? box : showWarningBox;
}

void Form1::connectSearch()
{
    connect(Command1, &QPushButton::clicked, this, &Form1::Command1_Click);
    connect(Command4, &QPushButton::clicked, this, &Form1::Command4_Click);
    connect(Text1, &QLineEdit::textChanged, this, &Form1::Text1_Change);
    connect(Text1, &QLineEdit::returnPressed, this, [this] { Text1_KeyPress(kEnterKey); });
    connect(Check4, &QCheckBox::toggled, this, &Form1::Check4_Click);
    connect(Check8, &QCheckBox::toggled, this, &Form1::Check8_Click);
    for (QObject *watched :
         {static_cast<QObject *>(Text1), static_cast<QObject *>(Textx2),
          static_cast<QObject *>(txtText3), static_cast<QObject *>(ListView1->viewport())})
        watched->installEventFilter(this);
    setText1Colour(kPromptColour);
}

void Form1::setText1Colour(unsigned bgr)
{
    QPalette palette = Text1->palette();
    palette.setColor(QPalette::Text, fromBgr(bgr));
    Text1->setPalette(palette);
}

unsigned Form1::text1ForeColour() const
{
    const QColor c = Text1->palette().color(QPalette::Text);
    return static_cast<unsigned>(c.red()) | (static_cast<unsigned>(c.green()) << 8) |
           (static_cast<unsigned>(c.blue()) << 16);
}

void Form1::Command1_Click()
{
    if (Command1->text() != GetMusicList::kSearchCaption) {
        // The stop path: the running loop notices at its next page.
        GetMusicList::StopSearch(*this);
        return;
    }
    const QString words = Text1->text();
    QString squeezed = words;
    squeezed.remove(QLatin1Char(' '));
    if (squeezed.isEmpty() || squeezed == kSearchPrompt) {
        g_warningBox(this, kEmptySearchTitle, kEmptySearchText);
        setText1Colour(kPromptColour);
        Text1->clear();
        Text1->setText(kSearchPrompt);
        Text2->setFocus();
        return;
    }
    m_lastFetchError.clear();
    QPointer<Form1> self(this);
    GetMusicList::BeginSearch(words, *this);
    if (!self)
        return;
    // A page that could not be read is no empty result: say why the count
    // may be short.
    if (!m_lastFetchError.isEmpty())
        Textx2->setText(Textx2->text() + QStringLiteral("（") + m_lastFetchError +
                        QStringLiteral("）"));
    Text2->clear();
    Text2->setFocus();
}

void Form1::Command4_Click()
{
    GetMusicList::StopSearch(*this);
}

void Form1::Text1_Change()
{
    const QString text = Text1->text();
    if (!text.trimmed().isEmpty() && text != kSearchPrompt)
        setText1Colour(kTypedColour);
}

void Form1::Text1_Click()
{
    if (Text1->text() != kSearchPrompt) {
        setText1Colour(kTypedColour);
        Text1->selectAll();
    } else {
        Text1->clear();
    }
    Text1->setFocus();
}

void Form1::Text1_DblClick()
{
    Text1->selectAll();
    Text1->setFocus();
}

void Form1::Text1_KeyPress(int keyAscii)
{
    if (keyAscii == kEnterKey)
        Command1_Click();
}

void Form1::Text1_LostFocus()
{
    if (Text1->text().trimmed().isEmpty()) {
        Text1->setText(kSearchPrompt);
        setText1Colour(kPromptColour);
        Text2->setFocus();
    }
}

void Form1::Text1_MouseMove()
{
    showHover(Image12);
}

void Form1::Command1_MouseMove()
{
    showHover(Image12);
}

void Form1::ListView1_MouseDown()
{
    if (Text1->text().trimmed().isEmpty()) {
        Text1->setText(kSearchPrompt);
        setText1Colour(kPromptColour);
        Text2->setFocus();
    }
}

void Form1::Textx2_MouseDown()
{
    restoreSearchPrompt();
    DragWindow();
}

void Form1::txtText3_MouseDown()
{
    restoreSearchPrompt();
    DragWindow();
}

void Form1::Textx2_KeyDown()
{
    DragWindow();
}

void Form1::FitResultColumns()
{
    const int rows = ListView1->topLevelItemCount();
    if (rows == 0)
        return;
    QTreeWidgetItem *last = ListView1->topLevelItem(rows - 1);
    ListView1->setCurrentItem(last);
    ListView1->scrollToItem(last);
    AutoSizeColumn(ListView1);
}

void Form1::AutoSizeColumn(QTreeWidget *list, int column)
{
    QPointer<QTreeWidget> guard(list);
    QCoreApplication::processEvents();
    if (!guard)
        return; // the list went away while events ran: end quietly
    const int columns = guard->columnCount();
    if (column >= 0) {
        if (column < columns)
            guard->resizeColumnToContents(column);
    } else {
        for (int c = 0; c < columns; ++c)
            guard->resizeColumnToContents(c);
    }
    guard->viewport()->update();
}

void Form1::QuanxuanS()
{
    const int rows = ListView1->topLevelItemCount();
    if (rows == 0)
        return;
    Check6->setChecked(false);
    for (int i = 0; i < rows; ++i)
        ListView1->topLevelItem(i)->setCheckState(0, Qt::Checked);
}

void Form1::XunZ()
{
    const int rows = ListView1->topLevelItemCount();
    if (rows == 0)
        return;
    Check5->setChecked(false);
    for (int i = 0; i < rows; ++i) {
        QTreeWidgetItem *row = ListView1->topLevelItem(i);
        row->setCheckState(0, row->checkState(0) == Qt::Checked ? Qt::Unchecked : Qt::Checked);
    }
}

void Form1::Check4_Click()
{
    FitResultColumns();
}

void Form1::Check8_Click()
{
    // Runs on every change of the option, off included: it ticks all rows.
    Check5->setChecked(true);
    QuanxuanS();
}

// ---- SearchView -------------------------------------------------------------

void Form1::appendResult(const SearchResult &row)
{
    auto *item = new QTreeWidgetItem({row.songId, row.title, row.singer, row.album});
    item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsUserCheckable |
                   Qt::ItemNeverHasChildren);
    item->setCheckState(0, row.ticked ? Qt::Checked : Qt::Unchecked);
    ListView1->addTopLevelItem(item);
}

int Form1::resultCount() const
{
    return ListView1->topLevelItemCount();
}

void Form1::clearResults()
{
    ListView1->clear();
}

bool Form1::autoTickEnabled() const
{
    return Check8->isChecked();
}

void Form1::tickSelectAll()
{
    Check5->setChecked(true);
}

bool Form1::fitEnabled() const
{
    return Check4->isChecked();
}

void Form1::fitResultColumns()
{
    FitResultColumns();
}

void Form1::setStatusText(const QString &text)
{
    Textx2->setText(text);
}

void Form1::clearSearchBox()
{
    Text1->clear();
}

void Form1::setSearchButtonCaption(const QString &caption)
{
    Command1->setText(caption);
}

void Form1::setStopButtonCaption(const QString &caption)
{
    Command4->setText(caption);
}

void Form1::setStopButtonEnabled(bool enabled)
{
    Command4->setEnabled(enabled);
}

void Form1::pageFetchFailed(const QString &error)
{
    // An unreachable service would otherwise be asked for every remaining
    // page in turn; the search ends at the next page boundary instead and
    // its summary counts what arrived.
    m_lastFetchError = error;
    GetMusicList::State().SearchInProgress = false;
}

// ---- LyricsView -------------------------------------------------------------

void Form1::clearLyricList()
{
    List1->clear();
}

void Form1::addLyricEntry(const QString &entry)
{
    List1->addItem(entry);
}

void Form1::setLyricText(const QString &text)
{
    if (form2)
        form2->Text5->setPlainText(text);
}

void Form1::setLyricBoxText(const QString &text)
{
    txtText3->setText(text);
}
