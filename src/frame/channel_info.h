// The host's channel record, byte for byte. The host and the library are built
// separately, so this layout is the interface between them: every field sits at
// its fixed offset with its fixed width, nothing is aligned, and the bytes in
// between belong to the host (the library neither reads nor writes them).
#pragma once

#include <cstddef>
#include <cstdint>

#pragma pack(push, 1)

struct ChannelInfo {
    unsigned char HostBytes0[311];
    double MachineKind;                     // 311: 1.0 selects the YJJ machine formulas
    union {
        double KmTable[20];                 // 319: current channel, saturation factors
        struct {
            double AngleReactanceYJJ;       // 319
            double AngleReactanceTJJ;       // 327
            double EmfReactanceTJJ;         // 335
            double EmfReactanceYJJ;         // 343
            double ReactanceAddend;         // 351
            double VoltageBase;             // 359
            unsigned char HostBytesMachine0[24];
            double CurrentBase;             // 391
            unsigned char HostBytesMachine1[80];
        };
    };
    unsigned char HostBytes1[32];
    double SaturationOn;                    // 511
    double EmfResistance;                   // 519
    double AngleOffset;                     // 527: degrees
    double RatedSpeed;                      // 535: rev/min
    double KeyLevel;                        // 543
    unsigned char HostBytes2[247];
    uint32_t SourceIds;                     // 798: 32-bit address of a u8 array
    unsigned char HostBytes3[2];
    uint8_t DataKind;                       // 804
    unsigned char HostBytes4[9];
    uint32_t UnitText;                      // 814: 32-bit address of a zero-terminated text
    unsigned char HostBytes5[12];
    uint32_t UseSource;                     // 830
    unsigned char HostBytes6[108];
    uint32_t ListIndex;                     // 942
    unsigned char HostBytes7[40];
    uint32_t CalcKind;                      // 986
    unsigned char HostBytes8[12];
    uint32_t ChannelId;                     // 1002
    unsigned char HostBytes9[8];
    uint32_t SourceByIndex;                 // 1014
    unsigned char HostBytes10[20];
    double ResultMax;                       // 1038
    double ResultMin;                       // 1046
    unsigned char HostBytes11[112];
    double SummaryValue;                    // 1166
    double SummaryAux[3];                   // 1174
    unsigned char HostBytes12[104];
    double TrackState[6];                   // 1302
    unsigned char HostBytes13[8];
    double RunningSum;                      // 1358
    double HeldValue;                       // 1366
    unsigned char HostBytes14[40];
    double FullScale;                       // 1414
    unsigned char HostBytes15[8];
    double RatedValue;                      // 1430
    unsigned char HostBytes16[8];
    double Scale;                           // 1446
    unsigned char HostBytes17[8];
    uint32_t ResultData;                    // 1462: 32-bit address of an f32 array
    uint32_t SampleData;                    // 1466: 32-bit address of an f32 array
    uint32_t SecondaryData;                 // 1470: 32-bit address of an f32 array
    unsigned char HostBytes18[8];
    double CalcCoefA;                       // 1482
    double CalcCoefB;                       // 1490
    unsigned char HostBytes19[32];
    double PulsesPerRev;                    // 1530
    union {
        double CalcCoefC;                   // 1538: calculation method 2
        double CycleStart;                  // 1538: self-averaging export
    };
    double CycleWriteEnd;                   // 1546
    unsigned char HostBytes20[16];
    double PhaseShift;                      // 1570: radians
    unsigned char HostBytes21[8];
    double PeriodFrequency;                 // 1586
    unsigned char HostBytes22[68];
    uint32_t PeriodEndIndex;                // 1662
    uint32_t LastBlockEnd;                  // 1666
    unsigned char HostBytes23[60];
    uint32_t QuietCount;                    // 1730
    unsigned char HostBytes24[148];
    unsigned char CrossingQueue[48];        // 1882: queue object; element count at 1926
    float HarmonicOrder;                    // 1930
    unsigned char HostBytes25[36];
    float SampleMax;                        // 1970
    float SampleMin;                        // 1974
};

#pragma pack(pop)

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
