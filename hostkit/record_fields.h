// The record fields a host sets by name (a plan's `CalcKind=1`, the Python
// module's keyword arguments): each field's offset in ChannelInfo, its stored
// type and how many consecutive slots a list of values may fill.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <iterator>
#include <string_view>

#include "ampora.h"

struct FieldLayout {
    const char* name;
    std::size_t offset;
    char type;  // 'd' f64, 'u' u32, 'f' f32, 'b' u8
    int slots;  // consecutive slots a list may fill
};

#define AMPORA_FIELD(name, type, slots) {#name, offsetof(ChannelInfo, name), type, slots}
inline constexpr FieldLayout kRecordFields[] = {
    AMPORA_FIELD(MachineKind, 'd', 1),       AMPORA_FIELD(AngleReactanceYJJ, 'd', 1),
    AMPORA_FIELD(AngleReactanceTJJ, 'd', 1), AMPORA_FIELD(EmfReactanceTJJ, 'd', 1),
    AMPORA_FIELD(EmfReactanceYJJ, 'd', 1),   AMPORA_FIELD(ReactanceAddend, 'd', 1),
    AMPORA_FIELD(VoltageBase, 'd', 1),       AMPORA_FIELD(CurrentBase, 'd', 1),
    AMPORA_FIELD(KmTable, 'd', 20),          AMPORA_FIELD(SaturationOn, 'd', 1),
    AMPORA_FIELD(EmfResistance, 'd', 1),     AMPORA_FIELD(AngleOffset, 'd', 1),
    AMPORA_FIELD(RatedSpeed, 'd', 1),        AMPORA_FIELD(KeyLevel, 'd', 1),
    AMPORA_FIELD(DataKind, 'b', 1),          AMPORA_FIELD(UseSource, 'u', 1),
    AMPORA_FIELD(CalcKind, 'u', 1),          AMPORA_FIELD(ResultMax, 'd', 1),
    AMPORA_FIELD(ResultMin, 'd', 1),         AMPORA_FIELD(SummaryValue, 'd', 1),
    AMPORA_FIELD(SummaryAux, 'd', 3),        AMPORA_FIELD(FullScale, 'd', 1),
    AMPORA_FIELD(RatedValue, 'd', 1),        AMPORA_FIELD(Scale, 'd', 1),
    AMPORA_FIELD(CalcCoefA, 'd', 1),         AMPORA_FIELD(CalcCoefB, 'd', 1),
    AMPORA_FIELD(CalcCoefC, 'd', 1),         AMPORA_FIELD(PulsesPerRev, 'd', 1),
    AMPORA_FIELD(PhaseShift, 'd', 1),        AMPORA_FIELD(HarmonicOrder, 'f', 1),
};
#undef AMPORA_FIELD

inline const FieldLayout* FindRecordField(std::string_view name) {
    for (const FieldLayout& f : kRecordFields)
        if (name == f.name) return &f;
    return nullptr;
}

// Stores values into a record's field as the field's type holds them (a list
// fills consecutive slots); false when the name is not a field.
inline bool StoreRecordField(ChannelInfo* record, std::string_view name, const double* values, std::size_t count) {
    const FieldLayout* layout = FindRecordField(name);
    if (layout == nullptr) return false;
    auto* base = reinterpret_cast<unsigned char*>(record) + layout->offset;
    for (std::size_t k = 0; k < count; ++k) {
        const double v = values[k];
        switch (layout->type) {
            case 'd': std::memcpy(base + 8 * k, &v, 8); break;
            case 'f': { const float stored = static_cast<float>(v); std::memcpy(base, &stored, 4); break; }
            case 'u': { const auto stored = static_cast<uint32_t>(v); std::memcpy(base, &stored, 4); break; }
            default: *base = static_cast<unsigned char>(v); break;
        }
    }
    return true;
}
