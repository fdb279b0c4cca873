// Opening what the command reads from outside (prefixes, disks, launcher settings): every file
// other programs and users wrote. A FIFO or a device in place of a file must not hang the command
// or feed it endless bytes, so files open without blocking and only regular files are read.
#pragma once

#include "stores/ByteSource.h"

#include <cstddef>
#include <memory>
#include <optional>
#include <string>

namespace platform {

// A regular file, open for reading; null and the reason ("PATH: Permission denied", "PATH is not
// a regular file") when it cannot be read. It stays open, so every read sees the same file even
// when a newer one is renamed over it meanwhile.
std::unique_ptr<stores::ByteSource> OpenInputFile(const std::string& path, std::string& problem);

// A whole regular file of at most maxBytes; nothing, and the reason, otherwise.
std::optional<std::string> ReadInputFile(const std::string& path, std::size_t maxBytes,
                                         std::string& problem);

} // namespace platform
