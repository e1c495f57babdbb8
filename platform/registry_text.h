// Readers of registry text: Wine's hive files ("WINE REGISTRY Version 2": system.reg, user.reg,
// userdef.reg) and registry editor files ("Windows Registry Editor Version 5.00" in UTF-16LE
// with a byte order mark or in UTF-8, and "REGEDIT4"), deletions included. They say what the
// text holds, in its order; the in-memory registry (platform/memory_registry.h) builds its tree
// from that.
#ifndef KELDRUN_PLATFORM_REGISTRY_TEXT_H_
#define KELDRUN_PLATFORM_REGISTRY_TEXT_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace keldrun {

struct RegValue {
  std::u16string name;  // empty for the default value
  uint32_t type = 0;
  std::vector<uint8_t> data;
};

// Root names as written in registry editor files: "HKEY_LOCAL_MACHINE" and its short form
// "HKLM", and so on, case-insensitive. The root's kHive* index, -1 when the name is none of them.
int hiveIndexOfRegName(const std::u16string& name);

// Decodes a registry editor file's bytes to text: UTF-16LE after a byte order mark, UTF-8
// (with or without its mark) otherwise, and "REGEDIT4" files byte by byte.
std::u16string decodeRegText(const std::string& bytes);

// Receives the statements of a registry editor file in the file's order.
class RegFileSink {
 public:
  virtual ~RegFileSink() = default;
  // "[root\path]": the values that follow go to this key, created when missing. path is relative
  // to root kHive* hive. False when the key cannot be created: reading stops there.
  virtual bool openKey(int hive, const std::u16string& path) = 0;
  // "[-root\path]": the key and its subtree go; the values that follow belong to no key.
  virtual void deleteKey(int hive, const std::u16string& path) = 0;
  // "name"=data and "name"=- below the key last opened (never before the first key line nor
  // after a deletion).
  virtual void setValue(const RegValue& value) = 0;
  virtual void deleteValue(const std::u16string& name) = 0;
};

// Reads a registry editor file into sink. Stops at the first line it cannot read and returns
// false with *error ("line N: ..."); what came before has reached the sink.
bool readRegFile(const std::string& bytes, RegFileSink* sink, std::string* error);

// Reads the text of a Wine hive file key by key. A key's value lines are only located here, so
// that a large hive is read in one pass over its key lines; decodeHiveValues reads them when
// they are wanted.
class HiveReader {
 public:
  struct Key {
    std::u16string path;     // relative to the hive's base key, components separated by '\'
    size_t valuesBegin = 0;  // the lines after the key line, up to the next key line or the end
    size_t valuesEnd = 0;
    bool link = false;  // a "#link" line among them: the key is a symbolic link
  };

  // text must outlive the reader.
  explicit HiveReader(const std::string& text);

  // True when text begins with the hive file's first line.
  static bool isHive(const std::string& text);
  // The next key whose key line can be read; false at the end of the text. The lines after a
  // key line that cannot be read belong to no key.
  bool next(Key* key);
  // True once a key line, readable or not, has been read: the base key is then known.
  bool keyLineSeen() const { return keyLineSeen_; }
  // The path of the last ";; All keys relative to" line before the first key line, as written
  // (such as "REGISTRY\Machine"); empty when there is none.
  const std::u16string& relativeTo() const { return relativeTo_; }

 private:
  const std::string& text_;
  size_t pos_;
  bool keyLineSeen_ = false;
  std::u16string relativeTo_;
};

// Decodes the value lines of a hive key (text[begin, end), a Key's range) in the order they
// stand, a name listed twice included. Lines that cannot be read are skipped.
void decodeHiveValues(const std::string& text, size_t begin, size_t end,
                      std::vector<RegValue>* out);

}  // namespace keldrun

#endif  // KELDRUN_PLATFORM_REGISTRY_TEXT_H_
