"""Trees of rigid 4x4 transformations over 3-D scans, from Python.

    import transformationtree as tt

    session = tt.read_session("session.ttree")
    for leaf, trafo in session.root.leaves():          # every scan with its trafo
        points = tt.transformed_points(leaf)            # (N, 3) float64, session frame
        print(leaf.description, leaf.model.positions.shape, trafo[3, :3])
    session.root.create_model(cell_size=0.5)
    tt.write_session("copy.ttree", session.root, session.properties)

Transformations are 4x4 float64 arrays acting on row vectors: a point p maps to
(p, 1) @ M, the translation is the last row, and A @ B applies A first. A node's
transformation into an ancestor's frame is node.relative_trafo @ father.relative_trafo
@ ... up to, not including, the ancestor's own.

Ownership: a Node object keeps its node, the node's subtree and the root of its tree
alive; no object ever refers to a destroyed node. Detached nodes (removed, or created
and not yet appended) are owned by the Node objects that refer to them. Model objects,
and the read-only surfel views they hand out (positions, colours, qualities), keep the
model's surfels alive on their own; normals, matrices and transformed points are copies.

Threads: reading, writing, model building and transforming points release the GIL; the
module's calls that use trees are serialised by one lock, so threads may share trees.

Errors of the library raise tt.Error (a RuntimeError) or a subclass (FileVersionError,
PreconditionError, which is also a ValueError, NotInvertibleError), carrying the
library's message; bad arguments raise ValueError or TypeError. docs/PYTHON.md has more.
"""

from __future__ import annotations

import os
from typing import Dict, NamedTuple, Union

from . import _core
from ._core import (
    Error,
    FileVersionError,
    Model,
    Node,
    NotInvertibleError,
    PreconditionError,
    SessionTree,
    create_inner,
    create_root,
    create_scan,
    transformed_points,
    write_session,
)

__version__ = _core.__version__

__all__ = [
    "Error",
    "FileVersionError",
    "Model",
    "Node",
    "NotInvertibleError",
    "PreconditionError",
    "Session",
    "SessionTree",
    "create_inner",
    "create_root",
    "create_scan",
    "read_session",
    "transformed_points",
    "write_session",
]


class Session(NamedTuple):
    """A session read from a file: the root of its tree and its text properties."""

    root: Node
    """The root of the session's tree (an inner node)."""
    properties: Dict[str, str]
    """The session's text properties ("created by", ...), a new dict."""


def read_session(path: Union[str, os.PathLike]) -> Session:
    """Reads the session file at `path` (as `ttree` writes them) into a new tree.

    Returns Session(root, properties). The file is checked whole (magic, version, every
    checksum and length) before anything is built; a damaged, truncated or foreign file
    raises Error (FileVersionError for an unknown version) whose message starts with
    "session file '<path>': ", and a missing file raises Error naming it. Releases the
    GIL while it reads.
    """
    root, properties = _core._read_session(os.fspath(path))
    return Session(root, properties)
