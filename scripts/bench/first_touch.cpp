// first_touch: allocates a block as large as the 1.00 archive and writes
// every byte of it once. The splice must do the same to its body block (the
// kernel hands out fresh pages on first write), and no way of reading the
// whole archive into memory can avoid it: this is that part of the floor.
#include "updater/updater.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

int main() {
    const size_t size = static_cast<size_t>(ARCHIVE_SIZE_V100);
    unsigned char* block = static_cast<unsigned char*>(malloc(size));
    if (block == nullptr) {
        fprintf(stderr, "first_touch: cannot allocate %zu bytes\n", size);
        return 1;
    }
    memset(block, 0x5A, size);
    // The block is never read, so the compiler may drop the allocation and
    // the writes altogether; this empty statement tells it that the block's
    // memory is used.
    __asm__ __volatile__("" : : "r"(block) : "memory");
    free(block);
    return 0;
}
