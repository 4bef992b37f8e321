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
AMPORA_API void AMPORA_CALL GetThreeLinePEx(struct CPtrList* channels, struct ChannelInfo* target,
                                            int32_t start, int32_t count, int32_t windowSize);
AMPORA_API double AMPORA_CALL GetThreeLinePExSum(struct CPtrList* channels, struct ChannelInfo* target,
                                                 int32_t start, int32_t count);
AMPORA_API void AMPORA_CALL GetThreeLineQIEx(struct CPtrList* channels, struct ChannelInfo* target,
                                             int32_t start, int32_t count, int32_t windowSize);
AMPORA_API void AMPORA_CALL GetTwoLineQIEx(struct CPtrList* channels, struct ChannelInfo* target,
                                           int32_t start, int32_t count, int32_t windowSize);

/* ---- Positive-sequence power and components ---- */

/* ---- Delta and two-wattmeter power by harmonics ---- */

/* ---- Delta and two-wattmeter power, whole record ---- */

/* ---- Instantaneous delta and two-wattmeter power ---- */
AMPORA_API void AMPORA_CALL GetThreeAnglePEx(struct CPtrList* channels, struct ChannelInfo* target,
                                             int32_t start, int32_t count, int32_t windowSize);
AMPORA_API void AMPORA_CALL GetTwoAnglePEx(struct CPtrList* channels, struct ChannelInfo* target,
                                           int32_t start, int32_t count, int32_t windowSize);
AMPORA_API void AMPORA_CALL GetThreeAngleQIEx(struct CPtrList* channels, struct ChannelInfo* target,
                                              int32_t start, int32_t count, int32_t windowSize);
AMPORA_API double AMPORA_CALL GetThreeAnglePExSum(struct CPtrList* channels, struct ChannelInfo* target,
                                                  int32_t start, int32_t count);
AMPORA_API double AMPORA_CALL GetTwoAnglePExSum(struct CPtrList* channels, struct ChannelInfo* target,
                                                int32_t start, int32_t count);

/* ---- Power averaging ---- */

/* ---- Frequency ---- */

/* ---- Rotational speed ---- */

/* ---- Channel arithmetic ---- */

/* ---- Synchronous machine EMF and power angle ---- */

/* ---- Voltage and angle summaries ---- */

#ifdef __cplusplus
}
#endif

#endif /* AMPORA_H */
