#include "service/LibraryChoiceEditor.h"

#include "net/HttpClient.h"
#include "service/ServiceConfig.h"

#include <QDir>
#include <QFileInfo>
#include <QUrl>

namespace {

// The words every search page of a music service holds: its song count, or
// its "nothing found" line.
const QByteArray kCountMarker = QStringLiteral("找到相关歌曲").toUtf8();
const QByteArray kNoMatchMarker = QStringLiteral("很抱歉，没有找到与").toUtf8();
// What the check searches for; any word does.
const QString kCheckWord = QStringLiteral("velmor");

} // namespace

LibraryChoiceEditor::LibraryChoiceEditor(const LibraryChoice &start)
    : m_folders(start.folders), m_server(start.server), m_usesServer(!start.usesOwnService())
{
}

QString LibraryChoiceEditor::folderProblem(const QString &path)
{
    if (path.trimmed().isEmpty())
        return QStringLiteral("请选择一个文件夹");
    const QFileInfo info(path);
    if (!info.isAbsolute())
        return QStringLiteral("文件夹必须是完整路径：%1").arg(path);
    if (!info.exists())
        return QStringLiteral("文件夹不存在：%1").arg(path);
    if (!info.isDir())
        return QStringLiteral("不是文件夹：%1").arg(path);
    if (!info.isReadable() || !info.isExecutable())
        return QStringLiteral("文件夹无法读取：%1").arg(path);
    return QString();
}

QString LibraryChoiceEditor::addFolder(const QString &path)
{
    const QString problem = folderProblem(path);
    if (!problem.isEmpty())
        return problem;
    const QString clean = QDir::cleanPath(QFileInfo(path).absoluteFilePath());
    if (m_folders.contains(clean))
        return QStringLiteral("文件夹已在列表中：%1").arg(clean);
    if (m_folders.size() >= LibrarySettingsFile::kMaxFolders)
        return QStringLiteral("文件夹太多（最多 %1 个）").arg(LibrarySettingsFile::kMaxFolders);
    m_folders.append(clean);
    return QString();
}

void LibraryChoiceEditor::removeFolder(int index)
{
    if (index >= 0 && index < m_folders.size())
        m_folders.removeAt(index);
}

QString LibraryChoiceEditor::serverProblem(const QString &address)
{
    const QString text = address.trimmed();
    if (text.isEmpty())
        return QStringLiteral("请输入服务器地址，例如 http://192.168.1.20:%1")
            .arg(VELMOR_DEFAULT_PORT);
    if (!ServiceConfig::serviceUrlProblem(text).isEmpty() ||
        text.size() > LibrarySettingsFile::kMaxTextLength)
        return QStringLiteral("服务器地址无效：%1（应为 http://主机:端口 或 https://主机:端口）")
            .arg(text);
    return QString();
}

QString LibraryChoiceEditor::problem() const
{
    if (m_usesServer)
        return serverProblem(m_server);
    // A folder that went away since it was added is named; the rest stay.
    for (const QString &folder : m_folders) {
        const QString problem = folderProblem(folder);
        if (!problem.isEmpty())
            return problem;
    }
    return QString();
}

LibraryChoice LibraryChoiceEditor::choice() const
{
    LibraryChoice out;
    out.folders = m_folders;
    if (m_usesServer) {
        out.server = m_server;
        while (out.server.endsWith(QLatin1Char('/')))
            out.server.chop(1);
    }
    return out;
}

QString LibraryChoiceEditor::checkUrl(const QString &address)
{
    QString base = address.trimmed();
    while (base.endsWith(QLatin1Char('/')))
        base.chop(1);
    return base + QStringLiteral("/app/search/searchList.php?qword=") + kCheckWord;
}

LibraryChoiceEditor::CheckOutcome LibraryChoiceEditor::checkOutcome(const HttpResult &answer)
{
    if (!answer.ok) {
        QString why = answer.error;
        why.remove(QStringLiteral("网络错误："));
        return {false, QStringLiteral("连接失败：%1").arg(why)};
    }
    if (answer.status != 200)
        return {false, QStringLiteral("连接失败：服务器回答 HTTP %1").arg(answer.status)};
    if (!answer.body.contains(kCountMarker) && !answer.body.contains(kNoMatchMarker))
        return {false, QStringLiteral("连接失败：服务器有回答，但不是音乐服务")};
    return {true, QStringLiteral("连接成功：这是音乐服务")};
}

LibraryChoiceEditor::CheckOutcome LibraryChoiceEditor::checkServer() const
{
    const QString problem = serverProblem(m_server);
    if (!problem.isEmpty())
        return {false, problem};
    // A check answers in a few seconds or says so; the searches' own limits
    // come back afterwards.
    const int transfer = HttpClient::transferTimeoutMs();
    const int total = HttpClient::totalTimeoutMs();
    HttpClient::setTransferTimeoutMs(kCheckTimeoutMs);
    HttpClient::setTotalTimeoutMs(kCheckTimeoutMs);
    const HttpResult answer = HttpClient::get(checkUrl(m_server));
    HttpClient::setTransferTimeoutMs(transfer);
    HttpClient::setTotalTimeoutMs(total);
    return checkOutcome(answer);
}
