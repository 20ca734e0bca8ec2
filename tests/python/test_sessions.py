"""Session files between the C++ side and Python: reading what ttree and the golden file
writer wrote, writing what ttree reads back, and refusing damaged files."""

import os

import numpy as np
import pytest

import transformationtree as tt
from conftest import DEMO_SCANS, product_to_root, run_ttree


def test_golden_session_reads_as_documented(golden_session):
    session = tt.read_session(golden_session)
    root = session.root
    assert session.properties == {"created by": "golden file writer", "patient": "anonymous é"}
    assert root.description == "Root" and not root.is_leaf and root.father is None
    assert root.id == "00000000-0000-4000-8000-000000000001"
    cluster, scan3 = root.children
    assert cluster.description == "Cluster Ä" and cluster.father == root
    assert [child.description for child in cluster.children] == ["scan 1", "scan 2"]
    assert scan3.description == "scan 3" and scan3.is_leaf
    leaves = [leaf for leaf, _ in root.leaves()]
    assert [leaf.description for leaf in leaves] == ["scan 1", "scan 2", "scan 3"]
    assert [leaf.sequence_number for leaf in leaves] == [1, 2, 3]
    assert [leaf.keyframe for leaf in leaves] == [True, False, False]
    assert root.find("00000000-0000-4000-8000-000000000004") == leaves[1]
    assert root.find("{00000000-0000-4000-8000-000000000099}") is None
    # Surfel i of a model lies at (x0 + i, 0.5 i, -1) with colour (10 i, 20, 30) and quality
    # 0.5 + 0.25 i; the scans have x0 = 0, 10, 20 and 3, 2, 4 surfels.
    for leaf, x0, count in zip(leaves, (0, 10, 20), (3, 2, 4)):
        model = leaf.model
        i = np.arange(count)
        assert len(model) == count and model.name == f"scan-{leaf.sequence_number}.ply"
        np.testing.assert_array_equal(model.positions,
                                      np.stack([x0 + i, 0.5 * i, -np.ones(count)], axis=1))
        np.testing.assert_array_equal(model.colours,
                                      np.stack([10 * i, np.full(count, 20), np.full(count, 30)],
                                               axis=1))
        np.testing.assert_allclose(model.qualities, 0.5 + 0.25 * i)
        np.testing.assert_allclose(model.normals, np.tile([0.0, 0.0, 1.0], (count, 1)), atol=1e-6)
    # Scan 1: a half turn moved by (0, 0, 5), below the cluster's quarter turn and
    # translation (1.5, -2, 0.25): the origin of scan 1 lies at the cluster's translation
    # plus the rotated (0, 0, 5).
    trafo = dict((leaf.description, t) for leaf, t in root.leaves())["scan 1"]
    np.testing.assert_allclose(np.array([0, 0, 0, 1.0]) @ trafo, [1.5, -2, 5.25, 1])


def test_walks_equal_products_along_the_father_chain(demo_session):
    root = tt.read_session(demo_session).root
    nodes = root.nodes()
    assert nodes[0][0] == root
    np.testing.assert_array_equal(nodes[0][1], np.eye(4))
    assert len({node for node, _ in nodes}) == len(nodes)
    for node, trafo in nodes:
        np.testing.assert_allclose(trafo, product_to_root(node), rtol=0, atol=1e-9)
        np.testing.assert_allclose(trafo, node.trafo_to_root, rtol=0, atol=1e-12)
    leaves = root.leaves()
    assert len(leaves) == DEMO_SCANS == root.leaf_count
    assert [leaf for leaf, _ in leaves] == [node for node, _ in nodes if node.is_leaf]
    # A walk from an inner node gives transformations into that node's frame.
    cluster = tt.SessionTree(root).clusters[0]
    for leaf, trafo in cluster.leaves():
        np.testing.assert_allclose(trafo, leaf.trafo_to(cluster), atol=1e-9)
        np.testing.assert_allclose(trafo @ cluster.trafo_to_root, leaf.trafo_to_root, atol=1e-9)


def test_python_round_trip_of_a_ttree_session(demo_session, tmp_path):
    first = tt.read_session(demo_session)
    assert first.properties["created by"] == "ttree demo"
    copy = tmp_path / "copy.ttree"
    written = tt.write_session(copy, first.root, first.properties)
    assert written == os.path.getsize(copy)
    # Python wrote what C++ wrote: the same bytes, since nothing changed.
    with open(demo_session, "rb") as original, open(copy, "rb") as rewritten:
        assert original.read() == rewritten.read()
    second = tt.read_session(str(copy))
    assert second.properties == first.properties
    for (a, ta), (b, tb) in zip(first.root.nodes(), second.root.nodes()):
        assert (a.id, a.description, a.is_leaf, a.keyframe) == (b.id, b.description, b.is_leaf,
                                                               b.keyframe)
        np.testing.assert_array_equal(ta, tb)
        if a.model is not None:
            np.testing.assert_array_equal(a.model.positions, b.model.positions)
    assert len(first.root.nodes()) == len(second.root.nodes())
    assert [name for name in os.listdir(tmp_path)] == ["copy.ttree"]  # no temporary left


def test_ttree_reads_what_python_built(small_tree, tmp_path):
    path = tmp_path / "built.ttree"
    small_tree.create_model(cell_size=0.5, subtree=True)
    tt.write_session(path, small_tree, {"created by": "python", "note": "Ä ü"})
    run_ttree("verify", str(path))
    info = run_ttree("info", str(path))
    assert "5 leaves" in info
    assert "created by" in info and "python" in info
    tree_json = run_ttree("tree", str(path), "--json")
    for leaf, _ in small_tree.leaves():
        assert leaf.id.strip("{}") in tree_json
    back = tt.read_session(path)
    assert [leaf.description for leaf, _ in back.root.leaves()] == [
        leaf.description for leaf, _ in small_tree.leaves()]


def test_damaged_and_foreign_files_raise(golden_session, tmp_path):
    with open(golden_session, "rb") as source:
        good = source.read()
    cases = {
        "truncated.ttree": good[: len(good) // 2],
        "header-only.ttree": good[:10],
        "empty.ttree": b"",
        "flipped.ttree": good[:200] + bytes([good[200] ^ 0x40]) + good[201:],
        "trailing.ttree": good + b"\0",
        "foreign.ttree": b"PK\x03\x04" + good[4:],
    }
    for name, content in cases.items():
        path = tmp_path / name
        path.write_bytes(content)
        with pytest.raises(tt.Error) as raised:
            tt.read_session(path)
        assert str(raised.value).startswith(f"session file '{path}': "), name
    # Every prefix of the file is refused, none crashes the interpreter.
    for cut in range(0, len(good), 97):
        (tmp_path / "cut.ttree").write_bytes(good[:cut])
        with pytest.raises(tt.Error):
            tt.read_session(tmp_path / "cut.ttree")
    newer = bytearray(good)
    newer[8:12] = (99).to_bytes(4, "little")
    (tmp_path / "newer.ttree").write_bytes(bytes(newer))
    with pytest.raises(tt.FileVersionError):
        tt.read_session(tmp_path / "newer.ttree")
    with pytest.raises(tt.Error, match="missing.ttree"):
        tt.read_session(tmp_path / "missing.ttree")
    assert issubclass(tt.Error, RuntimeError)


def test_writing_refuses_and_keeps_the_old_file(golden_session, tmp_path):
    root = tt.read_session(golden_session).root
    with pytest.raises(ValueError, match="ttree"):
        tt.write_session(tmp_path / "session.ply", root)
    with pytest.raises(TypeError):
        tt.write_session(tmp_path / "a.ttree", root, {"key": 3})
    leaf = root.leaves()[0][0]
    with pytest.raises(TypeError, match="inner node"):
        tt.write_session(tmp_path / "a.ttree", leaf)
    with pytest.raises(tt.Error, match="no-such-folder"):
        tt.write_session(tmp_path / "no-such-folder" / "a.ttree", root)
    target = tmp_path / "kept.ttree"
    tt.write_session(target, root, {"version": "1"})
    # A folder stands where the session should go: the rename fails, the folder stays.
    occupied = tmp_path / "occupied.ttree"
    occupied.mkdir()
    (occupied / "inside").write_text("kept")
    with pytest.raises(tt.Error, match="occupied.ttree"):
        tt.write_session(occupied, root)
    assert (occupied / "inside").read_text() == "kept"
    os.chmod(tmp_path, 0o500)
    try:
        if not os.access(tmp_path, os.W_OK):  # not for a user who may write anywhere
            with pytest.raises(tt.Error):
                tt.write_session(target, root, {"version": "2"})
    finally:
        os.chmod(tmp_path, 0o700)
    assert tt.read_session(target).properties == {"version": "1"}
    assert sorted(os.listdir(tmp_path)) == ["kept.ttree", "occupied.ttree"]


def test_random_damage_to_a_ttree_session_raises(demo_session, tmp_path):
    with open(demo_session, "rb") as source:
        good = source.read()
    rng = np.random.default_rng(11)
    damaged = tmp_path / "damaged.ttree"
    for offset in rng.integers(0, len(good), size=25):
        content = bytearray(good)
        content[offset] ^= 1 << int(rng.integers(0, 8))
        damaged.write_bytes(bytes(content))
        with pytest.raises(tt.Error, match="session file"):
            tt.read_session(damaged)
    assert tt.read_session(demo_session).root.leaf_count == DEMO_SCANS
