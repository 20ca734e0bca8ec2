"""Trees from Python: building, walking, editing, model building, clusters, ownership."""

import gc

import numpy as np
import pytest

import transformationtree as tt
from conftest import product_to_root, rigid, scan_arrays


def test_walks_of_a_built_tree_follow_the_father_chain(small_tree):
    nodes = small_tree.nodes()
    assert [n.description for n, _ in nodes] == [
        "Root", "group 0", "scan 0", "scan 2", "scan 4", "group 1", "scan 1", "scan 3"]
    for node, trafo in nodes:
        np.testing.assert_allclose(trafo, product_to_root(node), atol=1e-12)
    # A leaf's origin in the root frame is its translation carried through the fathers.
    for leaf, trafo in small_tree.leaves():
        origin = leaf.relative_trafo[3] @ leaf.father.relative_trafo
        np.testing.assert_allclose(trafo[3], origin, atol=1e-12)
    assert small_tree.leaf_count == 5
    assert [leaf.sequence_number for leaf, _ in small_tree.leaves()] == [100, 102, 104, 101, 103]
    assert small_tree.sequence_number is None and small_tree.model is None


def test_relative_trafo_reads_copies_and_validates_writes(small_tree):
    group = small_tree.children[0]
    trafo = group.relative_trafo
    trafo[3, 0] = 1e6  # a copy: the node keeps its trafo
    assert group.relative_trafo[3, 0] != 1e6
    new = rigid(1.0, [7, 8, 9])
    group.relative_trafo = new
    np.testing.assert_array_equal(group.relative_trafo, new)
    group.relative_trafo = np.eye(4, dtype=np.int32)  # integers are numbers too
    np.testing.assert_array_equal(group.relative_trafo, np.eye(4))
    bad = np.eye(4)
    bad[1, 2] = np.nan
    for value, message in ((np.eye(3), r"shape \(4, 4\)"), (bad, "not finite"),
                           (np.full((4, 4), "x"), "real numbers"), ("eye", "real numbers")):
        with pytest.raises(ValueError, match=message):
            group.relative_trafo = value
    np.testing.assert_array_equal(group.relative_trafo, np.eye(4))


def test_append_move_and_remove(small_tree):
    group0, group1 = small_tree.children
    scan0 = group0.children[0]
    before = scan0.trafo_to_root
    scan0.move_to(group1)
    assert scan0.father == group1 and group1.children[-1] == scan0
    assert scan0 not in group0.children
    # Its relative trafo stays: it keeps its place relative to its new father.
    np.testing.assert_allclose(scan0.trafo_to_root,
                               scan0.relative_trafo @ group1.relative_trafo, atol=1e-12)
    assert not np.allclose(scan0.trafo_to_root, before)
    scan0.move_to(group1, before=group1.children[0])
    assert group1.children[-1] == scan0  # already below group1: not reordered
    scan2 = group0.children[0]
    scan2.move_to(group1, before=group1.children[0])
    assert group1.children[0] == scan2
    with pytest.raises(ValueError, match="before"):
        scan2.move_to(group0, before=group1.children[1])
    # Moving a node below itself or its own descendant is refused, and nothing changes.
    inner = tt.create_inner("deep")
    group1.append(inner)
    with pytest.raises(tt.PreconditionError):
        group1.move_to(inner)
    with pytest.raises(tt.PreconditionError):
        small_tree.move_to(group1)
    with pytest.raises(ValueError):  # a PreconditionError is also a ValueError
        group1.move_to(group1)
    assert inner.father == group1 and group1.father == small_tree
    with pytest.raises(tt.PreconditionError):
        inner.append(small_tree)  # the root is detached but an ancestor
    with pytest.raises(ValueError, match="move_to"):
        inner.append(scan2)
    with pytest.raises(TypeError, match="leaf"):
        scan2.append(tt.create_inner())
    # Removing detaches the subtree; the Node object owns it from then on.
    group1.remove()
    assert group1.father is None and small_tree.children == [group0]
    assert small_tree.leaf_count == 1 and group1.leaf_count == 4
    np.testing.assert_allclose(scan2.trafo_to_root, scan2.relative_trafo, atol=0)
    small_tree.append(group1)
    assert small_tree.leaf_count == 5


def test_normalize_tree_structure_keeps_every_scan_in_place(small_tree):
    group0, group1 = small_tree.children
    for _ in range(7):
        group1.add_scan(**scan_arrays(20, seed=9), trafo=rigid(0.1, [1, 2, 3]))
    places = {leaf.model.id: trafo for leaf, trafo in small_tree.leaves()}
    order = [leaf.model.id for leaf, _ in small_tree.leaves()]
    group1.normalize_tree_structure(max_children=3)
    assert group1.leaf_count == 9
    for node, _ in group1.nodes():
        assert len(node.children) <= 3
    assert [leaf.model.id for leaf, _ in small_tree.leaves()] == order
    for leaf, trafo in small_tree.leaves():
        np.testing.assert_allclose(trafo, places[leaf.model.id], atol=1e-9)
    with pytest.raises(ValueError, match="at least 2"):
        group1.normalize_tree_structure(1)
    # The library registers the nodes it makes; the bindings leave none registered, so
    # Python alone owns them.
    assert tt._core._registered_node_count() == 0


def test_create_model_merges_or_subsamples(small_tree):
    group0 = small_tree.children[0]
    group0.create_model(cell_size=0)
    expected = np.concatenate([tt.transformed_points(leaf, group0) for leaf, _ in group0.leaves()])
    merged = group0.model.positions
    assert len(merged) == len(expected)
    np.testing.assert_allclose(np.sort(merged, axis=0), np.sort(expected, axis=0), atol=1e-4)
    group0.create_model(cell_size=2.0)
    assert 0 < len(group0.model) < len(expected)
    small_tree.create_model(cell_size=2.0, subtree=True)
    assert small_tree.children[1].model is not None and small_tree.model is not None
    for bad in (float("nan"), -1.0, float("inf")):
        with pytest.raises(ValueError, match="cell_size"):
            small_tree.create_model(cell_size=bad)
    leaf = group0.children[0]
    with pytest.raises(TypeError, match="leaf"):
        leaf.create_model()


def test_session_tree_clusters(tmp_path):
    root = tt.create_root()
    tree = tt.SessionTree(root)
    assert tree.clusters == [] and tree.active_cluster is None
    first = tree.new_cluster()
    second = tree.new_cluster()
    assert tree.clusters == [first, second] and tree.cluster_count == 2
    assert tree.reference_cluster == first and tree.active_cluster == second
    assert [child.description for child in second.children] == ["Optimizer", "Collector",
                                                                "Clipboard"]
    collector = tt.SessionTree.collector(second)
    assert collector == second.children[1]
    assert tt.SessionTree.optimizer(second) == second.children[0]
    assert tt.SessionTree.clipboard(second) == second.children[2]
    collector.add_scan(**scan_arrays(10, seed=1), description="only scan")
    tree.remove_cluster(first)
    assert tree.clusters == [second]
    with pytest.raises(ValueError, match="not a cluster"):
        tree.remove_cluster(collector)
    assert tt._core._registered_node_count() == 0
    tt.write_session(tmp_path / "clusters.ttree", tree.root)
    back = tt.SessionTree(tt.read_session(tmp_path / "clusters.ttree").root)
    assert len(back.clusters) == 1
    assert [leaf.description for leaf, _ in back.root.leaves()] == ["only scan"]


def test_node_objects_keep_their_tree_alive(golden_session):
    leaf = tt.read_session(golden_session).root.leaves()[0][0]
    gc.collect()
    # The session and its root object are gone; the leaf keeps the whole tree.
    assert leaf.father.description == "Cluster Ä"
    assert leaf.father.father.description == "Root"
    np.testing.assert_allclose(leaf.trafo_to_root[3], [1.5, -2, 5.25, 1])
    positions = leaf.model.positions
    leaf.remove()
    del leaf
    gc.collect()
    assert positions.shape == (3, 3) and positions[2, 0] == 2.0  # the view keeps its surfels
    with pytest.raises(TypeError):
        tt.Node()
