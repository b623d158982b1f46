#ifndef QZ_FLAT_INDEX_H
#define QZ_FLAT_INDEX_H

/*
 * Flat indexes: insert-only hash maps in one open-addressed array, for the
 * runtime's lookups that grow with the script (variables, interned texts,
 * array items). Entries are never erased one by one, only all at once by
 * clear() or release(), so probing needs no tombstones. Compared with a
 * node-based map an entry costs no heap block of its own and a lookup
 * touches one run of adjacent slots, which keeps a script with a million
 * names from paying a cache miss per node.
 *
 * The table is seeded per process: the hash a caller gives (its own text or
 * pointer hash) is mixed with a random seed before it picks a slot, so keys
 * a script chooses cannot be lined up into one run unless their hashes are
 * equal outright.
 *
 * Growth doubles the array once it is half full; an allocation failure
 * throws std::bad_alloc, as the standard containers do, and leaves the index
 * as it was.
 */

#include "common/qz_limits.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <new>
#include <random>

/* The per-process seed of every flat index. */
inline uint64_t qz_flat_index_seed() {
  static const uint64_t seed = [] {
    uint64_t s = 0x243f6a8885a308d3ull ^ reinterpret_cast<uintptr_t>(&qz_flat_index_seed);
    try {
      std::random_device rd;
      s ^= (static_cast<uint64_t>(rd()) << 32) ^ rd();
    } catch (...) {
    }
    return s;
  }();
  return seed;
}

/* Mixes a caller's hash with the seed (the finaliser of splitmix64). */
inline uint64_t qz_flat_index_mix(uint64_t h) {
  h ^= qz_flat_index_seed();
  h += 0x9e3779b97f4a7c15ull;
  h = (h ^ (h >> 30)) * 0xbf58476d1ce4e5b9ull;
  h = (h ^ (h >> 27)) * 0x94d049bb133111ebull;
  return h ^ (h >> 31);
}

/* A slot holds only the value (trivially copyable) beside a part of its
 * hash: the key is read from the value (a variable entry's name, an interned
 * copy's text) or is part of it. Lookups take a probe, anything Hash can hash
 * and Equal can compare with a stored value: Hash()(probe) must give the hash
 * the value was stored under, and Equal()(value, probe) whether it answers the
 * probe. */
template <class Value, class Hash, class Equal>
class qz_flat_index {
 public:
  qz_flat_index() = default;
  qz_flat_index(const qz_flat_index&) = delete;
  qz_flat_index& operator=(const qz_flat_index&) = delete;

  size_t size() const { return count_; }

  /* The value that answers probe, or null. */
  template <class Probe>
  Value* find(const Probe& probe) const {
    if (count_ == 0) return nullptr;
    uint32_t h = static_cast<uint32_t>(qz_flat_index_mix(Hash()(probe)));
    for (size_t i = h & mask_;; i = (i + 1) & mask_) {
      slot& s = slots_[i];
      if (!s.used) return nullptr;
      if (s.hash == h && Equal()(s.value, probe)) return &s.value;
    }
  }

  /* Stores value under probe's key unless a value answering probe is there
   * already (the first stays, as with emplace). True when it was stored. */
  template <class Probe>
  bool emplace(const Probe& probe, const Value& value) {
    if (2 * (count_ + 1) > capacity_) grow(capacity_ ? 2 * capacity_ : QZ_FLAT_INDEX_MIN_SLOTS);
    uint32_t h = static_cast<uint32_t>(qz_flat_index_mix(Hash()(probe)));
    size_t i = h & mask_;
    for (;; i = (i + 1) & mask_) {
      slot& s = slots_[i];
      if (!s.used) break;
      if (s.hash == h && Equal()(s.value, probe)) return false;
    }
    slots_[i] = slot{value, h, true};
    count_++;
    return true;
  }

  /* Room for n entries without growing. */
  void reserve(size_t n) {
    size_t want = QZ_FLAT_INDEX_MIN_SLOTS;
    while (want < 2 * n) want *= 2;
    if (want > capacity_) grow(want);
  }

  /* Forgets every entry and keeps the array. */
  void clear() {
    for (size_t i = 0; count_ && i < capacity_; i++)
      if (slots_[i].used) {
        slots_[i].used = false;
        count_--;
      }
    count_ = 0;
  }

  /* Forgets every entry and gives the array back, so that one large scan
   * does not leave a large array for every later clear to walk. */
  void release() {
    slots_.reset();
    capacity_ = mask_ = count_ = 0;
  }

 private:
  /* The low half of the mixed hash is kept beside the value: it decides the
   * slot again when the array grows and spares most key comparisons, and
   * with the used flag it fills one word. */
  struct slot {
    Value value;
    uint32_t hash;
    bool used;
  };

  void grow(size_t capacity) {
    std::unique_ptr<slot[]> bigger(new slot[capacity]());
    size_t mask = capacity - 1;
    for (size_t i = 0; i < capacity_; i++) {
      if (!slots_[i].used) continue;
      size_t j = slots_[i].hash & mask;
      while (bigger[j].used) j = (j + 1) & mask;
      bigger[j] = slots_[i];
    }
    slots_ = std::move(bigger);
    capacity_ = capacity;
    mask_ = mask;
  }

  std::unique_ptr<slot[]> slots_;
  size_t capacity_ = 0; /* a power of two, or 0 */
  size_t mask_ = 0;
  size_t count_ = 0;
};

#endif
