#!/usr/bin/env python3
"""Checks that every project include goes down the layers of the project.

Each C++ file of the project belongs to one layer: a platform library, the logging bridge,
its back end, a subsystem folder of transformationtree/, the ttree program, the tests, the
benchmarks or the fuzz targets. An `#include "..."` (include paths are rooted at the
repository) may name a file of the same layer or of a layer below it; anything else is
reported with file, line and the offending edge, and the check fails.

The tables below are the layering of docs/ARCHITECTURE.md; change both together.

    tools/check_layers.py [--root DIR] [--list-edges]
"""

import argparse
import os
import re
import sys

# Folders whose files are not the project's sources: build trees (build, build-asan, ...),
# hidden folders, and the fuzzers' inputs.
SKIPPED_TOP_FOLDERS_PREFIX = "build"
SKIPPED_FOLDERS = {"fuzz/corpus", "fuzz/crashes"}
SOURCE_EXTENSIONS = (".h", ".hpp", ".cpp", ".cc", ".inl")

# The top-level folders an include path may start with.
PROJECT_TOP_FOLDERS = ("platform", "logging", "transformationtree", "tools", "tests", "bench", "fuzz")

PLATFORM_LIBRARIES = [
    "harbor", "abacus", "prism", "lattice", "mosaic", "courier", "tidewell", "granary", "velmar",
]


def platform(name):
    return "platform/" + name


def tt(name):
    return "transformationtree/" + name


# What each layer may include directly; as in the CMake files (tt_add_library DEPENDS), a
# layer may also include whatever the layers it names may include. "transformationtree"
# stands for all of its subsystem folders.
LAYER_DEPENDS = {
    platform("harbor"): [],
    platform("abacus"): [platform("harbor")],
    platform("prism"): [platform("abacus")],
    platform("lattice"): [platform("harbor")],
    platform("mosaic"): [platform("harbor")],
    platform("courier"): [platform("lattice"), platform("abacus")],
    platform("tidewell"): [platform("lattice"), "logging"],
    platform("granary"): [platform("harbor"), platform("abacus"), platform("prism"),
                          platform("lattice")],
    platform("velmar"): [platform("granary")],
    "logging": [platform("harbor")],
    # The back end (libNLogC.so) links only harbor; it includes the bridge's headers for the
    # types of the entry points, which the bridge looks up at run time.
    "logging/backend": [platform("harbor"), "logging"],
    "tools/ttree": ["transformationtree"],
    "bench": ["transformationtree"],
    "fuzz": ["tools/ttree"],
    "tests": ["tools/ttree", "logging/backend"],
}

# What every subsystem folder of transformationtree/ may include outside the library.
TRANSFORMATIONTREE_DEPENDS = [platform(name) for name in PLATFORM_LIBRARIES] + ["logging"]

# Inside transformationtree/: which folder may include which, from the headers' point of
# view (no header includes against these edges). Like the layers, transitive.
TRANSFORMATIONTREE_FOLDER_DEPENDS = {
    tt("iterators"): [],
    tt("nodes"): [tt("iterators")],
    tt("manager"): [tt("nodes")],
    tt("persistence"): [tt("nodes"), tt("manager")],
    tt("nodevectors"): [tt("nodes"), tt("persistence")],
    tt("attributes"): [tt("nodes"), tt("persistence")],
    tt("organisation"): [tt("nodes"), tt("manager")],
}

# Includes that go against the folder order above and close cycles between folders. They
# exist today in source files (.cpp) only and are tolerated there, edge by edge and not
# transitively; a header may not use them, and no other edge against the order is
# accepted. See "Cycles" in docs/ARCHITECTURE.md.
TRANSFORMATIONTREE_CYCLE_EDGES = {
    # The iterators are nested classes of KaCTransformationNode; their definitions need the
    # inner node.
    (tt("iterators"), tt("nodes")),
    # The node's named loggers (KaCTransformationTreeLoggers) live in manager/.
    (tt("nodes"), tt("manager")),
    # Model building flattens a subtree into a KaCNodeVector.
    (tt("nodes"), tt("nodevectors")),
    # Node records name their children through the node ID mapper.
    (tt("nodes"), tt("persistence")),
}
CYCLE_EDGE_EXTENSIONS = (".cpp", ".cc")

TRANSFORMATIONTREE_FOLDERS = [layer.split("/")[1] for layer in TRANSFORMATIONTREE_FOLDER_DEPENDS]


class LayerTableError(Exception):
    """The tables above contradict themselves."""


def direct_depends():
    """Every layer with the layers it may include directly, "transformationtree" expanded."""
    depends = {}
    for layer, targets in LAYER_DEPENDS.items():
        depends[layer] = list(targets)
    for folder, targets in TRANSFORMATIONTREE_FOLDER_DEPENDS.items():
        depends[folder] = list(targets) + TRANSFORMATIONTREE_DEPENDS
    depends["transformationtree"] = list(TRANSFORMATIONTREE_FOLDER_DEPENDS)
    return depends


def find_cycle(depends):
    """A list of layers that form a cycle in `depends`, or None."""
    state = {}
    stack = []

    def visit(layer):
        state[layer] = "open"
        stack.append(layer)
        for target in depends.get(layer, []):
            if state.get(target) == "open":
                return stack[stack.index(target):] + [target]
            if target not in state:
                cycle = visit(target)
                if cycle:
                    return cycle
        stack.pop()
        state[layer] = "done"
        return None

    for layer in sorted(depends):
        if layer not in state:
            cycle = visit(layer)
            if cycle:
                return cycle
    return None


def allowed_targets(depends):
    """For every layer, the layers it may include: itself and everything below it."""
    cycle = find_cycle(depends)
    if cycle:
        raise LayerTableError("the layer table has a cycle: " + " -> ".join(cycle))
    for layer, targets in depends.items():
        for target in targets:
            if target not in depends:
                raise LayerTableError(f"{layer} depends on unknown layer {target}")
    for layer, target in TRANSFORMATIONTREE_CYCLE_EDGES:
        if layer not in depends or target not in depends:
            raise LayerTableError(f"cycle edge {layer} -> {target} names an unknown folder")
    closure = {}

    def below(layer):
        if layer not in closure:
            reachable = {layer}
            for target in depends[layer]:
                reachable |= below(target)
            closure[layer] = reachable
        return closure[layer]

    for layer in depends:
        below(layer)
    return closure


def layer_of(path):
    """The layer of a repository-relative path, or None when it belongs to none."""
    pieces = path.split("/")
    if len(pieces) < 2:
        return None
    if pieces[0] == "platform":
        return platform(pieces[1]) if pieces[1] in PLATFORM_LIBRARIES and len(pieces) > 2 else None
    if pieces[0] == "logging":
        return "logging/backend" if pieces[1] == "backend" and len(pieces) > 2 else "logging"
    if pieces[0] == "transformationtree":
        if pieces[1] in TRANSFORMATIONTREE_FOLDERS and len(pieces) > 2:
            return tt(pieces[1])
        return None
    if pieces[0] == "tools":
        return "tools/ttree" if pieces[1] == "ttree" and len(pieces) > 2 else None
    if pieces[0] in ("tests", "bench", "fuzz"):
        return pieces[0]
    return None


def source_files(root):
    """Repository-relative paths of the project's C++ files, sorted."""
    files = []
    for directory, folders, names in os.walk(root):
        relative = os.path.relpath(directory, root).replace(os.sep, "/")
        relative = "" if relative == "." else relative
        kept = []
        for folder in folders:
            path = f"{relative}/{folder}" if relative else folder
            if folder.startswith("."):
                continue
            if not relative and folder.startswith(SKIPPED_TOP_FOLDERS_PREFIX):
                continue
            if path in SKIPPED_FOLDERS:
                continue
            kept.append(folder)
        folders[:] = kept
        for name in names:
            if name.endswith(SOURCE_EXTENSIONS):
                files.append(f"{relative}/{name}" if relative else name)
    return sorted(files)


INCLUDE = re.compile(r'^\s*#\s*include\s*(?:"([^"]+)"|<([^>]+)>)')


def project_includes(text):
    """(line number, included path) for every project include in `text`.

    Quoted includes are all the project's; an angle-bracket include counts when it names a
    project folder."""
    for number, line in enumerate(text.splitlines(), 1):
        match = INCLUDE.match(line)
        if not match:
            continue
        if match.group(1) is not None:
            yield number, match.group(1)
        elif match.group(2).split("/")[0] in PROJECT_TOP_FOLDERS:
            yield number, match.group(2)


def check(root):
    """Checks the project's source files below `root`.

    Returns (problems, edges): problems as printable lines, edges as a map from
    (layer, included layer) to the number of includes that make it."""
    depends = direct_depends()
    allowed = allowed_targets(depends)
    problems = []
    edges = {}
    for path in source_files(root):
        layer = layer_of(path)
        if layer is None:
            problems.append(f"{path}: belongs to no layer; put it into a layer's folder or add "
                            f"its folder to tools/check_layers.py and docs/ARCHITECTURE.md")
            continue
        with open(os.path.join(root, path), encoding="utf-8", errors="replace") as source:
            text = source.read()
        for number, included in project_includes(text):
            target = layer_of(included)
            if target is None:
                problems.append(f'{path}:{number}: #include "{included}" does not name a file '
                                f"of a layer; include paths are rooted at the repository")
                continue
            edges[(layer, target)] = edges.get((layer, target), 0) + 1
            if target in allowed[layer]:
                continue
            if (layer, target) in TRANSFORMATIONTREE_CYCLE_EDGES and path.endswith(
                    CYCLE_EDGE_EXTENSIONS):
                continue
            below = ", ".join(depends[layer]) or "nothing outside itself"
            problems.append(f'{path}:{number}: #include "{included}": {layer} -> {target} is not '
                            f"an edge of the layering ({layer} may include {below}, and what "
                            f"those may include)")
    return problems, edges


def main(argv):
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--root", default=os.path.dirname(os.path.dirname(os.path.abspath(__file__))),
                        help="the repository's top folder (default: the one holding this script)")
    parser.add_argument("--list-edges", action="store_true",
                        help="print every edge between layers that the includes make, with counts")
    arguments = parser.parse_args(argv)

    try:
        problems, edges = check(arguments.root)
    except LayerTableError as error:
        print(f"check_layers: {error}", file=sys.stderr)
        return 2
    if arguments.list_edges:
        for (layer, target), count in sorted(edges.items()):
            if layer != target:
                print(f"{layer:28} -> {target:28} {count}")
    if problems:
        for problem in problems:
            print(problem)
        print(f"check_layers: {len(problems)} include(s) break the layering of "
              f"docs/ARCHITECTURE.md", file=sys.stderr)
        return 1
    print(f"check_layers: {sum(edges.values())} includes between layers and inside them follow "
          f"the layering")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
