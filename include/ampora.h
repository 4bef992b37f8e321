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
AMPORA_API void AMPORA_CALL Get3PBy1(struct CPtrList* channels, struct ChannelInfo* target, int32_t start,
                                     int32_t count, int32_t fftSize, float* spec0Re, float* spec0Im,
                                     float* spec1Re, float* spec1Im);
AMPORA_API void AMPORA_CALL Get3PBy1All(struct CPtrList* channels, struct ChannelInfo* target, int32_t start,
                                        int32_t count, int32_t fftSize, float* spec0Re, float* spec0Im,
                                        float* spec1Re, float* spec1Im);
AMPORA_API void AMPORA_CALL GetP(struct CPtrList* channels, struct ChannelInfo* target, int32_t start,
                                 int32_t count, int32_t fftSize, float* spec0Re, float* spec0Im,
                                 float* spec1Re, float* spec1Im);
AMPORA_API void AMPORA_CALL GetPAll(struct CPtrList* channels, struct ChannelInfo* target, int32_t start,
                                    int32_t count, int32_t fftSize, float* spec0Re, float* spec0Im,
                                    float* spec1Re, float* spec1Im);
AMPORA_API void AMPORA_CALL Get3PBy1Line(struct CPtrList* channels, struct ChannelInfo* target, int32_t start,
                                         int32_t count, int32_t fftSize, float* spec0Re, float* spec0Im,
                                         float* spec1Re, float* spec1Im);
AMPORA_API void AMPORA_CALL Get3PBy1LineAll(struct CPtrList* channels, struct ChannelInfo* target,
                                            int32_t start, int32_t count, int32_t fftSize, float* spec0Re,
                                            float* spec0Im, float* spec1Re, float* spec1Im);

/* ---- Single-phase harmonic power, whole record ---- */
AMPORA_API double AMPORA_CALL Get3PBy1Sum(struct CPtrList* channels, struct ChannelInfo* target,
                                          int32_t start, int32_t length, int32_t fftSize, float* spec0Re,
                                          float* spec0Im, float* spec1Re, float* spec1Im);
AMPORA_API double AMPORA_CALL Get3PBy1LineSum(struct CPtrList* channels, struct ChannelInfo* target,
                                              int32_t start, int32_t length, int32_t fftSize, float* spec0Re,
                                              float* spec0Im, float* spec1Re, float* spec1Im);
AMPORA_API double AMPORA_CALL Get3PBy1AllSum(struct CPtrList* channels, struct ChannelInfo* target,
                                             int32_t start, int32_t length, int32_t fftSize, float* spec0Re,
                                             float* spec0Im, float* spec1Re, float* spec1Im);
AMPORA_API double AMPORA_CALL Get3PBy1LineAllSum(struct CPtrList* channels, struct ChannelInfo* target,
                                                 int32_t start, int32_t length, int32_t fftSize,
                                                 float* spec0Re, float* spec0Im, float* spec1Re,
                                                 float* spec1Im);
AMPORA_API double AMPORA_CALL GetPAllSum(struct CPtrList* channels, struct ChannelInfo* target, int32_t start,
                                         int32_t length, int32_t fftSize, float* spec0Re, float* spec0Im,
                                         float* spec1Re, float* spec1Im);

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
AMPORA_API void AMPORA_CALL GetThreeLineP(struct CPtrList* channels, struct ChannelInfo* target,
                                          int32_t start, int32_t count, int32_t fftSize);
AMPORA_API void AMPORA_CALL GetThreeLinePAll(struct CPtrList* channels, struct ChannelInfo* target,
                                             int32_t start, int32_t count, int32_t fftSize);

/* ---- Three-wire line power, whole record ---- */
AMPORA_API double AMPORA_CALL GetThreeLinePSum(struct CPtrList* channels, struct ChannelInfo* target,
                                               int32_t start, int32_t count, int32_t fftSize);
AMPORA_API double AMPORA_CALL GetThreeLinePAllSum(struct CPtrList* channels, struct ChannelInfo* target,
                                                  int32_t start, int32_t count, int32_t fftSize);

/* ---- Instantaneous line power and reactive current ---- */

/* ---- Positive-sequence power and components ---- */
AMPORA_API void AMPORA_CALL GetThreeLineZX(struct CPtrList* channels, struct ChannelInfo* target,
                                           int32_t start, int32_t count, int32_t fftSize);
AMPORA_API void AMPORA_CALL GetThreeAngleZX(struct CPtrList* channels, struct ChannelInfo* target,
                                            int32_t start, int32_t count, int32_t fftSize);

/* ---- Delta and two-wattmeter power by harmonics ---- */
AMPORA_API void AMPORA_CALL GetThreeAngleP(struct CPtrList* channels, struct ChannelInfo* target,
                                           int32_t start, int32_t count, int32_t fftSize);
AMPORA_API void AMPORA_CALL GetThreeAnglePAll(struct CPtrList* channels, struct ChannelInfo* target,
                                              int32_t start, int32_t count, int32_t fftSize);
AMPORA_API void AMPORA_CALL GetTwoAngleP(struct CPtrList* channels, struct ChannelInfo* target,
                                         int32_t start, int32_t count, int32_t fftSize);
AMPORA_API void AMPORA_CALL GetTwoAnglePAll(struct CPtrList* channels, struct ChannelInfo* target,
                                            int32_t start, int32_t count, int32_t fftSize);

/* ---- Delta and two-wattmeter power, whole record ---- */
AMPORA_API double AMPORA_CALL GetThreeAnglePSum(struct CPtrList* channels, struct ChannelInfo* target,
                                                int32_t start, int32_t count, int32_t fftSize);
AMPORA_API double AMPORA_CALL GetThreeAnglePAllSum(struct CPtrList* channels, struct ChannelInfo* target,
                                                   int32_t start, int32_t count, int32_t fftSize);
AMPORA_API double AMPORA_CALL GetTwoAnglePSum(struct CPtrList* channels, struct ChannelInfo* target,
                                              int32_t start, int32_t count, int32_t fftSize);
AMPORA_API double AMPORA_CALL GetTwoAnglePAllSum(struct CPtrList* channels, struct ChannelInfo* target,
                                                 int32_t start, int32_t count, int32_t fftSize);

/* ---- Instantaneous delta and two-wattmeter power ---- */

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
