#include <pybind11/stl/filesystem.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <mutex>
#include <string>

#include "python/src/Bindings.h"
#include "python/src/Conversions.h"
#include "python/src/NodeHandle.h"
#include "python/src/TreeLock.h"
#include "transformationtree/persistence/KaCSessionFile.h"

namespace py = pybind11;

namespace {

// Session files end in .ttree (any letter case), as the ttree program requires of the
// sessions it writes.
void requireSessionExtension(const std::filesystem::path& path) {
    std::string extension = path.extension().string();
    std::transform(extension.begin(), extension.end(), extension.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    if (extension != ".ttree") {
        throw py::value_error("write_session: '" + path.string() +
                              "' does not end in .ttree, the extension of session files");
    }
}

}  // namespace

void BindSessions(py::module_& module) {
    module.def(
        "_read_session",
        [](const std::filesystem::path& path) {
            KaCSessionFile::Contents contents;
            {
                py::gil_scoped_release release;
                contents = KaCSessionFile::Read(path, false);
            }
            py::dict properties;
            for (const auto& [key, value] : contents.properties) {
                properties[Conversions::ToPython(key)] = Conversions::ToPython(value);
            }
            return py::make_tuple(NodeHandle(contents.root), properties);
        },
        py::arg("path"),
        "Reads a session file: (root, properties). Releases the GIL while it reads.");

    module.def(
        "write_session",
        [](const std::filesystem::path& path, const NodeHandle& root, const py::handle& given) {
            requireSessionExtension(path);
            KaCSessionFile::Properties properties;
            if (!given.is_none()) {
                if (!py::isinstance<py::dict>(given)) {
                    throw py::type_error("write_session: properties must be a dict of str to str");
                }
                for (const auto& [key, value] : py::reinterpret_borrow<py::dict>(given)) {
                    properties[Conversions::FromPython(key, "property key")] =
                        Conversions::FromPython(value, "property value");
                }
            }
            CbSmartPointer<KaCTransformationNodeInner> inner;
            {
                TreeLock::Guard lock;
                inner = root.Inner();
            }
            if (!inner) {
                throw py::type_error("write_session: the root must be an inner node, not a leaf");
            }
            py::gil_scoped_release release;
            std::lock_guard<std::recursive_mutex> lock(TreeLock::Mutex());
            return KaCSessionFile::Write(path, inner, properties);
        },
        py::arg("path"), py::arg("root"), py::arg("properties") = py::none(),
        R"(Writes the tree below the inner node `root` (structure, models, attributes) and the
text `properties` (a dict of str to str, or None) as a session file, exactly as the ttree
program writes sessions: into a temporary file in the target's folder, synced to disk
and renamed over `path`, so that `path` holds either its old content or the whole new
session, never a part. `path` must end in .ttree (ValueError otherwise). Returns the
number of bytes written. Raises Error naming the file when it cannot be written (the
old file stays as it was). Releases the GIL while it encodes and writes.)");
}
