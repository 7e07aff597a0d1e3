// A fresh main window for each test: no skin, a tray that can hide the
// window, the shared playback and search state back at their start values,
// and the empty-search warning recorded instead of shown.
#pragma once

#include "player/PlayerState.h"
#include "service/SearchState.h"
#include "shell/TrayIcon.h"
#include "window/MainWindow.h"
#include "window/results/ResultList.h"

#include <QStringList>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <memory>

class MainWindowFixture : public ::testing::Test
{
public:
    static QStringList &warnings()
    {
        static QStringList shown;
        return shown;
    }

protected:
    void SetUp() override
    {
        tray::setTrayUsableOverride(1);
        musicservice::searchState() = SearchState();
        warnings().clear();
        MainWindow::setWarningBox([](QWidget *, const QString &title, const QString &text) {
            warnings() << title + QLatin1Char('|') + text;
        });
        form = std::make_unique<MainWindow>(skinDir.filePath(QStringLiteral("tessaryn.she")));
        form->show();
    }
    void TearDown() override
    {
        form.reset();
        MainWindow::setWarningBox(nullptr);
        tray::setTrayUsableOverride(-1);
        musicservice::searchState() = SearchState();
    }

    QTemporaryDir skinDir; // empty: the window starts without a skin
    std::unique_ptr<MainWindow> form;
};
