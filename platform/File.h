// Replacing a file so that it is either wholly new or wholly as it was, never half written.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace platform {

struct WriteResult {
    std::uint32_t error = 0; // 0, or the first system error number
    // The file had to be rewritten in place, the rewrite failed and its earlier bytes could not
    // be put back either: the target is then damaged, and the user must hear so.
    bool earlierContentLost = false;
    // A file (not a folder) stood at the target before the write, so that a failure can tell the
    // user it is unchanged, and never speak of an earlier file where there was none.
    bool targetExisted = false;
};

// Writes the bytes to a new file beside the target, flushes it, then renames it over the target
// in one step. On failure the target is untouched and the temporary file is gone. The rules, which
// every system's implementation follows:
// - A read-only target, or a directory in its place, is refused at once with access denied
//   (ERROR_ACCESS_DENIED / EACCES); neither is a passing lock worth waiting for.
// - A target that is a symbolic link is followed: the file it points to is replaced, and the
//   link stays a link. Where the system cannot say where a file really is (Windows XP has no
//   GetFinalPathNameByHandleW; a share the user may not list, a volume without a drive letter or,
//   under Wine, a long path make it fail), a target that is no link is written under the name as
//   given; only a link whose target cannot be found fails, with that error.
// - The new file keeps the old one's attributes (hidden, system; the mode on POSIX), read-only
//   aside.
// - The temporary file's name is no longer than "ostrel.txt", so a target whose path fits the
//   system's limit never fails for its temporary file's sake.
// - When the folder allows no new file but the target itself is writable, the target is
//   rewritten in place instead, with its old bytes kept in memory and put back should the
//   rewrite fail. Only if that too fails is earlierContentLost set.
// - A target with more than one hard link (nNumberOfLinks on Windows, st_nlink on POSIX) is
//   rewritten in place the same way: a replace would give the new bytes to this name alone and
//   leave the old key under every other.
WriteResult WriteFileAtomically(const std::wstring& path, std::string_view bytes);

} // namespace platform
