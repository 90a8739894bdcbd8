#pragma once

#include <cstdint>
#include <cstring>
#include <type_traits>

#include "WException.h"
#include "WLinkedList.h"
#include "WString.h"

// Hash values and key comparison of the table. Integer keys (and handles,
// taken as numbers) use bits 8-15 of the 32-bit product key * 40503; string
// keys the 16-bit sum of their characters as signed bytes, up to the NUL.
namespace WHashKeys {

inline uint16_t hashInteger(uint32_t key)
{
    return (uint16_t)(((uint32_t)(key * 40503u) >> 8) & 0xFFu);
}

inline uint16_t hashText(const char* text)
{
    uint16_t sum = 0;
    if (text != nullptr) {
        for (const char* p = text; *p != '\0'; p++)
            sum = (uint16_t)(sum + (int)(signed char)*p);
    }
    return sum;
}

inline uint16_t hash(const char* key)
{
    return hashText(key);
}
inline uint16_t hash(const WString& key)
{
    return hashText(key.getBuf());
}

template <class K>
inline std::enable_if_t<std::is_integral_v<K> || std::is_enum_v<K>, uint16_t> hash(K key)
{
    return hashInteger((uint32_t)(uint64_t)key);
}

template <class K>
inline uint16_t hash(K* key)
{
    return hashInteger((uint32_t)(uintptr_t)key);
}

inline bool equals(const WString& stored, const char* key)
{
    return strcmp(stored.getBuf(), key != nullptr ? key : "") == 0;
}
inline bool equals(const WString& stored, const WString& key)
{
    return stored.equals(key);
}

template <class K, class A>
inline bool equals(const K& stored, const A& key)
{
    return stored == key;
}

} // namespace WHashKeys

// A chained hash table of exactly 100 buckets. Its entries also sit, in
// insertion order, on an embedded list that drives iteration: a pass runs
// while hasMoreElements() is true, reading currentKey()/currentValue().
template <class K, class V, class KArg, class VArg>
class WHashtable {
public:
    static constexpr int BUCKETS = 100;

    struct WHash {
        uint16_t hash;
        K key;
        V value;
        WHash* prev;
        WHash* next;
        typename WLinkedList<WHash*, WHash*>::WEntry* entry;

        WHash(uint16_t h, KArg k, VArg v) : hash(h), key(k), value(v), prev(nullptr), next(nullptr), entry(nullptr) { }
    };

    WHashtable() : buckets(nullptr), current(nullptr) { initialize(); }

    WHashtable(const WHashtable& other) : buckets(nullptr), current(nullptr)
    {
        initialize();
        putAll(other);
    }

    // Copies every entry of the other table in its insertion order, wherever
    // its cursor stands; the other table's cursor is left alone.
    WHashtable& operator=(const WHashtable& other)
    {
        if (this != &other) {
            removeAll();
            putAll(other);
        }
        return *this;
    }

    virtual ~WHashtable()
    {
        free(buckets);
        buckets = nullptr;
    }

    // Replaces the value of a present key in place (returns null), or adds a
    // new entry at the head of its chain and the end of the order.
    WHash* put(KArg key, VArg value)
    {
        WHash* found = lookup(key, buckets);
        if (found != nullptr) {
            found->value = value;
            return nullptr;
        }
        uint16_t h = WHashKeys::hash(key);
        WHash* e = new WHash(h, key, value);
        WHash*& head = buckets[h % BUCKETS];
        e->next = head;
        if (head != nullptr) head->prev = e;
        head = e;
        e->entry = entries.add(e);
        return e;
    }

    // The value of a present key; asking for an absent key is a caller error.
    V& get(KArg key) const
    {
        WHash* e = lookup(key, buckets);
        if (e == nullptr) throw WException("Key not found in table.", -1);
        return e->value;
    }

    V* find(KArg key, WHash** out = nullptr) const
    {
        WHash* e = lookup(key, buckets);
        if (out != nullptr) *out = e;
        return e != nullptr ? &e->value : nullptr;
    }

    bool containsKey(KArg key) const { return lookup(key, buckets) != nullptr; }

    bool remove(KArg key)
    {
        WHash* e = lookup(key, buckets);
        if (e == nullptr) return false;
        entries.remove(e->entry);
        if (e->prev != nullptr)
            e->prev->next = e->next;
        else
            buckets[e->hash % BUCKETS] = e->next;
        if (e->next != nullptr) e->next->prev = e->prev;
        if (current == e) current = nullptr;
        delete e;
        return true;
    }

    void removeAll()
    {
        free(buckets);
        buckets = nullptr;
        entries.removeAll();
        initialize();
    }

    unsigned long size() const { return entries.size(); }

    bool hasMoreElements() const
    {
        if (entries.hasMoreElements()) {
            current = entries.nextValue();
            return true;
        }
        return false;
    }

    KArg currentKey() const { return checkedCurrent()->key; }
    VArg currentValue() const { return checkedCurrent()->value; }

    void reset() { entries.reset(); }

protected:
    void initialize()
    {
        buckets = new WHash*[BUCKETS]();
        current = nullptr;
    }

    static WHash* lookup(KArg key, WHash* const* table)
    {
        uint16_t h = WHashKeys::hash(key);
        for (WHash* e = table[h % BUCKETS]; e != nullptr; e = e->next) {
            if (e->hash == h && WHashKeys::equals(e->key, key)) return e;
        }
        return nullptr;
    }

    static void free(WHash** table)
    {
        if (table == nullptr) return;
        for (int i = 0; i < BUCKETS; i++) {
            WHash* e = table[i];
            while (e != nullptr) {
                WHash* next = e->next;
                delete e;
                e = next;
            }
        }
        delete[] table;
    }

    WHash* checkedCurrent() const
    {
        if (current == nullptr) throw WException("No current table entry.", -1);
        return current;
    }

    void putAll(const WHashtable& other)
    {
        other.forEachInOrder([this](WHash* e) { put(e->key, e->value); });
    }

    // Walks the insertion order without touching the iteration cursor.
    template <class F>
    void forEachInOrder(F f) const
    {
        for (auto* e = entries.first; e != nullptr; e = e->next)
            f(e->value);
    }

    WHash** buckets;
    WLinkedList<WHash*, WHash*> entries;
    mutable WHash* current;
};
