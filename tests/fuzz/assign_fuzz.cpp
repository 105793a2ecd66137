// Fuzz target: a random sequence of assign_string calls on one slot, against
// a model of the slot. The heap behind it is a tracking allocator that knows
// every block's exact size and can be told to fail the next allocation.
//
// Input, repeated: an operation byte, then what the operation reads:
//   0 null src; 1 a new string (up to the next NUL); 2 a tail of the slot's
//   own string (one offset byte); 3 the slot's own string; 4 like 1, with
//   the allocation of a new block failing.
#include "tests/fuzz/fuzz_common.h"
#include "text/path_seam.h"
#include "text/text.h"

#include <map>

namespace {

std::map<void*, size_t>* live_blocks;
bool fail_next_allocation = false;
size_t allocations = 0;

void* tracking_allocate(size_t size) {
    ++allocations;
    if (fail_next_allocation)
        return nullptr;
    void* block = std::malloc(size);
    if (block != nullptr)
        (*live_blocks)[block] = size;
    return block;
}

void tracking_release(void* block) {
    if (block == nullptr)
        return;
    // Releasing a block that this heap never handed out is a fault.
    FUZZ_CHECK(live_blocks->erase(block) == 1);
    std::free(block);
}

// What the slot should hold. capacity is the size of its block.
struct Model {
    bool present = false;
    std::string text;
    size_t capacity = 0;
};

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    live_blocks = new std::map<void*, size_t>();
    string_heap.allocate = tracking_allocate;
    string_heap.release = tracking_release;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::Reader in{data, size};
    char* slot = nullptr;
    Model model;

    for (int steps = 0; !in.empty() && steps < 64; ++steps) {
        const unsigned op = in.byte() % 5;
        char* const before = slot;
        fail_next_allocation = false;
        allocations = 0;
        std::string src_text;
        bool src_null = false;

        switch (op) {
        case 0:
            src_null = true;
            assign_string(&slot, nullptr);
            break;
        case 1:
        case 4: {
            src_text = in.c_string(300);
            fail_next_allocation = (op == 4);
            fuzz::ExactString src(src_text);
            assign_string(&slot, src.p);
            FUZZ_CHECK(src.all() == src_text + std::string(1, '\0'));
            break;
        }
        case 2:
        case 3: {
            if (slot == nullptr)
                continue;
            const size_t len = std::strlen(slot);
            const size_t offset = op == 3 ? 0 : in.byte() % (len + 1);
            src_text = std::string(slot + offset);
            assign_string(&slot, slot + offset);
            break;
        }
        }
        fail_next_allocation = false;

        // The model's rule: a null src empties the string and keeps the
        // block; a string that fits the current text's length reuses the
        // block; a longer one (or any, into a null slot) gets a block of
        // exactly its length plus one; a heap that fails empties the string.
        const bool grows = !src_null &&
                           (!model.present || model.text.size() < src_text.size());
        const bool failed = grows && op == 4;
        if (src_null || failed) {
            if (model.present)
                model.text.clear();
        } else {
            if (grows)
                model.capacity = src_text.size() + 1;
            model.present = true;
            model.text = src_text;
        }

        FUZZ_CHECK((slot != nullptr) == model.present);
        FUZZ_CHECK(allocations == (grows ? 1u : 0u));
        if (!grows || failed)
            FUZZ_CHECK(slot == before);
        if (slot != nullptr) {
            FUZZ_CHECK(live_blocks->count(slot) == 1);
            FUZZ_CHECK((*live_blocks)[slot] == model.capacity);
            FUZZ_CHECK(std::memchr(slot, 0, model.capacity) != nullptr);
            FUZZ_CHECK(std::string(slot) == model.text);
        }
        // Only the slot's block is alive: an old block is released once.
        FUZZ_CHECK(live_blocks->size() == (slot != nullptr ? 1u : 0u));
    }

    if (slot != nullptr) {
        live_blocks->erase(slot);
        std::free(slot);
    }
    return 0;
}
