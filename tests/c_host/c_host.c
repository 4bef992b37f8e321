/* A host written in C, with nothing of the library but its public header: it
 * builds a list of two recorded channels and a target record, calls one block
 * export and one record export, and checks their values and that the block
 * call wrote its results and nothing of the target record. Compiled as strict C11 (-pedantic -Werror),
 * so the header is checked as a C host sees it. */
#define _GNU_SOURCE
#include <stddef.h>
#include <stdint.h>
#include <stdio.h>
#include <string.h>
#include <sys/mman.h>

#include "ampora.h"

/* The C compiler lays the record out as the library does. */
_Static_assert(offsetof(struct ChannelInfo, MachineKind) == 311, "MachineKind");
_Static_assert(offsetof(struct ChannelInfo, CurrentBase) == 391, "CurrentBase");
_Static_assert(offsetof(struct ChannelInfo, CalcKind) == 986, "CalcKind");
_Static_assert(offsetof(struct ChannelInfo, ResultData) == 1462, "ResultData");
_Static_assert(offsetof(struct ChannelInfo, CycleStart) == 1538, "CycleStart");
_Static_assert(sizeof(struct ChannelInfo) == 1978, "the part of the record the library knows");

enum { kPositions = 8, kHostByte = 0xA5 };  /* the host's bytes start as a sentinel */

/* The record's array fields are 32-bit addresses: a 64-bit host maps the arrays low. */
static void* LowBytes(size_t n) {
    int flags = MAP_PRIVATE | MAP_ANONYMOUS;
#if defined(MAP_32BIT)
    if (sizeof(void*) > 4) flags |= MAP_32BIT;
#endif
    void* p = mmap(NULL, n, PROT_READ | PROT_WRITE, flags, -1, 0);
    if (p == MAP_FAILED || ((uint64_t)(uintptr_t)p >> 32) != 0) return NULL;
    return p;
}

static uint32_t Address(const void* p) { return (uint32_t)(uintptr_t)p; }

static int failures = 0;

static void Expect(int ok, const char* what) {
    if (!ok) {
        fprintf(stderr, "c_host: %s\n", what);
        ++failures;
    }
}

int main(void) {
    struct ChannelInfo records[3], before;
    struct CNode nodes[2];
    struct CPtrList list;
    float* samples = LowBytes(3 * kPositions * sizeof(float));
    uint8_t* ids = LowBytes(2);
    struct ChannelInfo* target = &records[2];
    int k;
    if (samples == NULL || ids == NULL) {
        fprintf(stderr, "c_host: no memory below 4 GiB\n");
        return 1;
    }

    /* Channels 1 and 2 with their samples; the target computes channel 1 minus channel 2. */
    memset(records, kHostByte, sizeof records);
    for (k = 0; k < 2; ++k) {
        int n;
        for (n = 0; n < kPositions; ++n) samples[k * kPositions + n] = (float)((k + 1) * n);
        records[k].ChannelId = (uint32_t)(k + 1);
        records[k].SampleData = Address(samples + k * kPositions);
        nodes[k].data = &records[k];
    }
    nodes[0].prev = nodes[1].next = NULL;
    nodes[0].next = &nodes[1];
    nodes[1].prev = &nodes[0];
    memset(&list, 0, sizeof list);
    list.head = &nodes[0];
    list.tail = &nodes[1];
    list.count = 2;
    ids[0] = 1;
    ids[1] = 2;
    target->ChannelId = 3;
    target->SourceIds = Address(ids);
    target->ResultData = Address(samples + 2 * kPositions);

    memcpy(&before, target, sizeof before);
    GetSubtraction(&list, target, 0, kPositions);
    for (k = 0; k < kPositions; ++k) Expect(samples[2 * kPositions + k] == (float)-k, "GetSubtraction: channel 1 - channel 2");
    Expect(memcmp(&before, target, sizeof before) == 0, "GetSubtraction changed its target record");

    /* A record export: the saturation factor of an EMF below the table is its first entry. */
    records[0].KmTable[0] = 0.75;
    Expect(GetKmByEq(&records[0], 0.85f) == 0.75, "GetKmByEq: below the table, its first entry");
    Expect(GetKmByEq(NULL, 1.0f) == 1.0, "GetKmByEq: a null record gives 1.0");
    return failures == 0 ? 0 : 1;
}
