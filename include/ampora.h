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
AMPORA_API void AMPORA_CALL GetThreeLinePEx(struct CPtrList* channels, struct ChannelInfo* target,
                                            int32_t start, int32_t count, int32_t windowSize);
AMPORA_API double AMPORA_CALL GetThreeLinePExSum(struct CPtrList* channels, struct ChannelInfo* target,
                                                 int32_t start, int32_t count);
AMPORA_API void AMPORA_CALL GetThreeLineQIEx(struct CPtrList* channels, struct ChannelInfo* target,
                                             int32_t start, int32_t count, int32_t windowSize);
AMPORA_API void AMPORA_CALL GetTwoLineQIEx(struct CPtrList* channels, struct ChannelInfo* target,
                                           int32_t start, int32_t count, int32_t windowSize);

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
AMPORA_API void AMPORA_CALL GetPowerAvg(struct CPtrList* channels, struct ChannelInfo* target, int32_t start,
                                        int32_t count, int32_t fftSize, float* spec0Re, float* spec0Im,
                                        int32_t recordEnd, int32_t resultLength);
AMPORA_API double AMPORA_CALL GetPowerAvgSum(struct CPtrList* channels, struct ChannelInfo* target, int32_t start,
                                             int32_t count, int32_t fftSize, float* spec0Re, float* spec0Im);
AMPORA_API double AMPORA_CALL GetPSum(struct CPtrList* channels, struct ChannelInfo* target, int32_t start,
                                      int32_t count, int32_t fftSize, float* spec0Re, float* spec0Im,
                                      float* spec1Re, float* spec1Im);
AMPORA_API double AMPORA_CALL GetPowerAvgSumExtra(struct CPtrList* channels, struct ChannelInfo* target,
                                                  int32_t start, int32_t count, int32_t margin,
                                                  double samplesPerMs, int32_t totalSamples);
AMPORA_API void AMPORA_CALL GetPowerAvgExtra(struct CPtrList* channels, struct ChannelInfo* target, int32_t start,
                                             int32_t count, int32_t reserved, double samplesPerMs,
                                             int32_t resetAtEnd);
AMPORA_API void AMPORA_CALL GetPowerAvgSelf(struct CPtrList* channels, struct ChannelInfo* target, int32_t start,
                                            int32_t count, int32_t reserved, double samplesPerMs,
                                            int32_t totalSamples, int32_t fillEnd, int32_t holdMode);

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
AMPORA_API double AMPORA_CALL GetEqYJJ(struct ChannelInfo* uChannel, struct ChannelInfo* iChannel, double uBase,
                                       double iBase, double r, double x, float phi);
AMPORA_API double AMPORA_CALL GetEqTJJ(struct ChannelInfo* uChannel, struct ChannelInfo* iChannel, double uBase,
                                       double iBase, double r, double x, float phi);
AMPORA_API double AMPORA_CALL GetKmByEq(struct ChannelInfo* record, float eq);
AMPORA_API double AMPORA_CALL GetGJ3Sum(struct CPtrList* channels, struct ChannelInfo* target, int32_t start,
                                        int32_t count, int32_t step);
AMPORA_API double AMPORA_CALL GetGJ4Sum(struct CPtrList* channels, struct ChannelInfo* target, int32_t start,
                                        int32_t count, int32_t step);
/* The same routine as GetGJ4Sum. */
AMPORA_API double AMPORA_CALL GetGJ6Sum(struct CPtrList* channels, struct ChannelInfo* target, int32_t start,
                                        int32_t count, int32_t step);
AMPORA_API double AMPORA_CALL GetGJSum(struct CPtrList* channels, struct ChannelInfo* target, int32_t start,
                                       int32_t count, double samplesPerMs, int32_t totalSamples);
AMPORA_API double AMPORA_CALL GetGJ5Sum(struct CPtrList* channels, struct ChannelInfo* target, int32_t start,
                                        int32_t count, double samplesPerMs, int32_t levelSamples);
AMPORA_API double AMPORA_CALL GetJXtmp(struct CPtrList* channels, struct ChannelInfo* target);

/* ---- Voltage and angle summaries ---- */
AMPORA_API double AMPORA_CALL GetUTSum(struct CPtrList* channels, struct ChannelInfo* target, int32_t start,
                                       int32_t count, int32_t fftSize, float* puParams);
AMPORA_API double AMPORA_CALL GetUX2Sum(struct CPtrList* channels, struct ChannelInfo* target, int32_t start,
                                        int32_t count, int32_t fftSize, float* puParams);
AMPORA_API double AMPORA_CALL GetUXSum(struct CPtrList* channels, struct ChannelInfo* target, int32_t unused0,
                                       int32_t unused1, int32_t unused2, float* puParams);
AMPORA_API double AMPORA_CALL GetAngleTSum(struct CPtrList* channels, struct ChannelInfo* target);
AMPORA_API double AMPORA_CALL GetAngleXSum(struct CPtrList* channels, struct ChannelInfo* target);
AMPORA_API double AMPORA_CALL GetAngleX2Sum(struct CPtrList* channels, struct ChannelInfo* target);

#ifdef __cplusplus
}
#endif

#endif /* AMPORA_H */
