// A UTF-16LE text file written through a buffer: the page files of HTML reports and the .reg
// export files. Every failure (the file cannot be created, a short write, a full disk at the
// final flush) is remembered, so that the caller can report it instead of success.
#ifndef KELDRUN_BASE_TEXT_OUTPUT_H_
#define KELDRUN_BASE_TEXT_OUTPUT_H_

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace keldrun {

class TextOutput {
 public:
  TextOutput() = default;
  ~TextOutput();
  TextOutput(const TextOutput&) = delete;
  TextOutput& operator=(const TextOutput&) = delete;

  // Creates or truncates the file at path (UTF-8) for binary writing and, when bom is set,
  // writes the byte order mark FF FE. False when the file cannot be created; the output then
  // stays closed and the failure is remembered.
  bool create(const std::string& path, bool bom = true);
  // Writes the buffered bytes and closes the file. False when this file saw any failed write
  // or the close failed. Does nothing (returning the failure state) when no file is open.
  bool close();

  bool isOpen() const { return file_ != nullptr; }
  // Some create, write or close since the last reset() failed.
  bool failed() const { return failed_; }
  void resetFailure() { failed_ = false; }

  // Text widened byte by byte to UTF-16 code units.
  void writeAscii(const char* text, size_t length);
  void writeAscii(const std::string& text) { writeAscii(text.data(), text.size()); }
  // UTF-16 code units written as they are.
  void writeWide(const char16_t* text, size_t length);
  void writeWide(const std::u16string& text) { writeWide(text.data(), text.size()); }
  // Bytes written as they are (single-byte files).
  void writeBytes(const char* bytes, size_t length);

  // Test hook: the n-th call to the system's write (counting from 1 over the life of this
  // object) and every later one fail as on a full disk; 0 turns it off.
  void failWritesFrom(uint64_t n) { failFrom_ = n; }

 private:
  void flush();
  void put(uint8_t low, uint8_t high) {
    if (buffer_.size() + 2 > kBufferSize) flush();
    buffer_.push_back(low);
    buffer_.push_back(high);
  }

  static constexpr size_t kBufferSize = 1 << 16;
  FILE* file_ = nullptr;
  std::vector<uint8_t> buffer_;
  bool failed_ = false;
  uint64_t writes_ = 0;
  uint64_t failFrom_ = 0;
};

}  // namespace keldrun

#endif  // KELDRUN_BASE_TEXT_OUTPUT_H_
