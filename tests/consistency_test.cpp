// Every export run the same way on a fixed recording: the same bits on every
// build, and the same bits when several threads compute different targets from
// shared sources at once (the library keeps no state of its own).
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <map>
#include <sstream>
#include <thread>

#include "support/export_calls.h"
#include "support/export_table.h"

namespace {

std::map<std::string, uint64_t> SequentialDigests() {
    std::map<std::string, uint64_t> digests;
    for (const ExportCall& call : AllExportCalls()) {
        Recording r;
        ChannelInfo* target = nullptr;
        const double result = call.run(r, &target);
        digests[call.name] = DigestOf(r, target, result);
    }
    return digests;
}

std::string Text(const std::map<std::string, uint64_t>& digests) {
    std::ostringstream out;
    for (const auto& [name, digest] : digests) out << name << ' ' << std::hex << digest << '\n';
    return out.str();
}

TEST(SameNumbers, EveryBuildComputesTheSameBits) {
    const std::map<std::string, uint64_t> digests = SequentialDigests();
    for (const ExportEntry& e : kExportTable) EXPECT_EQ(digests.count(std::string(e.name)), 1u) << e.name << " is not run";
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
                const double result = call.run(shared, &target);
                seen[t][call.name] = DigestOf(shared, target, result);
            }
        });
    }
    for (std::thread& thread : threads) thread.join();
    for (int t = 0; t < kThreads; ++t)
        for (const auto& [name, digest] : seen[t]) EXPECT_EQ(digest, expected.at(name)) << name << " on thread " << t;
    EXPECT_GT(seen[0].size(), 20u);
}

}  // namespace
