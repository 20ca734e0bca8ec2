#pragma once

#include <string>

#include "platform/granary/CySurfelCollectionBase.h"
#include "platform/harbor/CbSmartPointer.h"

class CbStreamWriteBinary;
class CbStreamReadBinary;

// The stream block in which attributes store a surfel collection of any run-time type: a
// flag, then the class name, a byte count n and the collection's own n-byte record. Unknown
// classes are skipped by their byte count, so the rest of the stream stays readable. Also
// creates and clones collections through the run-time type registry. Stateless; Read throws
// CbException for truncated or inconsistent blocks.
class KaCSurfelCollectionBlock {
public:
    KaCSurfelCollectionBlock() = delete;

    // Writes the block of `collection` (null writes the false flag only). Throws
    // CbException when the collection's record does not fit a 32-bit byte count.
    static void Write(CbStreamWriteBinary& stream,
                      const CbSmartPointer<const CySurfelCollectionBase>& collection);

    // Reads a block. A false flag leaves `collection` unchanged. Otherwise `collection`
    // becomes the collection read, or null when its class cannot be created here. A created
    // collection reads itself from the stream; when it uses fewer bytes than the block's
    // count the rest is skipped, so the stream stays in step, and when it uses more the
    // block is corrupt and CbException is thrown. On any exception `collection` is left as
    // it was.
    static void Read(CbStreamReadBinary& stream,
                     CbSmartPointer<const CySurfelCollectionBase>& collection);

    // A new collection of the class registered under `name`; null when the name is not
    // registered, not a surfel collection class, has no create function or the function
    // throws. Never throws.
    static CbSmartPointer<CySurfelCollectionBase> CreateByName(const std::wstring& name) noexcept;

    // A copy made by the clone function registered under the collection's class name; null
    // for a null collection, when there is no clone function or it throws. Never throws.
    static CbSmartPointer<CySurfelCollectionBase> Clone(
        const CbSmartPointer<const CySurfelCollectionBase>& collection) noexcept;
};
