// The benchmark's registry: each family file registers its cases; main runs them.
#pragma once

#include <functional>
#include <string>
#include <vector>

struct BenchCase {
    std::string name;        // export (or baseline) name
    std::string parameters;  // what was run, e.g. "fftSize 1024, 1 s at 10 kS/s"
    long long positions;     // positions one run computes
    std::function<void()> run;
};

using BenchFactory = std::function<std::vector<BenchCase>()>;

// Registers a family's cases; call through a static initialiser (AMPORA_BENCH).
bool RegisterBenchFamily(const char* family, BenchFactory factory);

#define AMPORA_BENCH_CONCAT2(a, b) a##b
#define AMPORA_BENCH_CONCAT(a, b) AMPORA_BENCH_CONCAT2(a, b)
#define AMPORA_BENCH(family, factory) \
    static const bool AMPORA_BENCH_CONCAT(benchRegistered_, __LINE__) = RegisterBenchFamily(family, factory)
