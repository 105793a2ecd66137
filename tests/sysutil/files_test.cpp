// Zeroed allocation: every byte asked for is zero, no byte beyond is touched,
// and a failed allocation is passed on without a write.
#include "sysutil/listing_seam.h"
#include "sysutil/sysutil.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>

namespace {

constexpr unsigned char MARKER = 0xBD;

// One byte more than asked for, every byte a marker: what alloc_zeroed
// leaves non-zero, or writes past the end, shows.
void* marked_allocate(size_t size)
{
    void* block = malloc(size + 1);
    if (block != nullptr)
        memset(block, MARKER, size + 1);
    return block;
}

void* failing_allocate(size_t)
{
    return nullptr;
}

TEST(AllocZeroed, ZeroesExactlyTheBytesAskedFor)
{
    for (uint32_t size : {0u, 1u, 3u, 7u, 8u, 9u, 1000u}) {
        SCOPED_TRACE(size);
        unsigned char* block =
            static_cast<unsigned char*>(alloc_zeroed_with(marked_allocate, size));
        ASSERT_NE(block, nullptr);
        for (uint32_t i = 0; i < size; ++i)
            ASSERT_EQ(block[i], 0) << "byte " << i;
        EXPECT_EQ(block[size], MARKER);
        free(block);
    }
}

TEST(AllocZeroed, PassesOnAFailedAllocation)
{
    EXPECT_EQ(alloc_zeroed_with(failing_allocate, 64), nullptr);
}

TEST(AllocZeroed, GivesBlocksOfTheStandardHeap)
{
    // Size 0 is a valid block that free() accepts.
    for (uint32_t size : {0u, 7u, 4096u}) {
        SCOPED_TRACE(size);
        unsigned char* block = static_cast<unsigned char*>(alloc_zeroed(size));
        ASSERT_NE(block, nullptr);
        for (uint32_t i = 0; i < size; ++i)
            ASSERT_EQ(block[i], 0) << "byte " << i;
        free(block);
    }
}

} // namespace
