// Building a FileList request and taking its result apart, as a caller does.
#pragma once

#include "sysutil/sysutil.h"

#include <string>
#include <vector>

// A zeroed record asking for directory with the given extensions (count set
// to their number), capacity and sort flag.
FileList make_list(const std::string& directory,
                   const std::vector<std::string>& extensions, int32_t capacity,
                   uint8_t sort = 0);

// Checks that the slots past list->count are null, releases every name and
// the array with free(), and returns the names.
std::vector<std::string> take_names(FileList* list);
