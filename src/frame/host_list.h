// The host's channel list: the class framework's pointer list, laid out as the
// framework lays it out, so the library walks a real host's list as it is.
// The library only traverses it (head to tail, the count, the element at a
// position); the host side (tests, the host program) also builds and frees it.
#pragma once

#include <cstddef>

#include "ampora.h"

static_assert(offsetof(CPtrList, head) == sizeof(void*), "list head follows the object header");
static_assert(offsetof(CNode, data) == 2 * sizeof(void*), "node data after next and previous");

// The one walk of the list the library makes: from the head, at most count
// nodes, so a chain that loops back on itself or runs past its count still
// ends. Returns the first node for which stop(node, position) holds, or null.
template <typename Stop>
inline CNode* WalkList(const CPtrList* list, Stop&& stop) {
    CNode* node = list->head;
    for (int position = 0; position < list->count && node != nullptr; ++position, node = node->next)
        if (stop(node, position)) return node;
    return nullptr;
}

// The node at a 0-based position, or null outside the list (the framework's FindIndex).
inline CNode* ListFindIndex(const CPtrList* list, int index) {
    if (index < 0 || index >= list->count) return nullptr;
    return WalkList(list, [index](const CNode*, int position) { return position == index; });
}

// Host side: an empty list, appending at the tail, and releasing the nodes.
inline void ListInit(CPtrList* list) { *list = CPtrList{nullptr, nullptr, nullptr, 0, nullptr, nullptr, 10}; }

inline void ListAddTail(CPtrList* list, void* data) {
    CNode* node = new CNode{nullptr, list->tail, data};
    if (list->tail != nullptr) list->tail->next = node; else list->head = node;
    list->tail = node;
    ++list->count;
}

inline void ListFree(CPtrList* list) {
    for (CNode* node = list->head; node != nullptr;) {
        CNode* next = node->next;
        delete node;
        node = next;
    }
    ListInit(list);
}
