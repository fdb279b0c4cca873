// A hive read as Windows would load it at its next boot: when Windows stopped before it had
// written its latest changes into the hive file, they wait in the transaction logs beside it
// (NAME.LOG1 and NAME.LOG2 since Vista, XP's NAME.LOG), and Windows lays them over the hive when
// it loads it. This does the same in memory, and never writes: the result reads the primary
// file's bytes, with the pages the logs replace read from the logs when asked.
//
// Two formats. Windows 8.1 and later append entries to the logs, each with its sequence number,
// the size the hive has after it, the pages it changed and two Marvin32 hashes; entries follow one
// another across LOG1 and LOG2. XP to 8.0 write a whole log at once: a bitmap of the hive's dirty
// 512-byte sectors, then those sectors.
#pragma once

#include "stores/ByteSource.h"

#include <memory>
#include <string>
#include <vector>

namespace stores {

struct HiveLogFile {
    std::string name;                  // as the user sees it, e.g. "SOFTWARE.LOG1"
    const ByteSource* bytes = nullptr; // owned by the caller; outlives the replay's result
};

// Whether Windows would read the hive's logs before it uses it: its base block's two sequence
// numbers differ (a write was under way), or its checksum is wrong (the base block itself was torn
// or is damaged). Reads the base block only.
bool HiveNeedsLogs(const ByteSource& primary);

struct HiveReplay {
    // The hive after the replay, with a clean base block (sequence numbers equal, checksum right,
    // the hive bins' size the logs left). Null when nothing was applied: the hive was clean, or
    // no log could be applied.
    std::unique_ptr<ByteSource> hive;
    std::string said;    // after a replay, one line: which logs, and how many entries of each
    std::string problem; // the hive needed its logs and none could be applied: why
};

// `logs`: whichever of NAME.LOG1, NAME.LOG2 and NAME.LOG the caller found, in any order; each is
// told apart by its own base block. Reads each log at most once through (and the primary's base
// block); memory stays a small fraction of the logs' size. The primary must outlive the result.
// Messages are plain ASCII, name the logs by `name` and leave the hive's own path to the caller.
HiveReplay ReplayHiveLogs(const ByteSource& primary, const std::vector<HiveLogFile>& logs);

} // namespace stores
