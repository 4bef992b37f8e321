// Every export run the same way on a fixed recording: the same bits on every
// build, the same bits when several threads compute different targets from
// shared sources at once (the library keeps no state of its own), and the same
// curve whatever blocks the host splits the record into.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <map>
#include <sstream>
#include <thread>

#include "support/export_calls.h"

namespace {

std::map<std::string, uint64_t> SequentialDigests() {
    std::map<std::string, uint64_t> digests;
    for (const ExportCall& call : AllExportCalls()) {
        Recording r;
        ChannelInfo* target = nullptr;
        const double result = call.Run(r, &target);
        digests[call.name] = DigestOf(r, target, result);
    }
    return digests;
}

std::string Text(const std::map<std::string, uint64_t>& digests) {
    std::ostringstream out;
    for (const auto& [name, digest] : digests) out << name << ' ' << std::hex << digest << '\n';
    return out.str();
}

// The same bits as the outputs had when they last changed on purpose: a
// refactor or a speed-up that changes one bit fails here. A change of the
// numbers a release intends is recorded by copying this build's
// export_digests.txt over the committed file.
TEST(SameNumbers, OutputsKeepTheirCommittedBits) {
    std::ifstream committed(AMPORA_COMMITTED_DIGESTS);
    ASSERT_TRUE(committed) << AMPORA_COMMITTED_DIGESTS;
    std::stringstream expected;
    expected << committed.rdbuf();
    EXPECT_EQ(Text(SequentialDigests()), expected.str());
}

TEST(SameNumbers, EveryBuildComputesTheSameBits) {
    const std::map<std::string, uint64_t> digests = SequentialDigests();
    const std::string mine = Text(digests);
    std::ofstream("export_digests.txt") << mine;
    const std::string peerPath = AMPORA_PEER_DIGESTS;
    std::ifstream peer(peerPath);
    if (peerPath.empty() || !peer) GTEST_SKIP() << "no digests of the 32-bit build to compare with";
    std::stringstream theirs;
    theirs << peer.rdbuf();
    EXPECT_EQ(mine, theirs.str()) << "outputs differ from " << peerPath;
}

TEST(SameNumbers, ConcurrentTargetsGiveTheSequentialResults) {
    const std::map<std::string, uint64_t> expected = SequentialDigests();
    constexpr int kThreads = 4;
    Recording shared;
    std::vector<std::map<std::string, uint64_t>> seen(kThreads);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            // Each thread runs the calls in its own order, on targets of its own.
            const auto& calls = AllExportCalls();
            for (std::size_t k = 0; k < calls.size(); ++k) {
                const ExportCall& call = calls[(k + t * 7) % calls.size()];
                if (call.WritesSources()) continue;
                ChannelInfo* target = nullptr;
                const double result = call.Run(shared, &target);
                seen[t][call.name] = DigestOf(shared, target, result);
            }
        });
    }
    for (std::thread& thread : threads) thread.join();
    for (int t = 0; t < kThreads; ++t)
        for (const auto& [name, digest] : seen[t]) EXPECT_EQ(digest, expected.at(name)) << name << " on thread " << t;
    EXPECT_GT(seen[0].size(), 20u);
}

// One call over the record, then blocks on the walks' grid (the first reaching
// past the first window) and blocks of any length down to one position. The
// blocks give the one call's bits (results, target and every record) as the
// export's rule says, and each block writes only the entries its rule allows.
constexpr int kSplitEnd = 8000;
constexpr int kHeldTail = 600;   // three periods of the recording's 50 Hz
constexpr int kResultLength = Recording::kSamples + Recording::kMargin;
constexpr float kUnwritten = -1.2345e-30f;   // a value no export stores here (not a NaN, which arithmetic carries on)
// The first block reaches past the first window's next hop: a first call that
// ends with its first window may write that window alone.
const std::vector<int> kGridBlocks = {384, 192, 448, 1280};
const std::vector<int> kAnyBlocks = {1, 17, 250, 999, 64, 3, 513, 1000};

// Runs the block once on the target with every result entry outside [from, to)
// set to kUnwritten, so that a write there shows even where it stores what the
// entry held; then restores the target and runs the block for real (what the
// first run wrote elsewhere, a source's refreshed extremes, comes out the same).
std::string WritesOutside(const ExportCall& call, Recording& r, ChannelInfo* t, int start, int end, int from, int to) {
    float* result = ResultArray(t);
    const std::vector<float> entries(result, result + kResultLength);
    ChannelInfo record;
    std::memcpy(&record, t, sizeof record);
    for (int i = 0; i < kResultLength; ++i)
        if (i < from || i >= to) std::memcpy(result + i, &kUnwritten, sizeof kUnwritten);
    call.Call(r, t, start, end - start);
    std::string report;
    for (int i = 0; i < kResultLength && report.empty(); ++i)
        if ((i < from || i >= to) && std::memcmp(result + i, &kUnwritten, sizeof kUnwritten) != 0)
            report = call.name + ": block [" + std::to_string(start) + ", " + std::to_string(end) + ") wrote entry " +
                     std::to_string(i) + ", outside [" + std::to_string(from) + ", " + std::to_string(to) + ")";
    std::copy(entries.begin(), entries.end(), result);
    std::memcpy(t, &record, sizeof record);
    call.Call(r, t, start, end - start);
    return report;
}

void RunInBlocks(const ExportCall& call, Recording& r, ChannelInfo* t, const std::vector<int>& lengths) {
    for (int start = 0, k = 0; start < kSplitEnd; ++k) {
        const int end = std::min(start + lengths[k % lengths.size()], kSplitEnd);
        const BlockRule& rule = call.rule;
        const bool early = start < rule.first;
        const int from = early ? 0 : start - rule.before, to = std::max(end + rule.after, early ? rule.first : 0);
        ASSERT_EQ(WritesOutside(call, r, t, start, end, from, to), "");
        start = end;
    }
}

TEST(BlockSplit, EveryBlockExportInOneCallAndInBlocks) {
    for (const ExportCall& call : AllExportCalls()) {
        if (!call.block) continue;
        Recording one;
        ChannelInfo* whole = call.target(one);
        call.Call(one, whole, 0, kSplitEnd);
        for (const std::vector<int>* lengths : {&kGridBlocks, &kAnyBlocks}) {
            Recording r;
            ChannelInfo* t = call.target(r);
            RunInBlocks(call, r, t, *lengths);
            const Split split = call.rule.split;
            if (split == Split::PerBlock || (split == Split::QuarterGrid && lengths == &kAnyBlocks)) continue;
            if (split == Split::HeldTail)
                for (float* curve : {ResultArray(whole), ResultArray(t)})
                    std::fill(curve + kSplitEnd - kHeldTail, curve + kSplitEnd, 0.0f);
            EXPECT_EQ(DigestOf(r, t, 0.0), DigestOf(one, whole, 0.0))
                << call.name << (lengths == &kGridBlocks ? " in blocks on the grid" : " in blocks of any length");
        }
    }
}

}  // namespace
