set(CMAKE_SYSTEM_PROCESSOR i686)
set(OSTREL_MINGW_TRIPLET i686-w64-mingw32)
# The win32 thread model: the shipped program starts no thread and needs no std::mutex, and this
# model leaves winpthreads out of it (about 27 KB). GoogleTest, which does need std::mutex, is
# built only by the x86_64 toolchain, which keeps the posix model.
set(OSTREL_MINGW_THREADS win32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw.cmake)
