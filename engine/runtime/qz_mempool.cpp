/*
 * The bit-mask table shared by every slab pool. The pools themselves are
 * templates (qz_mempool.h); each owning module defines its global pool.
 */

#include "runtime/qz_mempool.h"

const unsigned long mempool_masks[32] = {
    1ul << 0,  1ul << 1,  1ul << 2,  1ul << 3,  1ul << 4,  1ul << 5,  1ul << 6,  1ul << 7,
    1ul << 8,  1ul << 9,  1ul << 10, 1ul << 11, 1ul << 12, 1ul << 13, 1ul << 14, 1ul << 15,
    1ul << 16, 1ul << 17, 1ul << 18, 1ul << 19, 1ul << 20, 1ul << 21, 1ul << 22, 1ul << 23,
    1ul << 24, 1ul << 25, 1ul << 26, 1ul << 27, 1ul << 28, 1ul << 29, 1ul << 30, 1ul << 31,
};
