"""Fixtures of the Python package's tests: the ttree program, sessions it wrote, the golden
session, and small trees built from arrays.

CTest runs these tests with PYTHONPATH pointing at the build tree's package, TT_TTREE
naming the ttree program and TT_SOURCE_DIR the repository (tests/python/CMakeLists.txt).
"""

import os
import subprocess

import numpy as np
import pytest

import transformationtree as tt

SOURCE_DIR = os.environ.get("TT_SOURCE_DIR",
                            os.path.dirname(os.path.dirname(os.path.dirname(__file__))))
GOLDEN_SESSION = os.path.join(SOURCE_DIR, "tests", "transformationtree", "persistence", "golden",
                              "session-v2.ttree")
DEMO_SCANS = 4


def run_ttree(*arguments, expect=0):
    program = os.environ.get("TT_TTREE")
    if not program:
        pytest.skip("TT_TTREE names no ttree program")
    result = subprocess.run([program, *arguments], capture_output=True, text=True, check=False)
    assert result.returncode == expect, (
        f"ttree {' '.join(arguments)} exited with {result.returncode}:\n"
        f"{result.stdout}\n{result.stderr}")
    return result.stdout


@pytest.fixture(scope="session")
def demo_session(tmp_path_factory):
    """The session `ttree demo` writes for a few scans (C++ wrote it)."""
    folder = tmp_path_factory.mktemp("demo")
    run_ttree("demo", "--scans", str(DEMO_SCANS), "--out", str(folder))
    return str(folder / "session.ttree")


@pytest.fixture
def golden_session():
    return GOLDEN_SESSION


def product_to_root(node):
    """The brute-force transformation of `node` into its root's frame: the relative trafos
    multiplied along the father chain, without the root's own."""
    trafo = np.eye(4)
    while node.father is not None:
        trafo = trafo @ node.relative_trafo
        node = node.father
    return trafo


def rigid(angle, translation):
    """A rotation by `angle` about z and then a translation, on row vectors."""
    c, s = np.cos(angle), np.sin(angle)
    m = np.eye(4)
    m[:2, :2] = [[c, s], [-s, c]]
    m[3, :3] = translation
    return m


def scan_arrays(count, seed, colours=True, qualities=True):
    rng = np.random.default_rng(seed)
    positions = rng.uniform(-5.0, 5.0, size=(count, 3))
    normals = rng.normal(size=(count, 3))
    normals /= np.linalg.norm(normals, axis=1, keepdims=True)
    result = {"positions": positions, "normals": normals}
    if colours:
        result["colours"] = rng.integers(0, 256, size=(count, 3), dtype=np.uint8)
    if qualities:
        result["qualities"] = rng.uniform(0.0, 1.0, size=count)
    return result


@pytest.fixture
def small_tree():
    """A root with two groups and five scans at distinct places."""
    root = tt.create_root()
    root.relative_trafo = rigid(0.3, [100.0, 0.0, 0.0])  # never enters the walks
    groups = []
    for g in range(2):
        group = tt.create_inner(f"group {g}")
        group.relative_trafo = rigid(0.5 + g, [g * 10.0, 2.0, -1.0])
        root.append(group)
        groups.append(group)
    for i in range(5):
        groups[i % 2].add_scan(**scan_arrays(50 + i, seed=i), trafo=rigid(0.2 * i, [i, -i, 0.5]),
                               description=f"scan {i}", sequence_number=100 + i)
    return root
