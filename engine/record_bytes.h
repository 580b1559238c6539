#pragma once
// Bounded byte cursors for the template record. The writer counts every byte
// it is given but stores only those that fit, so one pass without storage
// measures a record and a second pass writes it; the reader refuses to go past
// the length it was given.
#include <cstddef>
#include <cstdint>

namespace vorsensor {

class RecordWriter {
 public:
  // `data` may be null: then bytes are only counted.
  RecordWriter(uint8_t* data, size_t capacity) : data_(data), capacity_(capacity) {}

  void Put(uint8_t byte) {
    if (data_ != nullptr && length_ < capacity_) data_[length_] = byte;
    ++length_;
  }
  // Little-endian, `count` bytes of `value`.
  void PutLittleEndian(uint32_t value, int count) {
    for (int i = 0; i < count; ++i) Put(static_cast<uint8_t>(value >> (8 * i)));
  }
  // Bytes given so far, including those that did not fit.
  size_t length() const { return length_; }
  bool overflowed() const { return length_ > capacity_; }

 private:
  uint8_t* data_;
  size_t capacity_;
  size_t length_ = 0;
};

class RecordReader {
 public:
  RecordReader(const uint8_t* data, size_t length) : data_(data), length_(length) {}

  // False, leaving `byte` alone, when the record has no more bytes.
  bool Get(uint8_t* byte) {
    if (position_ >= length_) return false;
    *byte = data_[position_++];
    return true;
  }
  // Little-endian, `count` bytes; false when fewer remain (nothing consumed).
  bool GetLittleEndian(uint32_t* value, int count) {
    if (length_ - position_ < static_cast<size_t>(count)) return false;
    uint32_t v = 0;
    for (int i = 0; i < count; ++i) v |= static_cast<uint32_t>(data_[position_ + i]) << (8 * i);
    position_ += static_cast<size_t>(count);
    *value = v;
    return true;
  }
  size_t position() const { return position_; }

 private:
  const uint8_t* data_;
  size_t length_;
  size_t position_ = 0;
};

}  // namespace vorsensor
