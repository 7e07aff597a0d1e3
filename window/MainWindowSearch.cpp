// The search half of the main window: the search and stop buttons, the
// search box's grey prompt, the result list (filling, ticking, fitting)
// and the window's side of the search loop and of the lyric step.
#include "window/MainWindow.h"

#include "service/SearchSongs.h"
#include "service/SearchState.h"
#include "window/SongInfoWindow.h"
#include "window/results/ResultList.h"
#include "window/rules/HeapTrim.h"

#include <QCheckBox>
#include <QCoreApplication>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>

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

MainWindow::WarningBox g_warningBox = showWarningBox;

QColor fromBgr(unsigned bgr)
{
    return QColor(bgr & 0xFF, (bgr >> 8) & 0xFF, (bgr >> 16) & 0xFF);
}

} // namespace

void MainWindow::setWarningBox(WarningBox box)
{
    g_warningBox = box ? box : showWarningBox;
}

void MainWindow::connectSearch()
{
    connect(searchButton, &QPushButton::clicked, this, &MainWindow::onSearchClicked);
    connect(stopButton, &QPushButton::clicked, this, &MainWindow::onStopClicked);
    connect(searchEdit, &QLineEdit::textChanged, this, &MainWindow::onSearchTextChanged);
    connect(searchEdit, &QLineEdit::returnPressed, this, [this] { onSearchKeyPressed(kEnterKey); });
    connect(autoFitBox, &QCheckBox::toggled, this, &MainWindow::onAutoFitToggled);
    connect(autoTickBox, &QCheckBox::toggled, this, &MainWindow::onAutoTickToggled);
    for (QObject *watched :
         {static_cast<QObject *>(searchEdit), static_cast<QObject *>(statusEdit),
          static_cast<QObject *>(lyricLine), static_cast<QObject *>(resultsView->viewport())})
        watched->installEventFilter(this);
    setSearchTextColour(kPromptColour);
}

void MainWindow::setSearchTextColour(unsigned bgr)
{
    QPalette palette = searchEdit->palette();
    palette.setColor(QPalette::Text, fromBgr(bgr));
    searchEdit->setPalette(palette);
}

unsigned MainWindow::searchTextColour() const
{
    const QColor c = searchEdit->palette().color(QPalette::Text);
    return static_cast<unsigned>(c.red()) | (static_cast<unsigned>(c.green()) << 8) |
           (static_cast<unsigned>(c.blue()) << 16);
}

void MainWindow::onSearchClicked()
{
    if (searchButton->text() != musicservice::kSearchCaption) {
        // The stop path: the running loop notices at its next page.
        musicservice::stopSearch(*this);
        return;
    }
    const QString words = searchEdit->text();
    QString squeezed = words;
    squeezed.remove(QLatin1Char(' '));
    if (squeezed.isEmpty() || squeezed == kSearchPrompt) {
        g_warningBox(this, kEmptySearchTitle, kEmptySearchText);
        setSearchTextColour(kPromptColour);
        searchEdit->clear();
        searchEdit->setText(kSearchPrompt);
        focusHolder->setFocus();
        return;
    }
    m_lastFetchError.clear();
    QPointer<MainWindow> self(this);
    musicservice::beginSearch(words, *this);
    if (!self)
        return;
    // A page that could not be read is no empty result: say why the count
    // may be short.
    if (!m_lastFetchError.isEmpty())
        statusEdit->setText(statusEdit->text() + QStringLiteral("（") + m_lastFetchError +
                            QStringLiteral("）"));
    if (!m_searchNote.isEmpty())
        statusEdit->setText(statusEdit->text() + m_searchNote);
    focusHolder->clear();
    focusHolder->setFocus();
    heaptrim::returnFreedPagesSoon(); // the pages' text is parsed and gone
}

void MainWindow::showServiceStatus(const QString &text, bool urgent)
{
    if (urgent || statusEdit->text().isEmpty() || statusEdit->text() == m_serviceStatus)
        statusEdit->setText(text);
    m_serviceStatus = text;
}

void MainWindow::setSearchNote(const QString &note)
{
    m_searchNote = note;
}

void MainWindow::onStopClicked()
{
    musicservice::stopSearch(*this);
}

void MainWindow::onSearchTextChanged()
{
    const QString text = searchEdit->text();
    if (!text.trimmed().isEmpty() && text != kSearchPrompt)
        setSearchTextColour(kTypedColour);
}

void MainWindow::onSearchEditClicked()
{
    if (searchEdit->text() != kSearchPrompt) {
        setSearchTextColour(kTypedColour);
        searchEdit->selectAll();
    } else {
        searchEdit->clear();
    }
    searchEdit->setFocus();
}

void MainWindow::onSearchEditDoubleClicked()
{
    searchEdit->selectAll();
    searchEdit->setFocus();
}

void MainWindow::onSearchKeyPressed(int keyAscii)
{
    if (keyAscii == kEnterKey)
        onSearchClicked();
}

void MainWindow::onSearchEditFocusLost()
{
    if (searchEdit->text().trimmed().isEmpty()) {
        searchEdit->setText(kSearchPrompt);
        setSearchTextColour(kPromptColour);
        focusHolder->setFocus();
    }
}

void MainWindow::onSearchEditHovered()
{
    showHover(searchImageButton);
}

void MainWindow::onSearchButtonHovered()
{
    showHover(searchImageButton);
}

void MainWindow::onResultsPressed()
{
    if (searchEdit->text().trimmed().isEmpty()) {
        searchEdit->setText(kSearchPrompt);
        setSearchTextColour(kPromptColour);
        focusHolder->setFocus();
    }
}

void MainWindow::onStatusEditPressed()
{
    restoreSearchPrompt();
    dragWindow();
}

void MainWindow::onLyricLinePressed()
{
    restoreSearchPrompt();
    dragWindow();
}

void MainWindow::onStatusEditKeyPressed()
{
    dragWindow();
}

void MainWindow::fitColumnsToContents()
{
    const int rows = resultsView->rowCount();
    if (rows == 0)
        return;
    resultsView->setCurrentRow(rows - 1);
    resultsView->scrollToRow(rows - 1);
    autoSizeColumn(resultsView);
}

void MainWindow::autoSizeColumn(ResultList *list, int column)
{
    QPointer<ResultList> guard(list);
    QCoreApplication::processEvents();
    if (!guard)
        return; // the list went away while events ran: end quietly
    const int columns = guard->columnCount();
    if (column >= 0) {
        if (column < columns)
            guard->fitColumnToContents(column);
    } else {
        for (int c = 0; c < columns; ++c)
            guard->fitColumnToContents(c);
    }
}

void MainWindow::tickAllResults()
{
    const int rows = resultsView->rowCount();
    if (rows == 0)
        return;
    invertBox->setChecked(false);
    for (int i = 0; i < rows; ++i)
        resultsView->setTicked(i, true);
}

void MainWindow::invertResultTicks()
{
    const int rows = resultsView->rowCount();
    if (rows == 0)
        return;
    selectAllBox->setChecked(false);
    for (int i = 0; i < rows; ++i)
        resultsView->setTicked(i, !resultsView->isTicked(i));
}

void MainWindow::onAutoFitToggled()
{
    fitColumnsToContents();
}

void MainWindow::onAutoTickToggled()
{
    // Runs on every change of the option, off included: it ticks all rows.
    selectAllBox->setChecked(true);
    tickAllResults();
}

// ---- SearchView -------------------------------------------------------------

void MainWindow::appendResult(const SearchResult &row)
{
    // A row costs the list an append and, when it lands in view, a repaint
    // that waits for the next paint: rows go in as they come.
    resultsView->appendRows({row});
}

int MainWindow::resultCount() const
{
    return resultsView->rowCount();
}

void MainWindow::clearResults()
{
    resultsView->clear();
}

bool MainWindow::autoTickEnabled() const
{
    return autoTickBox->isChecked();
}

void MainWindow::tickSelectAll()
{
    selectAllBox->setChecked(true);
}

bool MainWindow::fitEnabled() const
{
    return autoFitBox->isChecked();
}

void MainWindow::fitResultColumns()
{
    fitColumnsToContents();
}

void MainWindow::setStatusText(const QString &text)
{
    statusEdit->setText(text);
}

void MainWindow::clearSearchBox()
{
    searchEdit->clear();
}

void MainWindow::setSearchButtonCaption(const QString &caption)
{
    searchButton->setText(caption);
}

void MainWindow::setStopButtonCaption(const QString &caption)
{
    stopButton->setText(caption);
}

void MainWindow::setStopButtonEnabled(bool enabled)
{
    stopButton->setEnabled(enabled);
}

void MainWindow::pageFetchFailed(const QString &error)
{
    // An unreachable service would otherwise be asked for every remaining
    // page in turn; the search ends at the next page boundary instead and
    // its summary counts what arrived.
    m_lastFetchError = error;
    musicservice::searchState().searchInProgress = false;
}

// ---- LyricsView -------------------------------------------------------------

void MainWindow::clearLyricList()
{
    if (m_lyricList)
        m_lyricList->clear();
    m_lyrics.clear();
}

void MainWindow::addLyricEntry(const QString &entry)
{
    if (m_lyricList)
        m_lyricList->addItem(entry);
    m_lyrics.append(entry);
}

void MainWindow::setLyricText(const QString &text)
{
    m_lyricText = text;
    if (m_songInfoWindow)
        m_songInfoWindow->lyricEdit->setPlainText(text);
}

void MainWindow::setLyricBoxText(const QString &text)
{
    lyricLine->setText(text);
}
