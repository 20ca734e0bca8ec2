#pragma once

// Marks a class whose objects are not copied by assignment; copies, where a class allows
// them, go through its protected copy constructor.
class CbINonCopyable {
protected:
    CbINonCopyable() = default;
    CbINonCopyable(const CbINonCopyable&) = default;
    ~CbINonCopyable() = default;
    CbINonCopyable& operator=(const CbINonCopyable&) = delete;
};
