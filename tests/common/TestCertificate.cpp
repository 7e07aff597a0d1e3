#include "tests/common/TestCertificate.h"

#include <QProcess>

TestCertificate::TestCertificate(const QString &altNames)
{
    QProcess openssl;
    openssl.start(QStringLiteral("openssl"),
                  {QStringLiteral("req"), QStringLiteral("-x509"), QStringLiteral("-newkey"),
                   QStringLiteral("ec"), QStringLiteral("-pkeyopt"),
                   QStringLiteral("ec_paramgen_curve:prime256v1"), QStringLiteral("-nodes"),
                   QStringLiteral("-days"), QStringLiteral("2"), QStringLiteral("-subj"),
                   QStringLiteral("/CN=velmor test"), QStringLiteral("-addext"),
                   QStringLiteral("subjectAltName=") + altNames, QStringLiteral("-keyout"),
                   keyFile(), QStringLiteral("-out"), certificateFile()});
    if (!openssl.waitForFinished(30000) || openssl.exitStatus() != QProcess::NormalExit ||
        openssl.exitCode() != 0)
        m_error = QStringLiteral("openssl req failed: ") +
                  QString::fromLocal8Bit(openssl.readAllStandardError()) + openssl.errorString();
}
