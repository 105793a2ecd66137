// Writes what the path operations make of this program's own location, for
// a test that copies it to a folder of its choosing and runs it there:
//
//   module_paths_report REPORT_FILE
//
// REPORT_FILE gets six lines of CP932 bytes: the path GetModuleFileNameA
// gives into a MAX_PATH buffer and its result, module_path,
// module_instance_name, module_dir, and the multibyte code page in force.
// Exit code 0 when the report was written.
#include "text/text.h"

#include <windows.h>

#include <cstdio>

int main(int argc, char** argv) {
    if (argc != 2)
        return 2;
    const unsigned int code_page = init_multibyte_code_page();
    init_module_paths();
    // One byte more than the call may fill: a cut path may come without its
    // terminator.
    char raw[PATH_BUFFER_BYTES + 1] = {};
    const DWORD n = GetModuleFileNameA(nullptr, raw, PATH_BUFFER_BYTES);

    FILE* f = fopen(argv[1], "wb");
    if (f == nullptr)
        return 3;
    fprintf(f, "%s\n%lu\n%s\n%s\n%s\n%u\n", raw, static_cast<unsigned long>(n),
            module_path, module_instance_name, module_dir, code_page);
    return fclose(f) == 0 ? 0 : 3;
}
