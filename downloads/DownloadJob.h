// One song download: streams an http(s) link into a temporary file next to
// the chosen name and renames it to that name only when every byte has
// arrived. A failure or a cancel removes the temporary file, so the chosen
// name never holds a half-written song (and an existing file there is left
// as it was).
#pragma once

#include <QObject>
#include <QString>
#include <QUrl>
#include <memory>

class HttpStream;
class QSaveFile;
class StreamInflater;

class DownloadJob : public QObject
{
    Q_OBJECT
public:
    enum class Result { Saved, Failed, Cancelled };
    Q_ENUM(Result)

    DownloadJob(const QUrl &url, const QString &targetPath, QObject *parent = nullptr);
    ~DownloadJob() override;

    // Starts the transfer. Every outcome, including a refused link or a
    // target that cannot be written, arrives through finished(), never
    // synchronously from inside start().
    void start();
    // Stops the transfer; finished(Cancelled) follows.
    void cancel();

    bool isFinished() const { return m_done; }
    QUrl url() const { return m_url; }
    QString targetPath() const { return m_targetPath; }

    // No bytes for this long fails the download (default 30 s).
    static int stallTimeoutMs();
    static void setStallTimeoutMs(int ms);

Q_SIGNALS:
    // total is -1 while the length is unknown.
    void progress(qint64 received, qint64 total);
    // message is a short Chinese sentence for the user ("" when cancelled).
    void finished(DownloadJob::Result result, const QString &message);

private:
    void onReadyRead();
    void onFinished();
    void fail(const QString &message);
    // Reads the answer's status and coding once its first bytes are in;
    // false when the body cannot be the song.
    bool takeEncoding();
    // The message for a failed write (error: the system's error number, 0
    // when unknown), a full disk named as such.
    QString writeFailure(const QString &detail, int error) const;
    void finish(Result result, const QString &message);

    QUrl m_url;
    QString m_targetPath;
    std::unique_ptr<QSaveFile> m_file;
    std::unique_ptr<HttpStream> m_stream;
    qint64 m_written = 0;  // bytes in the file
    qint64 m_received = 0; // bytes as sent, compressed or not
    QString m_writeError;
    QString m_bodyError; // the answer is no whole song
    bool m_encodingKnown = false;
    std::unique_ptr<StreamInflater> m_inflater; // for a compressed answer
    bool m_cancelled = false;
    bool m_done = false;
};
