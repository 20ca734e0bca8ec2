#pragma once

#include <cstdio>
#include <filesystem>

#include "platform/harbor/CbStreamWriteBinary.h"

// A binary write stream into a file, created or truncated on construction (or an open
// descriptor handed over). Close() flushes and reports errors; the destructor closes
// silently.
class CbStreamWriteBinaryFile : public CbStreamWriteBinary {
public:
    explicit CbStreamWriteBinaryFile(const std::filesystem::path& path);
    // Writes to the open `descriptor`, which the stream takes over and closes; `path` names
    // the file in messages.
    CbStreamWriteBinaryFile(int descriptor, const std::filesystem::path& path);
    ~CbStreamWriteBinaryFile() override;
    CbStreamWriteBinaryFile(const CbStreamWriteBinaryFile&) = delete;
    CbStreamWriteBinaryFile& operator=(const CbStreamWriteBinaryFile&) = delete;

    void WriteBytes(const void* data, uint64_t count) override;
    uint64_t GetCount() const override { return m_count; }

    // Replaces `count` bytes written before, at `offset` (offset + count <= GetCount()), for
    // fields that are known only after what follows them; later writes go on at the end.
    void Overwrite(uint64_t offset, const void* data, uint64_t count);
    // Flushes the data to the operating system and, with `sync`, to the disk.
    void Flush(bool sync);
    void Close();

private:
    std::filesystem::path m_path;
    std::FILE* m_file = nullptr;
    uint64_t m_count = 0;
};
