#include "platform/pe_version.h"

#include <cctype>
#include <cstdio>
#include <cstring>
#include <vector>

#include "base/coding.h"
#include "base/files.h"

namespace keldrun {
namespace {

// PE layout, offsets from the start of the structure named.
constexpr size_t kDosHeaderSize = 64;
constexpr size_t kDosNewHeaderOffset = 0x3C;  // e_lfanew
constexpr size_t kCoffHeaderSize = 20;        // after the 4-byte "PE\0\0"
constexpr size_t kCoffSectionCount = 2;
constexpr size_t kCoffOptionalSize = 16;
constexpr uint16_t kMagicPe32 = 0x10B;
constexpr uint16_t kMagicPe32Plus = 0x20B;
constexpr size_t kOptSizeOfHeaders = 60;
constexpr size_t kOptDirCount32 = 92, kOptDirs32 = 96;
constexpr size_t kOptDirCount64 = 108, kOptDirs64 = 112;
constexpr uint32_t kResourceDirIndex = 2;
constexpr size_t kSectionHeaderSize = 40;
constexpr size_t kSecVirtualSize = 8, kSecVirtualAddress = 12, kSecRawSize = 16, kSecRawPointer = 20;
// More sections than a PE image may have (the loader's limit is 96; allow some slack).
constexpr uint16_t kMaxSections = 1024;

// Resource directory: a 16-byte header (named count at 12, id count at 14) and 8-byte entries.
constexpr size_t kResDirHeaderSize = 16;
constexpr size_t kResDirEntrySize = 8;
constexpr uint32_t kResSubdirFlag = 0x80000000u;
constexpr uint32_t kResNamedFlag = 0x80000000u;
constexpr uint32_t kTypeVersion = 16;
constexpr uint32_t kVersionId = 1;
// Entries looked at per directory level; real files hold a handful.
constexpr uint32_t kMaxResEntries = 4096;

struct Section {
  uint32_t virtualAddress;
  uint32_t virtualSize;
  uint32_t rawPointer;
  uint32_t rawSize;
};

class Image {
 public:
  explicit Image(ByteSource* source) : src_(source) {}

  bool load() {
    uint8_t dos[kDosHeaderSize];
    if (!src_->read(0, sizeof dos, dos) || dos[0] != 'M' || dos[1] != 'Z') return false;
    uint64_t pe = getU32(dos + kDosNewHeaderOffset);
    uint8_t coff[4 + kCoffHeaderSize];
    if (!src_->read(pe, sizeof coff, coff) || std::memcmp(coff, "PE\0\0", 4) != 0) return false;
    uint16_t sectionCount = getU16(coff + 4 + kCoffSectionCount);
    uint16_t optSize = getU16(coff + 4 + kCoffOptionalSize);
    if (sectionCount > kMaxSections) return false;
    std::vector<uint8_t> opt(optSize);
    if (optSize < 2 || !src_->read(pe + sizeof coff, optSize, opt.data())) return false;
    uint16_t magic = getU16(opt.data());
    size_t countAt, dirsAt;
    if (magic == kMagicPe32) {
      countAt = kOptDirCount32;
      dirsAt = kOptDirs32;
    } else if (magic == kMagicPe32Plus) {
      countAt = kOptDirCount64;
      dirsAt = kOptDirs64;
    } else {
      return false;
    }
    if (optSize < countAt + 4) return false;
    headersSize_ = optSize >= kOptSizeOfHeaders + 4 ? getU32(opt.data() + kOptSizeOfHeaders) : 0;
    uint32_t dirCount = getU32(opt.data() + countAt);
    size_t resAt = dirsAt + 8 * size_t(kResourceDirIndex);
    if (dirCount <= kResourceDirIndex || optSize < resAt + 8) return false;
    resourceRva_ = getU32(opt.data() + resAt);
    if (resourceRva_ == 0) return false;

    std::vector<uint8_t> table(size_t(sectionCount) * kSectionHeaderSize);
    if (!src_->read(pe + sizeof coff + optSize, table.size(), table.data())) return false;
    sections_.resize(sectionCount);
    for (size_t i = 0; i < sectionCount; i++) {
      const uint8_t* h = table.data() + i * kSectionHeaderSize;
      sections_[i] = {getU32(h + kSecVirtualAddress), getU32(h + kSecVirtualSize),
                      getU32(h + kSecRawPointer), getU32(h + kSecRawSize)};
    }
    return true;
  }

  // Reads n bytes at a relative virtual address; they must lie in the file data of one section
  // (or in the headers, which the loader maps at their own offsets).
  bool readRva(uint64_t rva, size_t n, uint8_t* out) {
    for (const Section& s : sections_) {
      uint64_t span = s.virtualSize > s.rawSize ? s.virtualSize : s.rawSize;
      if (rva < s.virtualAddress || rva >= uint64_t(s.virtualAddress) + span) continue;
      uint64_t inside = rva - s.virtualAddress;
      if (inside + n > s.rawSize) return false;
      return src_->read(uint64_t(s.rawPointer) + inside, n, out);
    }
    if (rva + n <= headersSize_) return src_->read(rva, n, out);
    return false;
  }

  // Looks in the directory at dirOffset (relative to the resource root) for an id entry of
  // each wanted id in turn, else (with firstAsFallback) takes the first entry; sets *offsetWord
  // to that entry's offset word. False when there is none or the directory cannot be read.
  bool findEntry(uint32_t dirOffset, const uint32_t* wantedIds, size_t wantedCount,
                 bool firstAsFallback, uint32_t* offsetWord) {
    uint8_t head[kResDirHeaderSize];
    if (!readRva(uint64_t(resourceRva_) + dirOffset, sizeof head, head)) return false;
    uint32_t named = getU16(head + 12), ids = getU16(head + 14);
    uint32_t total = named + ids;
    if (total > kMaxResEntries) total = kMaxResEntries;
    if (total == 0) return false;
    std::vector<uint8_t> entries(size_t(total) * kResDirEntrySize);
    if (!readRva(uint64_t(resourceRva_) + dirOffset + kResDirHeaderSize, entries.size(),
                 entries.data()))
      return false;
    for (size_t w = 0; w < wantedCount; w++) {
      for (uint32_t i = named; i < total; i++) {
        const uint8_t* e = entries.data() + size_t(i) * kResDirEntrySize;
        uint32_t id = getU32(e);
        if (!(id & kResNamedFlag) && id == wantedIds[w]) {
          *offsetWord = getU32(e + 4);
          return true;
        }
      }
    }
    if (!firstAsFallback) return false;
    *offsetWord = getU32(entries.data() + 4);
    return true;
  }

  bool versionResource(std::string* out) {
    static const uint32_t kType[] = {kTypeVersion};
    static const uint32_t kName[] = {kVersionId};
    // Language neutral, then US English, then whatever comes first.
    static const uint32_t kLanguages[] = {0x0000, 0x0409};
    uint32_t word;
    if (!findEntry(0, kType, 1, false, &word) || !(word & kResSubdirFlag)) return false;
    if (!findEntry(word & ~kResSubdirFlag, kName, 1, false, &word) || !(word & kResSubdirFlag))
      return false;
    if (!findEntry(word & ~kResSubdirFlag, kLanguages, 2, true, &word) || (word & kResSubdirFlag))
      return false;
    uint8_t data[16];
    if (!readRva(uint64_t(resourceRva_) + word, sizeof data, data)) return false;
    uint32_t dataRva = getU32(data), dataSize = getU32(data + 4);
    size_t n = dataSize < kMaxVersionResource ? dataSize : kMaxVersionResource;
    if (n < 6) return false;
    out->resize(n);
    if (readRva(dataRva, n, reinterpret_cast<uint8_t*>(&(*out)[0]))) return true;
    // A stated size that runs past the section's file data: the block's own length may not.
    uint8_t head[2];
    if (!readRva(dataRva, 2, head)) return false;
    size_t own = getU16(head);
    if (own < 6 || own >= n) return false;
    out->resize(own);
    return readRva(dataRva, own, reinterpret_cast<uint8_t*>(&(*out)[0]));
  }

 private:
  ByteSource* src_;
  uint32_t resourceRva_ = 0;
  uint32_t headersSize_ = 0;
  std::vector<Section> sections_;
};

// One block of a VS_VERSIONINFO tree: length, value length, type, key, value, children, each
// start aligned to 4 bytes from the start of the resource.
struct Block {
  size_t end = 0;  // one past the block, cut to its parent's end
  uint16_t valueLength = 0;
  uint16_t type = 0;
  size_t key = 0;  // offset of the key's first character
  size_t keyChars = 0;
  size_t value = 0;
  size_t children = 0;
};

size_t align4(size_t offset) { return (offset + 3) & ~size_t(3); }

bool parseBlock(const uint8_t* data, size_t at, size_t limit, Block* b) {
  if (at > limit || limit - at < 6) return false;
  uint16_t length = getU16(data + at);
  if (length < 6) return false;
  b->end = at + length < limit ? at + length : limit;
  b->valueLength = getU16(data + at + 2);
  b->type = getU16(data + at + 4);
  b->key = at + 6;
  size_t p = b->key;
  while (true) {
    if (b->end - p < 2) return false;
    if (getU16(data + p) == 0) break;
    p += 2;
  }
  b->keyChars = (p - b->key) / 2;
  b->value = align4(p + 2);
  size_t valueBytes = b->type == 1 ? 2 * size_t(b->valueLength) : b->valueLength;
  b->children = align4(b->value + valueBytes);
  return true;
}

bool keyIs(const uint8_t* data, const Block& b, const char* key) {
  size_t n = std::strlen(key);
  if (b.keyChars != n) return false;
  for (size_t i = 0; i < n; i++) {
    char16_t c = getU16(data + b.key + 2 * i);
    char16_t k = char16_t(uint8_t(key[i]));
    if (c < 0x80 && k < 0x80) {
      if (std::tolower(c) != std::tolower(k)) return false;
    } else if (c != k) {
      return false;
    }
  }
  return true;
}

bool findChild(const uint8_t* data, const Block& parent, const char* key, Block* child) {
  size_t at = parent.children;
  while (at < parent.end) {
    Block c;
    if (!parseBlock(data, at, parent.end, &c)) return false;
    if (keyIs(data, c, key)) {
      *child = c;
      return true;
    }
    at = align4(at + getU16(data + at));
  }
  return false;
}

// The text value of a string block: at most valueLength characters, up to the first NUL and
// the end of the block.
std::u16string textOf(const uint8_t* data, const Block& b) {
  std::u16string s;
  size_t p = b.value;
  for (size_t i = 0; i < b.valueLength; i++, p += 2) {
    if (p >= b.end || b.end - p < 2) break;
    char16_t c = getU16(data + p);
    if (c == 0) break;
    s.push_back(c);
  }
  return s;
}

class MemorySource : public ByteSource {
 public:
  MemorySource(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  uint64_t size() const override { return size_; }
  bool read(uint64_t offset, size_t n, uint8_t* out) override {
    if (offset > size_ || n > size_ - offset) return false;
    if (n) std::memcpy(out, data_ + offset, n);
    return true;
  }

 private:
  const uint8_t* data_;
  size_t size_;
};

class FileSource : public ByteSource {
 public:
  explicit FileSource(FILE* f) : f_(f) {
    if (!fileLength(f_, &size_)) size_ = 0;
  }
  uint64_t size() const override { return size_; }
  bool read(uint64_t offset, size_t n, uint8_t* out) override {
    if (offset > size_ || n > size_ - offset) return false;
    return seekFile(f_, offset) && std::fread(out, 1, n, f_) == n;
  }

 private:
  FILE* f_;
  uint64_t size_ = 0;
};

}  // namespace

bool findVersionResource(ByteSource* source, std::string* resource) {
  resource->clear();
  Image image(source);
  return image.load() && image.versionResource(resource);
}

bool parseVersionResource(const uint8_t* data, size_t size, FileVersionInfo* out) {
  *out = FileVersionInfo();
  Block root, varInfo, translation;
  if (!parseBlock(data, 0, size, &root)) return false;
  if (!findChild(data, root, "VarFileInfo", &varInfo) ||
      !findChild(data, varInfo, "Translation", &translation))
    return false;
  if (translation.valueLength < 4 || translation.value > translation.end ||
      translation.end - translation.value < 4)
    return false;
  uint16_t language = getU16(data + translation.value);
  uint16_t codePage = getU16(data + translation.value + 2);
  char table[9];
  std::snprintf(table, sizeof table, "%04x%04x", language, codePage);

  Block stringInfo, strings, item;
  if (findChild(data, root, "StringFileInfo", &stringInfo) &&
      findChild(data, stringInfo, table, &strings)) {
    if (findChild(data, strings, "ProductVersion", &item)) out->productVersion = textOf(data, item);
    if (findChild(data, strings, "FileVersion", &item)) out->fileVersion = textOf(data, item);
    if (findChild(data, strings, "CompanyName", &item)) out->companyName = textOf(data, item);
  }
  return true;
}

bool readPeVersion(const uint8_t* data, size_t size, FileVersionInfo* out) {
  MemorySource source(data, size);
  std::string resource;
  if (!findVersionResource(&source, &resource)) {
    *out = FileVersionInfo();
    return false;
  }
  return parseVersionResource(reinterpret_cast<const uint8_t*>(resource.data()), resource.size(),
                              out);
}

bool readPeVersionFile(const std::string& nativePath, FileVersionInfo* out) {
  *out = FileVersionInfo();
  FILE* f = openRegularFile(nativePath);
  if (!f) return false;
  FileSource source(f);
  std::string resource;
  bool found = findVersionResource(&source, &resource);
  std::fclose(f);
  return found && parseVersionResource(reinterpret_cast<const uint8_t*>(resource.data()),
                                       resource.size(), out);
}

}  // namespace keldrun
