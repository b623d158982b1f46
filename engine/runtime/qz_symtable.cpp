/*
 * Symbol tables: interning of every name and literal text.
 *
 * A table is a chain of blocks. Each block packs texts, with their
 * terminators, into an arena of QZ_SYMTAB_ARENA_SIZE bytes and keeps one
 * slot per text in its slot pool. A text is stored in the first block of the
 * chain with room for it; a text too long for any normal arena gets a block
 * of its own whose arena is sized to fit, so no write ever passes an arena.
 *
 * The observable rules are those of a plain walk: a text is looked up by
 * scanning every used slot of every block in order, and stored in the first
 * block with room. The table's first block carries a qz_symtable_index that
 * answers both questions without the walk:
 *   - a hash map from text to its stored copy. Every text is stored at most
 *     once per table, so the map gives exactly what the slot scan would;
 *   - the chain's blocks in order with a max-tree over their free bytes, so
 *     "first block with at least m free bytes" is found in O(log blocks).
 * The first block also carries running totals (texts, blocks) so the usage
 * figures cost no walk. When memory for the index runs out the table drops
 * it and falls back to the walks; the totals are kept either way.
 */

#include "runtime/qz_symtable.h"

#include "common/qz_limits.h"
#include "runtime/qz_flat_index.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>
#include <random>
#include <string_view>
#include <vector>

/* Engine names: created at startup, freed at shutdown, never reset. */
_qz_sym_table_ex* qz_engine_isym_table = nullptr;
/* Script names: created at startup, emptied after every scan. */
_qz_sym_table_ex* qz_engine_sym_table = nullptr;
/* Raised whenever qz_engine_isym_table is made or freed (qz_engine_isym_epoch). */
static unsigned long qz_isym_epoch = 0;

/* ---- keyed text hash ----
 * Identifiers and literals come from the scanned script, so the hash is
 * keyed with a per-process random key (SipHash-1-3): a script cannot choose
 * texts that collide. */

static uint64_t qz_sym_rotl(uint64_t x, int b) { return (x << b) | (x >> (64 - b)); }

struct qz_sym_hash_key {
  uint64_t k0, k1;
};

static const qz_sym_hash_key& qz_sym_key() {
  static const qz_sym_hash_key key = [] {
    qz_sym_hash_key k{0x0706050403020100ull ^ reinterpret_cast<uintptr_t>(&qz_engine_sym_table),
                      0x0f0e0d0c0b0a0908ull};
    try {
      std::random_device rd;
      k.k0 ^= (static_cast<uint64_t>(rd()) << 32) ^ rd();
      k.k1 ^= (static_cast<uint64_t>(rd()) << 32) ^ rd();
    } catch (...) {
    }
    return k;
  }();
  return key;
}

static uint64_t qz_sym_siphash(const unsigned char* in, size_t len) {
  const qz_sym_hash_key& k = qz_sym_key();
  uint64_t v0 = k.k0 ^ 0x736f6d6570736575ull;
  uint64_t v1 = k.k1 ^ 0x646f72616e646f6dull;
  uint64_t v2 = k.k0 ^ 0x6c7967656e657261ull;
  uint64_t v3 = k.k1 ^ 0x7465646279746573ull;
  auto round = [&] {
    v0 += v1;
    v1 = qz_sym_rotl(v1, 13);
    v1 ^= v0;
    v0 = qz_sym_rotl(v0, 32);
    v2 += v3;
    v3 = qz_sym_rotl(v3, 16);
    v3 ^= v2;
    v0 += v3;
    v3 = qz_sym_rotl(v3, 21);
    v3 ^= v0;
    v2 += v1;
    v1 = qz_sym_rotl(v1, 17);
    v1 ^= v2;
    v2 = qz_sym_rotl(v2, 32);
  };
  size_t full = len & ~static_cast<size_t>(7);
  for (size_t i = 0; i < full; i += 8) {
    uint64_t m;
    std::memcpy(&m, in + i, 8);
    v3 ^= m;
    round();
    v0 ^= m;
  }
  uint64_t last = static_cast<uint64_t>(len) << 56;
  for (size_t i = 0; i < (len & 7); i++) last |= static_cast<uint64_t>(in[full + i]) << (8 * i);
  v3 ^= last;
  round();
  v0 ^= last;
  v2 ^= 0xff;
  round();
  round();
  round();
  return v0 ^ v1 ^ v2 ^ v3;
}

/* A text with its hash. Both tables hash with the one process key, so a
 * text hashed once is looked up in one table and stored in the other with
 * the same hash. */
struct qz_sym_hashed {
  std::string_view text;
  size_t hash;
  bool operator==(const qz_sym_hashed& other) const { return text == other.text; }
};

struct qz_sym_hashed_hash {
  size_t operator()(const qz_sym_hashed& k) const { return k.hash; }
};

/* Whether the stored copy (NUL-terminated) holds exactly the probe's text. */
struct qz_sym_copy_equal {
  bool operator()(const char* copy, const qz_sym_hashed& k) const {
    return strnlen(copy, k.text.size() + 1) == k.text.size() &&
           std::memcmp(copy, k.text.data(), k.text.size()) == 0;
  }
};

static qz_sym_hashed qz_sym_hashed_of(const char* s, size_t n) {
  return {std::string_view(s, n),
          static_cast<size_t>(qz_sym_siphash(reinterpret_cast<const unsigned char*>(s), n))};
}

/* ---- the answers of qz_engine_insert_sym, remembered ----
 * A script interns the same few hundred texts (names, keywords, operators)
 * over and over. A direct-mapped cache, indexed by a cheap hash, remembers
 * the copy qz_engine_insert_sym returned for a text, so a repeated text
 * costs one hash and one compare instead of the keyed hash and two lookups.
 * An entry is believed only when its generation is the current one and its
 * bytes equal the text: a collision, hostile or not, only costs a miss.
 * Anything that could change an answer starts a new generation: a reset or
 * cleanup of a table (copies become invalid) and a new text stored in the
 * internal table (which takes precedence over the script table's copy). */

struct qz_sym_cached {
  size_t len;
  char* copy;
  unsigned long generation; /* 0: never filled */
};

static qz_sym_cached qz_sym_cache[QZ_SYMTAB_CACHE_SLOTS];
/* The generation whose entries are believed; starts at 1 so that the
 * zero-filled cache holds nothing. */
static unsigned long qz_sym_generation = 1;

static void qz_sym_cache_forget() { qz_sym_generation++; }

/* Cache slot of a text: a multiplicative hash of its bytes, 8 at a time. */
static size_t qz_sym_cache_slot(const char* s, size_t n) {
  uint64_t h = n * 0x9e3779b97f4a7c15ull;
  size_t i = 0;
  for (; i + 8 <= n; i += 8) {
    uint64_t m;
    std::memcpy(&m, s + i, 8);
    h = (h ^ m) * 0xff51afd7ed558ccdull;
  }
  for (; i < n; i++) h = (h ^ static_cast<unsigned char>(s[i])) * 0xc4ceb9fe1a85ec53ull;
  return static_cast<size_t>(h >> 40) % QZ_SYMTAB_CACHE_SLOTS;
}

/* ---- the index kept on a table's first block ---- */

struct qz_symtable_index {
  /* Stored text (viewing its arena copy) to that copy. */
  /* Stored copies, found by their text. */
  qz_flat_index<char*, qz_sym_hashed_hash, qz_sym_copy_equal> texts;
  /* The chain's blocks in order; blocks[0] is the first block. */
  std::vector<_qz_sym_table_ex*> blocks;
  /* Max-tree over free bytes: leaf i (at leaves + i) is blocks[i]'s free
   * space, 0 past the last block; inner nodes hold their children's max. */
  std::vector<unsigned long> tree;
  size_t leaves = 0;
};

static unsigned long qz_sym_free_bytes(const _qz_sym_table_ex* b) { return b->capacity - b->used; }

/* Lays the tree out anew for the current blocks (leaves: a power of two). */
static void qz_sym_tree_rebuild(qz_symtable_index* ix) {
  size_t leaves = 1;
  while (leaves < ix->blocks.size()) leaves *= 2;
  ix->leaves = leaves;
  ix->tree.assign(2 * leaves, 0);
  for (size_t i = 0; i < ix->blocks.size(); i++)
    ix->tree[leaves + i] = qz_sym_free_bytes(ix->blocks[i]);
  for (size_t n = leaves - 1; n >= 1; n--)
    ix->tree[n] = std::max(ix->tree[2 * n], ix->tree[2 * n + 1]);
}

static void qz_sym_tree_update(qz_symtable_index* ix, size_t pos) {
  size_t n = ix->leaves + pos;
  ix->tree[n] = qz_sym_free_bytes(ix->blocks[pos]);
  for (n /= 2; n >= 1; n /= 2) ix->tree[n] = std::max(ix->tree[2 * n], ix->tree[2 * n + 1]);
}

/* Position of the first block with at least m free bytes, or -1. */
static long qz_sym_tree_first_fit(const qz_symtable_index* ix, unsigned long m) {
  if (ix->tree[1] < m) return -1;
  size_t n = 1;
  while (n < ix->leaves) n = ix->tree[2 * n] >= m ? 2 * n : 2 * n + 1;
  return static_cast<long>(n - ix->leaves);
}

/* Drops t's index; lookups and placement then walk the chain. */
static void qz_sym_index_drop(_qz_sym_table_ex* t) {
  delete t->index;
  t->index = nullptr;
}

/* Calls fn(slot) for every used slot of block b, in slab, word, bit order;
 * stops early and returns the slot when fn returns true. */
template <class Fn>
static char** qz_sym_each_slot(_qz_sym_table_ex* b, Fn fn) {
  for (auto* slab = b->slots.first; slab; slab = slab->next) {
    for (unsigned w = 0; w < QZ_POOL_BITMAP_WORDS; w++) {
      uint32_t word = slab->bitmap[w];
      while (word) {
        unsigned bit = static_cast<unsigned>(__builtin_ctz(word));
        word &= word - 1;
        char** slot = &slab->items[w * 32 + bit];
        if (fn(slot)) return slot;
      }
    }
  }
  return nullptr;
}

/* (Re)builds t's index from its chain; on memory exhaustion t has none. */
static void qz_sym_index_build(_qz_sym_table_ex* t) {
  try {
    if (!t->index) t->index = new qz_symtable_index();
    qz_symtable_index* ix = t->index;
    /* Released rather than cleared: a cleared index keeps the array of the
     * largest scan so far, and every later reset would walk it. */
    ix->texts.release();
    ix->blocks.clear();
    for (_qz_sym_table_ex* b = t; b; b = b->next) {
      ix->blocks.push_back(b);
      qz_sym_each_slot(b, [&](char** slot) {
        if (*slot) ix->texts.emplace(qz_sym_hashed_of(*slot, std::strlen(*slot)), *slot);
        return false;
      });
    }
    qz_sym_tree_rebuild(ix);
  } catch (const std::bad_alloc&) {
    qz_sym_index_drop(t);
  }
}

/* A new empty block whose arena holds `capacity` bytes; null when the heap
 * refuses. The caller links it and maintains the totals. */
static _qz_sym_table_ex* qz_sym_block_new(unsigned long capacity) {
  auto* b = new (std::nothrow) _qz_sym_table_ex();
  if (!b) return nullptr;
  b->text = static_cast<char*>(qz_scan_calloc(capacity, false));
  if (!b->text) {
    delete b;
    return nullptr;
  }
  b->capacity = capacity;
  return b;
}

static void qz_sym_block_delete(_qz_sym_table_ex* b) {
  std::free(b->text);
  delete b->index;
  delete b; /* the slot pool frees its slabs */
}

/* The plain walk: every used slot of every block from t, in order. */
static char* qz_sym_scan(_qz_sym_table_ex* t, const char* s, unsigned long n) {
  for (_qz_sym_table_ex* b = t; b; b = b->next) {
    char** hit = qz_sym_each_slot(
        b, [&](char** slot) { return qz_compare_string(slot, const_cast<char*>(s), n); });
    if (hit) return *hit;
  }
  return nullptr;
}

_qz_sym_table_ex* qz_symtable_alloc() {
  _qz_sym_table_ex* t = qz_sym_block_new(QZ_SYMTAB_ARENA_SIZE);
  if (!t) return nullptr;
  t->total_blocks = 1;
  qz_sym_index_build(t);
  return t;
}

bool qz_compare_string(void* slot, void* s, unsigned long n) {
  if (!slot || !s) return false;
  const char* stored = *static_cast<char**>(slot);
  if (!stored) return false;
  /* Reads at most n + 1 bytes of the stored text. */
  if (strnlen(stored, n + 1) != n) return false;
  return n == 0 || std::memcmp(stored, s, n) == 0;
}

/* The stored copy of k's text in t, or null. */
static char* qz_sym_lookup_key(_qz_sym_table_ex* t, const qz_sym_hashed& k) {
  if (t->index) {
    char** hit = t->index->texts.find(k);
    return hit ? *hit : nullptr;
  }
  return qz_sym_scan(t, k.text.data(), k.text.size());
}

char* qz_lookup_sym(_qz_sym_table_ex* t, char* s) {
  if (!t || !s) return nullptr;
  return qz_sym_lookup_key(t, qz_sym_hashed_of(s, std::strlen(s)));
}

/* The first block from t with at least m free bytes, or null; *last is set
 * to the chain's last block and, with an index, *pos to the block's place in
 * the chain. */
static _qz_sym_table_ex* qz_sym_place(_qz_sym_table_ex* t, unsigned long m, _qz_sym_table_ex** last,
                                      size_t* pos) {
  if (qz_symtable_index* ix = t->index) {
    *last = ix->blocks.back();
    long fit = qz_sym_tree_first_fit(ix, m);
    if (fit < 0) return nullptr;
    *pos = static_cast<size_t>(fit);
    return ix->blocks[*pos];
  }
  _qz_sym_table_ex* fit = nullptr;
  for (_qz_sym_table_ex* b = t; b; b = b->next) {
    if (!fit && qz_sym_free_bytes(b) >= m) fit = b;
    *last = b;
  }
  return fit;
}

/* qz_symtable_insert for a text already hashed (t not null). */
static char* qz_sym_insert_key(_qz_sym_table_ex* t, const qz_sym_hashed& k) {
  if (char* found = qz_sym_lookup_key(t, k)) return found;
  const char* s = k.text.data();
  unsigned long m = k.text.size() + 1;

  _qz_sym_table_ex* last = nullptr;
  size_t pos = 0;
  _qz_sym_table_ex* b = qz_sym_place(t, m, &last, &pos);
  if (!b) {
    b = qz_sym_block_new(m > QZ_SYMTAB_ARENA_SIZE ? m : QZ_SYMTAB_ARENA_SIZE);
    if (!b) return nullptr;
    last->next = b;
    t->total_blocks++;
    if (qz_symtable_index* ix = t->index) {
      try {
        ix->blocks.push_back(b);
        pos = ix->blocks.size() - 1;
        if (ix->blocks.size() > ix->leaves)
          qz_sym_tree_rebuild(ix);
        else
          qz_sym_tree_update(ix, ix->blocks.size() - 1);
      } catch (const std::bad_alloc&) {
        qz_sym_index_drop(t);
      }
    }
  }

  /* The slot is taken before the text is copied, so a refused slot leaves
   * the arena untouched and the text is simply not stored. */
  char** slot = b->slots.alloc(nullptr);
  if (!slot) return nullptr;
  char* copy = b->text + b->used;
  std::memcpy(copy, s, m);
  b->used += m;
  *slot = copy;
  t->total_texts++;
  if (t == qz_engine_isym_table) qz_sym_cache_forget();

  if (qz_symtable_index* ix = t->index) {
    try {
      ix->texts.emplace(qz_sym_hashed{std::string_view(copy, m - 1), k.hash}, copy);
      qz_sym_tree_update(ix, pos);
    } catch (const std::bad_alloc&) {
      qz_sym_index_drop(t);
    }
  }
  return copy;
}

char* qz_symtable_insert(_qz_sym_table_ex* t, char* s) {
  if (!t || !s) return nullptr;
  return qz_sym_insert_key(t, qz_sym_hashed_of(s, std::strlen(s)));
}

void qz_symtable_reset(_qz_sym_table_ex* t) {
  if (!t) return;
  qz_sym_cache_forget();
  for (_qz_sym_table_ex* b = t; b; b = b->next) {
    /* Bytes past `used` were never written since the arena was made or last reset. */
    std::memset(b->text, 0, b->used);
    b->used = 0;
    b->slots.reset_in_place();
  }
  t->total_texts = 0;
  /* Only a table's first block carries an index; a block without one keeps
   * none (it may lie inside another table's chain). */
  if (t->index) qz_sym_index_build(t);
}

void qz_symtable_cleanup(_qz_sym_table_ex* t) {
  qz_sym_cache_forget();
  /* Iterative, so a chain of any length costs no stack. */
  while (t) {
    _qz_sym_table_ex* next = t->next;
    qz_sym_block_delete(t);
    t = next;
  }
}

_qz_sym_table_ex* qz_engine_symtable_startup() {
  /* Tables already made are kept: a second start must not drop them. */
  if (!qz_engine_isym_table) {
    qz_engine_isym_table = qz_symtable_alloc();
    qz_isym_epoch++;
  }
  if (!qz_engine_sym_table) qz_engine_sym_table = qz_symtable_alloc();
  return qz_engine_sym_table;
}

void qz_engine_symtable_shutdown() {
  qz_symtable_cleanup(qz_engine_isym_table);
  qz_symtable_cleanup(qz_engine_sym_table);
  qz_isym_epoch++;
  /* Cleared so that a late use finds no table instead of freed memory. */
  qz_engine_isym_table = nullptr;
  qz_engine_sym_table = nullptr;
}

void qz_engine_symtable_reset() {
  _qz_sym_table_ex* t = qz_engine_sym_table;
  if (!t) return;
  qz_symtable_cleanup(t->next);
  t->next = nullptr;
  t->total_blocks = 1;
  qz_symtable_reset(t);
  /* The reset rebuilt an index the table had; this brings back one dropped
   * for lack of memory during the scan. */
  if (!t->index) qz_sym_index_build(t);
}

char* qz_engine_insert_sym(char* s) {
  if (!s) return nullptr;
  size_t n = std::strlen(s);
  qz_sym_cached& c = qz_sym_cache[qz_sym_cache_slot(s, n)];
  if (c.generation == qz_sym_generation && c.len == n && std::memcmp(c.copy, s, n) == 0)
    return c.copy;
  qz_sym_hashed k = qz_sym_hashed_of(s, n);
  char* copy = nullptr;
  if (qz_engine_isym_table) copy = qz_sym_lookup_key(qz_engine_isym_table, k);
  if (!copy && qz_engine_sym_table) copy = qz_sym_insert_key(qz_engine_sym_table, k);
  if (copy) c = qz_sym_cached{n, copy, qz_sym_generation};
  return copy;
}

char* qz_engine_insert_isym(char* s) { return qz_symtable_insert(qz_engine_isym_table, s); }

unsigned long qz_engine_isym_epoch() { return qz_isym_epoch; }

int qz_engine_symtable_useage(unsigned long& used, unsigned long& blocks) {
  used = 0;
  blocks = 0;
  if (!qz_engine_sym_table) return 1;
  used = qz_engine_sym_table->total_texts;
  blocks = qz_engine_sym_table->total_blocks;
  return 1;
}
