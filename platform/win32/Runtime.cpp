// The shipped program is built without exceptions, so the few places where the C++ library would
// throw end here instead: out of memory and the library's own checks (a string longer than it can
// hold) are reported like any other failure nothing can handle, and the program ends. This keeps
// the exception runtime, its unwinder and the exception classes out of the executable.
#include "platform/Message.h"

#include <cstddef>
#include <new>
#include <windows.h>

namespace {

[[noreturn]] void OutOfMemory() {
    platform::ReportUnhandledError(ERROR_NOT_ENOUGH_MEMORY, {});
}

[[noreturn]] void InternalError() {
    platform::ReportUnhandledError(ERROR_INTERNAL_ERROR, {});
}

// The process heap needs no start-up of its own, unlike the C runtime's.
void* Allocate(std::size_t size) noexcept {
    return ::HeapAlloc(::GetProcessHeap(), 0, size);
}

void Release(void* block) noexcept {
    if (block) {
        ::HeapFree(::GetProcessHeap(), 0, block);
    }
}

} // namespace

void* operator new(std::size_t size) {
    if (void* block = Allocate(size)) {
        return block;
    }
    OutOfMemory();
}

void* operator new[](std::size_t size) {
    return operator new(size);
}

void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    return Allocate(size);
}

void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
    return Allocate(size);
}

void operator delete(void* block) noexcept {
    Release(block);
}

void operator delete(void* block, std::size_t) noexcept {
    Release(block);
}

void operator delete[](void* block) noexcept {
    Release(block);
}

void operator delete[](void* block, std::size_t) noexcept {
    Release(block);
}

// The library's own throw helpers, declared in <bits/functexcept.h>. Defining them here keeps the
// library's versions, which build and throw exception objects, from being linked at all.
// NOLINTBEGIN(bugprone-reserved-identifier)
namespace std {

void __throw_bad_alloc() {
    OutOfMemory();
}

void __throw_bad_array_new_length() {
    OutOfMemory();
}

void __throw_length_error(const char*) {
    InternalError();
}

void __throw_logic_error(const char*) {
    InternalError();
}

void __throw_out_of_range(const char*) {
    InternalError();
}

void __throw_out_of_range_fmt(const char*, ...) {
    InternalError();
}

void __throw_invalid_argument(const char*) {
    InternalError();
}

} // namespace std
// NOLINTEND(bugprone-reserved-identifier)
