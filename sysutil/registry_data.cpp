#include "sysutil/registry_data.h"

bool terminate_registry_data(uint32_t type, char* buffer, uint32_t data_size,
                             uint32_t buffer_size)
{
    // The registry keeps whatever bytes a writer stored, so a string value
    // can lack its terminator; callers read the buffer as a C string. Other
    // types are read for their raw bytes (a REG_DWORD fills exactly four).
    const bool is_string = type == REGISTRY_TYPE_SZ || type == REGISTRY_TYPE_EXPAND_SZ ||
                           type == REGISTRY_TYPE_MULTI_SZ;
    if (!is_string) {
        return true;
    }
    if (data_size > 0 && data_size <= buffer_size && buffer[data_size - 1] == 0) {
        return true;
    }
    if (data_size >= buffer_size) {
        return false;
    }
    buffer[data_size] = 0;
    return true;
}

bool finish_registry_read(bool queried, uint32_t type, char* buffer, uint32_t data_size,
                          uint32_t buffer_size)
{
    if (queried && terminate_registry_data(type, buffer, data_size, buffer_size)) {
        return true;
    }
    if (buffer_size > 0) {
        buffer[0] = 0;
    }
    return false;
}
