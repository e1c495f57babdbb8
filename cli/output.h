// Standard output of the commands: one buffered writer, and the two ways a name from a snapshot
// is written. A snapshot may come from a compromised machine, so nothing in it reaches the
// terminal raw: text output escapes control characters and JSON escapes what JSON requires and
// the same control characters.
#ifndef KELDRUN_CLI_OUTPUT_H_
#define KELDRUN_CLI_OUTPUT_H_

#include <cstdint>
#include <cstdio>
#include <string>

#include "base/text.h"

namespace keldrun {

// Text for the eye, as UTF-8. Escaped: tab, line feed and carriage return as \t \n \r; the other
// control characters (below 0x20, 0x7F to 0x9F) as \xNN; a byte that was not UTF-8 (kept as
// U+DC80..U+DCFF) as \xNN of that byte; a lone surrogate and the line and paragraph separators
// U+2028, U+2029 as \uXXXX. So one name stays on one
// line and in one tab-separated field, and cannot move the cursor or retitle the terminal.
void appendText(std::string* out, const char16_t* s, size_t n);
void appendText(std::string* out, const StoredText& s);
// s escaped as above, for messages.
std::string printable(const std::u16string& s);
// The program's own 8-bit texts (computer names, dates): each byte is the character of equal
// value (Latin-1), escaped as above.
void appendLatin1Text(std::string* out, const std::string& s);
// The program's UTF-8 texts (snapshot names, the snapshot list's cells), escaped as above.
void appendUtf8Text(std::string* out, const std::string& utf8);

// n in decimal, without building a string.
void appendNumber(std::string* out, uint64_t n);

// A JSON string literal with its quotes. Besides '"', '\' and the characters below 0x20, the
// characters 0x7F to 0x9F and every surrogate (paired or not, so nothing is lost) are written as
// \uXXXX escapes.
void appendJson(std::string* out, const char16_t* s, size_t n);
void appendJson(std::string* out, const StoredText& s);
void appendLatin1Json(std::string* out, const std::string& s);
void appendUtf8Json(std::string* out, const std::string& utf8);
std::string jsonString(const std::u16string& text);
// For 8-bit program text (bytes are Latin-1).
std::string jsonString(const std::string& text);

// Writes to a FILE in blocks of 64 KiB: the printers append to text(), which flushes when full.
// No flush per line. A failed write (full disk, closed pipe) is remembered and reported by finish.
class Output {
 public:
  explicit Output(FILE* file);
  ~Output();
  Output(const Output&) = delete;
  Output& operator=(const Output&) = delete;

  // The buffer to append to; call flushIfFull after each record.
  std::string& text() { return buffer_; }
  void flushIfFull() {
    if (buffer_.size() >= kBlock) flush();
  }
  Output& put(const char* s) { buffer_ += s; return *this; }
  Output& put(const std::string& s) { buffer_ += s; return *this; }
  Output& put(char c) { buffer_ += c; return *this; }
  Output& number(uint64_t n);
  Output& spaces(size_t n) { buffer_.append(n, ' '); return *this; }
  Output& text(const std::u16string& s) { appendText(&buffer_, s.data(), s.size()); return *this; }
  Output& latin1(const std::string& s) { appendLatin1Text(&buffer_, s); return *this; }
  Output& utf8(const std::string& s) { appendUtf8Text(&buffer_, s); return *this; }
  Output& json(const std::u16string& s) { appendJson(&buffer_, s.data(), s.size()); return *this; }
  Output& jsonLatin1(const std::string& s) { appendLatin1Json(&buffer_, s); return *this; }

  // Writes out what is buffered and flushes the FILE. False when any write so far failed.
  bool finish();

 private:
  static constexpr size_t kBlock = 64 * 1024;
  void flush();

  FILE* file_;
  std::string buffer_;
  bool failed_ = false;
};

}  // namespace keldrun

#endif  // KELDRUN_CLI_OUTPUT_H_
