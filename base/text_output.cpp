#include "base/text_output.h"

#include "base/files.h"

namespace keldrun {

TextOutput::~TextOutput() { close(); }

bool TextOutput::create(const std::string& path, bool bom) {
  close();
  file_ = openFile(path, "wb");
  if (!file_) {
    failed_ = true;
    return false;
  }
  buffer_.reserve(kBufferSize);
  if (bom) put(0xFF, 0xFE);
  return true;
}

void TextOutput::flush() {
  if (!file_ || buffer_.empty()) {
    buffer_.clear();
    return;
  }
  writes_++;
  bool injected = failFrom_ != 0 && writes_ >= failFrom_;
  if (injected || std::fwrite(buffer_.data(), 1, buffer_.size(), file_) != buffer_.size()) {
    failed_ = true;
  }
  buffer_.clear();
}

bool TextOutput::close() {
  if (!file_) return !failed_;
  flush();
  // A full disk often shows only when the C library hands its own buffer to the system.
  if (std::fflush(file_) != 0) failed_ = true;
  if (std::fclose(file_) != 0) failed_ = true;
  file_ = nullptr;
  return !failed_;
}

void TextOutput::writeAscii(const char* text, size_t length) {
  if (!file_) return;
  for (size_t i = 0; i < length; i++) put(uint8_t(text[i]), 0);
}

void TextOutput::writeWide(const char16_t* text, size_t length) {
  if (!file_) return;
  for (size_t i = 0; i < length; i++) put(uint8_t(text[i]), uint8_t(text[i] >> 8));
}

void TextOutput::writeBytes(const char* bytes, size_t length) {
  if (!file_) return;
  for (size_t i = 0; i < length; i++) {
    if (buffer_.size() + 1 > kBufferSize) flush();
    buffer_.push_back(uint8_t(bytes[i]));
  }
}

}  // namespace keldrun
