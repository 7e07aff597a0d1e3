#include "musicd/Catalogue.h"

#include "musicd/MusicdQueries.h"

#include <QRegularExpression>
#include <QStringList>

namespace musicd {
namespace {

// Word pools the titles are put together from. None of them contains a word
// that a fixed query counts on ("晴川", "starlight", "精选").
const QStringList &chinesePrefixes()
{
    static const QStringList words{
        QStringLiteral("夏日"), QStringLiteral("晚风"),   QStringLiteral("雨季"),
        QStringLiteral("远方"), QStringLiteral("旧时光"), QStringLiteral("海边"),
        QStringLiteral("北方"), QStringLiteral("月光"),   QStringLiteral("小城"),
        QStringLiteral("秋天"), QStringLiteral("告白"),   QStringLiteral("梦里"),
        QStringLiteral("回忆"), QStringLiteral("天空"),   QStringLiteral("青春"),
        QStringLiteral("午后"), QStringLiteral("街角"),   QStringLiteral("候鸟"),
        QStringLiteral("花开"), QStringLiteral("灯火")};
    return words;
}

const QStringList &chineseSuffixes()
{
    static const QStringList words{
        QStringLiteral("的约定"), QStringLiteral("与你"), QStringLiteral("之歌"),
        QStringLiteral("未眠"),   QStringLiteral("来信"), QStringLiteral("故事"),
        QStringLiteral("漫步"),   QStringLiteral("恋曲"), QStringLiteral("微光"),
        QStringLiteral("独白"),   QStringLiteral("回响"), QStringLiteral("旅人"),
        QStringLiteral("远行"),   QStringLiteral("私语"), QStringLiteral("晴天"),
        QStringLiteral("不散")};
    return words;
}

const QStringList &latinAdjectives()
{
    static const QStringList words{
        QStringLiteral("Golden"),   QStringLiteral("Silent"),   QStringLiteral("Electric"),
        QStringLiteral("Paper"),    QStringLiteral("Midnight"), QStringLiteral("Summer"),
        QStringLiteral("Broken"),   QStringLiteral("Velvet"),   QStringLiteral("Neon"),
        QStringLiteral("Wild"),     QStringLiteral("Quiet"),    QStringLiteral("Crystal"),
        QStringLiteral("Lonely"),   QStringLiteral("Endless"),  QStringLiteral("Faded"),
        QStringLiteral("Northern"), QStringLiteral("Hidden")};
    return words;
}

const QStringList &latinNouns()
{
    static const QStringList words{
        QStringLiteral("Roads"),  QStringLiteral("Hearts"),   QStringLiteral("Rain"),
        QStringLiteral("Dreams"), QStringLiteral("Skies"),    QStringLiteral("Letters"),
        QStringLiteral("Waves"),  QStringLiteral("Lanterns"), QStringLiteral("Echoes"),
        QStringLiteral("Tides"),  QStringLiteral("Streets"),  QStringLiteral("Gardens"),
        QStringLiteral("Fire"),   QStringLiteral("Mornings"), QStringLiteral("Shadows")};
    return words;
}

// Titles that test the scraper's quirks, by (singer, song number).
struct SpecialTitle
{
    const char *singer;
    int song;
    const char *title;
};

const SpecialTitle kSpecialTitles[] = {
    {"Nova Reyes", 2, "Live (Remix, 2010)"},   // comma inside parentheses
    {"Mia Hart", 3, "Paper Roads (Acoustic)"}, // parentheses without a comma
    {"Rock'n'Roll Band", 2, "Don't Stop"},     // apostrophes
    {"Rock'n'Roll Band", 3, "Rock'n'Roll Tonight"}, {"Tom & Jerry", 2, "Cat & Mouse"}, // ampersands
    {"Oskar Vale", 4, "Salt, Sea & Sky"}, // a comma outside parentheses
};

// Latin singers whose first two songs carry "Starlight" in the title.
const char *const kStarlightTitleSingers[] = {"Tom & Jerry",    "Rock'n'Roll Band", "Mia Hart",
                                              "Nova Reyes",     "Eli Brooks",       "Oskar Vale",
                                              "Luna Park Trio", "Harbor Lights"};

constexpr char kStarlightChoir[] = "Starlight Choir";
constexpr char kStarlightAlbumSinger[] = "Juniper Lane";
constexpr char kStarlightAlbum[] = "Starlight Motel";
constexpr int kStarlightAlbumSongs = 20;
constexpr int kCompilationVolumes = 12;

// 64-bit FNV-1a: stable names for picture files.
quint64 fnv1a(const QByteArray &bytes)
{
    quint64 h = 1469598103934665603ULL;
    for (const char c : bytes) {
        h ^= static_cast<unsigned char>(c);
        h *= 1099511628211ULL;
    }
    return h;
}

QString looseKey(const QString &name)
{
    QString key;
    for (const QChar c : name.toCaseFolded()) {
        if (c.isLetterOrNumber())
            key += c;
    }
    return key;
}

QString compilationAlbum(int index)
{
    return QStringLiteral("夜航精选 Vol.%1").arg(1 + index % kCompilationVolumes);
}

} // namespace

Catalogue::Catalogue()
{
    addSinger(QStringLiteral("晴川"), false, true, 30);
    addSinger(QStringLiteral("林夕雨"), false, true, 26);
    addSinger(QStringLiteral("陈默"), false, true, 24);
    addSinger(QStringLiteral("苏小暖"), false, false, 22);
    addSinger(QStringLiteral("白鹭乐队"), false, true, 24);
    addSinger(QStringLiteral("周以安"), false, true, 22);
    addSinger(QStringLiteral("叶知秋"), false, false, 20);
    addSinger(QStringLiteral("许南风"), false, true, 22);
    addSinger(QStringLiteral("江月明"), false, true, 20);
    addSinger(QStringLiteral("唐果果"), false, true, 18);
    addSinger(QStringLiteral("Tom & Jerry"), true, true, 12);
    addSinger(QStringLiteral("Rock'n'Roll Band"), true, false, 14);
    addSinger(QLatin1String(kStarlightChoir), true, true, 25);
    addSinger(QLatin1String(kStarlightAlbumSinger), true, true, 26);
    addSinger(QStringLiteral("Mia Hart"), true, true, 18);
    addSinger(QStringLiteral("Nova Reyes"), true, true, 18);
    addSinger(QStringLiteral("Eli Brooks"), true, false, 16);
    addSinger(QStringLiteral("Oskar Vale"), true, true, 16);
    addSinger(QStringLiteral("Luna Park Trio"), true, true, 14);
    addSinger(QStringLiteral("Harbor Lights"), true, true, 13);
    Q_ASSERT(m_songs.size() == kCatalogueSize);

    m_haystacks.reserve(m_songs.size());
    for (const Song &s : m_songs) {
        m_haystacks.append(
            (s.title + QLatin1Char('\n') + s.singer + QLatin1Char('\n') + s.album).toCaseFolded());
    }
}

void Catalogue::addSinger(const QString &name, bool latin, bool hasPicture, int songCount)
{
    const int singerIndex = static_cast<int>(m_singers.size());
    Singer singer;
    singer.name = name;
    singer.latin = latin;
    singer.hasPicture = hasPicture;
    singer.pictureKey =
        QString::number(fnv1a(name.toUtf8()), 16).rightJustified(16, QLatin1Char('0'));
    m_singers.append(singer);

    bool starlightTitles = false;
    for (const char *s : kStarlightTitleSingers)
        starlightTitles = starlightTitles || name == QString::fromUtf8(s);

    for (int k = 0; k < songCount; ++k) {
        Song song;
        song.index = static_cast<int>(m_songs.size());
        song.id = kFirstSongId + song.index;
        song.singer = name;
        song.singerIndex = singerIndex;
        song.latin = latin;
        song.hasLyrics = song.index % 6 != 5;

        // Titles: pool words picked by singer and song number so that no
        // singer repeats a title.
        const int a = (singerIndex * 7 + k * 3) % 97;
        const int b = (singerIndex * 5 + k) % 89;
        if (latin) {
            const QStringList &adj = latinAdjectives();
            const QStringList &noun = latinNouns();
            song.title = adj.at((a + k) % adj.size()) + QLatin1Char(' ') + noun.at(b % noun.size());
        } else {
            const QStringList &pre = chinesePrefixes();
            const QStringList &suf = chineseSuffixes();
            song.title = pre.at((a + k) % pre.size()) + suf.at(b % suf.size());
        }
        if (starlightTitles && k < 2) {
            song.title =
                k == 0 ? QStringLiteral("Starlight ") + latinNouns().at(singerIndex % 15)
                       : latinAdjectives().at(singerIndex % 17) + QStringLiteral(" Starlight");
        }
        for (const SpecialTitle &t : kSpecialTitles) {
            if (name == QString::fromUtf8(t.singer) && k == t.song)
                song.title = QString::fromUtf8(t.title);
        }

        // Albums: most songs sit on the service's compilation series, some on
        // the singer's own album, every tenth on none.
        if (name == QLatin1String(kStarlightAlbumSinger) && k < kStarlightAlbumSongs)
            song.album = QLatin1String(kStarlightAlbum);
        else if (k % 10 == 9)
            song.album.clear();
        else if (k % 10 == 4)
            song.album = latin ? latinAdjectives().at((a + 3) % 17) + QStringLiteral(" Days")
                               : chinesePrefixes().at((a + 5) % 20) + QStringLiteral("集");
        else
            song.album = compilationAlbum(song.index);
        m_songs.append(song);
    }
}

Song Catalogue::syntheticSong(qint64 index)
{
    Song song;
    song.index = static_cast<int>(index);
    song.id = kLoadFirstSongId + index;
    song.title = QStringLiteral("Load Song %1").arg(index + 1, 6, 10, QLatin1Char('0'));
    song.singer = QStringLiteral("Load Singer %1").arg(index % 97, 2, 10, QLatin1Char('0'));
    if (index % 10 != 9)
        song.album = QStringLiteral("Load Album %1").arg(index % 53, 2, 10, QLatin1Char('0'));
    song.latin = true;
    song.hasLyrics = index % 6 != 5;
    return song;
}

std::optional<Song> Catalogue::songById(qint64 id) const
{
    if (id >= kFirstSongId && id < kFirstSongId + m_songs.size())
        return m_songs.at(id - kFirstSongId);
    if (id >= kLoadFirstSongId && id < kLoadFirstSongId + kLoadQueryMaxRows)
        return syntheticSong(id - kLoadFirstSongId);
    return std::nullopt;
}

SearchPage Catalogue::search(const QString &query, qint64 page, int rowsPerPage) const
{
    SearchPage result;
    if (page < 1 || rowsPerPage < 1)
        return result;
    const QString q = query.trimmed();
    // Row range of the page; an absurd page number just lies past the end.
    const qint64 first =
        page > (Q_INT64_C(1) << 40) ? (Q_INT64_C(1) << 62) : (page - 1) * rowsPerPage;

    static const QRegularExpression loadQuery(QStringLiteral("^load([0-9]{1,7})$"),
                                              QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch m = loadQuery.match(q);
    if (m.hasMatch()) {
        const qint64 n = m.captured(1).toLongLong();
        if (n >= 1 && n <= kLoadQueryMaxRows) {
            result.total = n;
            for (qint64 i = first; i < n && i < first + rowsPerPage; ++i)
                result.rows.append(syntheticSong(i));
            return result;
        }
    }

    const QStringList words =
        q.toCaseFolded().split(QRegularExpression(QStringLiteral("\\s+")), Qt::SkipEmptyParts);
    if (words.isEmpty())
        return result;
    for (qsizetype i = 0; i < m_songs.size(); ++i) {
        bool all = true;
        for (const QString &w : words)
            all = all && m_haystacks.at(i).contains(w);
        if (!all)
            continue;
        if (result.total >= first && result.total < first + rowsPerPage)
            result.rows.append(m_songs.at(i));
        ++result.total;
    }
    return result;
}

const Singer *Catalogue::singerByName(const QString &name) const
{
    const QString key = looseKey(name);
    if (key.isEmpty())
        return nullptr;
    for (const Singer &s : m_singers) {
        if (looseKey(s.name) == key)
            return &s;
    }
    return nullptr;
}

const Singer *Catalogue::singerByPictureKey(const QString &key) const
{
    for (const Singer &s : m_singers) {
        if (s.hasPicture && s.pictureKey == key)
            return &s;
    }
    return nullptr;
}

int Catalogue::singerIndexOf(const Singer *singer) const
{
    for (qsizetype i = 0; i < m_singers.size(); ++i) {
        if (&m_singers.at(i) == singer)
            return static_cast<int>(i);
    }
    return -1;
}

} // namespace musicd
