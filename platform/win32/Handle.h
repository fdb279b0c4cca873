// The Win32 handles the program holds, each a traits struct for the one owner template: its type,
// its "none" value and its close function.
#pragma once

#include "platform/UniqueHandle.h"

#include <windows.h>

namespace platform {

// CreateFile reports failure as INVALID_HANDLE_VALUE, other kernel calls as NULL: reject both.
struct KernelHandleTraits {
    using Type = HANDLE;
    static Type None() { return INVALID_HANDLE_VALUE; }
    static bool IsValid(Type h) { return h != nullptr && h != INVALID_HANDLE_VALUE; }
    static void Close(Type h) { ::CloseHandle(h); }
};

template <typename T> struct GdiObjectTraits {
    using Type = T;
    static Type None() { return nullptr; }
    static bool IsValid(Type h) { return h != nullptr; }
    static void Close(Type h) { ::DeleteObject(h); }
};

using UniqueKernelHandle = UniqueHandle<KernelHandleTraits>;
using UniqueFont = UniqueHandle<GdiObjectTraits<HFONT>>;
using UniqueBrush = UniqueHandle<GdiObjectTraits<HBRUSH>>;

} // namespace platform
