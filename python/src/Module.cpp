#include "python/src/Bindings.h"
#include "python/src/NodeHandle.h"
#include "transformationtree/TransformationTreeVersion.h"

namespace py = pybind11;

namespace {

const char* const c_moduleDoc =
    R"(Trees of rigid 4x4 transformations over 3-D scans: the extension module of the
package transformationtree (import transformationtree as tt).

Ownership: every Node object holds a strong reference to its node and to the root of
the node's tree, so a tree lives while any Node object (or SessionTree) of it exists,
and no object ever refers to a destroyed node. Detached nodes (removed, or created and
not yet appended) are owned by their Node objects. Model objects and the surfel views
they hand out keep the model's surfels alive on their own.

Arrays: matrices and transformed points are new arrays (copies); Model.positions,
colours and qualities are read-only views of the surfels' memory (no copy), while
Model.normals is decoded into a new array.

Threads: long work (reading, writing, model building, transforming points) releases
the GIL, so other Python threads run meanwhile. Calls that use trees are serialised
by one lock of the module, so threads may share trees safely; walks return snapshots.

Errors of the library raise Error (a RuntimeError) or one of its subclasses, with the
library's message; bad arguments raise ValueError or TypeError.)";

}  // namespace

PYBIND11_MODULE(_core, module) {
    module.doc() = c_moduleDoc;
    module.attr("__version__") = TT_VERSION_STRING;
    BindErrors(module);
    BindNodes(module);
    BindSurfels(module);
    BindSessions(module);
    BindSessionTree(module);
}
