#include "platform/abacus/CbMatrix4R.h"

#include <Eigen/Core>

#include "platform/harbor/CbByteOrder.h"
#include "platform/harbor/CbStreamReadBinary.h"
#include "platform/harbor/CbStreamWriteBinary.h"

namespace {

template <class T>
using RowMajor4 = Eigen::Matrix<T, 4, 4, Eigen::RowMajor | Eigen::DontAlign>;

template <class T>
Eigen::Map<const RowMajor4<T>> view(const T* values) {
    return Eigen::Map<const RowMajor4<T>>(values);
}

template <class T>
Eigen::Map<RowMajor4<T>> view(T* values) {
    return Eigen::Map<RowMajor4<T>>(values);
}

}  // namespace

template <class T>
CbMatrix4R<T> CbMatrix4R<T>::Transposed() const {
    CbMatrix4R result;
    view<T>(result.Data()) = view<T>(Data()).transpose();
    return result;
}

template <class T>
CbMatrix4R<T> CbMatrix4R<T>::WithoutTranslation() const {
    CbMatrix4R result = *this;
    result(0, 3) = 0;
    result(1, 3) = 0;
    result(2, 3) = 0;
    result(3, 0) = 0;
    result(3, 1) = 0;
    result(3, 2) = 0;
    result(3, 3) = 1;
    return result;
}

template <class T>
CbVector3f CbMatrix4R<T>::TransformPoint(const CbVector3f& p) const {
    const CbMatrix4R& m = *this;
    return {static_cast<float>(p.x * m(0, 0) + p.y * m(1, 0) + p.z * m(2, 0) + m(3, 0)),
            static_cast<float>(p.x * m(0, 1) + p.y * m(1, 1) + p.z * m(2, 1) + m(3, 1)),
            static_cast<float>(p.x * m(0, 2) + p.y * m(1, 2) + p.z * m(2, 2) + m(3, 2))};
}

template <class T>
CbVector3f CbMatrix4R<T>::TransformVector(const CbVector3f& d) const {
    const CbMatrix4R& m = *this;
    return {static_cast<float>(d.x * m(0, 0) + d.y * m(1, 0) + d.z * m(2, 0)),
            static_cast<float>(d.x * m(0, 1) + d.y * m(1, 1) + d.z * m(2, 1)),
            static_cast<float>(d.x * m(0, 2) + d.y * m(1, 2) + d.z * m(2, 2))};
}

// The record goes out and comes in as one block of bytes, each value in the streams'
// little-endian form (CbByteOrder), instead of one stream call per value.
template <class T>
void CbMatrix4R<T>::StoreRecord(unsigned char* record) const {
    CbByteOrder::store<uint32_t>(record, 1);
    for (size_t i = 0; i < 16; ++i) {
        CbByteOrder::store(record + 4 + i * sizeof(T), m_values[i]);
    }
}

template <class T>
void CbMatrix4R<T>::LoadRecord(const unsigned char* record) {
    for (size_t i = 0; i < 16; ++i) {
        m_values[i] = CbByteOrder::load<T>(record + 4 + i * sizeof(T));
    }
}

template <class T>
void CbMatrix4R<T>::Serialize(CbStreamWriteBinary& stream) const {
    unsigned char record[c_recordBytes];
    StoreRecord(record);
    stream.WriteBytes(record, sizeof(record));
}

template <class T>
void CbMatrix4R<T>::Serialize(CbStreamReadBinary& stream) {
    stream.RequireRemaining(1, c_recordBytes, "matrix record");
    unsigned char record[c_recordBytes];
    stream.ReadBytes(record, sizeof(record));
    LoadRecord(record);
}

template class CbMatrix4R<double>;
template class CbMatrix4R<float>;
