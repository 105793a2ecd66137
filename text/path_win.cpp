// The Windows edges of the path operations: the executable's own path and
// the creation of directories.
#include "text/path_seam.h"
#include "text/text.h"

#include <windows.h>

namespace {

void create_one_directory(const char* directory, void*) {
    // Whether it worked is not examined: an existing directory, a bare drive
    // ("c:") and the empty name all fail harmlessly, and the walk goes on.
    CreateDirectoryA(directory, nullptr);
}

}  // namespace

void init_module_paths() {
    ensure_multibyte_code_page_described();
    char path[PATH_BUFFER_BYTES];
    // A path that does not fit comes back cut to the buffer's size (and, on
    // older systems, without a terminator), and the result is the buffer size.
    const DWORD n = GetModuleFileNameA(nullptr, path, PATH_BUFFER_BYTES);
    if (n == 0 || n >= PATH_BUFFER_BYTES) {
        init_module_paths_from("");
        return;
    }
    path[n] = 0;
    init_module_paths_from(path);
}

void create_directories(const char* path) {
    ensure_multibyte_code_page_described();
    create_directories_with(path, create_one_directory, nullptr);
}
