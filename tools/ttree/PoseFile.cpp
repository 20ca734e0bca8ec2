#include "tools/ttree/PoseFile.h"

#include <charconv>
#include <fstream>
#include <sstream>

#include "platform/harbor/CbException.h"

std::vector<std::pair<std::string, CbMatrix4Rd>> PoseFile::Read(const std::filesystem::path& path,
                                                                EConvention convention) {
    std::ifstream file(path);
    if (!file) {
        CB_THROW(CbException, "pose file '" + path.string() + "': cannot open");
    }
    std::vector<std::pair<std::string, CbMatrix4Rd>> poses;
    std::string line;
    for (int number = 1; std::getline(file, line); ++number) {
        line = line.substr(0, line.find('#'));
        std::istringstream words(line);
        std::string name;
        if (!(words >> name)) {
            continue;
        }
        CbMatrix4Rd pose;
        for (size_t i = 0; i < 16; ++i) {
            std::string word;
            double value = 0.0;
            if (!(words >> word) ||
                std::from_chars(word.data(), word.data() + word.size(), value).ptr !=
                    word.data() + word.size()) {
                CB_THROW(CbException, "pose file '" + path.string() + "', line " +
                                          std::to_string(number) +
                                          ": expected 16 numbers after the file name");
            }
            pose[i] = value;
        }
        std::string extra;
        if (words >> extra) {
            CB_THROW(CbException, "pose file '" + path.string() + "', line " +
                                      std::to_string(number) + ": more than 16 numbers");
        }
        poses.emplace_back(name, convention == eColumnVectors ? pose.Transposed() : pose);
    }
    return poses;
}
