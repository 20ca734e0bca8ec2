"""Surfels as NumPy arrays: views and copies, scans from arrays and their validation, and
points carried into other frames."""

import gc

import numpy as np
import pytest

import transformationtree as tt
from conftest import rigid, scan_arrays


def test_arrays_equal_the_surfels_given():
    arrays = scan_arrays(200, seed=3)
    leaf = tt.create_scan(**arrays, description="scan A", sequence_number=7, keyframe=True)
    assert leaf.is_leaf and leaf.father is None and leaf.keyframe
    assert leaf.description == "scan A" and leaf.sequence_number == 7
    model = leaf.model
    assert model.name == "scan A" and len(model) == model.size == 200
    np.testing.assert_array_equal(model.positions, arrays["positions"].astype(np.float32))
    np.testing.assert_array_equal(model.colours, arrays["colours"])
    np.testing.assert_array_equal(model.qualities, arrays["qualities"].astype(np.float32))
    # Normals are stored quantised: within about one degree, unit length.
    cosines = np.sum(model.normals * arrays["normals"], axis=1)
    assert np.all(cosines > np.cos(np.radians(1.0)))
    np.testing.assert_allclose(np.linalg.norm(model.normals, axis=1), 1.0, atol=1e-5)
    plain = tt.create_scan(arrays["positions"].astype(np.float32), arrays["normals"])
    assert plain.model.colours is None and plain.model.qualities is None
    coloured = tt.create_scan(arrays["positions"], arrays["normals"], arrays["colours"])
    assert coloured.model.qualities is None
    np.testing.assert_array_equal(coloured.model.colours, arrays["colours"])


def test_views_are_read_only_and_keep_their_surfels_alive():
    arrays = scan_arrays(100, seed=4)
    leaf = tt.create_scan(**arrays)
    positions, colours, qualities = (leaf.model.positions, leaf.model.colours,
                                     leaf.model.qualities)
    normals = leaf.model.normals
    for view in (positions, colours, qualities):
        assert not view.flags.writeable and not view.flags.owndata
        with pytest.raises(ValueError):
            view[0] = 0
    assert normals.flags.writeable and normals.flags.owndata  # a copy
    # Two views share the same memory; the copy does not.
    assert np.shares_memory(leaf.model.positions, positions)
    assert not np.shares_memory(leaf.model.normals, normals)
    subset = positions[::7]
    del leaf
    gc.collect()
    np.testing.assert_array_equal(subset, arrays["positions"][::7].astype(np.float32))
    np.testing.assert_array_equal(colours, arrays["colours"])


def test_bad_arrays_raise_value_error():
    good = scan_arrays(10, seed=5)
    p, n = good["positions"], good["normals"]
    nan_row = p.copy()
    nan_row[4, 1] = np.nan
    big = p.copy()
    big[2, 0] = 1e39  # beyond single precision
    zero = n.copy()
    zero[3] = 0
    cases = [
        (dict(positions=p[:, :2], normals=n), r"positions: expected shape \(N, 3\)"),
        (dict(positions=p, normals=n[:9]), "normals: expected 10 rows"),
        (dict(positions=p.astype(np.int64), normals=n), "positions: expected floating"),
        (dict(positions=p, normals=n.astype(complex)), "normals: expected floating"),
        (dict(positions=nan_row, normals=n), "positions: row 4 is not finite"),
        (dict(positions=big, normals=n), "positions: row 2 is not finite in single precision"),
        (dict(positions=p, normals=zero), "normals: row 3 is the zero vector"),
        (dict(positions=p[:0], normals=n[:0]), "at least one surfel"),
        (dict(positions=p, normals=n, colours=good["colours"].astype(float)), "colours: expected integers"),
        (dict(positions=p, normals=n, colours=np.full((10, 3), 256)), "outside 0 to 255"),
        (dict(positions=p, normals=n, colours=good["colours"][:, :1]), r"colours: expected shape"),
        (dict(positions=p, normals=n, qualities=np.full(10, np.inf)), "qualities: row 0"),
        (dict(positions=p, normals=n, qualities=np.ones((10, 1))), r"qualities: expected shape \(N,\)"),
        (dict(positions=p, normals=n, trafo=np.eye(3)), "trafo"),
        (dict(positions="abc", normals=n), "positions"),
    ]
    for arguments, message in cases:
        with pytest.raises(ValueError, match=message):
            tt.create_scan(**arguments)
    root = tt.create_root()
    with pytest.raises(ValueError):
        root.add_scan(nan_row, n)
    assert root.children == []  # nothing was added


def test_transformed_points_match_numpy(small_tree):
    group = small_tree.children[1]
    for leaf, trafo in small_tree.leaves():
        homogeneous = np.hstack([leaf.model.positions.astype(np.float64),
                                 np.ones((len(leaf.model), 1))])
        np.testing.assert_allclose(tt.transformed_points(leaf), (homogeneous @ trafo)[:, :3],
                                   atol=1e-9)
        np.testing.assert_allclose(tt.transformed_points(leaf, leaf), homogeneous[:, :3], atol=0)
    leaf = group.children[0]
    in_group = tt.transformed_points(leaf, group)
    np.testing.assert_allclose(
        np.hstack([in_group, np.ones((len(in_group), 1))]) @ group.relative_trafo,
        np.hstack([tt.transformed_points(leaf), np.ones((len(in_group), 1))]), atol=1e-9)
    with pytest.raises(ValueError, match="ancestors"):
        tt.transformed_points(leaf, small_tree.children[0])
    with pytest.raises(ValueError, match="no model"):
        tt.transformed_points(group)
    moved = tt.create_scan(**scan_arrays(5, seed=6), trafo=rigid(0.7, [1, 2, 3]))
    np.testing.assert_array_equal(tt.transformed_points(moved),
                                  tt.transformed_points(moved, moved))  # a root: no own trafo
