// Replacing a file so that it is either wholly new or wholly as it was, never half written.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace platform {

struct WriteResult {
    std::uint32_t error = 0; // 0, or the first system error number
    // The file had to be rewritten in place, the rewrite failed and its earlier bytes could not
    // be put back either: the target is then damaged, and the user must hear so.
    bool earlierContentLost = false;
    // The name leads to something that is no file (a device, a pipe): refused, nothing touched.
    // The error is set too, so that checking it alone tells every failure.
    bool notAFile = false;
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
//   link stays a link. A link to anything but a file (a device, a pipe) is refused, and nothing
//   is created, renamed or removed; a link to a file not there yet creates it. Where the system
//   cannot say where a file really is (Windows XP has no GetFinalPathNameByHandleW; a share the
//   user may not list, a volume without a drive letter or, under Wine, a long path make it fail),
//   a target that is no link is written under the name as given; only a link whose target cannot
//   be found fails, with that error.
// - The new file keeps the old one's attributes (hidden, system; the mode on POSIX), read-only
//   aside.
// - The temporary file's name is no longer than "ostrel.txt", so a target whose path fits the
//   system's limit never fails for its temporary file's sake.
// - When the folder allows no new file but the target itself is writable, the target is
//   rewritten in place instead, with its old bytes kept in memory and put back should the
//   rewrite fail. Only if that too fails is earlierContentLost set. The same holds for a target
//   with more than one name (hard links: nNumberOfLinks on Windows, st_nlink on POSIX), so that
//   every name sees the new bytes, and for one the folder would not let the user replace (a
//   sticky folder, another user's file). A target too large to be a backup (over
//   kMaxRewriteBytes) is not rewritten in place.
// - The new file keeps the old one's owner where the system lets it (POSIX: the group at least),
//   and the Backup does not fail where it does not.
// Holding more than this in memory for a rewrite in place is refused: a file that large is no
// backup this program wrote.
inline constexpr std::size_t kMaxRewriteBytes = std::size_t{1} << 20;

WriteResult WriteFileAtomically(const std::wstring& path, std::string_view bytes);

} // namespace platform
