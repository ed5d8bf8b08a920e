// RAII owner of a ByteImage for the engine's internal stages.
#pragma once

#include <utility>

#include "zylscan/feature_record.h"
#include "extract/feature_record.h"

namespace zyl::extract {

class OwnedByteImage {
 public:
  OwnedByteImage() = default;
  OwnedByteImage(int width, int height)
      : rows_(zyl::extract::CreateByteImage(width, height)), width_(width), height_(height) {}
  ~OwnedByteImage() { reset(); }
  OwnedByteImage(const OwnedByteImage&) = delete;
  OwnedByteImage& operator=(const OwnedByteImage&) = delete;
  OwnedByteImage(OwnedByteImage&& o) noexcept
      : rows_(std::exchange(o.rows_, nullptr)), width_(o.width_), height_(o.height_) {}
  OwnedByteImage& operator=(OwnedByteImage&& o) noexcept {
    if (this != &o) {
      reset();
      rows_ = std::exchange(o.rows_, nullptr);
      width_ = o.width_;
      height_ = o.height_;
    }
    return *this;
  }

  explicit operator bool() const { return rows_ != nullptr; }
  ByteImage get() const { return rows_; }
  std::uint8_t* operator[](int y) const { return rows_[y]; }
  int width() const { return width_; }
  int height() const { return height_; }

 private:
  void reset() {
    if (rows_) zyl::extract::FreeImage(rows_, height_);
    rows_ = nullptr;
  }
  ByteImage rows_ = nullptr;
  int width_ = 0;
  int height_ = 0;
};

}  // namespace zyl::extract
