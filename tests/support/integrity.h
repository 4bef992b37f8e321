// The record-integrity check: snapshot every record and array of a host, call
// an export, then report every byte that changed outside what the call may write.
#pragma once

#include <cstddef>
#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include "frame/channel_info.h"
#include "hostkit/host_channels.h"

class ByteWatch {
public:
    explicit ByteWatch(const HostChannels& host) {
        for (const auto& block : host.AllBytes()) Watch(block.data, block.size);
    }

    void Watch(const void* data, std::size_t size) {
        const auto* bytes = static_cast<const unsigned char*>(data);
        regions_.push_back({bytes, std::vector<unsigned char>(bytes, bytes + size)});
    }

    // Bytes the call is allowed to write.
    void Allow(const void* data, std::size_t size) {
        allowed_.push_back({static_cast<const unsigned char*>(data), size});
    }
    void AllowFloats(const float* data, std::ptrdiff_t first, std::ptrdiff_t count) {
        if (count > 0) Allow(data + first, static_cast<std::size_t>(count) * sizeof(float));
    }
    void AllowField(const ChannelInfo* record, std::size_t offset, std::size_t size) {
        Allow(reinterpret_cast<const unsigned char*>(record) + offset, size);
    }

    // One line per changed run of bytes outside the allowed ranges; empty when clean.
    std::string Violations() const {
        std::ostringstream out;
        for (const auto& region : regions_) {
            for (std::size_t i = 0; i < region.before.size(); ++i) {
                const unsigned char* p = region.data + i;
                if (*p == region.before[i] || IsAllowed(p)) continue;
                out << "byte " << i << " of a block at " << static_cast<const void*>(region.data)
                    << " changed\n";
            }
        }
        return out.str();
    }

private:
    struct Region {
        const unsigned char* data;
        std::vector<unsigned char> before;
    };
    struct Range {
        const unsigned char* data;
        std::size_t size;
    };
    bool IsAllowed(const unsigned char* p) const {
        for (const Range& r : allowed_)
            if (p >= r.data && p < r.data + r.size) return true;
        return false;
    }
    std::vector<Region> regions_;
    std::vector<Range> allowed_;
};

#define AMPORA_ALLOW_FIELD(watch, record, Field) \
    (watch).AllowField((record), offsetof(ChannelInfo, Field), sizeof(ChannelInfo::Field))
