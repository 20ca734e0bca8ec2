#pragma once

#include <cstdint>
#include <filesystem>
#include <string_view>
#include <vector>

// How the ttree commands write their results without ever destroying data:
//
// - An output that is one of the command's input files is refused, whatever name it goes
//   by: the same device and inode, so a hard link or a symbolic link to the input counts
//   too. An output that does not exist yet is always fine.
// - The new file replaces the old one all at once (CbAtomicFileWriter): a full disk, a
//   read-only or missing folder or a killed process leave the old file as it was and no
//   temporary behind.
//
// Faults throw CbException naming the file and the reason. Stateless.
class OutputFile {
public:
    static void RefuseInput(const std::filesystem::path& output,
                            const std::filesystem::path& input);
    static void Write(const std::filesystem::path& output, const std::vector<uint8_t>& bytes);
    static void Write(const std::filesystem::path& output, std::string_view bytes);
};
