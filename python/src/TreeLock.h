#pragma once

#include <mutex>

// The one lock the bindings take around every use of the library's trees. Python calls
// normally run one at a time under the interpreter lock (GIL); the calls that release the
// GIL for long work (model building, session writing) would otherwise let other Python
// threads change or read a tree while the library works on it. Every binding call that
// touches nodes holds this lock while it does.
//
// Lock order: a thread that waits for this lock never holds the GIL while it waits (Guard
// releases the GIL first), and a thread that holds this lock without the GIL never waits
// for the GIL before releasing it, so neither lock can wait for the other. The lock is
// recursive: a finaliser that Python runs inside a binding call may call the bindings
// again on the same thread.
class TreeLock {
public:
    // For binding calls that run with the GIL held: takes the lock at once when it is free,
    // else releases the GIL while it waits (so that other Python threads go on) and takes
    // the GIL back once it holds the lock.
    class Guard {
    public:
        Guard();
        ~Guard();
        Guard(const Guard&) = delete;
        Guard& operator=(const Guard&) = delete;
    };

    // For long work: the caller releases the GIL first, then locks this mutex directly.
    static std::recursive_mutex& Mutex();
};
