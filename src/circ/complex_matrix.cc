#include "circ/complex_matrix.h"

#include "state/qreal.h"

namespace trevalon {

ComplexMatrix ComplexMatrix::adjoint() const {
  ComplexMatrix out(cols_, rows_);
  for (uint32_t r = 0; r < rows_; ++r) {
    for (uint32_t c = 0; c < cols_; ++c) out(c, r) = std::conj((*this)(r, c));
  }
  return out;
}

bool ComplexMatrix::quantised_eq(const ComplexMatrix& other) const {
  if (rows_ != other.rows_ || cols_ != other.cols_) return false;
  for (std::size_t i = 0; i < data_.size(); ++i) {
    if (!qreal::eq(data_[i].real(), other.data_[i].real()) ||
        !qreal::eq(data_[i].imag(), other.data_[i].imag())) {
      return false;
    }
  }
  return true;
}

}  // namespace trevalon
