// ComplexMatrix: a small dense complex matrix, row-major, for gate unitaries.
// A plain value; entry (r, c) is row r, column c.
#ifndef TREVALON_CIRC_COMPLEX_MATRIX_H_
#define TREVALON_CIRC_COMPLEX_MATRIX_H_

#include <complex>
#include <cstdint>
#include <vector>

namespace trevalon {

using Complex = std::complex<double>;

class ComplexMatrix {
 public:
  ComplexMatrix() = default;
  ComplexMatrix(uint32_t rows, uint32_t cols)
      : rows_(rows), cols_(cols), data_(static_cast<std::size_t>(rows) * cols) {}
  ComplexMatrix(uint32_t rows, uint32_t cols, std::vector<Complex> row_major)
      : rows_(rows), cols_(cols), data_(std::move(row_major)) {}

  uint32_t nrows() const { return rows_; }
  uint32_t ncols() const { return cols_; }
  Complex& operator()(uint32_t r, uint32_t c) { return data_[static_cast<std::size_t>(r) * cols_ + c]; }
  const Complex& operator()(uint32_t r, uint32_t c) const {
    return data_[static_cast<std::size_t>(r) * cols_ + c];
  }
  const Complex* data() const { return data_.data(); }

  ComplexMatrix adjoint() const;
  // Equal shape and every entry equal at the quantised precision.
  bool quantised_eq(const ComplexMatrix& other) const;

 private:
  uint32_t rows_ = 0;
  uint32_t cols_ = 0;
  std::vector<Complex> data_;
};

}  // namespace trevalon

#endif  // TREVALON_CIRC_COMPLEX_MATRIX_H_
