// What the playlist control paints, read back from the pixels of a grab:
// row backgrounds and their alternation, the text colours of selected,
// playing and failed items, the playing mark, cut texts, the fill below a
// short list and the bottom border under the cut last row.
#include "PlaylistViewFixture.h"

#include <QFontMetrics>
#include <QImage>
#include <QPaintEvent>

namespace {

class PaintTest : public PlaylistViewTest
{
protected:
    void SetUp() override
    {
        PlaylistViewTest::SetUp();
        box->setBackColor(kBack);
        box->setItemBackColor1(kBk1);
        box->setItemBackColor2(kBk2);
        box->setSelectedBackColor(kSelBk);
        box->setTextColor(kNorText);
        box->setSelectedTextColor(kSelText);
        box->setPlayingTextColor(kPlyText);
        box->setErrorTextColor(kErrText);
        box->setBorderColor(kBorder);
        // Glyphs without smoothing are drawn in exactly the text colour.
        QFont font = box->listFont();
        font.setStyleStrategy(QFont::NoAntialias);
        box->setFont(font);
    }

    QImage shot() const { return box->grab().toImage().convertToFormat(QImage::Format_RGB32); }

    static int count(const QImage &image, const QRect &area, const QColor &colour)
    {
        int n = 0;
        const QRect r = area.intersected(image.rect());
        for (int y = r.top(); y <= r.bottom(); ++y)
            for (int x = r.left(); x <= r.right(); ++x)
                n += image.pixelColor(x, y) == colour;
        return n;
    }
    static int leftmost(const QImage &image, const QRect &area, const QColor &colour)
    {
        const QRect r = area.intersected(image.rect());
        for (int x = r.left(); x <= r.right(); ++x)
            for (int y = r.top(); y <= r.bottom(); ++y)
                if (image.pixelColor(x, y) == colour)
                    return x;
        return -1;
    }
    // The colour covering most of an area: a row's background.
    static QColor dominant(const QImage &image, const QRect &area)
    {
        QHash<QRgb, int> seen;
        const QRect r = area.intersected(image.rect());
        for (int y = r.top(); y <= r.bottom(); ++y)
            for (int x = r.left(); x <= r.right(); ++x)
                ++seen[image.pixel(x, y)];
        QRgb best = 0;
        for (auto it = seen.cbegin(); it != seen.cend(); ++it)
            if (it.value() > seen.value(best))
                best = it.key();
        return QColor(best);
    }

    QRect cell(int item, listgeo::Cell listgeo::RowCells::*which) const
    {
        const listgeo::RowCells cells = listgeo::rowCells(box->layout(), box->numberWidth(),
                                                          box->authorWidth(), box->timeWidth());
        const QRect row = box->rowRect(item);
        return QRect((cells.*which).x, row.top(), (cells.*which).width, row.height());
    }
    int textWidth(const QString &text) const
    {
        return QFontMetrics(box->listFont()).horizontalAdvance(text);
    }

    const QColor kBack{0, 0, 128};
    const QColor kBk1{200, 200, 200};
    const QColor kBk2{150, 150, 150};
    const QColor kSelBk{255, 255, 0};
    const QColor kNorText{0, 0, 0};
    const QColor kSelText{255, 0, 255};
    const QColor kPlyText{0, 160, 0};
    const QColor kErrText{255, 0, 0};
    const QColor kBorder{0, 128, 128};
};

TEST_F(PaintTest, TopRowAlwaysTakesTheFirstBackground)
{
    fill(40);
    QImage image = shot();
    EXPECT_EQ(dominant(image, box->rowRect(0)), kBk1);
    EXPECT_EQ(dominant(image, box->rowRect(1)), kBk2);
    EXPECT_EQ(dominant(image, box->rowRect(2)), kBk1);

    // One row down every row swaps colour: item 1 is now the top row.
    box->scrollBar()->setValue(1);
    image = shot();
    EXPECT_EQ(dominant(image, box->rowRect(1)), kBk1);
    EXPECT_EQ(dominant(image, box->rowRect(2)), kBk2);
}

TEST_F(PaintTest, SelectedPlayingAndFailedRowsUseTheirColours)
{
    fill(5);
    box->setListIndex(0);
    box->setPlayIndex(0);
    QImage image = shot();
    // Selected and playing: the selection colours, and the mark instead of
    // the number.
    EXPECT_EQ(dominant(image, box->rowRect(0)), kSelBk);
    EXPECT_GT(count(image, cell(0, &listgeo::RowCells::title), kSelText), 0);
    EXPECT_EQ(count(image, cell(0, &listgeo::RowCells::number), kSelText), 0);
    const QRect mark(box->rowRect(0).left() + 2, box->rowRect(0).top() + 3, 12, 12);
    EXPECT_LT(count(image, mark, kSelBk), 12 * 12);

    box->setPlayIndex(2);
    image = shot();
    EXPECT_GT(count(image, cell(0, &listgeo::RowCells::number), kSelText), 0);
    EXPECT_GT(count(image, cell(2, &listgeo::RowCells::title), kPlyText), 0);
    EXPECT_EQ(count(image, cell(2, &listgeo::RowCells::number), kPlyText), 0);
    EXPECT_GT(count(image, cell(3, &listgeo::RowCells::title), kNorText), 0);

    // A failed item shows its number even while playing, in the error colour.
    box->setItemError(2, true);
    image = shot();
    EXPECT_GT(count(image, cell(2, &listgeo::RowCells::number), kErrText), 0);
    EXPECT_GT(count(image, cell(2, &listgeo::RowCells::title), kErrText), 0);
    EXPECT_EQ(count(image, box->rowRect(2), kPlyText), 0);
}

TEST_F(PaintTest, CutTextIsLeftAlignedFittingTextCentred)
{
    fill(2);
    box->setAuthor(0, QString(40, QLatin1Char('W')));
    box->setAuthor(1, QStringLiteral("W"));
    const QImage image = shot();

    const QRect cut = cell(0, &listgeo::RowCells::author);
    const QRect fitting = cell(1, &listgeo::RowCells::author);
    EXPECT_LE(leftmost(image, cut, kNorText), cut.left() + 2);
    const int centredLeft = fitting.left() + (fitting.width() - textWidth(QStringLiteral("W"))) / 2;
    EXPECT_NEAR(leftmost(image, fitting, kNorText), centredLeft, 2);
}

TEST_F(PaintTest, ShortListShowsTheBackColourBelowItsLastRow)
{
    fill(3);
    const QImage image = shot();
    const QRect last = box->rowRect(2);
    const QRect below(last.left(), last.bottom() + 1, last.width(), kHeight - 2 - last.bottom());
    EXPECT_EQ(count(image, below, kBack), below.width() * below.height());
    EXPECT_EQ(count(image, QRect(0, kHeight - 1, kWidth, 1), kBorder), kWidth);
}

TEST_F(PaintTest, BottomBorderStaysAfterTheCutLastRow)
{
    fill(40);
    QImage image = shot();
    // 24.9 rows fit: row 24 reaches past the inner bottom edge...
    const QRect cutRow = box->rowRect(24);
    ASSERT_GT(cutRow.bottom(), kHeight - 2);
    const QColor rowColour = dominant(
        image, QRect(cutRow.left(), cutRow.top(), cutRow.width(), kHeight - 1 - cutRow.top()));
    EXPECT_TRUE(rowColour == kBk1 || rowColour == kBk2);
    // ...yet the bottom line is whole, and so are the sides.
    EXPECT_EQ(count(image, QRect(0, kHeight - 1, kWidth, 1), kBorder), kWidth);
    EXPECT_EQ(count(image, QRect(0, 0, 1, kHeight), kBorder), kHeight);

    // Without a border the cut row runs to the bottom edge.
    box->setBorder(false);
    image = shot();
    EXPECT_EQ(count(image, QRect(0, 0, kWidth, kHeight), kBorder), 0);
}

TEST_F(PaintTest, NumberCellWidensAtTheTenthItem)
{
    fill(9);
    EXPECT_EQ(box->numberWidth(), textWidth(QStringLiteral("9")) + 4);
    fill(1);
    EXPECT_EQ(box->numberWidth(), textWidth(QStringLiteral("10")) + 4);
    const QImage image = shot();
    const QRect title = cell(9, &listgeo::RowCells::title);
    EXPECT_EQ(title.left(), box->rowRect(9).left() + box->numberWidth() + 2);
    EXPECT_GE(leftmost(image, box->rowRect(9).adjusted(box->numberWidth(), 0, 0, 0), kNorText),
              title.left());
}

// Collects the areas the control is asked to repaint.
class PaintRecorder : public QObject
{
public:
    explicit PaintRecorder(QWidget *widget) : m_widget(widget) { widget->installEventFilter(this); }
    QRegion painted;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (watched == m_widget && event->type() == QEvent::Paint) {
            painted += static_cast<QPaintEvent *>(event)->region();
        }
        return false;
    }

private:
    QWidget *m_widget;
};

TEST_F(PaintTest, ChangesRepaintOnlyTheRowsTheyAffect)
{
    fill(3);
    QApplication::processEvents();
    PaintRecorder recorder(box.get());

    // An appended row in view: that row and the space below it.
    box->addItem(QStringLiteral("fourth"));
    QApplication::processEvents();
    const QRect fourth = box->rowRect(3);
    EXPECT_EQ(recorder.painted.boundingRect().top(), fourth.top());
    EXPECT_FALSE(recorder.painted.intersects(box->rowRect(2)));

    // A selection change: the old and the new row only.
    box->setListIndex(0);
    QApplication::processEvents();
    recorder.painted = QRegion();
    box->setListIndex(2);
    QApplication::processEvents();
    EXPECT_EQ(recorder.painted, QRegion(box->rowRect(0)) + box->rowRect(2));

    // Rows appended below the view paint nothing of the list.
    // (The bar, drawn over the list, may have the area under it repainted.)
    fill(40);
    QApplication::processEvents();
    recorder.painted = QRegion();
    box->addItem(QStringLiteral("out of view"));
    box->setItemError(40, true);
    QApplication::processEvents();
    EXPECT_TRUE(recorder.painted.subtracted(box->scrollBar()->geometry()).isEmpty())
        << recorder.painted.boundingRect().x() << "," << recorder.painted.boundingRect().y() << " "
        << recorder.painted.boundingRect().width() << "x"
        << recorder.painted.boundingRect().height();
}

} // namespace
