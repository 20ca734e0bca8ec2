#pragma once

#include <pybind11/pybind11.h>

// The binding functions of the extension module transformationtree._core, one per area;
// Module.cpp calls them in this order (later areas use the classes of earlier ones).

// tt.Error and its subclasses, and the translation of the library's exceptions into them.
void BindErrors(pybind11::module_& module);
// tt.Node: identity, transformation, tree position, walks, editing, model building.
void BindNodes(pybind11::module_& module);
// tt.Model and the surfel arrays; scans from arrays; transformed points.
void BindSurfels(pybind11::module_& module);
// Reading and writing session files.
void BindSessions(pybind11::module_& module);
// tt.SessionTree: the clusters of a session tree.
void BindSessionTree(pybind11::module_& module);
