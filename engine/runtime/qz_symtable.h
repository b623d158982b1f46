#ifndef QZ_SYMTABLE_H
#define QZ_SYMTABLE_H

/*
 * Symbol tables: every name and literal text is interned, so equal texts have
 * equal pointers. A table is a chain of blocks; each block packs texts into an
 * arena and keeps one pool slot per text. Two global tables: the internal one
 * (engine names, lives from startup to shutdown) and the script one (emptied
 * after every scan).
 */

#include <qzengine/export.h>

#include "common/qz_limits.h"
#include "runtime/qz_mempool.h"

struct qz_symtable_index; /* hash index over the texts of a whole table */

struct _qz_sym_table_ex {
  char* text;             /* arena: QZ_SYMTAB_ARENA_SIZE bytes, or larger for one long text */
  unsigned long capacity; /* bytes of the arena */
  unsigned long used;     /* bytes of the arena in use */
  _qz_sym_table_ex* next;
  qz_mempool<char*> slots;  /* one slot per stored text */
  qz_symtable_index* index; /* kept on the first block of a table only */
  /* Running totals of the whole table, kept on its first block: texts
   * stored (set slot bits over every block) and blocks in the chain. */
  unsigned long total_texts;
  unsigned long total_blocks;
};

/* The internal table: engine names (keywords, handles, built-in names);
 * made by qz_engine_symtable_startup, freed by its shutdown, never reset. */
QZ_EXPORT extern _qz_sym_table_ex* qz_engine_isym_table;
/* The script table: names and literals of the scanned script; made at
 * startup, emptied after every scan, freed at shutdown. Null outside. */
QZ_EXPORT extern _qz_sym_table_ex* qz_engine_sym_table;

/* A new empty table (its first block, carrying the index). The caller owns
 * it and frees it with qz_symtable_cleanup. Null when the heap refuses. */
QZ_EXPORT _qz_sym_table_ex* qz_symtable_alloc();
/* The stored copy of s in t, or null (null t, null s, or not stored). */
QZ_EXPORT char* qz_lookup_sym(_qz_sym_table_ex* t, char* s);
/* The stored copy of s, storing it first if needed; null only for null s or
 * when memory cannot be had (the text is then not stored). t must be a
 * table's first block. A text too long for a normal arena gets a block of
 * its own, sized to fit. The copy lives in t until t is reset or freed. */
QZ_EXPORT char* qz_symtable_insert(_qz_sym_table_ex* t, char* s);
/* True when slot (pointing at a stored text's pointer) holds exactly the n
 * bytes at s, terminator right after them; false when any pointer is null.
 * Reads at most n + 1 bytes of the stored text. */
QZ_EXPORT bool qz_compare_string(void* slot, void* s, unsigned long n);
/* Forgets every text of the chain from t: arenas zeroed, slots freed, blocks
 * kept. Copies handed out before are invalid: their bytes are zeroed and
 * reused. Null t: nothing. */
QZ_EXPORT void qz_symtable_reset(_qz_sym_table_ex* t);
/* Frees t and every block after it; null t: nothing. */
QZ_EXPORT void qz_symtable_cleanup(_qz_sym_table_ex* t);
/* Makes both global tables (the previous pointers are overwritten, not
 * freed). Returns the script table; null when the heap refused it. */
QZ_EXPORT _qz_sym_table_ex* qz_engine_symtable_startup();
/* Frees both global tables and nulls their pointers: every interned name
 * and handle becomes invalid. */
QZ_EXPORT void qz_engine_symtable_shutdown();
/* Empties the script table after a scan, freeing all its blocks but the
 * first; script names interned before are invalid from then on. */
QZ_EXPORT void qz_engine_symtable_reset();
/* Interns a script text: the internal table's copy when s is an engine name,
 * else the script table's (stored first if needed), valid until the end of
 * the scan. Null for null s, before startup, or when memory runs out. */
QZ_EXPORT char* qz_engine_insert_sym(char* s);
/* The slot of a name in a direct-mapped cache of QZ_CALL_KIND_CACHE_SLOTS
 * slots keyed by its address, which stands for its text while the scan's
 * copy lives (an interned name, a table key, a fixed text); the lowest bits
 * are dropped, since copies lying side by side differ only there. */
inline size_t qz_sym_cache_slot_of(const char* name) {
  return (reinterpret_cast<uintptr_t>(name) >> 4) % QZ_CALL_KIND_CACHE_SLOTS;
}
/* Interns s in the internal table, valid until shutdown; null as above. */
QZ_EXPORT char* qz_engine_insert_isym(char* s);
/* Changes whenever the internal table is made or freed: names interned in it
 * under one value are valid as long as the value stays. */
unsigned long qz_engine_isym_epoch();
/* Sets used to the texts and blocks to the blocks of the script table (both
 * 0 when there is none) without walking it. Returns 1. */
QZ_EXPORT int qz_engine_symtable_useage(unsigned long& used, unsigned long& blocks);

#endif
