// Freed heap pages go back to the system a second after the last call, and
// not before: pages freed in the middle of the heap, under a block still in
// use, stay resident otherwise.
#include "tests/common/Sanitizers.h"
#include "tests/hardening/ProcessMemory.h"
#include "window/rules/HeapTrim.h"

#include <QElapsedTimer>
#include <QTest>
#include <gtest/gtest.h>
#include <memory>
#include <vector>

TEST(HeapTrim, FreedPagesGoBackOnceTheBurstIsOver)
{
    if (sanitizers::kAddress)
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
    const qint64 freed = ProcessMemory::residentBytes();
    ASSERT_GT(freed, 0);

    heaptrim::returnFreedPagesSoon();
    QTest::qWait(300);
    heaptrim::returnFreedPagesSoon(); // a later call puts it off again
    QTest::qWait(800);
    EXPECT_GT(ProcessMemory::residentBytes(), freed - (4 << 20))
        << "given back before the burst was over";
    QElapsedTimer waited;
    waited.start();
    while (ProcessMemory::residentBytes() > freed - (12 << 20) && waited.elapsed() < 5000)
        QTest::qWait(50);
    EXPECT_LT(ProcessMemory::residentBytes(), freed - (12 << 20));
#endif
}
