#pragma once

#include "platform/granary/CCT_DepthImage.h"
#include "transformationtree/nodevectors/KaTNodeVector.h"

// The node vector of the library (see KaTNodeVector): its depth images are CCT_DepthImage.
class KaCNodeVector : public KaTNodeVector<KaCNodeVector, CCT_DepthImage> {
    CB_DECLARE_RTTI()

public:
    KaCNodeVector() = default;
    // SetInnerNode(node, type, trafo, flags).
    KaCNodeVector(CbSmartPointer<const KaCTransformationNode> node, IteratorType type,
                  const CbMatrix4Rd& trafo, unsigned int flags) {
        SetInnerNode(std::move(node), type, trafo, flags);
    }
    KaCNodeVector(const KaCNodeVector& other) = default;
    KaCNodeVector& operator=(const KaCNodeVector& other) = default;
    ~KaCNodeVector() override = default;

    // Where a record of an unknown version is reported: this class's own source.
    static const char* const ms_sourceFile;
    static const int ms_sourceLine;

private:
    CB_DECLARE_FACTORIES(KaCNodeVector)
};
