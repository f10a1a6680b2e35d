// Allocation against a plain reference, and changes to damaged volumes.
//
// The allocators start their searches where their hints say a fit can
// begin; a long random run of allocations, frees, flushes and reverts must
// give exactly what a first-fit search from block 0 (and from node 0) over
// the bitmap gives, with every block freed since the last flush still held.
#include <gtest/gtest.h>

#include <random>

#include "hfs/internal.h"
#include "support/peers.h"
#include "support/volumes.h"

using namespace verrin;
using namespace verrin::testsupport;

namespace {

// A fresh volume of `size` (verrin-cli format's --size), mounted writable.
bool formattedVolume(const std::string& image, const char* size)
{
    const CommandResult r = runCli({"format", image, "--name", "Integrity", "--size", size});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    return r.exitCode == 0 && openImage(image, true) >= 0 && mountAt(0) && enterFolder(2);
}

bool bitmapBit(uint32_t block)
{
    CacheBuffer* b = getVolumeSector(volume.bitmapStart + block / 4096);
    return b && (b->data[(block / 8) % 512] & (0x80u >> (block % 8)));
}

// First fit (start 0) or the exact run at `start`, by the rules of
// findFreeRun, over the bitmap plus the blocks the test freed since the
// last flush.
int referenceRun(const std::vector<bool>& held, uint32_t& start, uint32_t& length)
{
    const uint32_t blocks = volume.numBlocks;
    const auto used = [&](uint32_t b) { return bitmapBit(b) || held[b]; };
    if (start != 0) {
        uint32_t run = 0;
        while (start + run < blocks && run < length && !used(start + run)) ++run;
        if (run == 0) return -1;
        if (run == length) return 0;
        length = run;
        return 1;
    }
    uint32_t bestStart = 0, best = 0, runStart = 0, run = 0;
    for (uint32_t b = 0; b <= blocks; ++b) {
        if (b < blocks && !used(b)) {
            if (run++ == 0) runStart = b;
            if (run == length) {
                start = runStart;
                return 0;
            }
            continue;
        }
        if (run > best) bestStart = runStart, best = run;
        run = 0;
    }
    if (best == 0) return -1;
    start = bestStart;
    length = best;
    return 1;
}

// The lowest node the header's map record shows free, or nodes.
uint32_t referenceNode(const BTree& t)
{
    const CacheBuffer* h = *t.header;
    const uint32_t nodes = treeNodes(t);
    const uint32_t begin = recordOffset(h, 2), end = recordOffset(h, 3);
    for (uint32_t n = 0; n < nodes && n < 8 * (end - begin); ++n)
        if (!(h->data[begin + n / 8] & (0x80u >> (n % 8)))) return n;
    return nodes;
}

}  // namespace

TEST(Allocation, HintedSearchesMatchAPlainFirstFitAndHoldFreedBlocksUntilTheFlush)
{
    ScratchDir dir;
    ASSERT_TRUE(formattedVolume(dir.file("a.img"), "6M"));
    const uint32_t blocks = volume.numBlocks;
    struct Run {
        uint32_t start, length;
    };
    std::vector<Run> owned, committed;  // runs the test marked: now, and at the last flush
    std::vector<bool> held(blocks, false);
    std::vector<uint32_t> nodes, committedNodes;
    std::mt19937 engine(2024);
    const auto rng = [&] { return static_cast<uint32_t>(engine()); };
    int fits = 0, partial = 0, heldAvoided = 0;
    for (int step = 0; step < 4000; ++step) {
        SCOPED_TRACE(step);
        const uint32_t op = rng() % 100;
        if (op < 50) {
            uint32_t n = 1 + rng() % (op < 5 ? 3000 : 24);
            uint32_t s = (op % 4 == 0 && !owned.empty()) ? owned[rng() % owned.size()].start + n : 0;
            uint32_t refStart = s, refLength = n;
            const int expected = referenceRun(held, refStart, refLength);
            if (s == 0) {
                // Would the search have taken a held block?
                std::vector<bool> none(blocks, false);
                uint32_t freeStart = 0, freeLength = n;
                if (referenceRun(none, freeStart, freeLength) >= 0 && freeStart != refStart) ++heldAvoided;
            }
            const int got = findFreeRun(s, n);
            ASSERT_EQ(got, expected);
            if (got < 0) continue;
            ASSERT_EQ(s, refStart);
            ASSERT_EQ(n, refLength);
            (got == 0 ? fits : partial) += 1;
            markBlocks(s, n);
            owned.push_back({s, n});
        } else if (op < 80 && !owned.empty()) {
            const size_t i = rng() % owned.size();
            freeBlocks(owned[i].start, owned[i].length);
            for (uint32_t b = 0; b < owned[i].length; ++b) held[owned[i].start + b] = true;
            owned.erase(owned.begin() + static_cast<long>(i));
        } else if (op < 88) {
            const uint32_t expected = referenceNode(catalogTree);
            const uint32_t node = btAllocNode(catalogTree);
            if (expected < treeNodes(catalogTree)) {
                ASSERT_EQ(node, expected);
            }
            nodes.push_back(node);
        } else if (op < 93 && !nodes.empty()) {
            const size_t i = rng() % nodes.size();
            btFreeNode(catalogTree, nodes[i]);
            nodes.erase(nodes.begin() + static_cast<long>(i));
        } else if (op < 98) {
            flushVolume();
            committed = owned;
            committedNodes = nodes;
            held.assign(blocks, false);
        } else {
            revertVolume();
            owned = committed;
            nodes = committedNodes;
            held.assign(blocks, false);
        }
        ASSERT_EQ(lastError, errNone);
    }
    EXPECT_GT(fits, 500);
    EXPECT_GT(partial, 5);
    EXPECT_GT(heldAvoided, 20);
    uint32_t clear = 0;
    for (uint32_t b = 0; b < blocks; ++b) clear += bitmapBit(b) ? 0 : 1;
    EXPECT_EQ(read16(volume.mdb->data + mdb::freeBks), clear);
    closeAll();
}
