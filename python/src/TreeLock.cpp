#include "python/src/TreeLock.h"

#include <pybind11/pybind11.h>

std::recursive_mutex& TreeLock::Mutex() {
    static std::recursive_mutex mutex;
    return mutex;
}

TreeLock::Guard::Guard() {
    if (Mutex().try_lock()) {
        return;
    }
    pybind11::gil_scoped_release release;
    Mutex().lock();
}

TreeLock::Guard::~Guard() {
    Mutex().unlock();
}
