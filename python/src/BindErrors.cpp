#include <exception>
#include <filesystem>
#include <string>

#include "platform/abacus/CyExceptionNotInvertible.h"
#include "platform/harbor/CbException.h"
#include "platform/harbor/CbExceptionOutOfMemory.h"
#include "platform/harbor/CbExceptionPreconditionViolation.h"
#include "platform/harbor/CbExceptionWrongFileVersion.h"
#include "python/src/Bindings.h"

namespace py = pybind11;

namespace {

// The exception classes, created once when the module is imported and never released (the
// module lives until the interpreter ends).
PyObject* s_error = nullptr;
PyObject* s_fileVersionError = nullptr;
PyObject* s_preconditionError = nullptr;
PyObject* s_notInvertibleError = nullptr;

PyObject* newClass(py::module_& module, const char* name, PyObject* bases, const char* doc) {
    const std::string qualified = std::string("transformationtree.") + name;
    PyObject* type = PyErr_NewExceptionWithDoc(qualified.c_str(), doc, bases, nullptr);
    if (type == nullptr) {
        throw py::error_already_set();
    }
    module.add_object(name, py::handle(type));  // the module takes a reference of its own
    return type;
}

// The library's message (UTF-8) without the source location, which the message of a
// CbException without text is made of.
std::string messageOf(const CbException& problem) {
    return problem.GetMessage().empty() ? std::string(problem.what()) : problem.GetMessage();
}

}  // namespace

void BindErrors(py::module_& module) {
    s_error = newClass(module, "Error", PyExc_RuntimeError,
                       "Base class of the errors the library reports (a RuntimeError). The "
                       "message is the library's: for session files it starts with "
                       "\"session file '<name>': \".");
    s_fileVersionError = newClass(module, "FileVersionError", s_error,
                                  "A file or record of a version this library does not read.");
    py::tuple preconditionBases = py::make_tuple(py::handle(s_error), py::handle(PyExc_ValueError));
    s_preconditionError = newClass(
        module, "PreconditionError", preconditionBases.ptr(),
        "An operation refused its arguments before changing anything: a null or missing node, "
        "a node that is not a child of the given father, or a move that would make a node its "
        "own ancestor. Also a ValueError.");
    s_notInvertibleError = newClass(module, "NotInvertibleError", s_error,
                                    "A transformation that had to be inverted is singular.");

    py::register_exception_translator([](std::exception_ptr raised) {
        try {
            if (raised) {
                std::rethrow_exception(raised);
            }
        } catch (const CbExceptionWrongFileVersion& problem) {
            PyErr_SetString(s_fileVersionError, messageOf(problem).c_str());
        } catch (const CbExceptionPreconditionViolation& problem) {
            PyErr_SetString(s_preconditionError, messageOf(problem).c_str());
        } catch (const CyExceptionNotInvertible& problem) {
            PyErr_SetString(s_notInvertibleError, messageOf(problem).c_str());
        } catch (const CbExceptionOutOfMemory& problem) {
            PyErr_SetString(PyExc_MemoryError, messageOf(problem).c_str());
        } catch (const CbException& problem) {
            PyErr_SetString(s_error, messageOf(problem).c_str());
        } catch (const std::filesystem::filesystem_error& problem) {
            PyErr_SetString(PyExc_OSError, problem.what());
        }
    });
}
