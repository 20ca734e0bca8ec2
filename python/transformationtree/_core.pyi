"""Type hints of the extension module transformationtree._core (see the package docstring).

Matrices are 4x4 float64 arrays on row vectors (translation in the last row). Arrays
marked "view" are read-only views of surfel memory (no copy) that keep the surfels
alive; arrays marked "copy" are new arrays.
"""

import os
from typing import Dict, List, Optional, Tuple, Union

import numpy as np
import numpy.typing as npt

__version__: str

Matrix = npt.NDArray[np.float64]
ArrayLike = npt.ArrayLike

class Error(RuntimeError):
    """An error the library reports, with the library's message."""

class FileVersionError(Error):
    """A file or record of a version this library does not read."""

class PreconditionError(Error, ValueError):
    """Arguments refused before anything changed (e.g. a move that would make a cycle)."""

class NotInvertibleError(Error):
    """A transformation that had to be inverted is singular."""

class Model:
    """A node's model: a scan's surfels or an inner node's subsampled model."""

    @property
    def name(self) -> str: ...
    @property
    def id(self) -> str: ...
    @property
    def sequence_number(self) -> int: ...
    @property
    def size(self) -> int: ...
    def __len__(self) -> int: ...
    @property
    def positions(self) -> npt.NDArray[np.float32]:
        """(N, 3) float32: a read-only view (no copy)."""
    @property
    def normals(self) -> npt.NDArray[np.float32]:
        """(N, 3) float32 unit normals: a copy (decoded from two-byte codes)."""
    @property
    def colours(self) -> Optional[npt.NDArray[np.uint8]]:
        """(N, 3) uint8: a read-only view, or None without colours."""
    @property
    def qualities(self) -> Optional[npt.NDArray[np.float32]]:
        """(N,) float32: a read-only view, or None without qualities."""

class Node:
    """A node of a transformation tree (inner node or leaf); row-vector matrices.

    A Node keeps its node, its subtree and its tree's root alive.
    """

    @property
    def id(self) -> str: ...
    @property
    def description(self) -> str: ...
    @description.setter
    def description(self, value: str) -> None: ...
    @property
    def is_leaf(self) -> bool: ...
    @property
    def relative_trafo(self) -> Matrix:
        """Own frame into the father's frame: a copy; assign to change."""
    @relative_trafo.setter
    def relative_trafo(self, value: ArrayLike) -> None: ...
    @property
    def trafo_to_root(self) -> Matrix:
        """Own frame into the root's frame (without the root's own trafo): a copy."""
    def trafo_to(self, ancestor: Node) -> Matrix: ...
    @property
    def father(self) -> Optional[Node]: ...
    @property
    def children(self) -> List[Node]: ...
    @property
    def leaf_count(self) -> int: ...
    @property
    def sequence_number(self) -> Optional[int]: ...
    @property
    def keyframe(self) -> bool: ...
    @keyframe.setter
    def keyframe(self, value: bool) -> None: ...
    @property
    def model(self) -> Optional[Model]: ...
    def nodes(self) -> List[Tuple[Node, Matrix]]:
        """Every node of the subtree with its trafo into this node's frame (a snapshot)."""
    def leaves(self) -> List[Tuple[Node, Matrix]]:
        """Every scan of the subtree with its trafo into this node's frame (a snapshot)."""
    def find(self, id: str) -> Optional[Node]: ...
    def append(self, child: Node) -> None: ...
    def move_to(self, father: Node, before: Optional[Node] = None) -> None: ...
    def remove(self) -> None: ...
    def normalize_tree_structure(self, max_children: int = 4) -> None: ...
    def create_model(self, cell_size: float = 0.3, subtree: bool = False) -> None:
        """Builds the inner node's model (releases the GIL)."""
    def add_scan(
        self,
        positions: ArrayLike,
        normals: ArrayLike,
        colours: Optional[ArrayLike] = None,
        qualities: Optional[ArrayLike] = None,
        *,
        trafo: Optional[ArrayLike] = None,
        description: str = "",
        sequence_number: int = 0,
        keyframe: bool = False,
    ) -> Node: ...
    def __eq__(self, other: object) -> bool: ...
    def __hash__(self) -> int: ...

class SessionTree:
    """The clusters of a session over a root; keeps the root alive."""

    def __init__(self, root: Node) -> None: ...
    @property
    def root(self) -> Node: ...
    @property
    def clusters(self) -> List[Node]: ...
    @property
    def cluster_count(self) -> int: ...
    @property
    def active_cluster(self) -> Optional[Node]: ...
    @property
    def reference_cluster(self) -> Optional[Node]: ...
    def new_cluster(self) -> Node: ...
    def remove_cluster(self, cluster: Node) -> None: ...
    @staticmethod
    def optimizer(cluster: Node) -> Optional[Node]: ...
    @staticmethod
    def collector(cluster: Node) -> Optional[Node]: ...
    @staticmethod
    def clipboard(cluster: Node) -> Optional[Node]: ...

def create_root(description: str = "Root") -> Node: ...
def create_inner(description: str = "Inner") -> Node: ...
def create_scan(
    positions: ArrayLike,
    normals: ArrayLike,
    colours: Optional[ArrayLike] = None,
    qualities: Optional[ArrayLike] = None,
    *,
    trafo: Optional[ArrayLike] = None,
    description: str = "",
    sequence_number: int = 0,
    keyframe: bool = False,
) -> Node: ...
def transformed_points(node: Node, frame: Optional[Node] = None) -> npt.NDArray[np.float64]:
    """(N, 3) float64 positions of the node's model in `frame` (the root when None): a copy."""
def _registered_node_count() -> int:
    """Nodes in the library's node registry; the bindings keep it free of theirs."""
def _read_session(path: Union[str, os.PathLike]) -> Tuple[Node, Dict[str, str]]: ...
def write_session(
    path: Union[str, os.PathLike], root: Node, properties: Optional[Dict[str, str]] = None
) -> int:
    """Writes the session atomically (temporary, fsync, rename); returns the byte count."""
