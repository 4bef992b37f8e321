// The host's channel list: the class framework's pointer list, laid out as the
// framework lays it out, so the library walks a real host's list as it is.
// The library only traverses it (head to tail, the count, the element at a
// position); hosts build and free it (hostkit/host_channels.h).
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
