// Registry access: one string value read into the caller's buffer, one
// string value written with its key created on the way.
#include "sysutil/sysutil.h"

#include "sysutil/registry_data.h"

#include <windows.h>

#include <cstring>

static_assert(REGISTRY_TYPE_SZ == REG_SZ && REGISTRY_TYPE_EXPAND_SZ == REG_EXPAND_SZ &&
                  REGISTRY_TYPE_MULTI_SZ == REG_MULTI_SZ,
              "registry value types as the system numbers them");

namespace {

constexpr unsigned char READ_OK = 0;
constexpr unsigned char READ_FAILED = 255;

const char MSG_REGISTRY_WRITE_FAILED[] = "レジストリを作成出来ませんでした.";

} // namespace

unsigned char read_registry_string(HKEY root, const char* key_path, const char* value_name,
                                   char* buffer, uint32_t buffer_size)
{
    if (buffer_size > 0) {
        buffer[0] = 0;
    }

    HKEY key = nullptr;
    // Reading is all that is asked for: a key that its permissions let the
    // user read but not change (one under HKEY_LOCAL_MACHINE, for a user
    // without administrator rights) opens for that and for nothing more.
    LONG rc = RegOpenKeyExA(root, key_path, 0, KEY_QUERY_VALUE, &key);
    if (rc != ERROR_SUCCESS) {
        return READ_FAILED;
    }

    DWORD type = REG_NONE;
    DWORD data_size = buffer_size;
    rc = RegQueryValueExA(key, value_name, nullptr, &type, reinterpret_cast<BYTE*>(buffer),
                          &data_size);
    RegCloseKey(key);

    return finish_registry_read(rc == ERROR_SUCCESS, type, buffer, data_size, buffer_size)
               ? READ_OK
               : READ_FAILED;
}

int32_t write_registry_string(HKEY root, const char* key_path, const char* value_name,
                              const char* text)
{
    char empty_class[] = "";
    HKEY key = nullptr;
    DWORD disposition = 0;
    // Setting a value is all that is asked for, so a key whose permissions
    // allow that but not changing its security or deleting it is written.
    // The system checks each key it creates on the way against the
    // permissions of its parent, whatever access is asked for here.
    LONG rc = RegCreateKeyExA(root, key_path, 0, empty_class, REG_OPTION_NON_VOLATILE,
                              KEY_SET_VALUE, nullptr, &key, &disposition);
    if (rc == ERROR_SUCCESS) {
        // Stored with its terminator.
        const DWORD length = static_cast<DWORD>(std::strlen(text) + 1);
        rc = RegSetValueExA(key, value_name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text),
                            length);
        RegCloseKey(key);
    }
    // A key that could not be had, or a value that the registry refused (a
    // value name longer than it allows, for one): nothing was stored.
    if (rc != ERROR_SUCCESS) {
        show_cp932_box(MSG_REGISTRY_WRITE_FAILED, nullptr, MB_OK);
        return -1;
    }
    return 0;
}
