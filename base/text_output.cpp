#include "base/text_output.h"

namespace keldrun {

void TextOutput::open(WritableFile* file, bool bom) {
  close();
  file_ = file;
  if (!file_) {
    failed_ = true;
    return;
  }
  buffer_.reserve(kBufferSize);
  if (bom) put(0xFF, 0xFE);
}

void TextOutput::flush() {
  if (file_ && !buffer_.empty() && !file_->append(buffer_.data(), buffer_.size())) failed_ = true;
  buffer_.clear();
}

bool TextOutput::close() {
  flush();
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
