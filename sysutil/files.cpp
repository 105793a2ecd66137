// Zeroed allocation: the one file operation that needs no system call.
#include "sysutil/listing_seam.h"
#include "sysutil/sysutil.h"

#include <cstdlib>
#include <cstring>

void* alloc_zeroed_with(void* (*allocate)(size_t size), uint32_t size)
{
    void* block = allocate(size);
    if (block != nullptr)
        memset(block, 0, size);
    return block;
}

void* alloc_zeroed(uint32_t size)
{
    return alloc_zeroed_with(malloc, size);
}
