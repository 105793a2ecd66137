// Uses the installed ORVEX library as another of the publisher's programs
// would, and prints what it got, one result a line, every byte outside
// printable ASCII (and the backslash) as \xNN:
//
//   caller [FOLDER]
//
// Everywhere: splits a Shift-JIS path whose directory holds the trail byte
// 0x5C and takes the file name of one whose last character has it. On
// Windows also: lists the .txt files of FOLDER, saves a shortcut into it, and
// writes a registry string under a scratch key of HKEY_CURRENT_USER, reads it
// back and deletes the key.
//
// This program is built with the compiler's defaults for everything the
// library is built without: UTF-8 literals, exceptions, RTTI. A flag of the
// library's own build that reached it would break the build here.
#include <orvex/text.h>
#ifdef _WIN32
#include <orvex/sysutil.h>
#include <windows.h>
#endif

#include <cstdio>
#include <cstdlib>
#include <cstring>

// ソ is three bytes in UTF-8, two in CP932.
static_assert(sizeof("\u30bd") == 4,
              "narrow literals are not UTF-8 here: the library's execution charset leaked");
#if !defined(__cpp_exceptions) || !defined(__GXX_RTTI)
#error "exceptions or RTTI are off: the library's -fno-exceptions or -fno-rtti leaked"
#endif

namespace {

void print_bytes(const char* label, const char* bytes)
{
    printf("%s: ", label);
    for (const unsigned char* p = reinterpret_cast<const unsigned char*>(bytes); *p != 0; ++p) {
        if (*p >= 0x20 && *p < 0x7F && *p != '\\')
            putchar(*p);
        else
            printf("\\x%02X", *p);
    }
    putchar('\n');
}

void split_shift_jis_paths()
{
    // c:\ソフト\readme.txt: ソ is 0x83 0x5C.
    const char path[] = "c:\\\x83\x5C\x83t\x83g\\readme.txt";
    char drive[SPLIT_DRIVE_BYTES];
    char directory[SPLIT_PART_BYTES];
    char extension[SPLIT_PART_BYTES];
    split_path(path, drive, directory, extension);
    print_bytes("drive", drive);
    print_bytes("directory", directory);
    print_bytes("extension", extension);

    // c:\data\表: 表 is 0x95 0x5C, the file name, not a separator.
    char name[PATH_BUFFER_BYTES];
    const int stored = path_file_name(name, "c:\\data\\\x95\x5C");
    printf("file name stored: %d\n", stored);
    print_bytes("file name", name);
}

#ifdef _WIN32
constexpr size_t REGISTRY_TEXT_BYTES = 64;
constexpr size_t LINK_PATH_BYTES = 300;

void list_text_files(const char* folder)
{
    FileList list;
    memset(&list, 0, sizeof list);
    snprintf(list.directory, sizeof list.directory, "%s", folder);
    snprintf(list.extensions[0], sizeof list.extensions[0], "%s", ".txt");
    list.extension_count = 1;
    list.capacity = 16;
    list.sort = 1;
    if (list_files(&list) != 0) {
        printf("listing: no memory\n");
        return;
    }
    printf("listed: %d\n", static_cast<int>(list.count));
    for (int32_t i = 0; i < list.count; ++i) {
        print_bytes("name", list.names[i]);
        free(list.names[i]);
    }
    free(list.names);
}

void save_shortcut(const char* folder)
{
    char link[LINK_PATH_BYTES];
    snprintf(link, sizeof link, "%s\\caller.lnk", folder);
    const int32_t saved = create_shortcut(link, "C:\\windows\\notepad.exe", nullptr,
                                          SW_SHOWNORMAL, 0);
    printf("shortcut saved: %d, is a file: %d\n", static_cast<int>(saved),
           static_cast<int>(is_file(link)));
}

void round_trip_registry()
{
    char key[REGISTRY_TEXT_BYTES];
    snprintf(key, sizeof key, "Software\\OrvexCaller-%lu",
             static_cast<unsigned long>(GetCurrentProcessId()));
    // 表示 (0x95 0x5C 0x8E 0xA6): a trail byte 0x5C inside the value.
    const int32_t written = write_registry_string(HKEY_CURRENT_USER, key, "Label",
                                                  "\x95\x5C\x8E\xA6");
    char text[REGISTRY_TEXT_BYTES];
    const unsigned char read = read_registry_string(HKEY_CURRENT_USER, key, "Label", text,
                                                    sizeof text);
    printf("registry written: %d, read: %d\n", static_cast<int>(written),
           static_cast<int>(read));
    if (read == 0)
        print_bytes("registry value", text);
    const LONG deleted = RegDeleteKeyA(HKEY_CURRENT_USER, key);
    printf("scratch key deleted: %s\n", deleted == ERROR_SUCCESS ? "yes" : "no");
}
#endif

} // namespace

int main(int argc, char** argv)
{
#ifdef _WIN32
    // Path splitting follows the runtime's multibyte code page, which a
    // program sets to the system's ANSI code page at start-up.
    printf("code page: %u\n", init_multibyte_code_page());
#else
    mbcp_select_shift_jis();
    printf("code page: %u\n", mbcp_code_page());
#endif
    split_shift_jis_paths();
#ifdef _WIN32
    if (argc < 2) {
        printf("usage: caller FOLDER\n");
        return 2;
    }
    list_text_files(argv[1]);
    save_shortcut(argv[1]);
    round_trip_registry();
#else
    (void)argc;
    (void)argv;
#endif
    return 0;
}
