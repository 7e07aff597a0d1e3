// The search-result list: its arithmetic on its own, then the widget as a
// user drives it (clicks on rows and tick boxes, double-clicks, keys, the
// header's column edges), what it draws, and what a screen reader reads.
#include "window/results/ResultList.h"
#include "window/results/ResultListAccessible.h"
#include "window/results/ResultListGeometry.h"

#include <QAccessible>
#include <QApplication>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTest>
#include <gtest/gtest.h>

namespace {

ResultListGeometry geometry()
{
    ResultListGeometry g;
    g.columnWidths = {100, 200, 100, 300};
    g.rowHeight = 24;
    g.viewWidth = 400;
    g.viewHeight = 100; // four whole rows and part of a fifth
    return g;
}

TEST(ResultListGeometryTest, ColumnsAndDividersFollowTheSidewaysScroll)
{
    ResultListGeometry g = geometry();
    EXPECT_EQ(g.totalWidth(), 700);
    EXPECT_EQ(g.maxScrollX(), 300);
    EXPECT_EQ(g.columnLeft(1), 100);
    EXPECT_EQ(g.columnLeft(4), 700);
    EXPECT_EQ(g.columnAt(0), 0);
    EXPECT_EQ(g.columnAt(99), 0);
    EXPECT_EQ(g.columnAt(100), 1);
    EXPECT_EQ(g.columnAt(700), -1);
    EXPECT_EQ(g.dividerAt(103), 0);
    EXPECT_EQ(g.dividerAt(150), -1);

    g.scrollX = 50;
    EXPECT_EQ(g.columnLeft(1), 50);
    EXPECT_EQ(g.columnAt(49), 0);
    EXPECT_EQ(g.dividerAt(250), 1);
    EXPECT_EQ(g.tickRect(0).left(), -50 + ResultListGeometry::kCellPadding);

    // Two edges within reach: the right-hand column's, so a column dragged
    // to nothing can be widened again.
    g.scrollX = 0;
    g.columnWidths = {100, 2, 100};
    EXPECT_EQ(g.dividerAt(101), 1);
}

TEST(ResultListGeometryTest, RowsScrollWholeAndAreBroughtIntoView)
{
    ResultListGeometry g = geometry();
    EXPECT_EQ(g.rowsPerPage(), 4);
    EXPECT_EQ(g.maxFirstRow(10), 6);
    EXPECT_EQ(g.maxFirstRow(3), 0);
    EXPECT_EQ(g.rowAt(0, 10), 0);
    EXPECT_EQ(g.rowAt(47, 10), 1);
    EXPECT_EQ(g.rowAt(-1, 10), -1);
    EXPECT_EQ(g.rowAt(24 * 3, 3), -1); // below the last row

    g.firstRow = 5;
    EXPECT_EQ(g.rowAt(0, 10), 5);
    EXPECT_EQ(g.rowRect(6).top(), 24);
    EXPECT_EQ(g.firstRowShowing(2, 10), 2); // above: it becomes the top row
    EXPECT_EQ(g.firstRowShowing(7, 10), 5); // in view: nothing moves
    EXPECT_EQ(g.firstRowShowing(9, 10), 6); // below: it becomes the bottom row
    EXPECT_EQ(g.firstRowShowing(9, 12), 6);

    g.viewHeight = 10; // smaller than a row: still one row a page
    EXPECT_EQ(g.rowsPerPage(), 1);
}

class ResultListTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        list = std::make_unique<ResultList>();
        list->resize(400, 24 * 5 + 40);
        list->setColumns({QStringLiteral("歌曲ID："), QStringLiteral("歌曲名称："),
                          QStringLiteral("歌手："), QStringLiteral("专辑：")},
                         {100, 200, 100, 300});
        list->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(list.get()));
    }

    void fill(int rows)
    {
        QList<SearchResult> results;
        for (int i = 0; i < rows; ++i) {
            results.append({QString::number(100000 + i), QStringLiteral("Song %1").arg(i),
                            QStringLiteral("Singer %1").arg(i), QStringLiteral("《Album》"),
                            false});
        }
        list->appendRows(results);
    }

    QPoint rowPoint(int row, int x = 150) const
    {
        return QPoint(x, list->rowRect(row).center().y());
    }
    QPoint tickPoint(int row) const { return list->tickRect(row).center(); }

    std::unique_ptr<ResultList> list;
};

TEST_F(ResultListTest, ClicksSelectRowsAndTickOnlyOnTheBox)
{
    fill(3);
    QSignalSpy current(list.get(), &ResultList::currentRowChanged);
    QSignalSpy ticked(list.get(), &ResultList::tickChanged);

    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, rowPoint(1));
    EXPECT_EQ(list->currentRow(), 1);
    EXPECT_FALSE(list->isTicked(1));
    // Any button selects, as in a list control; below the rows nothing
    // changes.
    QTest::mouseClick(list->viewport(), Qt::RightButton, {}, rowPoint(2));
    EXPECT_EQ(list->currentRow(), 2);
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, rowPoint(4));
    EXPECT_EQ(list->currentRow(), 2);
    EXPECT_EQ(current.count(), 2);

    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, tickPoint(0));
    EXPECT_TRUE(list->isTicked(0));
    EXPECT_EQ(list->currentRow(), 0);
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, tickPoint(0));
    EXPECT_FALSE(list->isTicked(0));
    // Pressed on the box and released off it: no tick, as with any check box.
    QTest::mousePress(list->viewport(), Qt::LeftButton, {}, tickPoint(1));
    QTest::mouseRelease(list->viewport(), Qt::LeftButton, {}, rowPoint(1));
    EXPECT_FALSE(list->isTicked(1));
    EXPECT_EQ(ticked.count(), 2);
}

TEST_F(ResultListTest, DoubleClickReportsTheRowAndDoesNotTickAgain)
{
    fill(3);
    QSignalSpy doubled(list.get(), &ResultList::rowDoubleClicked);
    QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, rowPoint(2));
    ASSERT_EQ(doubled.count(), 1);
    EXPECT_EQ(doubled.at(0).at(0).toInt(), 2);
    EXPECT_EQ(list->currentRow(), 2);

    // On the tick box: the first click ticks, the double-click's own
    // release does not untick.
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, tickPoint(1));
    QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, tickPoint(1));
    QTest::mouseRelease(list->viewport(), Qt::LeftButton, {}, tickPoint(1));
    EXPECT_TRUE(list->isTicked(1));
    EXPECT_EQ(doubled.count(), 2);

    QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, rowPoint(6));
    EXPECT_EQ(doubled.count(), 2); // below the rows
}

TEST_F(ResultListTest, KeysMoveTheSelectionScrollAndTick)
{
    fill(20);
    list->setFocus();
    QTest::keyClick(list.get(), Qt::Key_Down);
    EXPECT_EQ(list->currentRow(), 0);
    QTest::keyClick(list.get(), Qt::Key_End);
    EXPECT_EQ(list->currentRow(), 19);
    EXPECT_EQ(list->verticalScrollBar()->value(), list->verticalScrollBar()->maximum());
    EXPECT_LE(list->firstVisibleRow(), 19);
    EXPECT_GE(list->rowRect(19).top(), 0);
    EXPECT_LE(list->rowRect(19).bottom(), list->viewport()->height());
    QTest::keyClick(list.get(), Qt::Key_Home);
    EXPECT_EQ(list->currentRow(), 0);
    EXPECT_EQ(list->firstVisibleRow(), 0);
    QTest::keyClick(list.get(), Qt::Key_PageDown);
    EXPECT_GT(list->currentRow(), 1);
    QTest::keyClick(list.get(), Qt::Key_Up);
    QTest::keyClick(list.get(), Qt::Key_Up);
    QTest::keyClick(list.get(), Qt::Key_PageUp);
    EXPECT_EQ(list->currentRow(), 0); // clamped at the first row

    QTest::keyClick(list.get(), Qt::Key_Space);
    EXPECT_TRUE(list->isTicked(0));
    QTest::keyClick(list.get(), Qt::Key_Space);
    EXPECT_FALSE(list->isTicked(0));

    QTest::keyClick(list.get(), Qt::Key_Right);
    EXPECT_GT(list->horizontalScrollBar()->value(), 0);
    QTest::keyClick(list.get(), Qt::Key_Left);
    EXPECT_EQ(list->horizontalScrollBar()->value(), 0);
}

TEST_F(ResultListTest, HeaderEdgesSizeAndFitColumns)
{
    fill(2);
    QWidget *header = list->childAt(QPoint(list->width() / 2, list->headerHeight() / 2));
    ASSERT_NE(header, nullptr);
    ASSERT_NE(header, list->viewport());
    const int edge = list->columnWidth(0) - 1;
    QTest::mousePress(header, Qt::LeftButton, {}, QPoint(edge, 5));
    QMouseEvent drag(QEvent::MouseMove, QPointF(edge + 40, 5),
                     header->mapToGlobal(QPointF(edge + 40, 5)), Qt::NoButton, Qt::LeftButton,
                     Qt::NoModifier);
    QApplication::sendEvent(header, &drag);
    QTest::mouseRelease(header, Qt::LeftButton, {}, QPoint(edge + 40, 5));
    EXPECT_EQ(list->columnWidth(0), 140);
    // Dragged below nothing, a column keeps a sliver to drag it back by.
    list->setColumnWidth(0, -20);
    EXPECT_EQ(list->columnWidth(0), ResultListGeometry::kMinColumnWidth);

    // A double-click on the edge fits the column to its widest text; the
    // caption counts.
    const int title = list->columnLeft(2) - 1;
    QTest::mouseDClick(header, Qt::LeftButton, {}, QPoint(title, 5));
    const int fitted = list->columnWidth(1);
    EXPECT_LT(fitted, 200);
    EXPECT_GE(fitted, list->fontMetrics().horizontalAdvance(QStringLiteral("Song 1")));
    EXPECT_GE(fitted, header->fontMetrics().horizontalAdvance(QStringLiteral("歌曲名称：")));
    // Nothing in the album column but its texts: wider texts widen it.
    list->appendRows(
        {{QStringLiteral("200000"), QStringLiteral("x"), QStringLiteral("y"),
          QStringLiteral("《A very much longer album name than the column had room for》"),
          false}});
    list->fitColumnToContents(ResultList::AlbumColumn);
    EXPECT_GT(list->columnWidth(ResultList::AlbumColumn), 300);
    EXPECT_EQ(list->horizontalScrollBar()->maximum(), list->columnLeft(4) +
                                                          list->horizontalScrollBar()->value() -
                                                          list->viewport()->width());
}

TEST_F(ResultListTest, PaintsSelectionTicksAndAlternateRowsInTheSkinColours)
{
    QPalette colors = list->palette();
    colors.setColor(QPalette::Base, QColor(10, 10, 10));
    colors.setColor(QPalette::AlternateBase, QColor(20, 20, 20));
    colors.setColor(QPalette::Highlight, QColor(0, 100, 0));
    list->setPalette(colors);
    list->setTickColor(QColor(0, 0, 200));
    list->setHeaderColor(QColor(200, 0, 0));
    fill(4);
    list->setCurrentRow(1);
    list->setTicked(2, true);
    const QImage shot = list->grab().toImage();
    const QPoint origin = list->viewport()->mapTo(list.get(), QPoint(0, 0));
    const auto at = [&](QPoint p) { return shot.pixelColor(origin + p); };
    EXPECT_EQ(at(QPoint(390 - origin.x(), list->rowRect(0).center().y())), QColor(10, 10, 10));
    EXPECT_EQ(at(QPoint(390 - origin.x(), list->rowRect(1).center().y())), QColor(0, 100, 0));
    EXPECT_EQ(at(QPoint(390 - origin.x(), list->rowRect(2).center().y())), QColor(10, 10, 10));
    EXPECT_EQ(at(QPoint(390 - origin.x(), list->rowRect(3).center().y())), QColor(20, 20, 20));
    EXPECT_EQ(at(tickPoint(2)), QColor(0, 0, 200));
    EXPECT_NE(at(tickPoint(0)), QColor(0, 0, 200));
    EXPECT_EQ(shot.pixelColor(list->width() - 10, origin.y() - 2), QColor(200, 0, 0));
}

TEST_F(ResultListTest, ClearForgetsRowsSelectionAndScroll)
{
    fill(50);
    list->setCurrentRow(40);
    list->scrollToRow(40);
    ASSERT_GT(list->firstVisibleRow(), 0);
    QSignalSpy current(list.get(), &ResultList::currentRowChanged);
    list->clear();
    EXPECT_EQ(list->rowCount(), 0);
    EXPECT_EQ(list->currentRow(), -1);
    EXPECT_EQ(list->firstVisibleRow(), 0);
    EXPECT_EQ(list->verticalScrollBar()->maximum(), 0);
    EXPECT_EQ(current.count(), 1);
    EXPECT_EQ(list->text(0, 0), QString());
    list->setCurrentRow(3); // no such row
    EXPECT_EQ(list->currentRow(), -1);
}

TEST_F(ResultListTest, AScreenReaderReadsRowsAndTicksThem)
{
    fill(3);
    list->setTicked(1, true);
    list->setCurrentRow(2);
    QAccessibleInterface *iface = QAccessible::queryAccessibleInterface(list.get());
    ASSERT_NE(iface, nullptr);
    EXPECT_EQ(iface->role(), QAccessible::List);
    ASSERT_EQ(iface->childCount(), 3);
    QAccessibleInterface *row = iface->child(1);
    ASSERT_NE(row, nullptr);
    EXPECT_EQ(row->text(QAccessible::Name), QStringLiteral("Song 1 - Singer 1"));
    EXPECT_TRUE(row->text(QAccessible::Description).contains(QStringLiteral("100001")));
    EXPECT_TRUE(row->state().checkable);
    EXPECT_TRUE(row->state().checked);
    EXPECT_FALSE(row->state().selected);
    EXPECT_TRUE(iface->child(2)->state().selected);
    EXPECT_EQ(iface->indexOfChild(row), 1);

    QAccessibleActionInterface *actions = row->actionInterface();
    ASSERT_NE(actions, nullptr);
    actions->doAction(QAccessibleActionInterface::toggleAction());
    EXPECT_FALSE(list->isTicked(1));

    list->clear();
    EXPECT_EQ(iface->childCount(), 0);
    EXPECT_FALSE(row->isValid());
}

} // namespace
