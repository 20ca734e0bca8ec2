#!/usr/bin/env python3
"""Prints per-scan statistics of a session file and writes a grid-subsampled point cloud.

    session_stats.py SESSION.ttree [-o OUTPUT.ply] [--cell MM]

For every scan (leaf) of the session: its ID, description, acquisition sequence number,
keyframe flag, surfel count, and the centre and extent of its surfels in the session's
frame. Then the whole session is subsampled on a grid of --cell millimetres (the library's
model building, one surfel per occupied cell) and written as a binary little-endian PLY
file with positions, normals and, where the session has them, colours.

The PLY file is written whole or not at all: into a temporary file in the target's folder,
synced to disk and renamed over the target. The input session is never overwritten, under
any name (the same file, a hard link or a symbolic link to it). Exits with 1 and a message
on any error.
"""

import argparse
import os
import sys
import tempfile

import numpy as np

import transformationtree as tt


def scan_statistics(session):
    """One line of text per scan."""
    lines = []
    for leaf, _ in session.root.leaves():
        points = tt.transformed_points(leaf)  # the session's frame, float64
        if len(points):
            low, high = points.min(axis=0), points.max(axis=0)
            centre, extent = (low + high) / 2, high - low
            where = ("centre ({:.2f}, {:.2f}, {:.2f}) extent {:.2f} x {:.2f} x {:.2f} mm"
                     .format(*centre, *extent))
        else:
            where = "no surfels"
        lines.append(f"scan {leaf.id}  {leaf.description!r}  seq {leaf.sequence_number}"
                     f"{'  keyframe' if leaf.keyframe else ''}  {len(points)} surfels  {where}")
    return lines


def ply_bytes(positions, normals, colours):
    """A binary little-endian PLY file of the surfels."""
    fields = [("x", "<f4"), ("y", "<f4"), ("z", "<f4"),
              ("nx", "<f4"), ("ny", "<f4"), ("nz", "<f4")]
    if colours is not None:
        fields += [("red", "u1"), ("green", "u1"), ("blue", "u1")]
    vertices = np.empty(len(positions), dtype=fields)
    for axis, name in enumerate("xyz"):
        vertices[name] = positions[:, axis]
        vertices["n" + name] = normals[:, axis]
    if colours is not None:
        for channel, name in enumerate(("red", "green", "blue")):
            vertices[name] = colours[:, channel]
    header = ["ply", "format binary_little_endian 1.0", "comment written by session_stats.py",
              f"element vertex {len(vertices)}"]
    types = {"<f4": "float", "u1": "uchar"}
    header += [f"property {types[kind]} {name}" for name, kind in fields]
    header.append("end_header")
    return ("\n".join(header) + "\n").encode("ascii") + vertices.tobytes()


def write_atomically(path, content):
    """Replaces `path` by `content` all at once: temporary file, fsync, rename."""
    folder = os.path.dirname(os.path.abspath(path))
    handle, temporary = tempfile.mkstemp(dir=folder, prefix="." + os.path.basename(path) + ".",
                                         suffix=".tmp")
    try:
        with os.fdopen(handle, "wb") as out:
            out.write(content)
            out.flush()
            os.fsync(out.fileno())
        os.replace(temporary, path)
    except BaseException:
        os.unlink(temporary)
        raise
    directory = os.open(folder, os.O_RDONLY)
    try:
        os.fsync(directory)  # the rename itself reaches the disk
    finally:
        os.close(directory)


def same_file(a, b):
    try:
        return os.path.samefile(a, b)
    except FileNotFoundError:
        return False


def main(argv):
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("session", help="the session file (.ttree)")
    parser.add_argument("-o", "--output", help="the PLY file to write (default: none)")
    parser.add_argument("--cell", type=float, default=0.5,
                        help="grid cell of the subsampled cloud in mm (default 0.5)")
    arguments = parser.parse_args(argv)
    try:
        if arguments.output is not None:
            if not arguments.output.lower().endswith(".ply"):
                raise ValueError(f"'{arguments.output}' does not end in .ply")
            if same_file(arguments.output, arguments.session):
                raise ValueError(f"'{arguments.output}' is the input session; refusing to "
                                 f"overwrite it")
        session = tt.read_session(arguments.session)
        lines = scan_statistics(session)
        print(f"session {arguments.session}: {len(lines)} scans, "
              f"{len(session.root.nodes())} nodes")
        for key, value in sorted(session.properties.items()):
            print(f"  {key}: {value}")
        print("\n".join(lines))
        if arguments.output is not None:
            root = session.root
            root.create_model(cell_size=arguments.cell)
            model = root.model
            write_atomically(arguments.output,
                             ply_bytes(model.positions, model.normals, model.colours))
            print(f"wrote {len(model)} surfels ({arguments.cell} mm grid) to {arguments.output}")
    except (tt.Error, ValueError, OSError) as error:
        print(f"session_stats: {error}", file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
