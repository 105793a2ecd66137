// The plain part of the registry read: what a buffer holds once the system
// has copied a value into it. Kept apart from the registry calls so that it
// runs natively under the sanitizers.
#pragma once

#include <cstdint>

// Value types as the registry numbers them.
constexpr uint32_t REGISTRY_TYPE_SZ = 1;
constexpr uint32_t REGISTRY_TYPE_EXPAND_SZ = 2;
constexpr uint32_t REGISTRY_TYPE_MULTI_SZ = 7;

// buffer (buffer_size bytes) holds data_size bytes of a value of type type.
// A string type whose data does not end in a terminator gets one right after
// the data; false when the buffer has no room for it. Every other type is
// left as it is. Writes at most one byte, always inside buffer_size.
bool terminate_registry_data(uint32_t type, char* buffer, uint32_t data_size,
                             uint32_t buffer_size);

// What a read leaves once the system's query has returned: queried tells
// whether it succeeded, and then the data is terminated as above. true when
// buffer holds the value; false otherwise, and then a buffer of at least one
// byte holds the empty string, since a value that did not fit may have left
// part of its bytes there, unterminated.
bool finish_registry_read(bool queried, uint32_t type, char* buffer, uint32_t data_size,
                          uint32_t buffer_size);
