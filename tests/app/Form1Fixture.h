// A fresh main window for each test: no skin, a tray that can hide the
// window, the shared playback and search state back at their start values,
// and the empty-search warning recorded instead of shown.
#pragma once

#include "app/Form1.h"
#include "app/PlaybackState.h"
#include "service/SearchState.h"
#include "shell/Trayico.h"

#include <QStringList>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <memory>

class Form1Fixture : public ::testing::Test
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
        Trayico::SetTrayUsableOverride(1);
        PlaybackState::instance() = PlaybackState();
        GetMusicList::State() = SearchState();
        warnings().clear();
        Form1::setWarningBox([](QWidget *, const QString &title, const QString &text) {
            warnings() << title + QLatin1Char('|') + text;
        });
        form = std::make_unique<Form1>(skinDir.filePath(QStringLiteral("tessaryn.she")));
        form->show();
    }
    void TearDown() override
    {
        form.reset();
        Form1::setWarningBox(nullptr);
        Trayico::SetTrayUsableOverride(-1);
        PlaybackState::instance() = PlaybackState();
        GetMusicList::State() = SearchState();
    }

    QTemporaryDir skinDir; // empty: the window starts without a skin
    std::unique_ptr<Form1> form;
};
