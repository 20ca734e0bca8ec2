#include "tools/ttree/OutputFile.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstring>

#include "platform/harbor/CbAtomicFileWriter.h"
#include "platform/harbor/CbException.h"

void OutputFile::RefuseInput(const std::filesystem::path& output,
                             const std::filesystem::path& input) {
    struct stat written {};
    if (::stat(output.c_str(), &written) != 0) {
        if (errno == ENOENT) {
            return;  // a new file cannot be an input
        }
        CB_THROW(CbException, "cannot write '" + output.string() + "': " + std::strerror(errno));
    }
    struct stat read {};
    if (::stat(input.c_str(), &read) == 0 && read.st_dev == written.st_dev &&
        read.st_ino == written.st_ino) {
        CB_THROW(CbException, "refusing to write '" + output.string() +
                                  "': it is the input file '" + input.string() + "'");
    }
}

void OutputFile::Write(const std::filesystem::path& output, const std::vector<uint8_t>& bytes) {
    CbAtomicFileWriter::Write(output, bytes.data(), bytes.size());
}

void OutputFile::Write(const std::filesystem::path& output, std::string_view bytes) {
    CbAtomicFileWriter::Write(output, bytes.data(), bytes.size());
}
