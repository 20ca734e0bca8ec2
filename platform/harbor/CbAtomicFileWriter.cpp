#include "platform/harbor/CbAtomicFileWriter.h"

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>

#include "platform/harbor/CbException.h"
#include "platform/harbor/CbStreamWriteBinaryFile.h"

namespace {

using Path = std::filesystem::path;

// Attempts at a fresh temporary name before giving up (a clash needs another writer to draw
// the same pid, sequence number and 64 random bits).
constexpr int c_nameAttempts = 16;

[[noreturn]] void fail(const Path& target, const std::string& step, int error) {
    CB_THROW(CbException,
             "cannot save '" + target.string() + "': " + step + ": " + std::strerror(error));
}

Path folderOf(const Path& path) {
    Path folder = path.parent_path();
    return folder.empty() ? Path(".") : folder;
}

// NAME.tmp-<pid>-<sequence>-<random>: the sequence tells this process's writers apart, the
// pid and the random part other processes (pids repeat across containers sharing a folder).
Path temporaryName(const Path& target) {
    static std::atomic<uint64_t> sequence{0};
    thread_local std::mt19937_64 random{std::random_device{}()};
    char suffix[80];
    std::snprintf(suffix, sizeof(suffix), ".tmp-%ld-%llu-%016llx", static_cast<long>(::getpid()),
                  static_cast<unsigned long long>(sequence.fetch_add(1)),
                  static_cast<unsigned long long>(random()));
    Path name = target;
    name += suffix;
    return name;
}

// Gives the unnamed file open as `descriptor` the name `name`; returns 0 or the error.
// AT_EMPTY_PATH needs a capability on many kernels; the link through /proc does not.
int linkUnnamed(int descriptor, const Path& name) {
    if (::linkat(descriptor, "", AT_FDCWD, name.c_str(), AT_EMPTY_PATH) == 0) {
        return 0;
    }
    if (errno != ENOENT && errno != EPERM) {
        return errno;
    }
    const std::string self = "/proc/self/fd/" + std::to_string(descriptor);
    if (::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, name.c_str(), AT_SYMLINK_FOLLOW) == 0) {
        return 0;
    }
    return errno;
}

// Makes the rename durable: the folder's entry is synced too.
void syncFolder(const Path& folder) {
    const int descriptor = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (descriptor >= 0) {
        ::fsync(descriptor);
        ::close(descriptor);
    }
}

// The file being written: its descriptor and, once it has one, its temporary name, which
// is removed unless the file replaced the target.
class Temporary {
public:
    Temporary(const Path& target, CbAtomicFileWriter::ETemporary kind) : m_target(target) {
        if (kind == CbAtomicFileWriter::ETemporary::eUnnamedWherePossible) {
            m_descriptor = ::open(folderOf(target).c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666);
            const int error = errno;
            if (m_descriptor >= 0) {
                return;
            }
            if (error != EOPNOTSUPP && error != EISDIR && error != EINVAL) {
                fail(target, "cannot create a file in '" + folderOf(target).string() + "'", error);
            }
        }
        openNamed();
    }
    ~Temporary() {
        if (!m_name.empty()) {
            ::unlink(m_name.c_str());
        }
        if (m_descriptor >= 0) {
            ::close(m_descriptor);
        }
    }
    Temporary(const Temporary&) = delete;
    Temporary& operator=(const Temporary&) = delete;

    // Writes, flushes and syncs the content; returns its byte count.
    uint64_t Fill(const CbAtomicFileWriter::Content& content) {
        const int copy = ::fcntl(m_descriptor, F_DUPFD_CLOEXEC, 0);
        if (copy < 0) {
            fail(m_target, "cannot write", errno);
        }
        CbStreamWriteBinaryFile stream(copy, m_target);
        content(stream);
        stream.Flush(true);
        stream.Close();
        return stream.GetCount();
    }

    // Names an unnamed file, then renames it over the target.
    void ReplaceTarget() {
        for (int attempt = 0; m_name.empty(); ++attempt) {
            Path name = temporaryName(m_target);
            const int error = linkUnnamed(m_descriptor, name);
            if (error == 0) {
                m_name = name;
            } else if (error != EEXIST || attempt + 1 == c_nameAttempts) {
                fail(m_target, "cannot name the written file", error);
            }
        }
        if (::rename(m_name.c_str(), m_target.c_str()) != 0) {
            fail(m_target, "cannot replace the file", errno);
        }
        m_name.clear();
    }

private:
    void openNamed() {
        for (int attempt = 0; attempt < c_nameAttempts; ++attempt) {
            Path name = temporaryName(m_target);
            m_descriptor = ::open(name.c_str(), O_CREAT | O_EXCL | O_WRONLY | O_CLOEXEC, 0666);
            const int error = errno;
            if (m_descriptor >= 0) {
                m_name = name;
                return;
            }
            if (error != EEXIST) {
                fail(m_target, "cannot create the file '" + name.string() + "'", error);
            }
        }
        fail(m_target, "cannot create a temporary file", EEXIST);
    }

    const Path& m_target;
    int m_descriptor = -1;
    Path m_name;
};

}  // namespace

uint64_t CbAtomicFileWriter::Write(const Path& path, const Content& content, ETemporary temporary) {
    Temporary file(path, temporary);
    const uint64_t count = file.Fill(content);
    file.ReplaceTarget();
    syncFolder(folderOf(path));
    return count;
}

uint64_t CbAtomicFileWriter::Write(const Path& path, const void* data, uint64_t size,
                                   ETemporary temporary) {
    return Write(
        path, [&](CbStreamWriteBinary& stream) { stream.WriteBuffer(data, size); }, temporary);
}
