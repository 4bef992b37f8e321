// Host side: memory below 4 GiB for the arrays a record points to. The record's
// array fields are 32 bits wide on every build, so a 64-bit host must place
// those arrays low. Optionally an array ends exactly at an inaccessible guard
// page, so any access past its end faults, or starts right after one, so any
// access before its first element faults.
#pragma once

#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <new>
#include <utility>
#include <vector>

// Which side of a guarded array the inaccessible page lies on.
enum class GuardSide { AfterEnd, BeforeStart };

class LowMemory {
public:
    explicit LowMemory(GuardSide side = GuardSide::AfterEnd) : side_(side) {}
    LowMemory(const LowMemory&) = delete;
    LowMemory& operator=(const LowMemory&) = delete;
    ~LowMemory() {
        for (auto& [address, length] : mappings_) munmap(address, length);
    }

    // Zeroed bytes below 4 GiB; with guarded set, the last byte is followed by
    // (or the first byte preceded by) a page that faults on any access.
    void* Bytes(std::size_t n, bool guarded = false) {
        const std::size_t page = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
        const std::size_t dataPages = (n + page - 1) / page + (n == 0 ? 1 : 0);
        const std::size_t length = (dataPages + (guarded ? 1 : 0)) * page;
        void* base = MapLow(length);
        if (base == nullptr) throw std::bad_alloc();
        {
            std::lock_guard<std::mutex> lock(mutex_);  // arrays may be made from several threads
            mappings_.emplace_back(base, length);
        }
        auto* bytes = static_cast<unsigned char*>(base);
        if (!guarded) return bytes;
        if (side_ == GuardSide::BeforeStart) {
            mprotect(bytes, page, PROT_NONE);
            return bytes + page;
        }
        mprotect(bytes + dataPages * page, page, PROT_NONE);
        return bytes + dataPages * page - n;
    }

    float* Floats(std::size_t n, bool guarded = false) {
        return static_cast<float*>(Bytes(n * sizeof(float), guarded));
    }

    // Gives back the mapping that holds p (an array no record points to any more).
    void Release(const void* p) {
        std::lock_guard<std::mutex> lock(mutex_);
        const auto at = reinterpret_cast<std::uintptr_t>(p);
        for (auto m = mappings_.begin(); m != mappings_.end(); ++m) {
            const auto begin = reinterpret_cast<std::uintptr_t>(m->first);
            if (at >= begin && at < begin + m->second) {
                munmap(m->first, m->second);
                mappings_.erase(m);
                return;
            }
        }
    }

    // A 32-bit address for a record field.
    static uint32_t Address(const void* p) {
        const auto value = reinterpret_cast<std::uintptr_t>(p);
        if (value >= kFourGiB) throw std::bad_alloc();
        return static_cast<uint32_t>(value);
    }

    // The unmapped address space below 4 GiB (above the lowest address a
    // process may map), the room every array of a run must share.
    static unsigned long long FreeBelow4GiB() {
        unsigned long long free = 0;
        for (const auto& [begin, end] : GapsBelow4GiB()) free += end - begin;
        return free;
    }

private:
#if defined(MAP_32BIT) && UINTPTR_MAX > 0xFFFFFFFFu
    static constexpr int kLowFlag = MAP_32BIT;
    static constexpr bool kWideAddresses = true;
#else
    static constexpr int kLowFlag = 0;
    static constexpr bool kWideAddresses = false;
#endif
#ifdef MAP_FIXED_NOREPLACE
    static constexpr int kHintFlag = MAP_FIXED_NOREPLACE;
#else
    static constexpr int kHintFlag = 0;
#endif
    static constexpr unsigned long long kFourGiB = 1ull << 32;
    static constexpr unsigned long long kLowestMapping = 1ull << 16;  // the usual vm.mmap_min_addr
    static constexpr std::size_t kHugeFrom = std::size_t{8} << 20;

    static void* Map(void* hint, std::size_t length, int flags) {
        void* p = mmap(hint, length, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | flags, -1, 0);
        if (p == MAP_FAILED) return nullptr;
        if (reinterpret_cast<std::uintptr_t>(p) + length > kFourGiB) {
            munmap(p, length);
            return nullptr;
        }
#ifdef MADV_HUGEPAGE
        // A long record's arrays in 2 MiB pages: far fewer page faults when
        // they are first written (a hint; small arrays keep ordinary pages).
        if (length >= kHugeFrom) madvise(p, length, MADV_HUGEPAGE);
#endif
        return p;
    }

    // MAP_32BIT places mappings in the second GiB only; when that is full the
    // free stretches of the rest of the low 4 GiB are tried by address hint.
    static void* MapLow(std::size_t length) {
        if (void* p = Map(nullptr, length, kLowFlag)) return p;
        if (!kWideAddresses) return nullptr;
        for (const auto& [begin, end] : GapsBelow4GiB()) {
            if (end - begin < length) continue;
            if (void* p = Map(reinterpret_cast<void*>(static_cast<std::uintptr_t>(begin)), length, kHintFlag)) return p;
        }
        return nullptr;
    }

    // The stretches below 4 GiB that no mapping of the process covers.
    static std::vector<std::pair<unsigned long long, unsigned long long>> GapsBelow4GiB() {
        std::vector<std::pair<unsigned long long, unsigned long long>> used;
        if (FILE* maps = std::fopen("/proc/self/maps", "r")) {
            unsigned long long begin = 0, end = 0;
            char line[512];
            while (std::fgets(line, sizeof line, maps) != nullptr)
                if (std::sscanf(line, "%llx-%llx", &begin, &end) == 2) used.emplace_back(begin, end);
            std::fclose(maps);
        }
        std::sort(used.begin(), used.end());
        std::vector<std::pair<unsigned long long, unsigned long long>> gaps;
        unsigned long long from = kLowestMapping;
        for (const auto& [begin, end] : used) {
            if (begin >= kFourGiB) break;
            if (begin > from) gaps.emplace_back(from, begin);
            from = std::max(from, end);
        }
        if (from < kFourGiB) gaps.emplace_back(from, kFourGiB);
        return gaps;
    }

    GuardSide side_;
    std::mutex mutex_;
    std::vector<std::pair<void*, std::size_t>> mappings_;
};
