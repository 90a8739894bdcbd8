#pragma once

#include "WException.h"
#include "WString.h"

// Compares two neighbouring values for WLinkedList::sort; a negative answer
// swaps them, so the sorted list has compare(earlier, later) >= 0 throughout.
template <class T>
class WSorter {
public:
    virtual ~WSorter() = default;
    virtual int compare(const T& earlier, const T& later) = 0;
};

// A doubly linked list of values with one built-in cursor and a mark.
// A pass runs while hasMoreElements() is true, taking nextValue() each step;
// the false answer at the end puts the cursor back on the first entry.
// T is the stored type, TArg the type values are passed in and handed out as.
template <class T, class TArg>
class WLinkedList {
public:
    struct WEntry {
        T value;
        WEntry* next;
        WEntry* prev;

        explicit WEntry(TArg v) : value(v), next(nullptr), prev(nullptr) { }
    };

    WLinkedList() { initialize(); }

    WLinkedList(const WLinkedList& other)
    {
        initialize();
        appendAll(other);
    }

    // Copies every value of the other list, wherever its cursor stands, and
    // leaves the other list's cursor alone; the copy's cursor is on its first entry.
    WLinkedList& operator=(const WLinkedList& other)
    {
        if (this != &other) {
            removeAll();
            appendAll(other);
        }
        return *this;
    }

    virtual ~WLinkedList() { removeAll(); }

    WEntry* add(TArg value)
    {
        WEntry* e = add(last, value);
        if (first == nullptr) {
            first = e;
            cursor = e;
        }
        last = e;
        count++;
        return e;
    }

    void remove(WEntry* e)
    {
        if (e == nullptr) return;
        if (e->prev != nullptr) e->prev->next = e->next;
        if (e->next != nullptr) e->next->prev = e->prev;
        if (first == e) first = e->next;
        if (last == e) last = e->prev;
        if (markEntry == e) markEntry = e->next;
        if (cursor == e) cursor = e->next;
        count--;
        delete e;
    }

    // Frees the first n entries (all when n >= size(), none when n <= 0).
    void remove(int n)
    {
        if (n <= 0) return;
        if ((unsigned long)n >= count) {
            removeAll();
            return;
        }
        WEntry* e = first;
        for (int i = 0; i < n; i++) {
            WEntry* next = e->next;
            if (cursor == e) cursor = next;
            if (markEntry == e) markEntry = next;
            delete e;
            e = next;
        }
        first = e;
        first->prev = nullptr;
        count -= (unsigned)n;
    }

    void removeAll()
    {
        free(last);
        initialize();
    }

    unsigned long size() const { return count; }

    bool hasMoreElements() const
    {
        if (cursor != nullptr) return true;
        cursor = first;
        return false;
    }

    TArg nextValue() const
    {
        WEntry* e = checkedCursor();
        cursor = e->next;
        return e->value;
    }

    bool hasPrevElements() const
    {
        if (cursor != nullptr) return true;
        cursor = last;
        return false;
    }

    TArg prevValue() const
    {
        WEntry* e = checkedCursor();
        cursor = e->prev;
        return e->value;
    }

    void setLast() { cursor = last; }
    void mark() { markEntry = cursor; }
    void reset() { cursor = markEntry != nullptr ? markEntry : first; }

    // Bubble sort that exchanges values, not entries.
    void sort(WSorter<T>& sorter)
    {
        if (first == nullptr) return;
        bool swapped = true;
        while (swapped) {
            swapped = false;
            for (WEntry* e = first; e->next != nullptr; e = e->next) {
                if (sorter.compare(e->value, e->next->value) < 0) {
                    T tmp(e->value);
                    e->value = e->next->value;
                    e->next->value = tmp;
                    swapped = true;
                }
            }
        }
    }

protected:
    template <class, class, class, class>
    friend class WHashtable;

    void initialize()
    {
        last = nullptr;
        count = 0;
        first = nullptr;
        markEntry = nullptr;
        cursor = nullptr;
    }

    static WEntry* add(WEntry* after, TArg value)
    {
        WEntry* e = new WEntry(value);
        e->prev = after;
        if (after != nullptr) after->next = e;
        return e;
    }

    static void free(WEntry* e)
    {
        while (e != nullptr) {
            WEntry* prev = e->prev;
            delete e;
            e = prev;
        }
    }

    WEntry* checkedCursor() const
    {
        // Reading past the end is a caller error; report it instead of crashing.
        if (cursor == nullptr) throw WException("No element at the cursor.", -1);
        return cursor;
    }

    void appendAll(const WLinkedList& other)
    {
        for (WEntry* e = other.first; e != nullptr; e = e->next)
            add(e->value);
    }

    WEntry* last;
    unsigned long count;
    WEntry* first;
    mutable WEntry* markEntry;
    mutable WEntry* cursor;
};

// The exported string list; built once in WStringTokenizer.cpp.
extern template class WLinkedList<WString, const char*>;
