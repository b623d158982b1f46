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

QZ_EXPORT extern _qz_sym_table_ex* qz_engine_isym_table;
QZ_EXPORT extern _qz_sym_table_ex* qz_engine_sym_table;

QZ_EXPORT _qz_sym_table_ex* qz_symtable_alloc();
/* The stored copy of s in t, or null (null t, null s, or not stored). */
QZ_EXPORT char* qz_lookup_sym(_qz_sym_table_ex* t, char* s);
/* The stored copy of s, storing it first if needed; null only for null s or
 * when memory cannot be had (the text is then not stored). t must be a
 * table's first block. A text too long for a normal arena gets a block of
 * its own, sized to fit. */
QZ_EXPORT char* qz_symtable_insert(_qz_sym_table_ex* t, char* s);
QZ_EXPORT bool qz_compare_string(void* slot, void* s, unsigned long n);
QZ_EXPORT void qz_symtable_reset(_qz_sym_table_ex* t);
QZ_EXPORT void qz_symtable_cleanup(_qz_sym_table_ex* t);
QZ_EXPORT _qz_sym_table_ex* qz_engine_symtable_startup();
QZ_EXPORT void qz_engine_symtable_shutdown();
QZ_EXPORT void qz_engine_symtable_reset();
QZ_EXPORT char* qz_engine_insert_sym(char* s);
QZ_EXPORT char* qz_engine_insert_isym(char* s);
QZ_EXPORT int qz_engine_symtable_useage(unsigned long& used, unsigned long& blocks);

#endif
