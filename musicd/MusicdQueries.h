// Fixed facts of velmor-musicd's built-in catalogue, for tests, benchmarks
// and anyone driving the player against the bundled service. The catalogue
// is built deterministically, so these hold on every run; the musicd tests
// check each of them against the running service.
#pragma once

namespace musicd {

// Search words with a known number of matching songs (30 songs a page).
inline constexpr char kQueryOnePage[] = "晴川"; // exactly 30 songs: one full page
inline constexpr int kQueryOnePageCount = 30;
inline constexpr char kQueryThreePages[] = "starlight"; // exactly 61 songs: pages 1..3
inline constexpr int kQueryThreePagesCount = 61;
inline constexpr char kQueryManyPages[] = "精选"; // the compilation albums: 11 pages
inline constexpr int kQueryManyPagesCount = 312;
inline constexpr char kQueryNoMatch[] = "zzqxnomatch"; // the "nothing found" page

// Synthetic rows computed from the page number, never stored: "load" followed
// by a count from 1 to kLoadQueryMaxRows lists that many songs. The 30,000
// row query gives 1,000 pages.
inline constexpr char kQueryLoad30000[] = "load30000";
inline constexpr int kLoadQueryMaxRows = 300000;
// Song IDs of the synthetic rows: kLoadFirstSongId + row index (0-based).
inline constexpr int kLoadFirstSongId = 5000001;

// Catalogue song IDs run from kFirstSongId to kFirstSongId + kCatalogueSize - 1.
inline constexpr int kFirstSongId = 100001;
inline constexpr int kCatalogueSize = 400;

// Songs with particular traits.
inline constexpr char kSongWithLyricsId[] = "100001";    // 晴川, lyrics and picture
inline constexpr char kSongWithoutLyricsId[] = "100006"; // answer has "lyric_url":""
inline constexpr char kSongUpperCaseLrcId[] = "100003";  // lyric URL ends in ".LRC"
inline constexpr char kSongLyricFirstId[] = "100002";    // lyric member before the link
inline constexpr char kSongSrcCutId[] = "100001";        // link followed by "&src=\"
inline constexpr char kSongQuoteCommaId[] = "100003";    // link closed by a quote and comma
inline constexpr char kUnknownSongId[] = "99";           // answer without a link

// Singers: with and without a picture.
inline constexpr char kSingerWithPicture[] = "晴川";
inline constexpr char kSingerWithoutPicture[] = "苏小暖";
inline constexpr char kSingerLatinWithPicture[] = "Tom & Jerry";

} // namespace musicd
