#include "platform/harbor/CbStreamWriteBinaryFile.h"

#include <unistd.h>
#include <cerrno>
#include <cstring>
#include <string>

#include "platform/harbor/CbException.h"

namespace {
std::string describe(const std::filesystem::path& path, const char* what) {
    return std::string(what) + " '" + path.string() + "': " + std::strerror(errno);
}
}  // namespace

CbStreamWriteBinaryFile::CbStreamWriteBinaryFile(const std::filesystem::path& path) : m_path(path) {
    m_file = std::fopen(path.c_str(), "wb");
    if (m_file == nullptr) {
        CB_THROW(CbException, describe(path, "cannot create file"));
    }
    std::setvbuf(m_file, nullptr, _IOFBF, 1 << 20);
}

CbStreamWriteBinaryFile::CbStreamWriteBinaryFile(int descriptor, const std::filesystem::path& path)
    : m_path(path) {
    m_file = ::fdopen(descriptor, "wb");
    if (m_file == nullptr) {
        const int error = errno;
        ::close(descriptor);
        errno = error;
        CB_THROW(CbException, describe(path, "cannot write file"));
    }
    std::setvbuf(m_file, nullptr, _IOFBF, 1 << 20);
}

CbStreamWriteBinaryFile::~CbStreamWriteBinaryFile() {
    if (m_file != nullptr) {
        std::fclose(m_file);
    }
}

void CbStreamWriteBinaryFile::WriteBytes(const void* data, uint64_t count) {
    if (m_file == nullptr) {
        CB_THROW(CbException, "write to closed file '" + m_path.string() + "'");
    }
    if (count != 0 && std::fwrite(data, 1, count, m_file) != count) {
        CB_THROW(CbException, describe(m_path, "cannot write file"));
    }
    m_count += count;
}

void CbStreamWriteBinaryFile::Overwrite(uint64_t offset, const void* data, uint64_t count) {
    if (m_file == nullptr) {
        CB_THROW(CbException, "write to closed file '" + m_path.string() + "'");
    }
    if (offset > m_count || count > m_count - offset) {
        CB_THROW(CbException, "CbStreamWriteBinaryFile::Overwrite: bytes " +
                                  std::to_string(offset) + " + " + std::to_string(count) +
                                  " lie beyond the " + std::to_string(m_count) + " written");
    }
    // The buffered bytes go out first, so that the overwritten ones are in the file.
    Flush(false);
    const auto* bytes = static_cast<const char*>(data);
    while (count > 0) {
        const ssize_t written = ::pwrite(fileno(m_file), bytes, count, static_cast<off_t>(offset));
        if (written < 0 && errno == EINTR) {
            continue;
        }
        if (written <= 0) {
            CB_THROW(CbException, describe(m_path, "cannot write file"));
        }
        bytes += written;
        offset += static_cast<uint64_t>(written);
        count -= static_cast<uint64_t>(written);
    }
}

void CbStreamWriteBinaryFile::Flush(bool sync) {
    if (m_file == nullptr) {
        return;
    }
    if (std::fflush(m_file) != 0 || (sync && ::fsync(fileno(m_file)) != 0)) {
        CB_THROW(CbException, describe(m_path, "cannot flush file"));
    }
}

void CbStreamWriteBinaryFile::Close() {
    if (m_file == nullptr) {
        return;
    }
    std::FILE* file = m_file;
    m_file = nullptr;
    if (std::fclose(file) != 0) {
        CB_THROW(CbException, describe(m_path, "cannot close file"));
    }
}
