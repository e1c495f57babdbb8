// Text written through a buffer into a file of the write seam: the page files of HTML reports
// and the .reg export files, UTF-16LE or single-byte. Every failed write is remembered, so that
// the caller can report it instead of success.
#ifndef KELDRUN_BASE_TEXT_OUTPUT_H_
#define KELDRUN_BASE_TEXT_OUTPUT_H_

#include <cstdint>
#include <string>
#include <vector>

#include "base/file_system.h"

namespace keldrun {

class TextOutput {
 public:
  TextOutput() = default;
  ~TextOutput() { close(); }
  TextOutput(const TextOutput&) = delete;
  TextOutput& operator=(const TextOutput&) = delete;

  // Starts writing into file (not owned; it must outlive the output until close) and, when bom
  // is set, writes the byte order mark FF FE. A null file writes nothing and counts as a failure.
  void open(WritableFile* file, bool bom = true);
  // Writes the buffered text and stops writing (the file stays open). False when this output
  // saw any failure since the last resetFailure.
  bool close();

  bool isOpen() const { return file_ != nullptr; }
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

 private:
  void flush();
  void put(uint8_t low, uint8_t high) {
    if (buffer_.size() + 2 > kBufferSize) flush();
    buffer_.push_back(low);
    buffer_.push_back(high);
  }

  static constexpr size_t kBufferSize = 1 << 16;
  WritableFile* file_ = nullptr;
  std::vector<uint8_t> buffer_;
  bool failed_ = false;
};

}  // namespace keldrun

#endif  // KELDRUN_BASE_TEXT_OUTPUT_H_
