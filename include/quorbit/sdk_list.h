/** @file
 * Intrusive circular doubly linked list shared by registries, stores and queues.
 */
#ifndef SDK_LIST_H
#define SDK_LIST_H

#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

#define LIST_POISON1 ((struct list_head*)0x00100100)
#define LIST_POISON2 ((struct list_head*)0x00200200)

struct list_head {
    struct list_head *next, *prev;
};

#define LIST_HEAD_INIT(name) { &(name), &(name) }
#define LIST_HEAD(name) struct list_head name = LIST_HEAD_INIT(name)

#ifndef container_of
#define container_of(ptr, type, member) ((type*)((char*)(ptr) - offsetof(type, member)))
#endif
#define list_entry(ptr, type, member) container_of(ptr, type, member)
#define list_first_entry(ptr, type, member) list_entry((ptr)->next, type, member)

static inline void INIT_LIST_HEAD(struct list_head* list) {
    list->next = list;
    list->prev = list;
}

static inline void __list_add(struct list_head* entry, struct list_head* prev, struct list_head* next) {
    next->prev = entry;
    entry->next = next;
    entry->prev = prev;
    prev->next = entry;
}

static inline void list_add(struct list_head* entry, struct list_head* head) {
    __list_add(entry, head, head->next);
}

static inline void list_add_tail(struct list_head* entry, struct list_head* head) {
    __list_add(entry, head->prev, head);
}

static inline void __list_del(struct list_head* prev, struct list_head* next) {
    next->prev = prev;
    prev->next = next;
}

/** Unlinks entry and poisons its links so a stale use faults at once. */
static inline void list_del(struct list_head* entry) {
    __list_del(entry->prev, entry->next);
    entry->next = LIST_POISON1;
    entry->prev = LIST_POISON2;
}

static inline void list_del_init(struct list_head* entry) {
    __list_del(entry->prev, entry->next);
    INIT_LIST_HEAD(entry);
}

static inline int list_empty(const struct list_head* head) {
    return head->next == head;
}

#define list_for_each(pos, head) \
    for (pos = (head)->next; pos != (head); pos = pos->next)

#define list_for_each_safe(pos, n, head) \
    for (pos = (head)->next, n = pos->next; pos != (head); pos = n, n = pos->next)

#define list_for_each_entry(pos, head, member)                         \
    for (pos = list_entry((head)->next, __typeof__(*pos), member);     \
         &pos->member != (head);                                       \
         pos = list_entry(pos->member.next, __typeof__(*pos), member))

#define list_for_each_entry_safe(pos, n, head, member)                 \
    for (pos = list_entry((head)->next, __typeof__(*pos), member),     \
         n = list_entry(pos->member.next, __typeof__(*pos), member);   \
         &pos->member != (head);                                       \
         pos = n, n = list_entry(n->member.next, __typeof__(*n), member))

#ifdef __cplusplus
}
#endif

#endif /* SDK_LIST_H */
