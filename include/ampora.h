/*
 * Ampora: power-measurement computations for a data-acquisition host.
 *
 * The interface in one place: the channel list, the channel record, and every
 * export with its contract. C11 or C++ (the record's two unions are anonymous).
 *
 * Calls. Every export is cdecl under an undecorated name (Ampora.dll: ordinals
 * 1 to 89 in the byte-wise order of the names; GetAvgValueExtSum and
 * GetGJ6Sum are second names of GetAvgValueSum and GetGJ4Sum). It takes the
 * host's channel list first and the record of the channel it computes (the
 * target, never null) second; it finds its sources in the list through the
 * target's SourceIds. Block exports (void) write the target's ResultData over
 * the block [start, start + count), block after block from start 0; whole-
 * record exports (double) run once after the recording on the sources' finished
 * ResultData or their SummaryValue and return one value.
 *
 * Ownership and threads. The host owns the list, every record, every array and
 * every work buffer; the library keeps no state of its own: what it carries
 * from one call to the next lives in the target's state fields. Calls for
 * different targets may run at the same time; calls for one target must not
 * overlap, and the host must not change the list or a source while a call runs.
 *
 * What every export does with bad input:
 *   - a null list, a null work buffer or a source the list lacks: nothing is
 *     written, and a whole-record export returns 0.0 (GetKmByEq 1.0);
 *   - a window (fftSize) of 64 or less that is not a power of two (0, 1 and
 *     negative ones too; for GetHarmonicValue and GetHarmonicValueSum any
 *     length that is not one) writes "N is not a power of two" to stderr and
 *     ends the process with status 1, as soon as the sources resolve. Above 64
 *     any length is taken, transformed as 64 points of every (fftSize/64)-th
 *     sample. A power of two below the export's least window (4, or 32 where
 *     harmonics 1 to 21 are summed) returns without writing;
 *   - nothing is read or written before position 0 or past totalSamples (a
 *     negative start starts at 0; a record mean still divides by its count),
 *     and a block end or margin that would overflow 32 bits is taken in 64;
 *   - a count of zero or below writes nothing (the trackers still note the
 *     block's end); a whole-record export with no window or period to average
 *     returns 0.0;
 *   - a rate (samplesPerMs) that is not a positive finite number measures
 *     nothing, as a missing source; state fields that are not finite or point
 *     outside the record start afresh, as if the host had zeroed them;
 *   - the list is walked at most count nodes (a chain that loops ends).
 * Arrays must still be as long as each contract below says. No C++ exception
 * leaves an export; an allocation that fails returns as a missing source.
 *
 * Sizes below: q = fftSize / 4 (a window's hop), end = start + count, and
 * "window buffers" are float arrays of at least min(fftSize, 64) entries that
 * the call overwrites with its last window's phasors.
 */
#ifndef AMPORA_H
#define AMPORA_H

#include <stdint.h>

#if defined(_WIN32)
#define AMPORA_CALL __cdecl
#define AMPORA_API
#else
#define AMPORA_CALL
#define AMPORA_API __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* ---- The channel list: the class framework's pointer list, all native pointer width ---- */

struct CNode {
    struct CNode* next;
    struct CNode* prev;
    void* data; /* a struct ChannelInfo*, or null (skipped) */
};

/* The library walks it from head, at most count nodes, and takes the node at a
 * 0-based position; it reads nothing else. */
struct CPtrList {
    const void* vtable; /* the framework's object header */
    struct CNode* head;
    struct CNode* tail;
    int count;
    struct CNode* freeList;
    void* blocks;
    int blockSize;
};

/* ---- The channel record ----
 * Byte-packed: every field at its fixed offset (noted beside it), little-endian.
 * The HostBytes arrays are the host's: the library neither reads nor writes
 * them, nor anything past SampleMin (a host's record is longer). The array
 * fields hold 32-bit addresses on every build, so a 64-bit host places those
 * arrays below 4 GiB. An export writes only the fields its contract names. */
#pragma pack(push, 1)
struct ChannelInfo {
    unsigned char HostBytes0[311];
    double MachineKind;                     /* 311: 1.0 selects the YJJ machine formulas */
    union {
        double KmTable[20];                 /* 319: current channel, saturation factors for EMF 0.90 .. 1.09 */
        struct {
            double AngleReactanceYJJ;       /* 319: voltage channel, per unit */
            double AngleReactanceTJJ;       /* 327 */
            double EmfReactanceTJJ;         /* 335 */
            double EmfReactanceYJJ;         /* 343 */
            double ReactanceAddend;         /* 351 */
            double VoltageBase;             /* 359 */
            unsigned char HostBytesMachine0[24];
            double CurrentBase;             /* 391 */
            unsigned char HostBytesMachine1[80];
        };
    };
    unsigned char HostBytes1[32];
    double SaturationOn;                    /* 511: 1.0 corrects the reactance for saturation */
    double EmfResistance;                   /* 519 */
    double AngleOffset;                     /* 527: degrees */
    double RatedSpeed;                      /* 535: rev/min */
    double KeyLevel;                        /* 543: key-pulse level; 0.0 until GetGJSum stores it */
    unsigned char HostBytes2[247];
    uint32_t SourceIds;                     /* 798: address of u8 source references */
    unsigned char HostBytes3[2];
    uint8_t DataKind;                       /* 804: 2 selects SecondaryData */
    unsigned char HostBytes4[9];
    uint32_t UnitText;                      /* 814: address of a zero-terminated unit text */
    unsigned char HostBytes5[12];
    uint32_t UseSource;                     /* 830 */
    unsigned char HostBytes6[108];
    uint32_t ListIndex;                     /* 942: the record's own list position */
    unsigned char HostBytes7[40];
    uint32_t CalcKind;                      /* 986: quantity selector (power: 1 active, 2 reactive) */
    unsigned char HostBytes8[12];
    uint32_t ChannelId;                     /* 1002 */
    unsigned char HostBytes9[8];
    uint32_t SourceByIndex;                 /* 1014: nonzero: SourceIds are list positions */
    unsigned char HostBytes10[20];
    double ResultMax;                       /* 1038: running extremes of the calculation methods */
    double ResultMin;                       /* 1046 */
    unsigned char HostBytes11[112];
    double SummaryValue;                    /* 1166: the channel's whole-record value */
    double SummaryAux[3];                   /* 1174: whole-record phasor parts and angles */
    unsigned char HostBytes12[104];
    double TrackState[6];                   /* 1302: crossing trackers' slots */
    unsigned char HostBytes13[8];
    double RunningSum;                      /* 1358: moving-average sum */
    double HeldValue;                       /* 1366 */
    unsigned char HostBytes14[40];
    double FullScale;                       /* 1414 */
    unsigned char HostBytes15[8];
    double RatedValue;                      /* 1430 */
    unsigned char HostBytes16[8];
    double Scale;                           /* 1446: multiplier of computed values */
    unsigned char HostBytes17[8];
    uint32_t ResultData;                    /* 1462: address of the f32 results */
    uint32_t SampleData;                    /* 1466: address of the f32 samples */
    uint32_t SecondaryData;                 /* 1470: address of f32 samples read when DataKind is 2 */
    unsigned char HostBytes18[8];
    double CalcCoefA;                       /* 1482 */
    double CalcCoefB;                       /* 1490 */
    unsigned char HostBytes19[32];
    double PulsesPerRev;                    /* 1530 */
    union {
        double CalcCoefC;                   /* 1538: calculation method 2 */
        double CycleStart;                  /* 1538: GetPowerAvgSelf's state */
    };
    double CycleWriteEnd;                   /* 1546 */
    unsigned char HostBytes20[16];
    double PhaseShift;                      /* 1570: radians; harmonic h is turned by -PhaseShift*h */
    unsigned char HostBytes21[8];
    double PeriodFrequency;                 /* 1586 */
    unsigned char HostBytes22[68];
    uint32_t PeriodEndIndex;                /* 1662 */
    uint32_t LastBlockEnd;                  /* 1666 */
    unsigned char HostBytes23[60];
    uint32_t QuietCount;                    /* 1730 */
    unsigned char HostBytes24[148];
    /* 1882: GetBSCLRPM's crossing queue, constructed by the host: u32 address of
     * a float array (+0), its capacity (+4, the queue's length + 1), ring index
     * of the front entry (+8), zeros, element count (+44, offset 1926). */
    unsigned char CrossingQueue[48];
    float HarmonicOrder;                    /* 1930: truncated to the harmonic's bin */
    unsigned char HostBytes25[36];
    float SampleMax;                        /* 1970: the samples' extremes */
    float SampleMin;                        /* 1974 */
};
#pragma pack(pop)

typedef struct CNode CNode;
typedef struct CPtrList CPtrList;
typedef struct ChannelInfo ChannelInfo;

/* ---- Single-phase harmonic power, block by block ----
 * Sources 0 and 1: voltage and current (a line voltage for the Line forms), by
 * SampleData and PhaseShift. Target: CalcKind (1 P, 2 Q, other 0.0), Scale.
 * The window ending at each hop ramps ResultData over q positions: trailing
 * ramps end at the window's position (ResultData of max(fftSize, end) entries),
 * leading ones start there (GetP, GetPAll: max(fftSize, end + q)); the first
 * window (start 0) fills [0, fftSize). Sources of max(fftSize, end) samples;
 * four window buffers; fftSize from 4 (32 for All). */
/* Get3PBy1: 3 x the phase P or Q, fundamental; trailing ramps. */
AMPORA_API void AMPORA_CALL Get3PBy1(struct CPtrList* channels, struct ChannelInfo* target, int32_t start,
                                     int32_t count, int32_t fftSize, float* spec0Re, float* spec0Im,
                                     float* spec1Re, float* spec1Im);
/* Get3PBy1All: as Get3PBy1, harmonics 1 to 21 summed. */
AMPORA_API void AMPORA_CALL Get3PBy1All(struct CPtrList* channels, struct ChannelInfo* target, int32_t start,
                                        int32_t count, int32_t fftSize, float* spec0Re, float* spec0Im,
                                        float* spec1Re, float* spec1Im);
/* GetP: the phase P or Q, fundamental; leading ramps. */
AMPORA_API void AMPORA_CALL GetP(struct CPtrList* channels, struct ChannelInfo* target, int32_t start,
                                 int32_t count, int32_t fftSize, float* spec0Re, float* spec0Im,
                                 float* spec1Re, float* spec1Im);
/* GetPAll: as GetP, harmonics 1 to 21 summed. */
AMPORA_API void AMPORA_CALL GetPAll(struct CPtrList* channels, struct ChannelInfo* target, int32_t start,
                                    int32_t count, int32_t fftSize, float* spec0Re, float* spec0Im,
                                    float* spec1Re, float* spec1Im);
/* Get3PBy1Line: three-phase P or Q from a line voltage and a phase current
 * (turned by 30 degrees, x sqrt 3); trailing ramps. */
AMPORA_API void AMPORA_CALL Get3PBy1Line(struct CPtrList* channels, struct ChannelInfo* target, int32_t start,
                                         int32_t count, int32_t fftSize, float* spec0Re, float* spec0Im,
                                         float* spec1Re, float* spec1Im);
/* Get3PBy1LineAll: as Get3PBy1Line, harmonics 1 to 21 summed. */
AMPORA_API void AMPORA_CALL Get3PBy1LineAll(struct CPtrList* channels, struct ChannelInfo* target,
                                            int32_t start, int32_t count, int32_t fftSize, float* spec0Re,
                                            float* spec0Im, float* spec1Re, float* spec1Im);

/* ---- Single-phase harmonic power, whole record ----
 * The forms above over the sources' ResultData [start, start + length) in
 * whole windows: each window's value goes to the target's ResultData at the
 * window's first position (the target's array: start + length - fftSize + 1
 * entries), and the mean is returned; 0.0 when length < fftSize. */
/* Get3PBy1Sum: whole-record Get3PBy1 (windows end at their position). */
AMPORA_API double AMPORA_CALL Get3PBy1Sum(struct CPtrList* channels, struct ChannelInfo* target,
                                          int32_t start, int32_t length, int32_t fftSize, float* spec0Re,
                                          float* spec0Im, float* spec1Re, float* spec1Im);
/* Get3PBy1LineSum: whole-record Get3PBy1Line. */
AMPORA_API double AMPORA_CALL Get3PBy1LineSum(struct CPtrList* channels, struct ChannelInfo* target,
                                              int32_t start, int32_t length, int32_t fftSize, float* spec0Re,
                                              float* spec0Im, float* spec1Re, float* spec1Im);
/* Get3PBy1AllSum: whole-record Get3PBy1All. */
AMPORA_API double AMPORA_CALL Get3PBy1AllSum(struct CPtrList* channels, struct ChannelInfo* target,
                                             int32_t start, int32_t length, int32_t fftSize, float* spec0Re,
                                             float* spec0Im, float* spec1Re, float* spec1Im);
/* Get3PBy1LineAllSum: whole-record Get3PBy1LineAll. */
AMPORA_API double AMPORA_CALL Get3PBy1LineAllSum(struct CPtrList* channels, struct ChannelInfo* target,
                                                 int32_t start, int32_t length, int32_t fftSize,
                                                 float* spec0Re, float* spec0Im, float* spec1Re,
                                                 float* spec1Im);
/* GetPAllSum: whole-record GetPAll (windows begin at their position). */
AMPORA_API double AMPORA_CALL GetPAllSum(struct CPtrList* channels, struct ChannelInfo* target, int32_t start,
                                         int32_t length, int32_t fftSize, float* spec0Re, float* spec0Im,
                                         float* spec1Re, float* spec1Im);

/* ---- Averages and harmonic magnitude ---- */
/* GetAvgValue: mean of sources 0-2's SampleData per position of the block,
 * into ResultData [start, end). */
AMPORA_API void AMPORA_CALL GetAvgValue(struct CPtrList* channels, struct ChannelInfo* target, int32_t start,
                                        int32_t count);
/* GetAvgValueExt: as GetAvgValue from the sources' ResultData. */
AMPORA_API void AMPORA_CALL GetAvgValueExt(struct CPtrList* channels, struct ChannelInfo* target, int32_t start,
                                           int32_t count);
/* GetAvgValueSum: mean of sources 0-2's SummaryValue; writes nothing. */
AMPORA_API double AMPORA_CALL GetAvgValueSum(struct CPtrList* channels, struct ChannelInfo* target);
/* The same routine as GetAvgValueSum. */
AMPORA_API double AMPORA_CALL GetAvgValueExtSum(struct CPtrList* channels, struct ChannelInfo* target);
/* GetHarmonicValue: RMS of harmonic HarmonicOrder (target, truncated) of
 * source 0's SampleData over full-length windows (fftSize a power of two,
 * from 4), trailing ramps as Get3PBy1. A block ending at recordEnd holds its
 * last value up to resultLength. specRe, specIm: fftSize floats. An order
 * outside the spectrum (or not a number) writes nothing. */
AMPORA_API void AMPORA_CALL GetHarmonicValue(struct CPtrList* channels, struct ChannelInfo* target, int32_t start,
                                             int32_t count, int32_t fftSize, float* specRe, float* specIm,
                                             int32_t recordEnd, int32_t resultLength);
/* GetHarmonicValueSum: the same over source 0's ResultData in quarter-window
 * hops; each value at its window's first position of ResultData, the mean
 * returned. */
AMPORA_API double AMPORA_CALL GetHarmonicValueSum(struct CPtrList* channels, struct ChannelInfo* target,
                                                  int32_t start, int32_t length, int32_t fftSize, float* specRe,
                                                  float* specIm);

/* ---- Phase angle and line RMS ---- */
/* GetAngleSum: the angle in degrees of the summary records (SourceIds + 36) of
 * sources 0 and 1 from their SummaryValue; stored in the target's
 * SummaryValue. fftSize is a step (positive); the first argument is not read. */
AMPORA_API double AMPORA_CALL GetAngleSum(struct CPtrList* channels, struct ChannelInfo* target, int32_t unused,
                                          int32_t length, int32_t fftSize);
/* GetAngleToLine: fundamental RMS of a line formed from sources 0-2's
 * SampleData (pair 0: s0 - s1, 1: s1 - s2, other: s2 - s0), trailing ramps
 * into ResultData up to end + q; count of at least fftSize. Two window buffers. */
AMPORA_API void AMPORA_CALL GetAngleToLine(struct CPtrList* channels, struct ChannelInfo* target, int32_t start,
                                           int32_t count, int32_t pair, int32_t fftSize, float* specRe,
                                           float* specIm);
/* GetAngleToLineSum: the line of the sources' ResultData left in the target's
 * ResultData [start, start + length), and the mean fundamental RMS returned. */
AMPORA_API double AMPORA_CALL GetAngleToLineSum(struct CPtrList* channels, struct ChannelInfo* target, int32_t start,
                                                int32_t length, int32_t pair, int32_t fftSize, float* specRe,
                                                float* specIm);

/* ---- Calculation methods ----
 * Source 0 (and 1 for method 2); target CalcCoefA, CalcCoefB (and CalcCoefC).
 * 1: s0 A + B; 2: s1 B + s0 A + C; 3: (s0 - A) B. Each stored value also
 * updates the target's ResultMax and ResultMin, which the host starts. */
/* GetCalculatMethod1: from SampleData into ResultData [start, end). */
AMPORA_API void AMPORA_CALL GetCalculatMethod1(struct CPtrList* channels, struct ChannelInfo* target,
                                               int32_t start, int32_t count);
/* GetCalculatMethod2: from SampleData into ResultData [start, end). */
AMPORA_API void AMPORA_CALL GetCalculatMethod2(struct CPtrList* channels, struct ChannelInfo* target,
                                               int32_t start, int32_t count);
/* GetCalculatMethod3: from SampleData into ResultData [start, end). */
AMPORA_API void AMPORA_CALL GetCalculatMethod3(struct CPtrList* channels, struct ChannelInfo* target,
                                               int32_t start, int32_t count);
/* GetCalculatMethod1Sum: from the sources' ResultData into the target's; returns the mean. */
AMPORA_API double AMPORA_CALL GetCalculatMethod1Sum(struct CPtrList* channels, struct ChannelInfo* target,
                                                    int32_t start, int32_t count);
/* GetCalculatMethod2Sum: from the sources' ResultData into the target's; returns the mean. */
AMPORA_API double AMPORA_CALL GetCalculatMethod2Sum(struct CPtrList* channels, struct ChannelInfo* target,
                                                    int32_t start, int32_t count);
/* GetCalculatMethod3Sum: from the sources' ResultData into the target's; returns the mean. */
AMPORA_API double AMPORA_CALL GetCalculatMethod3Sum(struct CPtrList* channels, struct ChannelInfo* target,
                                                    int32_t start, int32_t count);

/* ---- Power-factor and apparent-power status ----
 * No SourceIds: P is the record at list position ListIndex - 2, Q at
 * ListIndex - 1 (a ListIndex below 2 finds nothing). */
/* GetCosStatus: P / sqrt(P^2 + Q^2) of their ResultData (0 where both are 0)
 * into ResultData [start, end), no position above lastPosition. */
AMPORA_API void AMPORA_CALL GetCosStatus(struct CPtrList* channels, struct ChannelInfo* target, int32_t start,
                                         int32_t count, int32_t lastPosition);
/* GetPSumStatus: sqrt(P^2 + Q^2) per position, as GetCosStatus. */
AMPORA_API void AMPORA_CALL GetPSumStatus(struct CPtrList* channels, struct ChannelInfo* target, int32_t start,
                                          int32_t count, int32_t lastPosition);
/* GetCosStatusSum: the power factor of their SummaryValue; writes nothing. */
AMPORA_API double AMPORA_CALL GetCosStatusSum(struct CPtrList* channels, struct ChannelInfo* target);
/* GetPSumStatusSum: the apparent power of their SummaryValue; writes nothing. */
AMPORA_API double AMPORA_CALL GetPSumStatusSum(struct CPtrList* channels, struct ChannelInfo* target);

/* ---- Sequence components ----
 * Sources 0-2: phases 1-3. The block forms read SampleData and write per
 * quarter window: from start 0 the quarter window below each window's
 * position, from a later start the quarter window from it on, ramping from
 * the entry before; a block leaves its last quarter window (and what lies past
 * a multiple of q) to the next. ResultData of end entries, sources of
 * max(fftSize, end). The Sum forms read ResultData in whole windows, write each
 * value at its window's position and return the mean. */
/* GetZHPart: positive-sequence RMS per position. */
AMPORA_API void AMPORA_CALL GetZHPart(struct CPtrList* channels, struct ChannelInfo* target, int32_t start,
                                      int32_t count, int32_t fftSize);
/* GetFXPart: negative-sequence RMS per position. */
AMPORA_API void AMPORA_CALL GetFXPart(struct CPtrList* channels, struct ChannelInfo* target, int32_t start,
                                      int32_t count, int32_t fftSize);
/* GetLXPart: zero-sequence RMS per position. */
AMPORA_API void AMPORA_CALL GetLXPart(struct CPtrList* channels, struct ChannelInfo* target, int32_t start,
                                      int32_t count, int32_t fftSize);
/* GetZXPartSum: positive-sequence RMS over the record. */
AMPORA_API double AMPORA_CALL GetZXPartSum(struct CPtrList* channels, struct ChannelInfo* target, int32_t start,
                                           int32_t count, int32_t fftSize);
/* GetFXPartSum: negative-sequence RMS over the record. */
AMPORA_API double AMPORA_CALL GetFXPartSum(struct CPtrList* channels, struct ChannelInfo* target, int32_t start,
                                           int32_t count, int32_t fftSize);
/* GetLXPartSum: zero-sequence RMS over the record. */
AMPORA_API double AMPORA_CALL GetLXPartSum(struct CPtrList* channels, struct ChannelInfo* target, int32_t start,
                                           int32_t count, int32_t fftSize);

/* ---- Three-wire line power ----
 * Sources 0-5: U12, I1, U23, I2, U31, I3 (SampleData and PhaseShift; the Sum
 * forms ResultData). Target: CalcKind (2 Q, other P), Scale. Block forms:
 * trailing ramps as Get3PBy1 into ResultData of max(fftSize, end) entries;
 * Sum forms: one value per whole window at its first position, the mean
 * returned. fftSize from 4 (32 for All). */
/* GetThreeLineP: three-wire P or Q, fundamental. */
AMPORA_API void AMPORA_CALL GetThreeLineP(struct CPtrList* channels, struct ChannelInfo* target,
                                          int32_t start, int32_t count, int32_t fftSize);
/* GetThreeLinePAll: three-wire P or Q, harmonics 1 to 21 summed. */
AMPORA_API void AMPORA_CALL GetThreeLinePAll(struct CPtrList* channels, struct ChannelInfo* target,
                                             int32_t start, int32_t count, int32_t fftSize);
/* GetThreeLinePSum: whole-record GetThreeLineP. */
AMPORA_API double AMPORA_CALL GetThreeLinePSum(struct CPtrList* channels, struct ChannelInfo* target,
                                               int32_t start, int32_t count, int32_t fftSize);
/* GetThreeLinePAllSum: whole-record GetThreeLinePAll. */
AMPORA_API double AMPORA_CALL GetThreeLinePAllSum(struct CPtrList* channels, struct ChannelInfo* target,
                                                  int32_t start, int32_t count, int32_t fftSize);

/* ---- Per-sample line power and reactive current ----
 * Sources as the three-wire power (GetTwoLineQIEx: U12, I1, U23, I3). The
 * block forms write ResultData [start, end), averaged over W = windowSize / 6
 * (PEx) or / 2 (QIEx) samples with the running sum in the target's RunningSum
 * (zeroed at start 0); samples from max(0, start - W). A W below 1 writes
 * nothing. */
/* GetThreeLinePEx: P or Q (CalcKind 1, 2) x Scale per position; source 0's
 * DataKind 2 selects the plain formulas on the voltages' SecondaryData. */
AMPORA_API void AMPORA_CALL GetThreeLinePEx(struct CPtrList* channels, struct ChannelInfo* target,
                                            int32_t start, int32_t count, int32_t windowSize);
/* GetThreeLinePExSum: the mean of the plain per-position power over
 * [start, end); writes nothing. */
AMPORA_API double AMPORA_CALL GetThreeLinePExSum(struct CPtrList* channels, struct ChannelInfo* target,
                                                 int32_t start, int32_t count);
/* GetThreeLineQIEx: reactive current component per position. */
AMPORA_API void AMPORA_CALL GetThreeLineQIEx(struct CPtrList* channels, struct ChannelInfo* target,
                                             int32_t start, int32_t count, int32_t windowSize);
/* GetTwoLineQIEx: as GetThreeLineQIEx from two line voltages and two currents. */
AMPORA_API void AMPORA_CALL GetTwoLineQIEx(struct CPtrList* channels, struct ChannelInfo* target,
                                           int32_t start, int32_t count, int32_t windowSize);

/* ---- Positive-sequence power and components ----
 * Sources 0, 2, 4: voltages (line voltages for the Line form), 1, 3, 5:
 * currents, by SampleData and PhaseShift. CalcKind 1-5 selects the quantity
 * (other: 0.0), Scale multiplies it; CalcKind 4 or 5 with a zero voltage
 * component writes infinity or NaN. Trailing ramps as GetThreeLineP. */
/* GetThreeLineZX: from line voltages and phase currents. */
AMPORA_API void AMPORA_CALL GetThreeLineZX(struct CPtrList* channels, struct ChannelInfo* target,
                                           int32_t start, int32_t count, int32_t fftSize);
/* GetThreeAngleZX: from three voltage/current pairs. */
AMPORA_API void AMPORA_CALL GetThreeAngleZX(struct CPtrList* channels, struct ChannelInfo* target,
                                            int32_t start, int32_t count, int32_t fftSize);

/* ---- Delta and two-wattmeter power ----
 * Sources 0-5: three voltage/current pairs (two-wattmeter: 0-3, U from line 1
 * to 2, I1, U from line 2 to 3, I3), by SampleData and PhaseShift (Sum forms:
 * ResultData). Target: CalcKind (1 P, other Q), Scale. Block forms: trailing
 * ramps into ResultData of max(fftSize, end) entries; Sum forms: one value
 * per whole window at its first position, the mean returned. fftSize from 4
 * (32 for All). */
/* GetThreeAngleP: delta P or Q, fundamental. */
AMPORA_API void AMPORA_CALL GetThreeAngleP(struct CPtrList* channels, struct ChannelInfo* target,
                                           int32_t start, int32_t count, int32_t fftSize);
/* GetThreeAnglePAll: delta P or Q, harmonics 1 to 21 summed. */
AMPORA_API void AMPORA_CALL GetThreeAnglePAll(struct CPtrList* channels, struct ChannelInfo* target,
                                              int32_t start, int32_t count, int32_t fftSize);
/* GetTwoAngleP: two-wattmeter P or Q, fundamental. */
AMPORA_API void AMPORA_CALL GetTwoAngleP(struct CPtrList* channels, struct ChannelInfo* target,
                                         int32_t start, int32_t count, int32_t fftSize);
/* GetTwoAnglePAll: two-wattmeter P or Q, harmonics 1 to 21 summed. */
AMPORA_API void AMPORA_CALL GetTwoAnglePAll(struct CPtrList* channels, struct ChannelInfo* target,
                                            int32_t start, int32_t count, int32_t fftSize);
/* GetThreeAnglePSum: whole-record GetThreeAngleP. */
AMPORA_API double AMPORA_CALL GetThreeAnglePSum(struct CPtrList* channels, struct ChannelInfo* target,
                                                int32_t start, int32_t count, int32_t fftSize);
/* GetThreeAnglePAllSum: whole-record GetThreeAnglePAll. */
AMPORA_API double AMPORA_CALL GetThreeAnglePAllSum(struct CPtrList* channels, struct ChannelInfo* target,
                                                   int32_t start, int32_t count, int32_t fftSize);
/* GetTwoAnglePSum: whole-record GetTwoAngleP. */
AMPORA_API double AMPORA_CALL GetTwoAnglePSum(struct CPtrList* channels, struct ChannelInfo* target,
                                              int32_t start, int32_t count, int32_t fftSize);
/* GetTwoAnglePAllSum: whole-record GetTwoAnglePAll. */
AMPORA_API double AMPORA_CALL GetTwoAnglePAllSum(struct CPtrList* channels, struct ChannelInfo* target,
                                                 int32_t start, int32_t count, int32_t fftSize);

/* ---- Per-sample delta and two-wattmeter power ----
 * Sources as above. Block forms write ResultData [start, end), averaged over
 * W = windowSize / 3 (PEx) or / 2 (QIEx) with RunningSum as GetThreeLinePEx;
 * source 0's DataKind 2 selects the plain formulas on SecondaryData. */
/* GetThreeAnglePEx: delta P or Q (CalcKind 1, 2) x Scale per position. */
AMPORA_API void AMPORA_CALL GetThreeAnglePEx(struct CPtrList* channels, struct ChannelInfo* target,
                                             int32_t start, int32_t count, int32_t windowSize);
/* GetTwoAnglePEx: two-wattmeter P or Q x Scale per position. */
AMPORA_API void AMPORA_CALL GetTwoAnglePEx(struct CPtrList* channels, struct ChannelInfo* target,
                                           int32_t start, int32_t count, int32_t windowSize);
/* GetThreeAngleQIEx: reactive current component per position, three pairs. */
AMPORA_API void AMPORA_CALL GetThreeAngleQIEx(struct CPtrList* channels, struct ChannelInfo* target,
                                              int32_t start, int32_t count, int32_t windowSize);
/* GetThreeAnglePExSum: mean of the per-position delta power over [start, end); writes nothing. */
AMPORA_API double AMPORA_CALL GetThreeAnglePExSum(struct CPtrList* channels, struct ChannelInfo* target,
                                                  int32_t start, int32_t count);
/* GetTwoAnglePExSum: mean of the per-position two-wattmeter power; writes nothing. */
AMPORA_API double AMPORA_CALL GetTwoAnglePExSum(struct CPtrList* channels, struct ChannelInfo* target,
                                                int32_t start, int32_t count);

/* ---- Power averaging ---- */
/* GetPowerAvg: fundamental RMS of source 0's SampleData, leading ramps as GetP
 * into ResultData up to end + q; a block ending at recordEnd holds its last
 * value up to resultLength. Two window buffers. */
AMPORA_API void AMPORA_CALL GetPowerAvg(struct CPtrList* channels, struct ChannelInfo* target, int32_t start,
                                        int32_t count, int32_t fftSize, float* spec0Re, float* spec0Im,
                                        int32_t recordEnd, int32_t resultLength);
/* GetPowerAvgSum: fundamental RMS of source 0's ResultData in quarter-window
 * hops, each at its window's first position of ResultData; the mean returned. */
AMPORA_API double AMPORA_CALL GetPowerAvgSum(struct CPtrList* channels, struct ChannelInfo* target, int32_t start,
                                             int32_t count, int32_t fftSize, float* spec0Re, float* spec0Im);
/* GetPSum: P or Q (CalcKind 1, 2; other 0) x Scale of sources 0 and 1's
 * ResultData in whole windows, each at its first position; the mean returned.
 * Four window buffers. */
AMPORA_API double AMPORA_CALL GetPSum(struct CPtrList* channels, struct ChannelInfo* target, int32_t start,
                                      int32_t count, int32_t fftSize, float* spec0Re, float* spec0Im,
                                      float* spec1Re, float* spec1Im);
/* GetPowerAvgSumExtra: mean RMS of source 0's ResultData over each period
 * between rising zero crossings (periods from 2 ms) up to count - 2 margin;
 * writes nothing. */
AMPORA_API double AMPORA_CALL GetPowerAvgSumExtra(struct CPtrList* channels, struct ChannelInfo* target,
                                                  int32_t start, int32_t count, int32_t margin,
                                                  double samplesPerMs, int32_t totalSamples);
/* GetPowerAvgExtra: RMS of source 0's SampleData over each detected period
 * (presence: 2 % of its RatedValue), ramped, written over the period; a
 * sliding 20 ms RMS where no period is found. State in the target:
 * TrackState[0..1], PeriodFrequency, PeriodEndIndex, QuietCount,
 * LastBlockEnd (zeroed by the host before a record). reserved, resetAtEnd: not read. */
AMPORA_API void AMPORA_CALL GetPowerAvgExtra(struct CPtrList* channels, struct ChannelInfo* target, int32_t start,
                                             int32_t count, int32_t reserved, double samplesPerMs,
                                             int32_t resetAtEnd);
/* GetPowerAvgSelf: RMS per detected cycle of the target's own SampleData
 * (SecondaryData when DataKind is 2), written into its ResultData; no sources,
 * but channels must not be null. Reads UnitText, FullScale, Scale, RatedValue;
 * state CycleStart, CycleWriteEnd, PeriodFrequency, LastBlockEnd. */
AMPORA_API void AMPORA_CALL GetPowerAvgSelf(struct CPtrList* channels, struct ChannelInfo* target, int32_t start,
                                            int32_t count, int32_t reserved, double samplesPerMs,
                                            int32_t totalSamples, int32_t fillEnd, int32_t holdMode);

/* ---- Frequency ----
 * Source 0's SampleData crosses the level (SampleMax + SampleMin) / 2 rising;
 * refreshExtremes (singleShot) nonzero first recomputes the source's SampleMax
 * and SampleMin over [0, totalSamples). Curves: the frequency per position in
 * ResultData, rewritten back to the oldest crossing kept; positions after the
 * last crossing hold the last value until the next. The host zeroes the state
 * fields before a record's first block. */
/* GetFrequenceStatus: over three periods (samplesPer20ms x 50 / period, in Hz);
 * presence 1 % of the source's FullScale; state TrackState[1..5], HeldValue,
 * LastBlockEnd. Positions are kept as floats: resolution coarsens with the
 * record's length (use GetFrequenceStatus2 beyond a few seconds). */
AMPORA_API void AMPORA_CALL GetFrequenceStatus(struct CPtrList* channels, struct ChannelInfo* target, int32_t start,
                                               int32_t count, int32_t samplesPer20ms, double samplesPerMs,
                                               int32_t totalSamples, int32_t refreshExtremes);
/* GetFrequenceStatus2: period by period (samplesPerMs x 1000 / period), dead
 * time 0.5 ms; presence 2 % of RatedValue; state TrackState[0..2, 4, 5],
 * LastBlockEnd, PeriodEndIndex, QuietCount. Positions kept as doubles. */
AMPORA_API void AMPORA_CALL GetFrequenceStatus2(struct CPtrList* channels, struct ChannelInfo* target, int32_t start,
                                                int32_t count, double samplesPerMs, int32_t totalSamples,
                                                int32_t singleShot);
/* GetFrequenceStatusSum: with UseSource nonzero the frequency per position of
 * source 0's ResultData, written into the target's ResultData [start, end);
 * with UseSource 0 the target's own ResultData, measured through a copy and
 * not written. Returns the values' sum / count. */
AMPORA_API double AMPORA_CALL GetFrequenceStatusSum(struct CPtrList* channels, struct ChannelInfo* target, int32_t start,
                                                    int32_t count, double samplesPerMs, int32_t tailMargin,
                                                    int32_t totalSamples);

/* ---- Rotational speed ---- */
/* GetRPM: rev/min from one pulse per revolution, the tracker of
 * GetFrequenceStatus with its state fields; a flat source (both extremes below
 * 1 % of FullScale) writes nothing. */
AMPORA_API void AMPORA_CALL GetRPM(struct CPtrList* channels, struct ChannelInfo* target, int32_t start, int32_t count,
                                   int32_t samplesPer20ms, double samplesPerMs, int32_t totalSamples,
                                   int32_t refreshExtremes);
/* GetBSCLRPM: rev/min over one revolution of trunc(PulsesPerRev) pulses; the
 * crossings go through the target's CrossingQueue, which the host constructs
 * with at least PulsesPerRev + 1 entries of 0.0 (none: nothing written).
 * State TrackState[1], TrackState[3], HeldValue, LastBlockEnd. */
AMPORA_API void AMPORA_CALL GetBSCLRPM(struct CPtrList* channels, struct ChannelInfo* target, int32_t start, int32_t count,
                                       int32_t samplesPer20ms, double samplesPerMs, int32_t totalSamples,
                                       int32_t refreshExtremes);
/* GetRPMSum: mean speed over [start, end) of source 0's ResultData from every
 * mid-level crossing; writes nothing. */
AMPORA_API double AMPORA_CALL GetRPMSum(struct CPtrList* channels, struct ChannelInfo* target, int32_t start, int32_t count,
                                        int32_t samplesPer20ms);

/* ---- Channel arithmetic ----
 * Sources 0 (A) and 1 (B), by ChannelId always; ResultData [start, end). */
/* GetReduce: B - A of their SampleData. */
AMPORA_API void AMPORA_CALL GetReduce(struct CPtrList* channels, struct ChannelInfo* target, int32_t start,
                                      int32_t count);
/* GetSubtraction: A - B of their SampleData. */
AMPORA_API void AMPORA_CALL GetSubtraction(struct CPtrList* channels, struct ChannelInfo* target, int32_t start,
                                      int32_t count);
/* GetPWMAngle: the control angle in degrees of a six-pulse converter from A's
 * (AC line voltage) and B's (DC voltage) ResultData. */
AMPORA_API void AMPORA_CALL GetPWMAngle(struct CPtrList* channels, struct ChannelInfo* target, int32_t start,
                                      int32_t count);

/* ---- Synchronous machine EMF and power angle ----
 * Records by ChannelId always; "summary record" of a source is the record with
 * ChannelId SourceIds[k] + 36, holding its whole-record values. */
/* GetEqYJJ: EMF magnitude from the SummaryValue of a voltage and a current
 * record (per unit of uBase, iBase), resistance r, reactance x, angle phi;
 * writes nothing; a null record gives 0.0. */
AMPORA_API double AMPORA_CALL GetEqYJJ(struct ChannelInfo* uChannel, struct ChannelInfo* iChannel, double uBase,
                                       double iBase, double r, double x, float phi);
/* GetEqTJJ: as GetEqYJJ with 0.8 x on the reactance. */
AMPORA_API double AMPORA_CALL GetEqTJJ(struct ChannelInfo* uChannel, struct ChannelInfo* iChannel, double uBase,
                                       double iBase, double r, double x, float phi);
/* GetKmByEq: the saturation factor of EMF eq from the record's KmTable; 1.0
 * for a null record. */
AMPORA_API double AMPORA_CALL GetKmByEq(struct ChannelInfo* record, float eq);
/* GetGJ3Sum: calculated power angle in degrees from the voltage (source 0,
 * with the machine fields), current (1, KmTable) and the P and Q summary
 * records of sources 2 and 3; stored in the target's SummaryValue, the
 * unsaturated angle in SummaryAux[1]; 0.0 when count < step. */
AMPORA_API double AMPORA_CALL GetGJ3Sum(struct CPtrList* channels, struct ChannelInfo* target, int32_t start,
                                        int32_t count, int32_t step);
/* GetGJ4Sum: a power angle from stored angles (summary records of sources
 * 0-3, source 4 present); stored in the target's SummaryValue. */
AMPORA_API double AMPORA_CALL GetGJ4Sum(struct CPtrList* channels, struct ChannelInfo* target, int32_t start,
                                        int32_t count, int32_t step);
/* The same routine as GetGJ4Sum. */
AMPORA_API double AMPORA_CALL GetGJ6Sum(struct CPtrList* channels, struct ChannelInfo* target, int32_t start,
                                        int32_t count, int32_t step);
/* GetGJSum: measured power angle from the key pulse (source 1's ResultData)
 * to the voltage's rising crossings (source 0's ResultData), frequency from
 * the summary record of source 2; stores KeyLevel in source 0 when it is 0.0. */
AMPORA_API double AMPORA_CALL GetGJSum(struct CPtrList* channels, struct ChannelInfo* target, int32_t start,
                                       int32_t count, double samplesPerMs, int32_t totalSamples);
/* GetGJ5Sum: as GetGJSum with 3000 / RatedSpeed voltage periods per
 * revolution, the key level the mean of [0, levelSamples); writes nothing. */
AMPORA_API double AMPORA_CALL GetGJ5Sum(struct CPtrList* channels, struct ChannelInfo* target, int32_t start,
                                        int32_t count, double samplesPerMs, int32_t levelSamples);
/* GetJXtmp: SummaryAux[1] of the summary record of source 0; writes nothing. */
AMPORA_API double AMPORA_CALL GetJXtmp(struct CPtrList* channels, struct ChannelInfo* target);

/* ---- Voltage and angle summaries ----
 * puParams: at least 13 floats ([0] voltage base, [1] current base, [2]
 * terminal voltage base, [6] ratio, [8] transformer reactance, [11], [12]
 * line impedance); null returns 0.0. They hand phasors and angles on through
 * SummaryAux: call GetUTSum (or GetUX2Sum), then GetUXSum, then the angles. */
/* GetUTSum: the voltage through a transformer, mean over whole windows of
 * sources 0 (voltage) and 1 (current)'s ResultData from start; writes
 * SummaryAux[0..1] of the target and both sources. */
AMPORA_API double AMPORA_CALL GetUTSum(struct CPtrList* channels, struct ChannelInfo* target, int32_t start,
                                       int32_t count, int32_t fftSize, float* puParams);
/* GetUX2Sum: one window at start of sources 0-2's ResultData, through the
 * transformer and the line; writes SummaryAux of the three sources. */
AMPORA_API double AMPORA_CALL GetUX2Sum(struct CPtrList* channels, struct ChannelInfo* target, int32_t start,
                                        int32_t count, int32_t fftSize, float* puParams);
/* GetUXSum: through the line from SummaryAux of source 0's summary record and
 * source 1; writes SummaryAux[2] of source 2. */
AMPORA_API double AMPORA_CALL GetUXSum(struct CPtrList* channels, struct ChannelInfo* target, int32_t unused0,
                                       int32_t unused1, int32_t unused2, float* puParams);
/* GetAngleTSum: angle in degrees from source 0's SummaryAux and the summary
 * record of source 1; writes nothing. */
AMPORA_API double AMPORA_CALL GetAngleTSum(struct CPtrList* channels, struct ChannelInfo* target);
/* GetAngleXSum: as GetAngleTSum with SummaryAux[0] and [2]. */
AMPORA_API double AMPORA_CALL GetAngleXSum(struct CPtrList* channels, struct ChannelInfo* target);
/* GetAngleX2Sum: as GetAngleTSum with SummaryAux[1] and [2]. */
AMPORA_API double AMPORA_CALL GetAngleX2Sum(struct CPtrList* channels, struct ChannelInfo* target);

#ifdef __cplusplus
}
#endif

#endif /* AMPORA_H */
