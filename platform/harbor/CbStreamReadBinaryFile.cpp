#include "platform/harbor/CbStreamReadBinaryFile.h"

#include <sys/stat.h>
#include <cerrno>
#include <cstring>
#include <string>

#include "platform/harbor/CbException.h"

CbStreamReadBinaryFile::CbStreamReadBinaryFile(const std::filesystem::path& path) : m_path(path) {
    m_file = std::fopen(path.c_str(), "rb");
    if (m_file == nullptr) {
        CB_THROW(CbException, "cannot open file '" + path.string() + "': " + std::strerror(errno));
    }
    struct stat info {};
    if (::fstat(fileno(m_file), &info) != 0 || !S_ISREG(info.st_mode)) {
        std::fclose(m_file);
        m_file = nullptr;
        CB_THROW(CbException, "not a regular file: '" + path.string() + "'");
    }
    m_size = static_cast<uint64_t>(info.st_size);
    std::setvbuf(m_file, nullptr, _IOFBF, 1 << 20);
}

CbStreamReadBinaryFile::~CbStreamReadBinaryFile() {
    if (m_file != nullptr) {
        std::fclose(m_file);
    }
}

void CbStreamReadBinaryFile::ReadBytes(void* data, uint64_t count) {
    if (count > GetRemaining()) {
        CB_THROW(CbException, "truncated file '" + m_path.string() + "': " + std::to_string(count) +
                                  " bytes needed at byte " + std::to_string(m_position) + ", " +
                                  std::to_string(GetRemaining()) + " left");
    }
    if (count != 0 && std::fread(data, 1, count, m_file) != count) {
        CB_THROW(CbException, "cannot read file '" + m_path.string() + "' at byte " +
                                  std::to_string(m_position));
    }
    m_position += count;
}

std::vector<uint8_t> CbStreamReadBinaryFile::ReadAll(const std::filesystem::path& path) {
    CbStreamReadBinaryFile file(path);
    std::vector<uint8_t> bytes(file.GetRemaining());
    file.ReadBuffer(bytes.data(), bytes.size());
    return bytes;
}
