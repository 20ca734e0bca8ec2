#pragma once

#include <cstddef>

// Watches the sizes of the allocations the test program makes, so that tests can prove
// that a reader facing a hostile count does not allocate for it. The program's global
// operator new is replaced for this; the probe records only while it is armed, and while
// armed it refuses requests above 64 MiB with std::bad_alloc.
namespace AllocationProbe {

void Arm();
// Stops recording and returns the largest single request seen since Arm().
size_t Disarm();
// The sum of every request between the last Arm() and Disarm(), freed ones included: an
// upper bound of what was held at any time.
size_t Requested();

}  // namespace AllocationProbe
