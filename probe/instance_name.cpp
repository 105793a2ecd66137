// Forming the instance name under which the game registers its mutex and
// window class.
#include "probe/probe.h"

#include <cstring>

char instance_name[INSTANCE_NAME_BYTES];

void to_instance_name(char* s) {
    sjis_to_lower(s);
    sjis_replace_char(s, '\\', ':');
}

bool form_instance_name(char* out, size_t out_size, const char* path) {
    if (out_size == 0)
        return false;
    const size_t length = strlen(path);
    if (length >= out_size) {
        out[0] = '\0';
        return false;
    }
    memcpy(out, path, length + 1);
    to_instance_name(out);
    return true;
}
