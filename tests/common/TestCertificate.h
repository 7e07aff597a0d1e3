// A self-signed certificate and its key for a loopback https server, made
// by the openssl tool in a temporary folder of the test's own.
#pragma once

#include <QString>
#include <QTemporaryDir>

class TestCertificate
{
public:
    // altNames: the names it is good for, as subjectAltName writes them.
    explicit TestCertificate(const QString &altNames = QStringLiteral("IP:127.0.0.1"));
    bool isValid() const { return m_error.isEmpty(); }
    QString error() const { return m_error; }
    QString certificateFile() const { return m_dir.filePath(QStringLiteral("cert.pem")); }
    QString keyFile() const { return m_dir.filePath(QStringLiteral("key.pem")); }

private:
    QTemporaryDir m_dir;
    QString m_error;
};
