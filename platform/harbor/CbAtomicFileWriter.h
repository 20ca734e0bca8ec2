#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>

#include "platform/harbor/CbStreamWriteBinaryFile.h"

// Replaces a file all at once, so that readers, a crash or a killed process find either the
// old file or the complete new one, never a part of it:
//
// - The content goes into an unnamed file in the target's folder (O_TMPFILE), is flushed and
//   synced to disk, gets a unique temporary name (linkat) and is renamed over the target;
//   then the folder is synced. A process killed before that leaves nothing behind: the
//   unnamed file goes with it.
// - Where the file system has no unnamed files (EOPNOTSUPP, EISDIR, EINVAL), the content
//   goes into a file created under a unique temporary name instead; only there can a killed
//   process leave a temporary behind (NAME.tmp-...).
//
// Every call has its own temporary, so threads and processes that save the same path at the
// same time each replace the file with a complete version; the last rename wins. Failures
// throw CbException naming the target and the system's reason; the temporary is removed and
// the target is left as it was. Syncing the folder after the rename is best effort.
class CbAtomicFileWriter {
public:
    enum class ETemporary {
        eUnnamedWherePossible,
        eNamed,  // always a named temporary, the way taken where unnamed files are refused
    };
    // Writes the content into the file's stream (which may overwrite what it wrote before).
    using Content = std::function<void(CbStreamWriteBinaryFile&)>;

    // Writes what `content` writes to its stream as the new `path`; returns the byte count.
    static uint64_t Write(const std::filesystem::path& path, const Content& content,
                          ETemporary temporary = ETemporary::eUnnamedWherePossible);
    static uint64_t Write(const std::filesystem::path& path, const void* data, uint64_t size,
                          ETemporary temporary = ETemporary::eUnnamedWherePossible);
};
