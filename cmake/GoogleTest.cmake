# GoogleTest from Debian's sources, built with the project's own compiler for whichever system the
# build is for; its own warnings are not ours.
if(NOT TARGET gtest)
  add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
  foreach(target gtest gtest_main gmock gmock_main)
    target_compile_options(${target} PRIVATE -w)
  endforeach()
endif()
include(GoogleTest)
