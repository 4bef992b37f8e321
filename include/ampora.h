/*
 * Ampora: power-measurement computations for a data-acquisition host.
 *
 * Every export is cdecl, undecorated, and takes the host's channel list first
 * and the record of the channel being computed second. The host owns the list,
 * every record, every array and every work buffer; the library keeps no state
 * of its own between calls beyond what it writes into the records.
 *
 * Records (ChannelInfo) are byte-packed with fixed offsets; their array fields
 * hold 32-bit addresses. A 64-bit host must place every array a record points
 * to below 4 GiB. The list (CPtrList) has the class framework's layout:
 * { object header; head; tail; count; free list; blocks; block size } with
 * nodes { next; previous; data }, all of native pointer width.
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

struct CPtrList;
struct ChannelInfo;

/* ---- Single-phase harmonic power, block by block ---- */

/* ---- Single-phase harmonic power, whole record ---- */

/* ---- Averages and harmonic magnitude ---- */

/* ---- Phase angle and line RMS ---- */

/* ---- Calculation methods ---- */
AMPORA_API void AMPORA_CALL GetCalculatMethod1(struct CPtrList* channels, struct ChannelInfo* target,
                                               int32_t start, int32_t count);
AMPORA_API void AMPORA_CALL GetCalculatMethod2(struct CPtrList* channels, struct ChannelInfo* target,
                                               int32_t start, int32_t count);
AMPORA_API void AMPORA_CALL GetCalculatMethod3(struct CPtrList* channels, struct ChannelInfo* target,
                                               int32_t start, int32_t count);
AMPORA_API double AMPORA_CALL GetCalculatMethod1Sum(struct CPtrList* channels, struct ChannelInfo* target,
                                                    int32_t start, int32_t count);
AMPORA_API double AMPORA_CALL GetCalculatMethod2Sum(struct CPtrList* channels, struct ChannelInfo* target,
                                                    int32_t start, int32_t count);
AMPORA_API double AMPORA_CALL GetCalculatMethod3Sum(struct CPtrList* channels, struct ChannelInfo* target,
                                                    int32_t start, int32_t count);

/* ---- Power-factor and apparent-power status ---- */

/* ---- Sequence components ---- */

/* ---- Three-wire line power by harmonics ---- */

/* ---- Three-wire line power, whole record ---- */

/* ---- Instantaneous line power and reactive current ---- */

/* ---- Positive-sequence power and components ---- */

/* ---- Delta and two-wattmeter power by harmonics ---- */

/* ---- Delta and two-wattmeter power, whole record ---- */

/* ---- Instantaneous delta and two-wattmeter power ---- */

/* ---- Power averaging ---- */

/* ---- Frequency ---- */
AMPORA_API void AMPORA_CALL GetFrequenceStatus(struct CPtrList* channels, struct ChannelInfo* target, int32_t start,
                                               int32_t count, int32_t samplesPer20ms, double samplesPerMs,
                                               int32_t totalSamples, int32_t refreshExtremes);
AMPORA_API void AMPORA_CALL GetFrequenceStatus2(struct CPtrList* channels, struct ChannelInfo* target, int32_t start,
                                                int32_t count, double samplesPerMs, int32_t totalSamples,
                                                int32_t singleShot);
AMPORA_API double AMPORA_CALL GetFrequenceStatusSum(struct CPtrList* channels, struct ChannelInfo* target, int32_t start,
                                                    int32_t count, double samplesPerMs, int32_t tailMargin,
                                                    int32_t totalSamples);

/* ---- Rotational speed ---- */
AMPORA_API void AMPORA_CALL GetRPM(struct CPtrList* channels, struct ChannelInfo* target, int32_t start, int32_t count,
                                   int32_t samplesPer20ms, double samplesPerMs, int32_t totalSamples,
                                   int32_t refreshExtremes);
AMPORA_API void AMPORA_CALL GetBSCLRPM(struct CPtrList* channels, struct ChannelInfo* target, int32_t start, int32_t count,
                                       int32_t samplesPer20ms, double samplesPerMs, int32_t totalSamples,
                                       int32_t refreshExtremes);
AMPORA_API double AMPORA_CALL GetRPMSum(struct CPtrList* channels, struct ChannelInfo* target, int32_t start, int32_t count,
                                        int32_t samplesPer20ms);

/* ---- Channel arithmetic ---- */

/* ---- Synchronous machine EMF and power angle ---- */

/* ---- Voltage and angle summaries ---- */

#ifdef __cplusplus
}
#endif

#endif /* AMPORA_H */
