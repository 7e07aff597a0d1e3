// Freed heap pages go back to the system a second after the last call, and
// not before: pages freed in the middle of the heap, under a block still in
// use, stay resident otherwise.
#include "app/HeapTrim.h"

#include <QElapsedTimer>
#include <QFile>
#include <QTest>
#include <gtest/gtest.h>
#include <memory>
#include <vector>

namespace {

// Resident pages of this process, in KiB.
qint64 residentKiB()
{
    QFile statm(QStringLiteral("/proc/self/statm"));
    if (!statm.open(QIODevice::ReadOnly))
        return -1;
    const QList<QByteArray> fields = statm.readAll().split(' ');
    return fields.size() > 1 ? fields.at(1).toLongLong() * 4 : -1;
}

// The address sanitizer's allocator keeps pages of its own; only the C
// library's is trimmed.
#if defined(__SANITIZE_ADDRESS__)
constexpr bool kCLibraryAllocator = false;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool kCLibraryAllocator = false;
#else
constexpr bool kCLibraryAllocator = true;
#endif
#else
constexpr bool kCLibraryAllocator = true;
#endif

} // namespace

TEST(HeapTrim, FreedPagesGoBackOnceTheBurstIsOver)
{
    if (!kCLibraryAllocator)
        GTEST_SKIP() << "the sanitizer's allocator keeps its own pages";
#if !defined(__GLIBC__)
    GTEST_SKIP() << "only the GNU C library's allocator is trimmed";
#else
    // 16 MiB in blocks below the size the allocator maps on its own, each
    // followed by a small one still in use, so no free() can give the pages
    // back by shortening the heap: only a trim can.
    std::vector<std::unique_ptr<char[]>> blocks;
    std::vector<std::unique_ptr<char[]>> pins;
    for (int i = 0; i < 256; ++i) {
        blocks.emplace_back(new char[64 * 1024]);
        std::fill_n(blocks.back().get(), 64 * 1024, char(i));
        pins.emplace_back(new char[16]);
    }
    blocks.clear();
    const qint64 freed = residentKiB();
    ASSERT_GT(freed, 0);

    heaptrim::returnFreedPagesSoon();
    QTest::qWait(300);
    heaptrim::returnFreedPagesSoon(); // a later call puts it off again
    QTest::qWait(800);
    EXPECT_GT(residentKiB(), freed - 4 * 1024) << "given back before the burst was over";
    QElapsedTimer waited;
    waited.start();
    while (residentKiB() > freed - 12 * 1024 && waited.elapsed() < 5000)
        QTest::qWait(50);
    EXPECT_LT(residentKiB(), freed - 12 * 1024);
#endif
}
