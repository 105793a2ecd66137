#include "tests/sysutil/file_list_helpers.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>

FileList make_list(const std::string& directory,
                   const std::vector<std::string>& extensions, int32_t capacity,
                   uint8_t sort)
{
    FileList list;
    memset(&list, 0, sizeof list);
    EXPECT_LT(directory.size(), sizeof list.directory);
    memcpy(list.directory, directory.c_str(),
           std::min(directory.size() + 1, sizeof list.directory));
    for (size_t i = 0; i < extensions.size() && i < LIST_MAX_EXTENSIONS; ++i)
        memcpy(list.extensions[i], extensions[i].c_str(),
               std::min(extensions[i].size() + 1, LIST_EXTENSION_BYTES));
    list.extension_count = static_cast<int8_t>(extensions.size());
    list.capacity = capacity;
    list.sort = sort;
    return list;
}

std::vector<std::string> take_names(FileList* list)
{
    std::vector<std::string> names;
    if (list->names == nullptr) {
        ADD_FAILURE() << "no names array";
        return names;
    }
    for (int32_t i = 0; i < list->capacity; ++i) {
        if (i < list->count) {
            names.push_back(list->names[i]);
            free(list->names[i]);
        } else {
            EXPECT_EQ(list->names[i], nullptr) << "slot " << i;
        }
    }
    free(list->names);
    list->names = nullptr;
    return names;
}
