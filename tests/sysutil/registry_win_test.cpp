// Registry access against the real registry of the test prefix: a scratch key
// under HKEY_CURRENT_USER is made for every test and deleted afterwards.
#include "sysutil/sysutil.h"

#include "tests/e2e/box_text.h"
#include "tests/text/bytes.h"
#include "scripts/boxdriver/boxdriver.h"

#include <windows.h>
#include <sddl.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr unsigned char MARKER = 0xBD;
constexpr size_t SLACK = 8;
constexpr DWORD BOX_TIMEOUT_MS = 10000;

// "レジストリを作成出来ませんでした." in code page 932.
const char REGISTRY_FAILURE_TEXT[] =
    "\x83\x8c\x83\x57\x83\x58\x83\x67\x83\x8a\x82\xf0\x8d\xec\x90\xac\x8f\x6f"
    "\x97\x88\x82\xdc\x82\xb9\x82\xf1\x82\xc5\x82\xb5\x82\xbd\x2e";

struct StoredValue {
    LONG rc;
    DWORD type;
    std::string data;
};

class RegistryTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::snprintf(scratch_, sizeof scratch_, "Software\\OrvexTest\\regdiag-%lu",
                      static_cast<unsigned long>(GetCurrentProcessId()));
        RegDeleteTreeA(HKEY_CURRENT_USER, scratch_);
        HKEY key = nullptr;
        ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_CURRENT_USER, scratch_, 0, nullptr, 0,
                                                 KEY_ALL_ACCESS, nullptr, &key, nullptr));
        RegCloseKey(key);
    }

    void TearDown() override
    {
        RegDeleteTreeA(HKEY_CURRENT_USER, scratch_);
        RegDeleteKeyA(HKEY_CURRENT_USER, "Software\\OrvexTest");
    }

    std::string path(const char* sub) const
    {
        return std::string(scratch_) + (sub[0] != 0 ? "\\" : "") + sub;
    }

    // Stores a value with the platform's own writer, any type, any bytes.
    void put(const char* name, DWORD type, const std::string& bytes)
    {
        HKEY key = nullptr;
        ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_CURRENT_USER, scratch_, 0, KEY_ALL_ACCESS, &key));
        ASSERT_EQ(ERROR_SUCCESS,
                  RegSetValueExA(key, name, 0, type, reinterpret_cast<const BYTE*>(bytes.data()),
                                 static_cast<DWORD>(bytes.size())));
        RegCloseKey(key);
    }

    // Reads a value with the platform's own reader.
    StoredValue get(const char* sub, const char* name) const
    {
        StoredValue value{ERROR_FILE_NOT_FOUND, REG_NONE, std::string()};
        HKEY key = nullptr;
        value.rc = RegOpenKeyExA(HKEY_CURRENT_USER, path(sub).c_str(), 0, KEY_READ, &key);
        if (value.rc != ERROR_SUCCESS) {
            return value;
        }
        char data[512];
        DWORD size = sizeof data;
        value.rc = RegQueryValueExA(key, name, nullptr, &value.type,
                                    reinterpret_cast<BYTE*>(data), &size);
        if (value.rc == ERROR_SUCCESS) {
            value.data.assign(data, size);
        }
        RegCloseKey(key);
        return value;
    }

    // Lets everyone, the test too, have only the rights granted on the
    // scratch key; as its owner the test may still change them (WRITE_DAC).
    void grant(DWORD granted)
    {
        char sddl[32];
        std::snprintf(sddl, sizeof sddl, "D:(A;;0x%lX;;;WD)", granted);
        PSECURITY_DESCRIPTOR security = nullptr;
        HKEY key = nullptr;
        ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorA(sddl, SDDL_REVISION_1,
                                                                         &security, nullptr));
        ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_CURRENT_USER, scratch_, 0, WRITE_DAC, &key));
        EXPECT_EQ(ERROR_SUCCESS, RegSetKeySecurity(key, DACL_SECURITY_INFORMATION, security));
        RegCloseKey(key);
        LocalFree(security);
    }

    // The handle slot that the next opened key receives. The handle table
    // hands out the lowest free slot, so a key that a call left open takes
    // this slot and the next probe sees a different one.
    uintptr_t next_key_slot() const
    {
        HKEY key = nullptr;
        EXPECT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_CURRENT_USER, scratch_, 0, KEY_READ, &key));
        const uintptr_t slot = reinterpret_cast<uintptr_t>(key);
        RegCloseKey(key);
        return slot;
    }

    char scratch_[128] = "";
};

TEST_F(RegistryTest, SlotProbeSeesAKeyLeftOpen)
{
    const uintptr_t before = next_key_slot();
    HKEY leaked = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_CURRENT_USER, scratch_, 0, KEY_READ, &leaked));
    EXPECT_NE(before, next_key_slot());
    RegCloseKey(leaked);
    EXPECT_EQ(before, next_key_slot());
}

struct ReadCase {
    const char* label;
    DWORD type;
    std::string stored;
    uint32_t buffer_size;
    unsigned char result;
    std::string expected;  // the buffer's leading bytes; every later byte keeps the marker
    DWORD granted = KEY_ALL_ACCESS;  // on the key, while it is read
};

TEST_F(RegistryTest, ReadsStoredBytesWithinTheBuffer)
{
    const ReadCase cases[] = {
        {"fits exactly", REG_SZ, std::string("abc\0", 4), 4, 0, std::string("abc\0", 4)},
        {"one byte too long", REG_SZ, std::string("abcd\0", 5), 4, 255, std::string("\0", 1)},
        {"room to spare", REG_SZ, std::string("abc\0", 4), 16, 0, std::string("abc\0", 4)},
        {"empty text", REG_SZ, std::string("\0", 1), 1, 0, std::string("\0", 1)},
        {"no data at all", REG_SZ, std::string(), 4, 0, std::string("\0", 1)},
        {"string without terminator", REG_SZ, "abc", 8, 0, std::string("abc\0", 4)},
        {"string without terminator, no room", REG_SZ, "abc", 3, 255, std::string("\0", 1)},
        {"expandable string kept as stored", REG_EXPAND_SZ, std::string("%TEMP%\\x\0", 9), 9, 0,
         std::string("%TEMP%\\x\0", 9)},
        {"trail bytes 0x5C", REG_SZ, std::string("C:\\\x83\x5C\\\x95\x5C\0", 9), 9, 0,
         std::string("C:\\\x83\x5C\\\x95\x5C\0", 9)},
        {"dword, no terminator added", REG_DWORD, std::string("\x01\x02\x03\x04", 4), 8, 0,
         std::string("\x01\x02\x03\x04", 4)},
        {"binary, no terminator added", REG_BINARY, std::string("\x7f\x80", 2), 8, 0,
         std::string("\x7f\x80", 2)},
        {"dword into three bytes", REG_DWORD, std::string("\x01\x02\x03\x04", 4), 3, 255,
         std::string("\0", 1)},
        {"no buffer at all", REG_SZ, std::string("abc\0", 4), 0, 255, std::string()},
        {"key that may only be read", REG_SZ, std::string("abc\0", 4), 4, 0,
         std::string("abc\0", 4), KEY_READ},
    };
    for (const ReadCase& c : cases) {
        SCOPED_TRACE(std::string(c.label) + ": stored " + hex(c.stored) + "into " +
                     std::to_string(c.buffer_size) + " bytes");
        put("value", c.type, c.stored);
        std::vector<char> buffer(c.buffer_size + SLACK, static_cast<char>(MARKER));

        grant(c.granted);
        const uintptr_t slot = next_key_slot();
        const unsigned char rc = read_registry_string(HKEY_CURRENT_USER, scratch_, "value",
                                                      buffer.data(), c.buffer_size);
        EXPECT_EQ(slot, next_key_slot()) << "key left open";
        grant(KEY_ALL_ACCESS);

        EXPECT_EQ(c.result, rc);
        EXPECT_EQ(hex(c.expected), hex(std::string(buffer.data(), c.expected.size())));
        // Past the expected bytes: untouched. After a failure only the first
        // byte is defined, so the check starts at buffer_size.
        const size_t untouched_from = rc == 0 ? c.expected.size() : c.buffer_size;
        for (size_t i = untouched_from; i < buffer.size(); ++i) {
            ASSERT_EQ(MARKER, static_cast<unsigned char>(buffer[i])) << "byte " << i;
        }
    }
}

TEST_F(RegistryTest, MissingKeyOrValueGivesEmptyBuffer)
{
    put("present", REG_SZ, std::string("x\0", 2));
    struct {
        const char* sub;
        const char* name;
    } const cases[] = {{"", "absent"}, {"no\\such\\key", "present"}, {"", nullptr}};
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string("key '") + c.sub + "' value " + (c.name ? c.name : "(default)"));
        char buffer[16];
        std::memset(buffer, MARKER, sizeof buffer);
        const uintptr_t slot = next_key_slot();
        EXPECT_EQ(255, read_registry_string(HKEY_CURRENT_USER, path(c.sub).c_str(), c.name,
                                            buffer, sizeof buffer));
        EXPECT_EQ(slot, next_key_slot()) << "key left open";
        EXPECT_EQ(0, buffer[0]);
    }
}

TEST_F(RegistryTest, NullOrEmptyNameReadsTheDefaultValue)
{
    ASSERT_EQ(0, write_registry_string(HKEY_CURRENT_USER, scratch_, nullptr, "default text"));
    const StoredValue stored = get("", "");
    EXPECT_EQ(ERROR_SUCCESS, stored.rc);
    EXPECT_EQ(std::string("default text\0", 13), stored.data);

    for (const char* name : {static_cast<const char*>(nullptr), ""}) {
        SCOPED_TRACE(name ? "empty name" : "null name");
        char buffer[32];
        EXPECT_EQ(0, read_registry_string(HKEY_CURRENT_USER, scratch_, name, buffer, sizeof buffer));
        EXPECT_STREQ("default text", buffer);
    }
}

TEST_F(RegistryTest, WritesStringWithItsTerminator)
{
    struct {
        const char* label;
        const char* text;
        DWORD granted = KEY_ALL_ACCESS;  // on the key, while it is written
    } const cases[] = {
        {"plain", "C:\\Games\\Title\\"},
        {"empty", ""},
        {"trail bytes 0x5C", "C:\\\x83\x5C\\\x95\x5C\\"},
        {"key that may only be read and set", "C:\\Games\\", KEY_READ | KEY_SET_VALUE},
    };
    // A refused write would wait in its failure box.
    BoxScript script{{0}, 0};
    BoxTranscript transcript;
    BoxAnswerer answerer;
    ASSERT_TRUE(start_box_answerer(&answerer, &script, BOX_TIMEOUT_MS, &transcript));
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.label) + ": " + hex(c.text));
        grant(c.granted);
        const uintptr_t slot = next_key_slot();
        EXPECT_EQ(0, write_registry_string(HKEY_CURRENT_USER, scratch_, "Dir", c.text));
        EXPECT_EQ(slot, next_key_slot()) << "key left open";
        grant(KEY_ALL_ACCESS);

        const StoredValue stored = get("", "Dir");
        EXPECT_EQ(ERROR_SUCCESS, stored.rc);
        EXPECT_EQ(static_cast<DWORD>(REG_SZ), stored.type);
        EXPECT_EQ(hex(std::string(c.text, std::strlen(c.text) + 1)), hex(stored.data));
    }
    ASSERT_EQ(BOX_RUN_COMPLETED, finish_box_answerer(&answerer)) << transcript.error;
    EXPECT_EQ(0, transcript.box_count);
}

TEST_F(RegistryTest, CreatesMissingKeysAndReplacesValues)
{
    const std::string deep = path("one\\two\\three");
    ASSERT_EQ(0, write_registry_string(HKEY_CURRENT_USER, deep.c_str(), "name", "first value"));
    ASSERT_EQ(0, write_registry_string(HKEY_CURRENT_USER, deep.c_str(), "name", "second"));

    EXPECT_EQ(std::string("second\0", 7), get("one\\two\\three", "name").data);
    char buffer[32];
    EXPECT_EQ(0, read_registry_string(HKEY_CURRENT_USER, deep.c_str(), "name", buffer,
                                      sizeof buffer));
    EXPECT_STREQ("second", buffer);

    // The key that was opened to replace the value is closed again: the
    // whole tree can go, and the slot probe sees no key left behind.
    const uintptr_t slot = next_key_slot();
    EXPECT_EQ(0, write_registry_string(HKEY_CURRENT_USER, deep.c_str(), "name", "third"));
    EXPECT_EQ(slot, next_key_slot());
}

// One write that must fail: its failure box is answered, and -1 comes back.
void expect_failure_box(HKEY root, const char* key_path, const char* value_name)
{
    BoxScript script{{IDOK}, 1};
    BoxTranscript transcript;
    BoxAnswerer answerer;
    ASSERT_TRUE(start_box_answerer(&answerer, &script, BOX_TIMEOUT_MS, &transcript))
        << transcript.error;
    const int32_t rc = write_registry_string(root, key_path, value_name, "text");
    ASSERT_EQ(BOX_RUN_COMPLETED, finish_box_answerer(&answerer)) << transcript.error;

    EXPECT_EQ(-1, rc);
    ASSERT_EQ(1, transcript.box_count);
    EXPECT_PRED_FORMAT2(box_text_is, transcript.boxes[0].text, REGISTRY_FAILURE_TEXT);
    EXPECT_EQ(BOX_BUTTON_OK, transcript.boxes[0].buttons);
    EXPECT_EQ(BOX_ICON_NONE, transcript.boxes[0].icon);
    // No caption of its own: the platform's default title, never empty.
    EXPECT_NE(0, transcript.boxes[0].caption[0]);
}

TEST_F(RegistryTest, WriteThatFailsShowsTheFailureBox)
{
    // A handle value far beyond any table slot: no key, no predefined root.
    const HKEY bogus_root = reinterpret_cast<HKEY>(static_cast<uintptr_t>(0x7FFFFFF0));
    // The key opens, but the registry refuses a name of over 16383 characters.
    const std::string long_name(16384, 'n');
    const struct {
        const char* label;
        HKEY root;
        const char* key_path;
        const char* value_name;
    } cases[] = {
        {"key that cannot be created", bogus_root, "Software\\x", "v"},
        {"value that cannot be stored", HKEY_CURRENT_USER, scratch_, long_name.c_str()},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        expect_failure_box(c.root, c.key_path, c.value_name);
    }
}

TEST_F(RegistryTest, SuccessfulWritesShowNoBox)
{
    BoxScript script{{0}, 0};
    BoxTranscript transcript;
    BoxAnswerer answerer;
    ASSERT_TRUE(start_box_answerer(&answerer, &script, BOX_TIMEOUT_MS, &transcript))
        << transcript.error;
    const int32_t created = write_registry_string(HKEY_CURRENT_USER, path("new").c_str(), "v", "a");
    const int32_t opened = write_registry_string(HKEY_CURRENT_USER, path("new").c_str(), "v", "b");
    ASSERT_EQ(BOX_RUN_COMPLETED, finish_box_answerer(&answerer)) << transcript.error;

    EXPECT_EQ(0, created);
    EXPECT_EQ(0, opened);
    EXPECT_EQ(0, transcript.box_count);
}

} // namespace
