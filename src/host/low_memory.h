// Host side: memory below 4 GiB for the arrays a record points to. The record's
// array fields are 32 bits wide on every build, so a 64-bit host must place
// those arrays low. Optionally an array ends exactly at an inaccessible guard
// page, so any access past its end faults, or starts right after one, so any
// access before its first element faults.
#pragma once

#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>
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
        void* base = mmap(nullptr, length, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | kLowFlag, -1, 0);
        if (base == MAP_FAILED || reinterpret_cast<std::uintptr_t>(base) + length > kFourGiB) throw std::bad_alloc();
        mappings_.emplace_back(base, length);
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

    // A 32-bit address for a record field.
    static uint32_t Address(const void* p) {
        const auto value = reinterpret_cast<std::uintptr_t>(p);
        if (value >= kFourGiB) throw std::bad_alloc();
        return static_cast<uint32_t>(value);
    }

private:
#if defined(MAP_32BIT) && UINTPTR_MAX > 0xFFFFFFFFu
    static constexpr int kLowFlag = MAP_32BIT;
#else
    static constexpr int kLowFlag = 0;
#endif
    static constexpr unsigned long long kFourGiB = 1ull << 32;
    GuardSide side_;
    std::vector<std::pair<void*, std::size_t>> mappings_;
};
