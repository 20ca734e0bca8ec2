#!/usr/bin/env python3
"""Tests of tools/check_layers.py on small trees made for each case and on a copy of the
project's own sources.

    check_layers_test.py <path of check_layers.py> <repository folder>
"""

import importlib
import os
import re
import shutil
import subprocess
import sys
import tempfile
import unittest

CHECKER = None
REPOSITORY = None


def load_checker():
    # Importing must not leave compiled files in the source tree.
    sys.dont_write_bytecode = True
    sys.path.insert(0, os.path.dirname(CHECKER))
    try:
        return importlib.import_module("check_layers")
    finally:
        sys.path.pop(0)


# A small tree that uses the layering as the project does: direct edges, edges through
# layers in between, the back end's header-only edge and the tolerated cycle edges.
CLEAN_TREE = {
    "platform/harbor/CbBase.h": [],
    "platform/harbor/CbBase.cpp": ["platform/harbor/CbBase.h"],
    "platform/abacus/Matrix.h": ["platform/harbor/CbBase.h"],
    "platform/prism/Box.h": ["platform/abacus/Matrix.h"],
    "platform/lattice/Node.h": ["platform/harbor/CbBase.h"],
    "platform/granary/Model.h": ["platform/prism/Box.h", "platform/lattice/Node.h"],
    "platform/velmar/Depth.h": ["platform/granary/Model.h", "platform/harbor/CbBase.h"],
    "platform/courier/Message.h": ["platform/lattice/Node.h", "platform/abacus/Matrix.h"],
    "logging/Logger.h": ["platform/harbor/CbBase.h"],
    "logging/backend/Backend.cpp": ["logging/Logger.h", "platform/harbor/CbBase.h"],
    "platform/tidewell/Log.cpp": ["logging/Logger.h", "platform/lattice/Node.h"],
    "transformationtree/nodes/Node.h": ["transformationtree/iterators/Walk.h",
                                        "platform/velmar/Depth.h"],
    "transformationtree/iterators/Walk.h": ["platform/harbor/CbBase.h"],
    "transformationtree/iterators/Walk.cpp": ["transformationtree/nodes/Node.h"],
    "transformationtree/nodes/Node.cpp": ["transformationtree/manager/Loggers.h",
                                          "transformationtree/nodevectors/Vector.h",
                                          "transformationtree/persistence/Mapper.h"],
    "transformationtree/manager/Loggers.h": ["logging/Logger.h"],
    "transformationtree/persistence/Mapper.h": ["transformationtree/nodes/Node.h"],
    "transformationtree/persistence/Mapper.cpp": ["transformationtree/manager/Loggers.h"],
    "transformationtree/nodevectors/Vector.h": ["transformationtree/persistence/Mapper.h",
                                                "transformationtree/iterators/Walk.h"],
    "transformationtree/attributes/Attribute.h": ["transformationtree/persistence/Mapper.h"],
    "transformationtree/organisation/Utility.h": ["transformationtree/manager/Loggers.h",
                                                  "platform/courier/Message.h"],
    "tools/ttree/Command.cpp": ["transformationtree/organisation/Utility.h",
                                "platform/harbor/CbBase.h"],
    "bench/Bench.cpp": ["transformationtree/nodevectors/Vector.h"],
    "fuzz/Fuzzer.cpp": ["tools/ttree/Command.cpp", "transformationtree/attributes/Attribute.h"],
    "tests/support/Support.h": ["transformationtree/nodes/Node.h"],
    "tests/granary/Test.cpp": ["tests/support/Support.h", "tools/ttree/Command.cpp",
                               "logging/backend/Backend.cpp"],
    "python/src/Binding.cpp": ["transformationtree/organisation/Utility.h",
                               "platform/harbor/CbBase.h"],
    "examples/app/App.cpp": ["transformationtree/organisation/Utility.h",
                             "transformationtree/TransformationTreeVersion.h",
                             "platform/tidewell/Log.cpp", "logging/Logger.h"],
}


def write_tree(root, tree):
    for path, includes in tree.items():
        full = os.path.join(root, path)
        os.makedirs(os.path.dirname(full), exist_ok=True)
        with open(full, "w", encoding="utf-8") as source:
            source.write("#pragma once\n\n#include <vector>\n")
            for included in includes:
                source.write(f'#include "{included}"\n')
            source.write("\nint f();\n")


def add_line(root, path, line):
    """Appends `line` to the file at `path` (made when missing) and returns its number."""
    full = os.path.join(root, path)
    os.makedirs(os.path.dirname(full), exist_ok=True)
    existing = ""
    if os.path.exists(full):
        with open(full, encoding="utf-8") as source:
            existing = source.read()
    with open(full, "a", encoding="utf-8") as source:
        source.write(line + "\n")
    return len(existing.splitlines()) + 1


def run_checker(root):
    result = subprocess.run([sys.executable, CHECKER, "--root", root], capture_output=True,
                            text=True, check=False)
    return result.returncode, result.stdout + result.stderr


class SmallTreeTest(unittest.TestCase):
    def setUp(self):
        self.root = tempfile.mkdtemp(prefix="check_layers_")
        self.addCleanup(shutil.rmtree, self.root)
        write_tree(self.root, CLEAN_TREE)

    def assertPasses(self):
        code, output = run_checker(self.root)
        self.assertEqual(code, 0, output)
        self.assertIn("follow the layering", output)

    def assertRefuses(self, path, included, edge):
        """Plants `#include "included"` into `path` and requires the checker to fail naming
        the file, the line and the edge."""
        line = add_line(self.root, path, f'#include "{included}"')
        code, output = run_checker(self.root)
        self.assertEqual(code, 1, output)
        self.assertIn(f'{path}:{line}: #include "{included}": {edge} ', output)
        self.assertEqual(len([l for l in output.splitlines() if l.startswith(path)]), 1, output)
        return output

    def test_clean_tree_passes(self):
        self.assertPasses()

    def test_harbor_must_not_include_granary(self):
        self.assertRefuses("platform/harbor/CbBase.h", "platform/granary/Model.h",
                           "platform/harbor -> platform/granary")

    def test_sibling_platform_libraries_stay_apart(self):
        self.assertRefuses("platform/lattice/Node.h", "platform/abacus/Matrix.h",
                           "platform/lattice -> platform/abacus")

    def test_platform_must_not_include_transformationtree(self):
        self.assertRefuses("platform/granary/Model.h", "transformationtree/nodes/Node.h",
                           "platform/granary -> transformationtree/nodes")

    def test_only_tidewell_of_the_platform_includes_logging(self):
        self.assertRefuses("platform/granary/Model.cpp", "logging/Logger.h",
                           "platform/granary -> logging")

    def test_logging_must_not_include_its_back_end(self):
        self.assertRefuses("logging/Logger.cpp", "logging/backend/Backend.cpp",
                           "logging -> logging/backend")

    def test_transformationtree_must_not_include_tools(self):
        self.assertRefuses("transformationtree/organisation/Utility.cpp",
                           "tools/ttree/Command.cpp",
                           "transformationtree/organisation -> tools/ttree")

    def test_libraries_and_programs_must_not_include_tests(self):
        self.assertRefuses("platform/abacus/Matrix.cpp", "tests/support/Support.h",
                           "platform/abacus -> tests")
        self.assertRefuses("tools/ttree/main.cpp", "tests/support/Support.h",
                           "tools/ttree -> tests")

    def test_tests_bench_and_fuzz_stay_apart(self):
        self.assertRefuses("tests/granary/Other.cpp", "bench/Bench.cpp", "tests -> bench")
        self.assertRefuses("bench/Other.cpp", "fuzz/Fuzzer.cpp", "bench -> fuzz")

    def test_examples_use_only_the_installed_library(self):
        self.assertRefuses("examples/app/App.cpp", "tools/ttree/Command.cpp",
                           "examples -> tools/ttree")
        self.assertRefuses("examples/app/Log.cpp", "logging/backend/Backend.cpp",
                           "examples -> logging/backend")
        self.assertRefuses("examples/other/Other.cpp", "tests/support/Support.h",
                           "examples -> tests")

    def test_nothing_includes_the_examples(self):
        self.assertRefuses("tests/granary/Other.cpp", "examples/app/App.cpp", "tests -> examples")

    def test_generated_version_header_may_be_included_anywhere(self):
        add_line(self.root, "platform/harbor/CbBase.h",
                 '#include "transformationtree/TransformationTreeVersion.h"')
        self.assertPasses()
        # Only the generated header: another file directly below transformationtree/ is
        # still no file of a layer.
        line = add_line(self.root, "platform/harbor/CbBase.cpp",
                        '#include "transformationtree/Version.h"')
        code, output = run_checker(self.root)
        self.assertEqual(code, 1, output)
        self.assertIn(f'platform/harbor/CbBase.cpp:{line}: #include "transformationtree/Version.h" '
                      "does not name", output)

    def test_core_folders_must_not_include_attributes_or_organisation(self):
        self.assertRefuses("transformationtree/nodes/Node.cpp",
                           "transformationtree/organisation/Utility.h",
                           "transformationtree/nodes -> transformationtree/organisation")
        self.assertRefuses("transformationtree/persistence/Mapper.cpp",
                           "transformationtree/attributes/Attribute.h",
                           "transformationtree/persistence -> transformationtree/attributes")

    def test_cycle_edges_are_refused_in_headers(self):
        self.assertRefuses("transformationtree/nodes/Node.h",
                           "transformationtree/persistence/Mapper.h",
                           "transformationtree/nodes -> transformationtree/persistence")

    def test_cycle_edges_do_not_carry_further(self):
        # iterators -> nodes is tolerated in a source file, iterators -> manager is not,
        # although nodes' sources may include manager.
        self.assertRefuses("transformationtree/iterators/Walk.cpp",
                           "transformationtree/manager/Loggers.h",
                           "transformationtree/iterators -> transformationtree/manager")

    def test_no_new_edge_against_the_folder_order(self):
        self.assertRefuses("transformationtree/manager/Manager.cpp",
                           "transformationtree/persistence/Mapper.h",
                           "transformationtree/manager -> transformationtree/persistence")

    def test_angle_bracket_includes_of_project_files_are_checked(self):
        line = add_line(self.root, "platform/harbor/CbBase.cpp", "#include <logging/Logger.h>")
        code, output = run_checker(self.root)
        self.assertEqual(code, 1, output)
        self.assertIn(f"platform/harbor/CbBase.cpp:{line}:", output)
        self.assertIn("platform/harbor -> logging", output)

    def test_include_not_rooted_at_the_repository_is_refused(self):
        line = add_line(self.root, "platform/granary/Model.cpp", '#include "Model.h"')
        code, output = run_checker(self.root)
        self.assertEqual(code, 1, output)
        self.assertIn(f'platform/granary/Model.cpp:{line}: #include "Model.h" does not name',
                      output)

    def test_file_outside_every_layer_is_refused(self):
        add_line(self.root, "transformationtree/Loose.cpp", "int g();")
        add_line(self.root, "platform/newlibrary/New.h", "int h();")
        code, output = run_checker(self.root)
        self.assertEqual(code, 1, output)
        self.assertIn("transformationtree/Loose.cpp: belongs to no layer", output)
        self.assertIn("platform/newlibrary/New.h: belongs to no layer", output)

    def test_build_trees_hidden_folders_and_fuzz_inputs_are_not_read(self):
        upward = '#include "tests/support/Support.h"'
        add_line(self.root, "build/platform/harbor/Generated.h", upward)
        add_line(self.root, "build-asan/Other.cpp", upward)
        add_line(self.root, ".cache/Index.h", upward)
        add_line(self.root, "fuzz/corpus/Ply/seed.h", upward)
        add_line(self.root, "fuzz/crashes/Ply/crash.cpp", upward)
        self.assertPasses()

    def test_every_violation_is_reported(self):
        add_line(self.root, "platform/harbor/CbBase.h", '#include "platform/abacus/Matrix.h"')
        add_line(self.root, "platform/mosaic/Attribute.h", '#include "platform/tidewell/Log.cpp"')
        code, output = run_checker(self.root)
        self.assertEqual(code, 1, output)
        self.assertIn("platform/harbor -> platform/abacus", output)
        self.assertIn("platform/mosaic -> platform/tidewell", output)
        self.assertIn("2 include(s) break the layering", output)


class ProjectCopyTest(unittest.TestCase):
    """The checker on a copy of the project's sources, with and without a planted include."""

    def setUp(self):
        self.root = tempfile.mkdtemp(prefix="check_layers_copy_")
        self.addCleanup(shutil.rmtree, self.root)
        self.checker = load_checker()
        self.files = self.checker.source_files(REPOSITORY)
        self.assertGreater(len(self.files), 100)
        for path in self.files:
            os.makedirs(os.path.join(self.root, os.path.dirname(path)), exist_ok=True)
            shutil.copyfile(os.path.join(REPOSITORY, path), os.path.join(self.root, path))

    def test_copy_passes(self):
        code, output = run_checker(self.root)
        self.assertEqual(code, 0, output)

    def test_planted_upward_includes_are_named(self):
        harbor = "platform/harbor/CbSmartPointer.h"
        nodes = "transformationtree/nodes/KaCTransformationNodeInner.h"
        self.assertIn(harbor, self.files)
        self.assertIn(nodes, self.files)
        harbor_line = add_line(self.root, harbor, '#include "platform/granary/KaCSurfel.h"')
        nodes_line = add_line(self.root, nodes, '#include "tools/ttree/SessionBuilder.h"')
        code, output = run_checker(self.root)
        self.assertEqual(code, 1, output)
        self.assertIn(f"{harbor}:{harbor_line}:", output)
        self.assertIn("platform/harbor -> platform/granary", output)
        self.assertIn(f"{nodes}:{nodes_line}:", output)
        self.assertIn("transformationtree/nodes -> tools/ttree", output)
        self.assertIn("2 include(s) break the layering", output)


class TableTest(unittest.TestCase):
    maxDiff = None

    def setUp(self):
        self.checker = load_checker()

    def test_a_cycle_in_the_table_is_refused(self):
        depends = self.checker.direct_depends()
        depends["platform/harbor"] = ["platform/granary"]
        with self.assertRaises(self.checker.LayerTableError) as raised:
            self.checker.allowed_targets(depends)
        self.assertIn("platform/harbor", str(raised.exception))

    def test_an_unknown_layer_in_the_table_is_refused(self):
        depends = self.checker.direct_depends()
        depends["platform/mosaic"] = ["platform/nowhere"]
        with self.assertRaises(self.checker.LayerTableError):
            self.checker.allowed_targets(depends)

    def test_table_matches_architecture_document(self):
        """docs/ARCHITECTURE.md lists the same edges as the checker's tables."""
        with open(os.path.join(REPOSITORY, "docs", "ARCHITECTURE.md"), encoding="utf-8") as doc:
            text = doc.read()
        layers, folders, cycles = parse_architecture(text)

        def short(layer):
            return layer.removeprefix("platform/")

        expected_layers = {short(layer): sorted(short(t) for t in targets)
                           for layer, targets in self.checker.LAYER_DEPENDS.items()}
        expected_layers["transformationtree"] = sorted(
            short(t) for t in self.checker.TRANSFORMATIONTREE_DEPENDS)
        self.assertEqual(layers, expected_layers)

        def folder(layer):
            return layer.removeprefix("transformationtree/")

        expected_folders = {folder(layer): sorted(folder(t) for t in targets)
                            for layer, targets in
                            self.checker.TRANSFORMATIONTREE_FOLDER_DEPENDS.items()}
        self.assertEqual(folders, expected_folders)
        expected_cycles = sorted((folder(a), folder(b))
                                 for a, b in self.checker.TRANSFORMATIONTREE_CYCLE_EDGES)
        self.assertEqual(cycles, expected_cycles)


def parse_architecture(text):
    """The edges of the layer drawing, the folder table and the cycle table of
    docs/ARCHITECTURE.md."""
    drawing = re.search(r"<!-- layers -->\s*```\n(.*?)```", text, re.S)
    if drawing is None:
        raise AssertionError("no layer drawing (<!-- layers --> before a code block)")
    layers = {}
    for line in drawing.group(1).splitlines():
        line = re.sub(r"\([^)]*\)", "", line).strip()
        if not line:
            continue
        layer, _, targets = line.partition("──>")
        layers[layer.strip()] = sorted(t.strip() for t in targets.split(",") if t.strip())

    def table(marker):
        block = re.search(rf"<!-- {marker} -->\n((?:\|.*\n)+)", text)
        if block is None:
            raise AssertionError(f"no table after <!-- {marker} -->")
        rows = []
        for row in block.group(1).splitlines()[2:]:
            cells = [cell.strip() for cell in row.strip().strip("|").split("|")]
            rows.append([re.findall(r"`([^`]+)`", cell) for cell in cells])
        return rows

    folders = {row[0][0]: sorted(row[1]) for row in table("folder-order")}
    cycles = sorted((row[0][0], row[1][0]) for row in table("folder-cycles"))
    return layers, folders, cycles


if __name__ == "__main__":
    if len(sys.argv) < 3:
        print(__doc__, file=sys.stderr)
        sys.exit(2)
    CHECKER = os.path.abspath(sys.argv[1])
    REPOSITORY = os.path.abspath(sys.argv[2])
    unittest.main(argv=[sys.argv[0]] + sys.argv[3:], verbosity=2)
