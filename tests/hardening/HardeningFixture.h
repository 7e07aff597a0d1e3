// A fresh main window per test, talking to the bundled service through a
// FaultRelay the test spoils as it needs; the service runs once per suite.
#pragma once

#include "tests/common/MusicdServer.h"
#include "tests/hardening/FaultRelay.h"
#include "tests/window/MainWindowFixture.h"

#include "net/HttpClient.h"
#include "service/ServiceConfig.h"

#include <QLineEdit>
#include <QPushButton>
#include <memory>

class HardeningFixture : public MusicdSuite<MainWindowFixture>
{
protected:
    void SetUp() override
    {
        MainWindowFixture::SetUp();
        relay = std::make_unique<FaultRelay>(service->url());
    }
    void TearDown() override
    {
        relay.reset();
        MainWindowFixture::TearDown();
        ServiceConfig::setHost(ServiceConfig::defaultHost());
        HttpClient::setTransferTimeoutMs(15000);
        HttpClient::setMaxBodyBytes(64 * 1024 * 1024);
    }

    // Starts the relay with the spoiler and points the player at it.
    void startRelay(FaultRelay::Spoiler spoiler)
    {
        relay->setSpoiler(std::move(spoiler));
        ASSERT_TRUE(relay->start());
        ServiceConfig::setHost(relay->url());
    }

    // Types the words and presses the search button; returns when the
    // search has ended.
    void search(const QString &words)
    {
        form->searchEdit->setText(words);
        form->onSearchClicked();
    }

    QStringList column(int c) const
    {
        QStringList texts;
        for (int i = 0; i < form->resultsView->rowCount(); ++i)
            texts << form->resultsView->text(i, c);
        return texts;
    }

    static QString summary(int rows)
    {
        return QStringLiteral("搜索结束,共找到：%1条资源").arg(rows);
    }

    std::unique_ptr<FaultRelay> relay;
};
