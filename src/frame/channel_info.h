// The host's channel record, byte for byte, as the library sees it. The layout
// is the interface between host and library, so it is defined once, in the
// public header; here each field the library touches is pinned to its offset.
#pragma once

#include <cstddef>
#include <cstdint>

#include "ampora.h"

// The record continues beyond its last field into host-owned bytes; this is the
// part the library knows of.
constexpr std::size_t kChannelInfoKnownSize = 1978;
constexpr std::size_t kCrossingQueueCountOffset = 1926;

static_assert(sizeof(ChannelInfo) == kChannelInfoKnownSize, "record size");
static_assert(offsetof(ChannelInfo, MachineKind) == 311, "MachineKind");
static_assert(offsetof(ChannelInfo, KmTable) == 319, "KmTable");
static_assert(offsetof(ChannelInfo, AngleReactanceYJJ) == 319, "AngleReactanceYJJ");
static_assert(offsetof(ChannelInfo, AngleReactanceTJJ) == 327, "AngleReactanceTJJ");
static_assert(offsetof(ChannelInfo, EmfReactanceTJJ) == 335, "EmfReactanceTJJ");
static_assert(offsetof(ChannelInfo, EmfReactanceYJJ) == 343, "EmfReactanceYJJ");
static_assert(offsetof(ChannelInfo, ReactanceAddend) == 351, "ReactanceAddend");
static_assert(offsetof(ChannelInfo, VoltageBase) == 359, "VoltageBase");
static_assert(offsetof(ChannelInfo, CurrentBase) == 391, "CurrentBase");
static_assert(offsetof(ChannelInfo, SaturationOn) == 511, "SaturationOn");
static_assert(offsetof(ChannelInfo, EmfResistance) == 519, "EmfResistance");
static_assert(offsetof(ChannelInfo, AngleOffset) == 527, "AngleOffset");
static_assert(offsetof(ChannelInfo, RatedSpeed) == 535, "RatedSpeed");
static_assert(offsetof(ChannelInfo, KeyLevel) == 543, "KeyLevel");
static_assert(offsetof(ChannelInfo, SourceIds) == 798, "SourceIds");
static_assert(offsetof(ChannelInfo, DataKind) == 804, "DataKind");
static_assert(offsetof(ChannelInfo, UnitText) == 814, "UnitText");
static_assert(offsetof(ChannelInfo, UseSource) == 830, "UseSource");
static_assert(offsetof(ChannelInfo, ListIndex) == 942, "ListIndex");
static_assert(offsetof(ChannelInfo, CalcKind) == 986, "CalcKind");
static_assert(offsetof(ChannelInfo, ChannelId) == 1002, "ChannelId");
static_assert(offsetof(ChannelInfo, SourceByIndex) == 1014, "SourceByIndex");
static_assert(offsetof(ChannelInfo, ResultMax) == 1038, "ResultMax");
static_assert(offsetof(ChannelInfo, ResultMin) == 1046, "ResultMin");
static_assert(offsetof(ChannelInfo, SummaryValue) == 1166, "SummaryValue");
static_assert(offsetof(ChannelInfo, SummaryAux) == 1174, "SummaryAux");
static_assert(offsetof(ChannelInfo, TrackState) == 1302, "TrackState");
static_assert(offsetof(ChannelInfo, RunningSum) == 1358, "RunningSum");
static_assert(offsetof(ChannelInfo, HeldValue) == 1366, "HeldValue");
static_assert(offsetof(ChannelInfo, FullScale) == 1414, "FullScale");
static_assert(offsetof(ChannelInfo, RatedValue) == 1430, "RatedValue");
static_assert(offsetof(ChannelInfo, Scale) == 1446, "Scale");
static_assert(offsetof(ChannelInfo, ResultData) == 1462, "ResultData");
static_assert(offsetof(ChannelInfo, SampleData) == 1466, "SampleData");
static_assert(offsetof(ChannelInfo, SecondaryData) == 1470, "SecondaryData");
static_assert(offsetof(ChannelInfo, CalcCoefA) == 1482, "CalcCoefA");
static_assert(offsetof(ChannelInfo, CalcCoefB) == 1490, "CalcCoefB");
static_assert(offsetof(ChannelInfo, PulsesPerRev) == 1530, "PulsesPerRev");
static_assert(offsetof(ChannelInfo, CalcCoefC) == 1538, "CalcCoefC");
static_assert(offsetof(ChannelInfo, CycleStart) == 1538, "CycleStart");
static_assert(offsetof(ChannelInfo, CycleWriteEnd) == 1546, "CycleWriteEnd");
static_assert(offsetof(ChannelInfo, PhaseShift) == 1570, "PhaseShift");
static_assert(offsetof(ChannelInfo, PeriodFrequency) == 1586, "PeriodFrequency");
static_assert(offsetof(ChannelInfo, PeriodEndIndex) == 1662, "PeriodEndIndex");
static_assert(offsetof(ChannelInfo, LastBlockEnd) == 1666, "LastBlockEnd");
static_assert(offsetof(ChannelInfo, QuietCount) == 1730, "QuietCount");
static_assert(offsetof(ChannelInfo, CrossingQueue) == 1882, "CrossingQueue");
static_assert(offsetof(ChannelInfo, HarmonicOrder) == 1930, "HarmonicOrder");
static_assert(offsetof(ChannelInfo, SampleMax) == 1970, "SampleMax");
static_assert(offsetof(ChannelInfo, SampleMin) == 1974, "SampleMin");

// The record's array fields hold 32-bit addresses, on every build: a 64-bit host
// keeps the arrays below 4 GiB. These turn a field into a typed pointer.
template <typename T>
inline T* ArrayAt(uint32_t address) {
    return reinterpret_cast<T*>(static_cast<std::uintptr_t>(address));
}

inline float* ResultArray(const ChannelInfo* c) { return ArrayAt<float>(c->ResultData); }
inline float* SampleArray(const ChannelInfo* c) { return ArrayAt<float>(c->SampleData); }
inline float* SecondaryArray(const ChannelInfo* c) { return ArrayAt<float>(c->SecondaryData); }
inline const uint8_t* SourceIdArray(const ChannelInfo* c) { return ArrayAt<const uint8_t>(c->SourceIds); }
inline const char* UnitTextOf(const ChannelInfo* c) { return ArrayAt<const char>(c->UnitText); }

// Where an export reads its sources: samples block by block, the sources'
// finished result arrays for a whole record.
enum class Reads { Samples, Results };

inline const float* ValuesOf(const ChannelInfo* source, Reads reads) {
    return reads == Reads::Samples ? SampleArray(source) : ResultArray(source);
}
