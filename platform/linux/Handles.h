// The Linux resources the command holds, each a traits struct for the one owner template (as the
// Windows handles in platform/win32/Handle.h): file descriptors and directory streams.
#pragma once

#include "platform/UniqueHandle.h"

#include <dirent.h>
#include <unistd.h>

namespace platform {

struct FdTraits {
    using Type = int;
    static Type None() { return -1; }
    static bool IsValid(Type fd) { return fd >= 0; }
    static void Close(Type fd) { ::close(fd); }
};

struct DirTraits {
    using Type = DIR*;
    static Type None() { return nullptr; }
    static bool IsValid(Type dir) { return dir != nullptr; }
    static void Close(Type dir) { ::closedir(dir); }
};

using UniqueFd = UniqueHandle<FdTraits>;
using UniqueDir = UniqueHandle<DirTraits>;

} // namespace platform
