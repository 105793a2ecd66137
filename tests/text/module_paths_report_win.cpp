// Writes what the path operations make of this program's own location, for
// a test that copies it to a folder of its choosing and runs it there:
//
//   module_paths_report REPORT_FILE
//
// REPORT_FILE gets five lines of CP932 bytes: the path GetModuleFileNameA
// gives, module_path, module_instance_name, module_dir, and the multibyte
// code page in force. Exit code 0 when the report was written.
#include "text/text.h"

#include <windows.h>

#include <cstdio>

int main(int argc, char** argv) {
    if (argc != 2)
        return 2;
    const unsigned int code_page = init_multibyte_code_page();
    init_module_paths();
    char raw[PATH_BUFFER_BYTES] = {};
    GetModuleFileNameA(nullptr, raw, PATH_BUFFER_BYTES);

    FILE* f = fopen(argv[1], "wb");
    if (f == nullptr)
        return 3;
    fprintf(f, "%s\n%s\n%s\n%s\n%u\n", raw, module_path, module_instance_name,
            module_dir, code_page);
    return fclose(f) == 0 ? 0 : 3;
}
