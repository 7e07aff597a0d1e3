// The main window on the test program's own X server (XServer), with the
// bundled service, driven with real input through xdotool. A suite
// derived from it decides what the desktop offers (prepareDesktop: a
// notification area, a window manager, the player's skin) before the
// window starts.
#pragma once

#include "tests/common/MusicdServer.h"
#include "tests/hardening/XServer.h"
#include "tests/window/MainWindowFixture.h"

#include "service/ServiceConfig.h"
#include "shell/SkinLoader.h"

#include <QApplication>
#include <QColor>
#include <QLineEdit>
#include <QProcess>
#include <QStandardPaths>
#include <QTest>
#include <algorithm>
#include <cmath>

// WCAG relative luminance of an sRGB colour.
inline double luminance(const QColor &c)
{
    const auto channel = [](double v) {
        v /= 255.0;
        return v <= 0.03928 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4);
    };
    return 0.2126 * channel(c.red()) + 0.7152 * channel(c.green()) + 0.0722 * channel(c.blue());
}

inline double contrast(const QColor &a, const QColor &b)
{
    const double la = luminance(a);
    const double lb = luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

class WindowOnX : public MusicdSuite<MainWindowFixture>
{
protected:
    void SetUp() override
    {
        if (!onXServer())
            GTEST_SKIP() << "Xvfb is missing (scripts/setup-deps.sh installs it)";
        if (QStandardPaths::findExecutable(QStringLiteral("xdotool")).isEmpty())
            GTEST_SKIP() << "xdotool is missing (scripts/setup-deps.sh installs it)";
        ServiceConfig::setHost(service->url());
        prepareDesktop();
        if (HasFatalFailure() || IsSkipped())
            return;
        MainWindowFixture::SetUp();
        // The desktop decides whether there is a notification area.
        tray::setTrayUsableOverride(-1);
        form->setQuitHandler([this](int code) { quitCodes.append(code); });
        ASSERT_TRUE(QTest::qWaitForWindowExposed(form.get()));
    }
    void TearDown() override
    {
        if (QWidget *menu = QApplication::activePopupWidget())
            menu->hide();
        MainWindowFixture::TearDown();
        detachSkin();
        ServiceConfig::setHost(ServiceConfig::defaultHost());
    }
    // What the desktop offers before the window starts.
    virtual void prepareDesktop() {}

    // Real input on the display: xdotool moves the pointer, clicks and
    // types; the window handles what the X server sends it meanwhile.
    void xdotool(const QStringList &args)
    {
        QProcess tool;
        tool.start(QStringLiteral("xdotool"), args);
        ASSERT_TRUE(tool.waitForStarted(5000));
        ASSERT_TRUE(QTest::qWaitFor([&] { return tool.state() == QProcess::NotRunning; }, 15000));
        QTest::qWait(50); // the events it caused
    }
    void click(QWidget *widget, int button = 1, int repeat = 1, QPoint at = QPoint(-1, -1))
    {
        const QPoint local = at.x() < 0 ? widget->rect().center() : at;
        const QPoint global = widget->mapToGlobal(local);
        // No --sync: it waits for a move that never comes when the pointer
        // is already there.
        xdotool({QStringLiteral("mousemove"), QString::number(global.x()),
                 QString::number(global.y()), QStringLiteral("click"), QStringLiteral("--repeat"),
                 QString::number(repeat), QStringLiteral("--delay"), QStringLiteral("60"),
                 QString::number(button)});
    }
    // Keys pressed on the keyboard, delivered wherever the X server's focus is.
    void key(const QString &keys) { xdotool({QStringLiteral("key"), keys}); }

    void searchAndSelect(const QString &words, int row)
    {
        form->searchEdit->setText(words);
        form->onSearchClicked();
        ASSERT_TRUE(QTest::qWaitFor([&] { return form->resultsView->rowCount() > row; }, 10000));
        form->resultsView->setCurrentRow(row);
    }

    QList<int> quitCodes;
};
