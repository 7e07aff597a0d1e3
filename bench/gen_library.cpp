// Generates a large music library for the scale benchmark
// (tools/bench-library-scale.sh): real encoded MP3, FLAC, Ogg Vorbis and M4A
// (AAC) files, tagged with title, artist, album, album artist, track, year
// and genre, laid out as Artist/Album/NN Title.ext; a third of the artists
// have Chinese names and titles, built from common characters so one- and
// two-character words match many tracks.
//
//   gen_library DIR COUNT [--seed N] [--threads N]
//   gen_library DIR --retag N [--seed N]     changes the year of N files
//
// Everything follows from the seed and the file's number, so a run is
// repeatable and a larger COUNT only adds the files past the old one. The
// parameters are kept in DIR/.velmor-library: a run with the same ones does
// nothing. A few dozen tones are encoded once per run by the ffmpeg command
// (bit-exact, so every run gets the same bytes); each file is a copy of one,
// tagged by TagLib in memory (a ByteVectorStream) and written with one
// write: measured about four times faster than tagging the copy on disk.
#include <taglib/flacfile.h>
#include <taglib/id3v2framefactory.h>
#include <taglib/mp4file.h>
#include <taglib/mpegfile.h>
#include <taglib/tbytevectorstream.h>
#include <taglib/tpropertymap.h>
#include <taglib/vorbisfile.h>

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <memory>
#include <mutex>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;

namespace {

// Bump when the names, tags or layout change: an old folder is then refused
// instead of being extended with files of another shape.
constexpr int kGeneratorVersion = 1;
constexpr int kTracksPerAlbum = 10;
constexpr int kAlbumsPerArtist = 5;
constexpr int kTracksPerArtist = kTracksPerAlbum * kAlbumsPerArtist;
constexpr int kTemplatesPerFormat = 8;
const char *const kManifest = ".velmor-library";

const std::array<const char *, 4> kSuffixes{"mp3", "flac", "ogg", "m4a"};
// ffmpeg encoder arguments per suffix; -bitexact keeps version strings out.
const std::array<const char *, 4> kEncoders{"-c:a libmp3lame -b:a 32k",
                                            "-c:a flac -compression_level 8",
                                            "-c:a libvorbis -q:a 0", "-c:a aac -b:a 32k"};

// Common characters, so single characters and pairs recur across many
// titles; 爱 is in about a third of the Chinese titles (a tenth of all).
const std::vector<const char *> kChineseWords{
    "爱情", "我爱", "爱你", "心爱", "恋爱", "爱人", "夏天", "月光", "远方", "故事",
    "海边", "雨季", "微光", "晚风", "候鸟", "晴川", "时光", "城市", "星空", "梦想",
    "青春", "回忆", "花开", "秋天", "春风", "明天", "天空", "路上", "朋友", "孤单",
    "思念", "温柔", "夜晚", "烟火", "白云", "山河", "流年", "归途", "心跳", "黄昏",
    "小河", "长街", "灯火", "初雪", "月亮", "海洋", "彩虹", "飞鸟", "旧梦", "人间"};
const std::vector<const char *> kChineseSurnames{
    "王", "李", "张", "刘", "陈", "杨", "黄", "赵", "吴", "周", "徐", "孙", "马", "朱",
    "胡", "郭", "何", "林", "高", "罗", "郑", "梁", "谢", "宋", "唐", "许", "韩", "冯",
    "邓", "曹", "彭", "曾", "肖", "田", "董", "袁", "潘", "于", "蒋", "蔡"};
const std::vector<const char *> kChineseGiven{
    "伟", "芳", "娜", "敏", "静", "丽", "强", "磊", "军", "洋", "勇", "艳", "杰", "娟",
    "涛", "明", "超", "秀", "霞", "平", "刚", "桂", "小", "文", "华", "晓", "云", "雪",
    "海", "宇", "欣", "佳", "子", "思", "雨", "晨", "一", "天", "美", "玉"};
const std::vector<const char *> kLatinWords{
    "Love",    "Heart",   "Night",  "Rain",    "Golden",  "Silent",  "Road",    "Dreams",
    "Velvet",  "Neon",    "Tides",  "Echoes",  "Summer",  "Fire",    "River",   "Ocean",
    "Shadow",  "Light",   "Stone",  "Winter",  "Morning", "Star",    "Moon",    "Sun",
    "Wild",    "Blue",    "Red",    "Paper",   "Glass",   "Silver",  "Broken",  "Lost",
    "Home",    "City",    "Garden", "Window",  "Mirror",  "Thunder", "Wind",    "Snow",
    "Forever", "Tonight", "Yellow", "Highway", "Island",  "Train",   "Letter",  "Secret",
    "Candle",  "Harbor",  "Desert", "Valley",  "Canyon",  "Meadow",  "Horizon", "Lantern",
    "Falcon",  "Willow",  "Ember",  "Comet",   "Orchid",  "Cobalt",  "Saffron", "Quiet"};
const std::vector<const char *> kFirstNames{
    "Ada",  "Ben",    "Clara", "Dylan", "Elena", "Felix", "Grace", "Hugo",  "Iris", "Jonas",
    "Kira", "Liam",   "Mila",  "Noah",  "Olive", "Paul",  "Quinn", "Rosa",  "Sam",  "Tess",
    "Uma",  "Victor", "Wren",  "Xavi",  "Yara",  "Zane",  "Alma",  "Bruno", "Cleo", "Dario"};
const std::vector<const char *> kLastNames{
    "Archer", "Brooks", "Carter", "Dawson", "Ellis",  "Fisher", "Garcia", "Hayes",
    "Ingram", "Jensen", "Keller", "Lowell", "Mercer", "Nolan",  "Ortega", "Porter",
    "Quincy", "Reyes",  "Sawyer", "Turner", "Upton",  "Vance",  "Walsh",  "Xiong",
    "Young",  "Zeller", "Abbott", "Blake",  "Crane",  "Drake"};
// English names only, and none a query word of the benchmark is part of:
// the comparison's other service searches the genre as well.
const std::vector<const char *> kGenres{"Pop",  "Jazz",  "Soul", "Funk",   "Blues", "Ska",
                                        "Punk", "Disco", "Dub",  "Grunge", "Trip",  "Bluegrass"};

uint64_t mix(uint64_t x)
{
    // splitmix64: a fixed, portable hash, so names do not depend on the
    // standard library's distributions.
    x += 0x9e3779b97f4a7c15ULL;
    x = (x ^ (x >> 30)) * 0xbf58476d1ce4e5b9ULL;
    x = (x ^ (x >> 27)) * 0x94d049bb133111ebULL;
    return x ^ (x >> 31);
}

class Draw
{
public:
    Draw(uint64_t seed, uint64_t kind, uint64_t n) : m_state(mix(seed ^ mix(kind * 1000003 + n))) {}
    uint64_t next() { return m_state = mix(m_state); }
    size_t below(size_t n) { return size_t(next() % n); }
    template <typename T> const T &pick(const std::vector<T> &v) { return v.at(below(v.size())); }

private:
    uint64_t m_state;
};

struct Track
{
    std::string artist, album, title, genre, path;
    int number = 0, year = 0, format = 0, templateIndex = 0;
};

bool isChineseArtist(uint64_t artist)
{
    return artist % 3 == 0;
}

std::string artistName(uint64_t seed, uint64_t artist)
{
    Draw d(seed, 1, artist);
    std::string name;
    if (isChineseArtist(artist)) {
        name = std::string(d.pick(kChineseSurnames)) + d.pick(kChineseGiven);
        if (d.below(2))
            name += d.pick(kChineseGiven);
    } else {
        name = std::string(d.pick(kFirstNames)) + " " + d.pick(kLastNames);
    }
    // The number keeps two artists of the same name in folders of their own.
    return name + " " + std::to_string(artist + 1);
}

std::string albumName(uint64_t seed, uint64_t artist, int album)
{
    Draw d(seed, 2, artist);
    // The second word steps with the album, so an artist's albums differ.
    const size_t base = d.below(1000);
    if (isChineseArtist(artist))
        return std::string(d.pick(kChineseWords)) +
               kChineseWords.at((base + album) % kChineseWords.size());
    return std::string(d.pick(kLatinWords)) + " " +
           kLatinWords.at((base + album) % kLatinWords.size());
}

Track track(uint64_t seed, uint64_t i)
{
    Track t;
    const uint64_t artist = i / kTracksPerArtist;
    const int album = int(i / kTracksPerAlbum % kAlbumsPerArtist);
    Draw d(seed, 3, i);
    Draw albumDraw(seed, 4, i / kTracksPerAlbum);
    t.artist = artistName(seed, artist);
    t.album = albumName(seed, artist, album);
    t.number = int(i % kTracksPerAlbum) + 1;
    t.year = 1970 + int(albumDraw.below(55));
    t.genre = albumDraw.pick(kGenres);
    if (isChineseArtist(artist)) {
        t.title = std::string(d.pick(kChineseWords)) + d.pick(kChineseWords);
        if (d.below(3) == 0)
            t.title += d.pick(kChineseGiven);
    } else {
        t.title = std::string(d.pick(kLatinWords)) + " " + d.pick(kLatinWords);
        if (d.below(3) == 0)
            t.title += std::string(" ") + d.pick(kLatinWords);
    }
    t.format = int(d.below(kSuffixes.size()));
    t.templateIndex = int(d.below(kTemplatesPerFormat));
    char number[8];
    std::snprintf(number, sizeof number, "%02d", t.number);
    t.path = t.artist + "/" + t.album + "/" + number + " " + t.title + "." + kSuffixes.at(t.format);
    return t;
}

bool readFile(const fs::path &path, TagLib::ByteVector *out)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    if (!in)
        return false;
    const std::string s = bytes.str();
    *out = TagLib::ByteVector(s.data(), unsigned(s.size()));
    return !s.empty();
}

// Tones of 0.4 to 1.1 s at different pitches, mono 22,050 Hz.
bool encodeTemplates(std::vector<std::vector<TagLib::ByteVector>> *templates)
{
    char dirTemplate[] = "/tmp/velmor-gen-XXXXXX";
    if (!mkdtemp(dirTemplate)) {
        std::perror("mkdtemp");
        return false;
    }
    const fs::path dir(dirTemplate);
    bool ok = true;
    templates->assign(kSuffixes.size(), {});
    for (size_t f = 0; f < kSuffixes.size() && ok; ++f) {
        for (int k = 0; k < kTemplatesPerFormat && ok; ++k) {
            const fs::path out = dir / (std::to_string(k) + "." + kSuffixes.at(f));
            char command[512];
            std::snprintf(command, sizeof command,
                          "ffmpeg -nostdin -loglevel error -y -f lavfi -i "
                          "'sine=frequency=%d:sample_rate=22050:duration=%.1f' -ac 1 "
                          "-map_metadata -1 -fflags +bitexact -flags:a +bitexact %s '%s'",
                          220 + 55 * k, 0.4 + 0.1 * k, kEncoders.at(f), out.c_str());
            TagLib::ByteVector bytes;
            ok = std::system(command) == 0 && readFile(out, &bytes);
            if (!ok)
                std::fprintf(stderr, "cannot encode a %s tone with ffmpeg (is it installed?)\n",
                             kSuffixes.at(f));
            (*templates)[f].push_back(bytes);
        }
    }
    fs::remove_all(dir);
    return ok;
}

TagLib::PropertyMap properties(const Track &t)
{
    TagLib::PropertyMap map;
    auto put = [&map](const char *key, const std::string &value) {
        map.insert(key, TagLib::StringList(TagLib::String(value, TagLib::String::UTF8)));
    };
    put("TITLE", t.title);
    put("ARTIST", t.artist);
    put("ALBUM", t.album);
    put("ALBUMARTIST", t.artist);
    put("TRACKNUMBER", std::to_string(t.number));
    put("DATE", std::to_string(t.year));
    put("GENRE", t.genre);
    return map;
}

// Tags a copy of the template in memory; the empty vector when TagLib
// refuses it.
TagLib::ByteVector taggedBytes(const TagLib::ByteVector &templateBytes, const Track &t)
{
    TagLib::ByteVectorStream stream(templateBytes);
    const TagLib::PropertyMap map = properties(t);
    bool saved = false;
    switch (t.format) {
    case 0: {
        TagLib::MPEG::File f(&stream, TagLib::ID3v2::FrameFactory::instance(), false);
        f.setProperties(map);
        saved = f.isValid() && f.save(TagLib::MPEG::File::ID3v2, TagLib::File::StripOthers);
        break;
    }
    case 1: {
        TagLib::FLAC::File f(&stream, TagLib::ID3v2::FrameFactory::instance(), false);
        f.xiphComment(true)->setProperties(map);
        saved = f.isValid() && f.save();
        break;
    }
    case 2: {
        TagLib::Ogg::Vorbis::File f(&stream, false);
        f.setProperties(map);
        saved = f.isValid() && f.save();
        break;
    }
    default: {
        TagLib::MP4::File f(&stream, false);
        f.setProperties(map);
        saved = f.isValid() && f.save();
        break;
    }
    }
    return saved ? *stream.data() : TagLib::ByteVector();
}

bool writeWhole(const std::string &path, const TagLib::ByteVector &bytes)
{
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0)
        return false;
    const ssize_t n = ::write(fd, bytes.data(), bytes.size());
    return ::close(fd) == 0 && n == ssize_t(bytes.size());
}

struct Manifest
{
    int version = 0;
    uint64_t seed = 0, count = 0;
};

// The manifest is three "key value" lines; a missing or foreign one reads as
// version 0.
Manifest readManifest(const fs::path &root)
{
    Manifest m;
    std::ifstream in(root / kManifest);
    std::string key;
    uint64_t value = 0;
    while (in >> key >> value) {
        if (key == "generator")
            m.version = int(value);
        else if (key == "seed")
            m.seed = value;
        else if (key == "count")
            m.count = value;
    }
    return m;
}

bool writeManifest(const fs::path &root, const Manifest &m)
{
    const fs::path tmp = root / (std::string(kManifest) + ".tmp");
    {
        std::ofstream out(tmp);
        out << "generator " << m.version << "\nseed " << m.seed << "\ncount " << m.count << "\n";
        if (!out.flush())
            return false;
    }
    std::error_code ec;
    fs::rename(tmp, root / kManifest, ec);
    return !ec;
}

double secondsSince(std::chrono::steady_clock::time_point start)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

bool generate(const fs::path &root, uint64_t seed, uint64_t from, uint64_t to, int threads)
{
    std::vector<std::vector<TagLib::ByteVector>> templates;
    if (!encodeTemplates(&templates))
        return false;
    const auto start = std::chrono::steady_clock::now();
    std::atomic<uint64_t> nextAlbum{from / kTracksPerAlbum};
    std::atomic<uint64_t> done{0};
    std::atomic<bool> failed{false};
    std::mutex report;
    // Whole albums per step, so one thread makes each album folder.
    auto work = [&] {
        for (;;) {
            const uint64_t album = nextAlbum++;
            const uint64_t first = std::max(from, album * kTracksPerAlbum);
            const uint64_t last = std::min(to, (album + 1) * kTracksPerAlbum);
            if (first >= last || failed)
                return;
            for (uint64_t i = first; i < last; ++i) {
                const Track t = track(seed, i);
                const std::string path = (root / t.path).string();
                if (i == first) {
                    std::error_code ec;
                    fs::create_directories(fs::path(path).parent_path(), ec);
                }
                const TagLib::ByteVector bytes =
                    taggedBytes(templates.at(t.format).at(t.templateIndex), t);
                if (bytes.isEmpty() || !writeWhole(path, bytes)) {
                    const std::lock_guard<std::mutex> lock(report);
                    std::fprintf(stderr, "cannot write %s: %s\n", path.c_str(),
                                 bytes.isEmpty() ? "TagLib refused the tags"
                                                 : std::strerror(errno));
                    failed = true;
                    return;
                }
            }
            const uint64_t total = done += last - first;
            if (total / 50000 != (total - (last - first)) / 50000) {
                const std::lock_guard<std::mutex> lock(report);
                std::printf("%llu of %llu files, %.0f files/s\n",
                            static_cast<unsigned long long>(from + total),
                            static_cast<unsigned long long>(to),
                            double(total) / secondsSince(start));
                std::fflush(stdout);
            }
        }
    };
    std::vector<std::thread> pool;
    for (int k = 0; k < threads; ++k)
        pool.emplace_back(work);
    for (std::thread &th : pool)
        th.join();
    if (failed)
        return false;
    const double s = secondsSince(start);
    std::printf("generated %llu files in %.1f s (%.0f files/s)\n",
                static_cast<unsigned long long>(to - from), s, double(to - from) / s);
    return true;
}

// Sets another year on n files spread over the library (their mtime
// changes with it), for a rescan to find; the year is no search word.
bool retag(const fs::path &root, uint64_t seed, uint64_t count, uint64_t n)
{
    const uint64_t step = std::max<uint64_t>(1, count / std::max<uint64_t>(1, n));
    uint64_t changed = 0;
    for (uint64_t i = 0; i < count && changed < n; i += step, ++changed) {
        const Track t = track(seed, i);
        const std::string path = (root / t.path).string();
        TagLib::ByteVector bytes;
        if (!readFile(path, &bytes)) {
            std::fprintf(stderr, "cannot read %s\n", path.c_str());
            return false;
        }
        TagLib::ByteVectorStream stream(bytes);
        std::unique_ptr<TagLib::File> f;
        switch (t.format) {
        case 0:
            f = std::make_unique<TagLib::MPEG::File>(&stream,
                                                     TagLib::ID3v2::FrameFactory::instance());
            break;
        case 1:
            f = std::make_unique<TagLib::FLAC::File>(&stream,
                                                     TagLib::ID3v2::FrameFactory::instance());
            break;
        case 2:
            f = std::make_unique<TagLib::Ogg::Vorbis::File>(&stream);
            break;
        default:
            f = std::make_unique<TagLib::MP4::File>(&stream);
        }
        // Alternates between two years, so repeated runs keep changing it.
        const unsigned year = f->tag()->year() == unsigned(t.year) ? t.year + 1 : t.year;
        f->tag()->setYear(year);
        if (!f->save() || !writeWhole(path, *stream.data())) {
            std::fprintf(stderr, "cannot retag %s\n", path.c_str());
            return false;
        }
    }
    std::printf("retagged %llu files\n", static_cast<unsigned long long>(changed));
    return true;
}

int usage()
{
    std::fprintf(stderr, "usage: gen_library DIR COUNT [--seed N] [--threads N]\n"
                         "       gen_library DIR --retag N [--seed N]\n");
    return 2;
}

bool parseNumber(const char *text, uint64_t *out)
{
    char *end = nullptr;
    errno = 0;
    *out = std::strtoull(text, &end, 10);
    return errno == 0 && end != text && *end == '\0';
}

} // namespace

int main(int argc, char **argv)
{
    if (argc < 3)
        return usage();
    const fs::path root(argv[1]);
    uint64_t count = 0, seed = 1, threads = std::max(1u, std::thread::hardware_concurrency()),
             retagCount = 0;
    bool retagging = false;
    for (int a = 2; a < argc; ++a) {
        const std::string arg = argv[a];
        const bool hasValue = a + 1 < argc;
        if (arg == "--seed" && hasValue) {
            if (!parseNumber(argv[++a], &seed))
                return usage();
        } else if (arg == "--threads" && hasValue) {
            if (!parseNumber(argv[++a], &threads) || threads == 0 || threads > 64)
                return usage();
        } else if (arg == "--retag" && hasValue) {
            retagging = true;
            if (!parseNumber(argv[++a], &retagCount))
                return usage();
        } else if (a == 2 && parseNumber(argv[a], &count)) {
        } else {
            return usage();
        }
    }
    std::error_code ec;
    fs::create_directories(root, ec);
    const Manifest old = readManifest(root);
    const bool same = old.version == kGeneratorVersion && old.seed == seed;
    if (retagging) {
        if (!same || old.count == 0) {
            std::fprintf(stderr, "%s holds no library of seed %llu to retag\n", root.c_str(),
                         static_cast<unsigned long long>(seed));
            return 1;
        }
        return retag(root, seed, old.count, retagCount) ? 0 : 1;
    }
    if (count == 0)
        return usage();
    if (old.count > 0 && !same) {
        std::fprintf(stderr,
                     "%s holds a library of other parameters (generator %d, seed %llu); "
                     "remove it or choose another folder\n",
                     root.c_str(), old.version, static_cast<unsigned long long>(old.seed));
        return 1;
    }
    if (same && old.count >= count) {
        std::printf("%s already holds %llu files\n", root.c_str(),
                    static_cast<unsigned long long>(old.count));
        return 0;
    }
    const uint64_t from = same ? old.count : 0;
    if (!generate(root, seed, from, count, int(threads)))
        return 1;
    return writeManifest(root, Manifest{kGeneratorVersion, seed, count}) ? 0 : 1;
}
