/* A host in strict C11 with nothing of the library but its public header: it
 * builds two channel records, a target and the list, calls a block export and
 * a record export, and checks the values and that the block call wrote its
 * results and nothing of the target record. */
#define _GNU_SOURCE
#include <stdint.h>
#include <stdio.h>
#include <string.h>
#include <sys/mman.h>

#include "ampora.h"

_Static_assert(sizeof(struct ChannelInfo) == 1978, "the part of the record the library knows");

enum { kPositions = 8 };

/* The record's array fields are 32-bit addresses: a 64-bit host maps the arrays low. */
static void* LowBytes(size_t n) {
    int flags = MAP_PRIVATE | MAP_ANONYMOUS;
#if defined(MAP_32BIT)
    if (sizeof(void*) > 4) flags |= MAP_32BIT;
#endif
    void* p = mmap(NULL, n, PROT_READ | PROT_WRITE, flags, -1, 0);
    return p == MAP_FAILED || ((uint64_t)(uintptr_t)p >> 32) != 0 ? NULL : p;
}

static uint32_t Address(const void* p) { return (uint32_t)(uintptr_t)p; }

int main(void) {
    struct ChannelInfo records[3], before;
    struct CNode nodes[2] = {{&nodes[1], NULL, &records[0]}, {NULL, &nodes[0], &records[1]}};
    struct CPtrList list = {NULL, &nodes[0], &nodes[1], 2, NULL, NULL, 10};
    float* samples = LowBytes(3 * kPositions * sizeof(float));
    uint8_t* ids = LowBytes(2);
    int k, failed = 0;
    if (samples == NULL || ids == NULL) return fprintf(stderr, "c_host: no memory below 4 GiB\n"), 1;

    /* Channels 1 and 2 hold 1·n and 2·n; the target (3) computes channel 1 minus channel 2. */
    memset(records, 0xA5, sizeof records);   /* the host's own bytes */
    for (k = 0; k < 2 * kPositions; ++k) samples[k] = (float)((k / kPositions + 1) * (k % kPositions));
    for (k = 0; k < 3; ++k) records[k].ChannelId = (uint32_t)(k + 1);
    records[0].SampleData = Address(samples);
    records[1].SampleData = Address(samples + kPositions);
    ids[0] = 1, ids[1] = 2;
    records[2].SourceIds = Address(ids);
    records[2].ResultData = Address(samples + 2 * kPositions);
    before = records[2];

    GetSubtraction(&list, &records[2], 0, kPositions);
    for (k = 0; k < kPositions; ++k) failed |= samples[2 * kPositions + k] != (float)-k;
    failed |= memcmp(&before, &records[2], sizeof before) != 0;
    /* The saturation factor of an EMF below the table is its first entry; of no record, 1.0. */
    records[0].KmTable[0] = 0.75;
    failed |= GetKmByEq(&records[0], 0.85f) != 0.75 || GetKmByEq(NULL, 1.0f) != 1.0;
    if (failed) fprintf(stderr, "c_host: an export gave other values than its contract\n");
    return failed;
}
