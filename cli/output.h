// Standard output of the commands: one buffered writer, and the two ways a name from a snapshot
// is written. A snapshot may come from a compromised machine, so nothing in it reaches the
// terminal raw: text output escapes control characters and JSON escapes what JSON requires and
// the same control characters.
#ifndef KELDRUN_CLI_OUTPUT_H_
#define KELDRUN_CLI_OUTPUT_H_

#include <cstdint>
#include <cstdio>
#include <cstring>
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

// Writes a row at the end of a string through a pointer: each piece is copied where the
// pointer is, without the capacity check and terminator that an append to a std::string
// repeats for each of the thirty short pieces of a JSON row. The string is made longer by the
// guess of the row's length at once (a longer row costs another resize, never an overrun), and
// cut to what was written when the writer goes. Nothing else may change the string meanwhile.
// The escapes are those of appendText, appendLatin1Text, appendJson and appendLatin1Json.
class RowWriter {
 public:
  // What a printed row takes, as a rule, but for an indent or a line head given beside it.
  static constexpr size_t kRowGuess = 512;

  RowWriter(std::string* out, size_t guess);
  ~RowWriter();
  RowWriter(const RowWriter&) = delete;
  RowWriter& operator=(const RowWriter&) = delete;

  RowWriter& put(char c) {
    *room(1) = c;
    p_++;
    return *this;
  }
  RowWriter& put(const char* s, size_t n) {
    std::memcpy(room(n), s, n);
    p_ += n;
    return *this;
  }
  // A string literal, its length known where it is written.
  template <size_t N>
  RowWriter& put(const char (&literal)[N]) { return put(literal, N - 1); }
  RowWriter& put(const std::string& s) { return put(s.data(), s.size()); }
  RowWriter& cstr(const char* s) { return put(s, std::strlen(s)); }
  RowWriter& spaces(size_t n);
  RowWriter& number(uint64_t n);
  RowWriter& text(const char16_t* s, size_t n);
  RowWriter& text(const std::u16string& s) { return text(s.data(), s.size()); }
  RowWriter& text(const StoredText& s);
  RowWriter& latin1(const std::string& s);
  RowWriter& json(const char16_t* s, size_t n);
  RowWriter& json(const std::u16string& s) { return json(s.data(), s.size()); }
  RowWriter& json(const StoredText& s);
  RowWriter& jsonLatin1(const std::string& s);
  // The escapes of json() without the quotes: a piece of a string literal. Each code unit
  // escapes alone, so the pieces of a text give the escape of the whole.
  RowWriter& jsonChars(const char16_t* s, size_t n);

  // Where the next byte goes, as an offset in the string; again writes once more the n bytes
  // written from such an offset, for a piece a row holds twice.
  size_t offset() const { return size_t(p_ - out_->data()); }
  RowWriter& again(size_t offset, size_t n);

 private:
  // Where n more bytes may be written.
  char* room(size_t n) {
    if (size_t(end_ - p_) < n) grow(n);
    return p_;
  }
  void grow(size_t n);

  std::string* out_;
  char* p_;
  char* end_;
};

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
