"""examples/python/session_stats.py on the session of `ttree demo`."""

import os
import subprocess
import sys

import numpy as np

import transformationtree as tt
from conftest import DEMO_SCANS, SOURCE_DIR

SCRIPT = os.path.join(SOURCE_DIR, "examples", "python", "session_stats.py")


def run_script(*arguments):
    return subprocess.run([sys.executable, SCRIPT, *arguments], capture_output=True, text=True,
                          check=False)


def read_ply(path):
    with open(path, "rb") as ply:
        content = ply.read()
    end = content.index(b"end_header\n") + len(b"end_header\n")
    header = content[:end].decode("ascii").splitlines()
    assert header[:2] == ["ply", "format binary_little_endian 1.0"]
    count = int(next(line for line in header if line.startswith("element vertex")).split()[2])
    kinds = {"float": "<f4", "uchar": "u1"}
    fields = [(line.split()[2], kinds[line.split()[1]]) for line in header
              if line.startswith("property")]
    vertices = np.frombuffer(content[end:], dtype=fields)
    assert len(vertices) == count
    return vertices


def test_session_stats_prints_scans_and_writes_a_ply(demo_session, tmp_path):
    output = tmp_path / "cloud.ply"
    result = run_script(demo_session, "-o", str(output), "--cell", "1.0")
    assert result.returncode == 0, result.stderr
    scan_lines = [line for line in result.stdout.splitlines() if line.startswith("scan ")]
    session = tt.read_session(demo_session)
    assert len(scan_lines) == DEMO_SCANS
    for line, (leaf, _) in zip(scan_lines, session.root.leaves()):
        assert leaf.id in line and f"{len(leaf.model)} surfels" in line
    vertices = read_ply(output)
    root = session.root
    root.create_model(cell_size=1.0)
    assert len(vertices) == len(root.model) > 0
    np.testing.assert_array_equal(np.stack([vertices["x"], vertices["y"], vertices["z"]], 1),
                                  root.model.positions)
    assert sorted(os.listdir(tmp_path)) == ["cloud.ply"]  # no temporary left behind


def test_session_stats_refuses_to_overwrite_its_input(demo_session, tmp_path):
    link = tmp_path / "input.ply"
    os.symlink(demo_session, link)
    size = os.path.getsize(demo_session)
    result = run_script(demo_session, "-o", str(link))
    assert result.returncode == 1 and "input session" in result.stderr
    assert os.path.getsize(demo_session) == size
    assert tt.read_session(demo_session).root.leaf_count == DEMO_SCANS
    result = run_script(str(tmp_path / "missing.ttree"))
    assert result.returncode == 1 and "missing.ttree" in result.stderr


def test_readme_python_tour_runs(demo_session, tmp_path):
    with open(os.path.join(SOURCE_DIR, "README.md"), encoding="utf-8") as readme:
        text = readme.read()
    section = text[text.index("\n## Python\n"):]
    code = section[section.index("```python\n") + len("```python\n"):section.index("```\n", 10)]
    assert code.count("\n") == 5, code
    (tmp_path / "ttree-demo").mkdir()
    os.symlink(demo_session, tmp_path / "ttree-demo" / "session.ttree")
    result = subprocess.run([sys.executable, "-c", code], cwd=tmp_path, capture_output=True,
                            text=True, check=False)
    assert result.returncode == 0, result.stderr
    assert len(result.stdout.splitlines()) == DEMO_SCANS
    copy = tt.read_session(tmp_path / "copy.ttree")
    assert copy.root.leaf_count == DEMO_SCANS and copy.root.model is not None
