// Reads Updater.exe's resources through the platform's own readers (the
// version API, the icon loader, the activation-context parser): a record
// that an independent parser accepts can still be one that Windows reads
// differently, for instance through a padding or alignment slip.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <vector>

namespace {

const char* const PROGRAM = UPDATER_EXE_PATH;
const WORD LANG_JA = MAKELANGID(LANG_JAPANESE, SUBLANG_DEFAULT);

TEST(ResourcesAsWindowsReadsThem, VersionRecord) {
    DWORD ignored = 0;
    DWORD size = GetFileVersionInfoSizeA(PROGRAM, &ignored);
    ASSERT_NE(size, 0u) << "GetLastError " << GetLastError();
    std::vector<char> info(size);
    ASSERT_TRUE(GetFileVersionInfoA(PROGRAM, 0, size, info.data()));

    void* value = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueA(info.data(), "\\", &value, &length));
    ASSERT_EQ(length, sizeof(VS_FIXEDFILEINFO));
    VS_FIXEDFILEINFO fixed;
    std::memcpy(&fixed, value, sizeof fixed);
    EXPECT_EQ(fixed.dwFileVersionMS, MAKELONG(475, 0));
    EXPECT_EQ(fixed.dwFileVersionLS, 0u);
    EXPECT_EQ(fixed.dwProductVersionMS, MAKELONG(475, 0));
    EXPECT_EQ(fixed.dwProductVersionLS, 0u);
    EXPECT_EQ(fixed.dwFileFlags, 0u);
    EXPECT_EQ(fixed.dwFileOS, static_cast<DWORD>(VOS_NT_WINDOWS32));
    EXPECT_EQ(fixed.dwFileType, static_cast<DWORD>(VFT_APP));

    ASSERT_TRUE(VerQueryValueA(info.data(), "\\VarFileInfo\\Translation", &value, &length));
    ASSERT_EQ(length, 4u);
    WORD translation[2];
    std::memcpy(translation, value, sizeof translation);
    EXPECT_EQ(translation[0], 0x0411);
    EXPECT_EQ(translation[1], 1200);

    const struct {
        const char* name;
        const char* text;
    } strings[] = {
        {"FileDescription", "ORVEX Updater"},  {"ProductName", "ORVEX Updater"},
        {"FileVersion", "0, 475, 0, 0"},       {"ProductVersion", "0, 475, 0, 0"},
        {"InternalName", "ORVUpdater"},        {"OriginalFilename", "Updater.exe"},
        {"Comments", ""},       {"CompanyName", ""},  {"LegalCopyright", ""},
        {"LegalTrademarks", ""}, {"PrivateBuild", ""}, {"SpecialBuild", ""},
    };
    for (const auto& s : strings) {
        SCOPED_TRACE(s.name);
        char path[64];
        int n = std::snprintf(path, sizeof path, "\\StringFileInfo\\041104b0\\%s", s.name);
        ASSERT_TRUE(n > 0 && static_cast<size_t>(n) < sizeof path);
        char* text = nullptr;
        length = 0;
        ASSERT_TRUE(VerQueryValueA(info.data(), path, reinterpret_cast<void**>(&text), &length));
        ASSERT_NE(text, nullptr);
        EXPECT_STREQ(text, s.text);
    }
}

TEST(ResourcesAsWindowsReadsThem, IconGroupImagesLoadAtEachSize) {
    HMODULE module = LoadLibraryExA(PROGRAM, nullptr,
                                    LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
    ASSERT_NE(module, nullptr) << "GetLastError " << GetLastError();
    HRSRC group = FindResourceExA(module, RT_GROUP_ICON,
                                  MAKEINTRESOURCEA(101), LANG_JA);
    ASSERT_NE(group, nullptr);
    auto* directory = static_cast<BYTE*>(LockResource(LoadResource(module, group)));
    ASSERT_NE(directory, nullptr);

    const struct {
        int size;
        int bits;
    } images[] = {{256, 24}, {48, 24}, {32, 24}, {16, 32}};
    for (const auto& image : images) {
        SCOPED_TRACE(image.size);
        // The loader's own choice for that size must be that image.
        int id = LookupIconIdFromDirectoryEx(directory, TRUE, image.size, image.size,
                                             LR_DEFAULTCOLOR);
        ASSERT_NE(id, 0);
        HRSRC found = FindResourceExA(module, RT_ICON, MAKEINTRESOURCEA(id),
                                      LANG_JA);
        ASSERT_NE(found, nullptr);
        auto* bits = static_cast<BYTE*>(LockResource(LoadResource(module, found)));
        DWORD bytes = SizeofResource(module, found);
        HICON icon = CreateIconFromResourceEx(bits, bytes, TRUE, 0x00030000, image.size,
                                              image.size, LR_DEFAULTCOLOR);
        ASSERT_NE(icon, nullptr) << "the platform could not decode image " << id;
        ICONINFO info = {};
        ASSERT_TRUE(GetIconInfo(icon, &info));
        BITMAP colour = {};
        ASSERT_NE(info.hbmColor, nullptr);
        ASSERT_NE(GetObjectA(info.hbmColor, sizeof colour, &colour), 0);
        EXPECT_EQ(colour.bmWidth, image.size);
        EXPECT_EQ(colour.bmHeight, image.size);
        DeleteObject(info.hbmColor);
        DeleteObject(info.hbmMask);
        DestroyIcon(icon);

        // The group entry the loader picked states the depth of that image.
        WORD count = 0;
        std::memcpy(&count, directory + 4, sizeof count);
        bool listed = false;
        for (WORD i = 0; i < count; ++i) {
            const BYTE* entry = directory + 6 + 14 * i;
            WORD entry_bits = 0;
            WORD entry_id = 0;
            std::memcpy(&entry_bits, entry + 6, sizeof entry_bits);
            std::memcpy(&entry_id, entry + 12, sizeof entry_id);
            if (entry_id == id) {
                listed = true;
                EXPECT_EQ(entry_bits, image.bits);
                EXPECT_EQ(entry[0] == 0 ? 256 : entry[0], image.size);
            }
        }
        EXPECT_TRUE(listed);
    }
    FreeLibrary(module);
}

TEST(ResourcesAsWindowsReadsThem, ManifestMakesAnActivationContext) {
    ACTCTXA request = {};
    request.cbSize = sizeof request;
    request.dwFlags = ACTCTX_FLAG_RESOURCE_NAME_VALID;
    request.lpSource = PROGRAM;
    request.lpResourceName = MAKEINTRESOURCEA(1);
    HANDLE context = CreateActCtxA(&request);
    ASSERT_NE(context, INVALID_HANDLE_VALUE) << "GetLastError " << GetLastError();

    ACTIVATION_CONTEXT_RUN_LEVEL_INFORMATION level = {};
    SIZE_T written = 0;
    EXPECT_TRUE(QueryActCtxW(0, context, nullptr, RunlevelInformationInActivationContext,
                             &level, sizeof level, &written));
    EXPECT_EQ(level.RunLevel, ACTCTX_RUN_LEVEL_HIGHEST_AVAILABLE);
    EXPECT_EQ(level.UiAccess, 0u);
    ReleaseActCtx(context);
}

}  // namespace
