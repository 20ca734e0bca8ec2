"""The GIL is released during long work, and repeated use does not leak."""

import gc
import os
import sys
import threading
import time

import numpy as np

import transformationtree as tt
from conftest import rigid, scan_arrays


def big_tree(scans=8, surfels=20000):
    root = tt.create_root()
    for i in range(scans):
        root.add_scan(**scan_arrays(surfels, seed=20 + i), trafo=rigid(0.1 * i, [i, 0, 0]))
    return root


def counted_while(work):
    """How often another Python thread ran its loop while `work()` ran.

    The switch interval is made huge before the other thread starts, so no thread ever
    takes the GIL from another by timing out: the other thread, which waits for `go`, can
    only run while `work()` releases the GIL itself. A call that keeps the GIL gives
    exactly 0."""
    count = 0
    done = False
    go = threading.Event()

    def counter():
        nonlocal count
        go.wait()
        while not done:
            count += 1
            time.sleep(0.0001)  # without the GIL, so that the main thread can take it back

    interval = sys.getswitchinterval()
    sys.setswitchinterval(1000.0)
    thread = threading.Thread(target=counter)
    try:
        thread.start()  # returns once the thread waits for `go`, holding no GIL
        go.set()
        work()
        during = count
    finally:
        done = True
        sys.setswitchinterval(interval)
        if thread.ident is not None:  # started
            thread.join()
    return during


def test_other_threads_run_during_model_building_and_io(tmp_path):
    root = big_tree()
    path = tmp_path / "big.ttree"
    calls = {
        "create_model": lambda: root.create_model(cell_size=0, subtree=True),
        "write_session": lambda: tt.write_session(path, root),
        "read_session": lambda: tt.read_session(path),
        "transformed_points": lambda: tt.transformed_points(root),
    }
    for name, work in calls.items():
        # Whether the waiting thread gets the processor before the call ends is up to the
        # scheduler (on a loaded machine it may not, now and then); over many attempts it
        # does, unless the call holds the GIL. The first success ends the attempts.
        assert any(counted_while(work) > 0 for _ in range(100)), name
    # A call that keeps the GIL lets the counter run no step: the check can fail.
    assert counted_while(lambda: sum(range(200000))) == 0
    assert len(root.model) == 8 * 20000


def test_threads_share_a_tree_safely(tmp_path):
    root = big_tree(scans=4, surfels=5000)
    errors = []

    def builder():
        try:
            for _ in range(5):
                root.create_model(cell_size=0.5)
        except Exception as error:  # reported below
            errors.append(error)

    def walker():
        try:
            for _ in range(50):
                assert len(root.leaves()) == 4
                root.description = "Root"
                _ = root.model
        except Exception as error:
            errors.append(error)

    threads = [threading.Thread(target=builder), threading.Thread(target=walker)]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join()
    assert errors == []
    assert root.model is not None


def resident_bytes():
    with open("/proc/self/statm") as statm:
        return int(statm.read().split()[1]) * os.sysconf("SC_PAGE_SIZE")


def test_no_leaks_over_many_load_and_free_cycles(golden_session, tmp_path):
    arrays = scan_arrays(500, seed=8)

    def cycle():
        session = tt.read_session(golden_session)
        for leaf, trafo in session.root.leaves():
            _ = (leaf.model.positions, leaf.model.normals, tt.transformed_points(leaf), trafo)
        extra = session.root.add_scan(**arrays)
        session.root.children[0].move_to(extra.father)
        session.root.normalize_tree_structure(2)
        session.root.create_model(cell_size=1.0)
        tree = tt.SessionTree(session.root)
        tree.new_cluster()
        extra.remove()

    for _ in range(100):  # warm-up: allocator pools, caches
        cycle()
    gc.collect()
    before = resident_bytes()
    for _ in range(1000):
        cycle()
    gc.collect()
    grown = resident_bytes() - before
    # One cycle makes about 30 kB of surfels and nodes; a leak of any of them would add
    # tens of megabytes over 1,000 cycles.
    assert grown < 4 * 1024 * 1024, f"resident memory grew by {grown} bytes"
