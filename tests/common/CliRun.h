// velmor-cli run to its end against a service, as a user runs it: its exit
// status, its output lines and what it said on stderr.
#pragma once

#include <QProcess>
#include <QString>
#include <QStringList>
#include <gtest/gtest.h>

struct CliRun
{
    int exitCode = -1; // -1 when it crashed or did not end
    QStringList out;   // stdout lines
    QString err;
};

inline CliRun runCli(const QString &service, const QStringList &args)
{
    QProcess p;
    p.start(QStringLiteral(VELMOR_CLI_PATH),
            QStringList{QStringLiteral("--service"), service} + args);
    CliRun run;
    EXPECT_TRUE(p.waitForFinished(60000));
    run.exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    run.out = QString::fromUtf8(p.readAllStandardOutput()).split(u'\n', Qt::SkipEmptyParts);
    run.err = QString::fromUtf8(p.readAllStandardError());
    return run;
}
