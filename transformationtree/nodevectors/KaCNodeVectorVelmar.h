#pragma once

#include "platform/velmar/VelmarDepthImage.h"
#include "transformationtree/nodevectors/KaTNodeVector.h"

// The node vector for scans of the Velmar scanner (see KaTNodeVector): its depth images are
// VelmarDepthImage. A sibling of KaCNodeVector, not a kind of it; the stream format is the
// same, so either class reads what the other wrote.
class KaCNodeVectorVelmar : public KaTNodeVector<KaCNodeVectorVelmar, VelmarDepthImage> {
    CB_DECLARE_RTTI()

public:
    KaCNodeVectorVelmar() = default;
    // SetInnerNode(node, type, trafo, flags).
    KaCNodeVectorVelmar(CbSmartPointer<const KaCTransformationNode> node, IteratorType type,
                        const CbMatrix4Rd& trafo, unsigned int flags) {
        SetInnerNode(std::move(node), type, trafo, flags);
    }
    KaCNodeVectorVelmar(const KaCNodeVectorVelmar& other) = default;
    KaCNodeVectorVelmar& operator=(const KaCNodeVectorVelmar& other) = default;
    ~KaCNodeVectorVelmar() override = default;

    // Where a record of an unknown version is reported: this class's own source.
    static const char* const ms_sourceFile;
    static const int ms_sourceLine;

private:
    CB_DECLARE_FACTORIES(KaCNodeVectorVelmar)
};
