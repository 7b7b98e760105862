/* SPDX-License-Identifier: BSD-3-Clause */
// Intrusive doubly linked list: every in-memory list of the agent links its
// elements through a list_head embedded in the element.
#pragma once

#include <cstddef>

struct list_head {
    list_head *next;
    list_head *prev;
};

inline void INIT_LIST_HEAD(list_head *head)
{
    head->next = head;
    head->prev = head;
}

inline void list_insert_between(list_head *item, list_head *prev, list_head *next)
{
    next->prev = item;
    item->next = next;
    item->prev = prev;
    prev->next = item;
}

// Inserts item right after head (the list's first position).
inline void list_add(list_head *item, list_head *head)
{
    list_insert_between(item, head, head->next);
}

// Inserts item before head (the list's last position).
inline void list_add_tail(list_head *item, list_head *head)
{
    list_insert_between(item, head->prev, head);
}

inline void list_del(list_head *item)
{
    item->next->prev = item->prev;
    item->prev->next = item->next;
    item->next = item;
    item->prev = item;
}

inline bool list_empty(const list_head *head)
{
    return head->next == head;
}

// The element that holds `ptr` as its `member`.
#define list_entry(ptr, type, member) \
    reinterpret_cast<type *>(reinterpret_cast<char *>(ptr) - offsetof(type, member))

#define list_for_each(pos, head) for (list_head *pos = (head)->next; pos != (head); pos = pos->next)
