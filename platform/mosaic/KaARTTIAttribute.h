#pragma once

#include "platform/harbor/CbASerializable.h"

// Base class of every attribute: a typed, serialisable piece of metadata that a node
// carries, at most one per run-time type (see KaARTTIAttributeContainer). Derived classes
// register a run-time type record under their class name, which is how attribute records
// in streams name their class.
//
// Virtual slots after the destructor: GetRTTI, Serialize (write), Serialize (read),
// ResetAttribute. Thread safety is each derived class's own.
class KaARTTIAttribute : public CbASerializable {
public:
    ~KaARTTIAttribute() override = default;

    // Restores the defaults of the fields the class chooses to reset and reports whether
    // it reset anything. The base has nothing to reset and returns false.
    virtual bool ResetAttribute() { return false; }

protected:
    KaARTTIAttribute() = default;
    KaARTTIAttribute(const KaARTTIAttribute&) = default;
    KaARTTIAttribute& operator=(const KaARTTIAttribute&) = default;
};
