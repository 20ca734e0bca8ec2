#include "platform/abacus/CbMatrixInternal.h"

#include <Eigen/Core>
#include <Eigen/LU>

namespace CbMatrixInternal {
namespace {

template <class T>
void invert(CbMatrix4R<T>& matrix, T& determinant) {
    using RowMajor4 = Eigen::Matrix<T, 4, 4, Eigen::RowMajor>;
    Eigen::Map<RowMajor4> values(matrix.Data());
    RowMajor4 inverse = RowMajor4::Zero();  // initialised: GCC cannot see that Eigen fills it
    bool invertible = false;
    values.computeInverseAndDetWithCheck(inverse, determinant, invertible, T(0));
    if (determinant != T(0)) {
        values = inverse;
    }
}

}  // namespace

void Invert(CbMatrix4Rd& matrix, double& determinant) {
    invert(matrix, determinant);
}
void Invert(CbMatrix4Rf& matrix, float& determinant) {
    invert(matrix, determinant);
}

}  // namespace CbMatrixInternal
