// Little-endian encoding and bounded decoding.
//
// Every on-disk integer is little-endian. Decoders read through a Slice, which knows where its
// bytes end: a read that would pass the end fails instead of touching memory beyond it.
#ifndef KELDRUN_BASE_CODING_H_
#define KELDRUN_BASE_CODING_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace keldrun {

inline uint16_t getU16(const uint8_t* p) { return uint16_t(p[0] | (p[1] << 8)); }
inline uint32_t getU32(const uint8_t* p) {
  return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}
inline uint64_t getU64(const uint8_t* p) { return uint64_t(getU32(p)) | (uint64_t(getU32(p + 4)) << 32); }

inline void putU16(uint8_t* p, uint16_t v) {
  p[0] = uint8_t(v);
  p[1] = uint8_t(v >> 8);
}
inline void putU32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; i++) p[i] = uint8_t(v >> (8 * i));
}
inline void putU64(uint8_t* p, uint64_t v) {
  putU32(p, uint32_t(v));
  putU32(p + 4, uint32_t(v >> 32));
}

inline void appendU16(std::vector<uint8_t>* out, uint16_t v) {
  out->resize(out->size() + 2);
  putU16(out->data() + out->size() - 2, v);
}
inline void appendU32(std::vector<uint8_t>* out, uint32_t v) {
  out->resize(out->size() + 4);
  putU32(out->data() + out->size() - 4, v);
}

// The stored-text length word, which stands before every stored name or string: its low 15
// bits count the characters, its top bit says they are UTF-16LE (two bytes each) instead of one
// byte each.
constexpr uint16_t kWideFlag16 = 0x8000;
constexpr size_t kMaxStoredChars = 0x7FFF;

// The length word of `chars` characters (at most kMaxStoredChars) in the form `wide` says.
inline uint16_t encodeTextLength(size_t chars, bool wide) {
  return uint16_t(chars | (wide ? kWideFlag16 : 0));
}
// The character count and form that a length word gives.
inline void decodeTextLength(uint16_t word, size_t* chars, bool* wide) {
  *chars = word & kMaxStoredChars;
  *wide = (word & kWideFlag16) != 0;
}
// The number of bytes of the characters that a length word announces.
inline size_t textLengthBytes(uint16_t word) {
  size_t chars;
  bool wide;
  decodeTextLength(word, &chars, &wide);
  return wide ? 2 * chars : chars;
}

// A bounded view of bytes. Reads advance the cursor and fail (returning false, leaving the
// output untouched) when fewer bytes remain than asked for.
class Slice {
 public:
  Slice() = default;
  Slice(const uint8_t* data, size_t size) : p_(data), end_(data + size) {}

  const uint8_t* data() const { return p_; }
  size_t size() const { return size_t(end_ - p_); }
  bool empty() const { return p_ == end_; }

  bool skip(size_t n) {
    if (n > size()) return false;
    p_ += n;
    return true;
  }
  bool readU8(uint8_t* v) {
    if (size() < 1) return false;
    *v = *p_++;
    return true;
  }
  bool readU16(uint16_t* v) {
    if (size() < 2) return false;
    *v = getU16(p_);
    p_ += 2;
    return true;
  }
  bool readU32(uint32_t* v) {
    if (size() < 4) return false;
    *v = getU32(p_);
    p_ += 4;
    return true;
  }
  // Points *out at the next n bytes and steps over them.
  bool readBytes(size_t n, const uint8_t** out) {
    if (n > size()) return false;
    *out = p_;
    p_ += n;
    return true;
  }
  // Reads a stored-text length word and the characters it announces, pointing *bytes at them.
  // Fails without moving when the characters run past the end.
  bool readText(const uint8_t** bytes, size_t* chars, bool* wide) {
    if (size() < 2) return false;
    uint16_t word = getU16(p_);
    size_t n = textLengthBytes(word);
    if (n > size() - 2) return false;
    decodeTextLength(word, chars, wide);
    *bytes = p_ + 2;
    p_ += 2 + n;
    return true;
  }

 private:
  const uint8_t* p_ = nullptr;
  const uint8_t* end_ = nullptr;
};

}  // namespace keldrun

#endif  // KELDRUN_BASE_CODING_H_
