#pragma once

#include <cstdio>
#include <filesystem>
#include <vector>

#include "platform/harbor/CbStreamReadBinary.h"

// A binary read stream from a file. The size is taken when the file is opened; the file
// must not grow or shrink while it is read.
class CbStreamReadBinaryFile : public CbStreamReadBinary {
public:
    explicit CbStreamReadBinaryFile(const std::filesystem::path& path);
    ~CbStreamReadBinaryFile() override;
    CbStreamReadBinaryFile(const CbStreamReadBinaryFile&) = delete;
    CbStreamReadBinaryFile& operator=(const CbStreamReadBinaryFile&) = delete;

    // The whole content of a file; throws CbException naming the file when it cannot be read.
    static std::vector<uint8_t> ReadAll(const std::filesystem::path& path);

    void ReadBytes(void* data, uint64_t count) override;
    uint64_t GetRemaining() const override { return m_size - m_position; }
    uint64_t GetPosition() const override { return m_position; }

private:
    std::filesystem::path m_path;
    std::FILE* m_file = nullptr;
    uint64_t m_size = 0;
    uint64_t m_position = 0;
};
