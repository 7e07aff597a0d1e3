// Shared set-up of the playlist control tests: a control of the main
// window's size (248 x 450, one-pixel border, rows of 18, so 448 pixels of
// rows and 24 whole rows), a filler, a log of the index events and helpers
// that send mouse and wheel input the way the platform does.
#pragma once

#include "controls/listbox/PlaylistView.h"
#include "controls/scrollbar/SkinScrollBar.h"

#include <QApplication>
#include <QMouseEvent>
#include <QStringList>
#include <QWheelEvent>

#include <gtest/gtest.h>

#include <memory>

class PlaylistViewTest : public testing::Test
{
protected:
    static constexpr int kWidth = 248;
    static constexpr int kHeight = 450;

    void SetUp() override
    {
        box = std::make_unique<PlaylistView>();
        box->resize(kWidth, kHeight);
        box->show();
        // Every event the control raises, in order, as one line each.
        QObject::connect(box.get(), &PlaylistView::listIndexChanged,
                         [this](short &o, short &n, short &f) { log << line(u"List", o, n, f); });
        QObject::connect(box.get(), &PlaylistView::playIndexChanged,
                         [this](short &o, short &n, short &f) { log << line(u"Play", o, n, f); });
        QObject::connect(box.get(), &PlaylistView::mousePressed,
                         [this](short b, short s, float, float) { log << line(u"Down", b, s); });
        QObject::connect(box.get(), &PlaylistView::mouseReleased,
                         [this](short b, short s, float, float) { log << line(u"Up", b, s); });
        QObject::connect(box.get(), &PlaylistView::clicked,
                         [this](short b, short s, float, float) { log << line(u"Click", b, s); });
        QObject::connect(box.get(), &PlaylistView::doubleClicked,
                         [this](short b, short s, float, float) { log << line(u"DBClick", b, s); });
        QObject::connect(box.get(), &PlaylistView::scrolled,
                         [this] { log << QStringLiteral("Scroll"); });
    }

    static QString line(const char16_t *name, int a, int b, int c = 0)
    {
        return QStringLiteral("%1 %2 %3 %4").arg(QString::fromUtf16(name)).arg(a).arg(b).arg(c);
    }

    void fill(int count)
    {
        for (int i = 0; i < count; ++i)
            box->addItem(QStringLiteral("Song %1").arg(i + 1), QStringLiteral("Singer"),
                         QString::number(1000 + i), QString());
    }

    // Vertical middle of the row showing item m.
    double rowY(int m) const { return box->rowRect(m).center().y() + 0.5; }

    void mouse(QEvent::Type type, Qt::MouseButton button, QPointF pos,
               Qt::KeyboardModifiers modifiers = Qt::NoModifier)
    {
        const Qt::MouseButtons held = type == QEvent::MouseButtonRelease ? Qt::NoButton : button;
        QMouseEvent event(type, pos, box->mapToGlobal(pos), button, held, modifiers);
        QApplication::sendEvent(box.get(), &event);
    }
    void click(Qt::MouseButton button, double y)
    {
        mouse(QEvent::MouseButtonPress, button, QPointF(60, y));
        mouse(QEvent::MouseButtonRelease, button, QPointF(60, y));
    }
    // What the platform sends for a double click: press, release, double
    // click, release.
    void doubleClick(Qt::MouseButton button, double y)
    {
        click(button, y);
        mouse(QEvent::MouseButtonDblClick, button, QPointF(60, y));
        mouse(QEvent::MouseButtonRelease, button, QPointF(60, y));
    }
    // One wheel notch; positive turns away from the user.
    void wheel(int delta)
    {
        const QPointF pos(60, 100);
        QWheelEvent event(pos, box->mapToGlobal(pos), QPoint(), QPoint(0, delta), Qt::NoButton,
                          Qt::NoModifier, Qt::NoScrollPhase, false);
        QApplication::sendEvent(box.get(), &event);
    }

    std::unique_ptr<PlaylistView> box;
    QStringList log;
};
