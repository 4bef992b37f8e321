// ampora-bench: runs every registered case and prints positions per second.
//   ampora-bench                 all cases, timed
//   ampora-bench --list          the case names
//   ampora-bench --case NAME     one case (substring match), timed
//   ampora-bench --once NAME     a warm-up and one run of one case, for callgrind's instruction count
#include <chrono>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>

#include "bench.h"

namespace {

std::map<std::string, BenchFactory>& Families() {
    static std::map<std::string, BenchFactory> families;
    return families;
}

std::vector<std::pair<std::string, BenchCase>> AllCases() {
    std::vector<std::pair<std::string, BenchCase>> cases;
    for (auto& [family, factory] : Families())
        for (BenchCase& c : factory()) cases.emplace_back(family, std::move(c));
    return cases;
}

double Seconds(const BenchCase& c, int runs) {
    const auto t0 = std::chrono::steady_clock::now();
    for (int r = 0; r < runs; ++r) c.run();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

void Time(const std::string& family, const BenchCase& c) {
    c.run();   // warm-up
    int runs = 1;
    double seconds = Seconds(c, runs);
    while (seconds < 0.3 && runs < (1 << 20)) {
        runs *= 2;
        seconds = Seconds(c, runs);
    }
    const double rate = static_cast<double>(c.positions) * runs / seconds;
    std::printf("%-12s %-26s %-44s %10.2f M positions/s\n", family.c_str(), c.name.c_str(),
                c.parameters.c_str(), rate / 1e6);
}

}  // namespace

// One run of one case: callgrind counts the instructions inside this call only
// (bench/callgrind.sh), so set-up and printing stay out of the count.
__attribute__((noinline)) void RunCaseOnce(const BenchCase& c) { c.run(); }

bool RegisterBenchFamily(const char* family, BenchFactory factory) {
    Families()[family] = std::move(factory);
    return true;
}

int main(int argc, char** argv) {
    const std::string mode = argc > 1 ? argv[1] : "";
    const std::string pattern = argc > 2 ? argv[2] : "";
    const auto cases = AllCases();
    auto label = [](const BenchCase& c) { return c.name + " | " + c.parameters; };
    if (mode == "--list") {
        for (const auto& [family, c] : cases) std::printf("%s\t%lld\n", label(c).c_str(), c.positions);
        return 0;
    }
    if (mode == "--once") {
        for (const auto& [family, c] : cases)
            if (label(c) == pattern) {
                c.run();   // warm-up, as in the timed runs: first-use tables stay out of the count
                RunCaseOnce(c);
                std::printf("%lld positions\n", c.positions);
                return 0;
            }
        std::fprintf(stderr, "no case '%s'\n", pattern.c_str());
        return 2;
    }
    for (const auto& [family, c] : cases)
        if (mode != "--case" || label(c).find(pattern) != std::string::npos) Time(family, c);
    return 0;
}
