#include "tools/ttree/PoseFile.h"

#include <charconv>
#include <cmath>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <type_traits>

#include "platform/harbor/CbException.h"
#include "tools/ttree/RigidTransform.h"

namespace {

constexpr size_t c_poseValues = 16;
constexpr size_t c_acquisitionValues = 3;

// Where a fault is: the file and, from 1 on, the line.
struct Place {
    const std::string& file;
    int line;
};

[[noreturn]] void fail(const Place& place, const std::string& what) {
    CB_THROW(CbException,
             "pose file '" + place.file + "', line " + std::to_string(place.line) + ": " + what);
}

template <class T>
T parse(const std::string& word, const Place& place, const char* what) {
    T value{};
    auto [end, error] = std::from_chars(word.data(), word.data() + word.size(), value);
    if (error != std::errc() || end != word.data() + word.size()) {
        fail(place, std::string(what) + " '" + word + "' is not " +
                        (std::is_integral_v<T> ? "a whole number of 0 or more" : "a number"));
    }
    return value;
}

void checkPose(const CbMatrix4Rd& pose, PoseFile::EConvention convention, const Place& place,
               const std::string& scan) {
    const bool columns = convention == PoseFile::eColumnVectors;
    std::string fault = RigidTransform::Fault(pose, columns);
    if (fault.empty()) {
        return;
    }
    if (RigidTransform::Fault(pose.Transposed(), !columns).empty()) {
        fault += "; its transpose is a rigid transformation: --pose-convention " +
                 std::string(columns ? "row" : "column") + " is probably meant";
    }
    fail(place, "the pose of '" + scan + "' is not a rigid transformation: " + fault);
}

PoseFile::Acquisition parseAcquisition(const std::vector<std::string>& words, const Place& place) {
    PoseFile::Acquisition acquisition;
    const size_t first = 1 + c_poseValues;
    acquisition.sequence = parse<uint64_t>(words[first], place, "the sequence number");
    acquisition.timeStamp = parse<double>(words[first + 1], place, "the time stamp");
    acquisition.segment = parse<uint32_t>(words[first + 2], place, "the segment");
    if (!std::isfinite(acquisition.timeStamp)) {
        fail(place, "the time stamp is not finite (" + words[first + 1] + ")");
    }
    return acquisition;
}

PoseFile::Entry parseEntry(const std::vector<std::string>& words, const Place& place,
                           PoseFile::EConvention convention) {
    const size_t values = words.size() - 1;
    if (values != c_poseValues && values != c_poseValues + c_acquisitionValues) {
        fail(place, std::to_string(values) +
                        " values after the file name: expected 16 (the pose), or 19 (the pose, "
                        "the sequence number, the time stamp and the segment)");
    }
    PoseFile::Entry entry{words[0], CbMatrix4Rd(), place.line, std::nullopt};
    for (size_t i = 0; i < c_poseValues; ++i) {
        entry.pose[i] =
            parse<double>(words[1 + i], place, ("pose value " + std::to_string(i + 1)).c_str());
    }
    if (convention == PoseFile::eColumnVectors) {
        entry.pose = entry.pose.Transposed();
    }
    checkPose(entry.pose, convention, place, entry.scan);
    entry.pose = RigidTransform::WithExactProjectivePart(entry.pose);
    if (values > c_poseValues) {
        entry.acquisition = parseAcquisition(words, place);
    }
    return entry;
}

// Drops the later lines of scans listed more than once ("a.ply" and "./a.ply" are the same
// scan), or refuses them.
void handleDuplicates(PoseFile::Contents& contents, const std::string& name, bool skip) {
    std::map<std::string, int> firstLine;
    std::vector<PoseFile::Entry> kept;
    for (PoseFile::Entry& entry : contents.entries) {
        std::string file = std::filesystem::path(entry.scan).lexically_normal().string();
        auto [first, isNew] = firstLine.emplace(file, entry.line);
        if (isNew) {
            kept.push_back(std::move(entry));
            continue;
        }
        std::string what = "'" + entry.scan + "' is listed again (first on line " +
                           std::to_string(first->second) + ")";
        if (!skip) {
            fail({name, entry.line}, what + "; --skip-duplicates leaves out the later lines");
        }
        contents.warnings.push_back("pose file '" + name + "', line " + std::to_string(entry.line) +
                                    ": " + what + "; left out");
    }
    contents.entries = std::move(kept);
}

// `entry`'s sequence number and time stamp come after `previous`'s.
void checkFollows(const PoseFile::Entry& previous, const PoseFile::Entry& entry,
                  const Place& place) {
    const PoseFile::Acquisition& a = *entry.acquisition;
    const PoseFile::Acquisition& b = *previous.acquisition;
    const std::string before = " of line " + std::to_string(previous.line);
    if (a.sequence <= b.sequence) {
        fail(place, "the sequence number " + std::to_string(a.sequence) + " does not follow " +
                        std::to_string(b.sequence) + before +
                        ": the lines must be in acquisition order");
    }
    if (a.timeStamp < b.timeStamp) {
        std::ostringstream what;
        what << "the time stamp " << a.timeStamp << " s is earlier than " << b.timeStamp << " s"
             << before;
        fail(place, what.str());
    }
}

// The optional columns on every line or on none, in acquisition order, segment by segment.
void checkAcquisition(const std::vector<PoseFile::Entry>& entries, const std::string& file) {
    std::set<uint32_t> endedSegments;
    for (size_t i = 1; i < entries.size(); ++i) {
        const PoseFile::Entry& previous = entries[i - 1];
        const PoseFile::Entry& entry = entries[i];
        const Place place{file, entry.line};
        if (entry.acquisition.has_value() != previous.acquisition.has_value()) {
            fail(place, std::string(entry.acquisition ? "has" : "lacks") +
                            " the sequence number, time stamp and segment that line " +
                            std::to_string(previous.line) +
                            (entry.acquisition ? " lacks" : " has") +
                            ": give them on every line or on none");
        }
        if (!entry.acquisition) {
            continue;
        }
        checkFollows(previous, entry, place);
        if (entry.acquisition->segment != previous.acquisition->segment) {
            endedSegments.insert(previous.acquisition->segment);
            if (endedSegments.count(entry.acquisition->segment) != 0) {
                fail(place, "segment " + std::to_string(entry.acquisition->segment) +
                                " comes back after another segment: the lines of a segment must "
                                "follow each other");
            }
        }
    }
}

}  // namespace

PoseFile::Contents PoseFile::Read(const std::filesystem::path& path, const Options& options) {
    std::ifstream file(path);
    if (!file) {
        CB_THROW(CbException, "pose file '" + path.string() + "': cannot open");
    }
    std::ostringstream text;
    text << file.rdbuf();
    return Parse(text.str(), path.string(), options);
}

PoseFile::Contents PoseFile::Parse(const std::string& text, const std::string& name,
                                   const Options& options) {
    Contents contents;
    std::istringstream lines(text);
    std::string line;
    for (int number = 1; std::getline(lines, line); ++number) {
        std::istringstream stream(line.substr(0, line.find('#')));
        std::vector<std::string> words;
        for (std::string word; stream >> word;) {
            words.push_back(word);
        }
        if (!words.empty()) {
            contents.entries.push_back(parseEntry(words, {name, number}, options.convention));
        }
    }
    handleDuplicates(contents, name, options.skipDuplicates);
    checkAcquisition(contents.entries, name);
    return contents;
}
