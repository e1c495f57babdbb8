// Version resources and PE images that hold them, built byte by byte as resource compilers and
// linkers lay them out, for the tests of the version reader and of what reads file versions.
#ifndef KELDRUN_TESTS_PE_IMAGE_SUPPORT_H_
#define KELDRUN_TESTS_PE_IMAGE_SUPPORT_H_

#include <algorithm>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "base/coding.h"
#include "tests/test_support.h"

namespace keldrun {
namespace testing_support {

using Bytes = std::vector<uint8_t>;

inline void pad4(Bytes* b) {
  while (b->size() % 4) b->push_back(0);
}

// One block of a version resource, laid out as resource compilers write it: header, key, value
// and children, each aligned to 4 bytes; the length excludes the padding after the last child.
inline Bytes block(const std::u16string& key, uint16_t type, uint16_t valueLength, const Bytes& value,
                   const std::vector<Bytes>& children = {}) {
  Bytes b(6, 0);
  Bytes name = utf16(key);
  b.insert(b.end(), name.begin(), name.end());
  pad4(&b);
  b.insert(b.end(), value.begin(), value.end());
  for (const Bytes& c : children) {
    pad4(&b);
    b.insert(b.end(), c.begin(), c.end());
  }
  putU16(b.data(), uint16_t(b.size()));
  putU16(b.data() + 2, valueLength);
  putU16(b.data() + 4, type);
  return b;
}

// A string of a string table; its value length counts characters with the terminating null.
inline Bytes text(const std::u16string& key, const std::u16string& value) {
  return block(key, 1, uint16_t(value.size() + 1), utf16(value));
}

// The VarFileInfo block listing the given (language, code page) pairs.
inline Bytes translations(std::vector<std::pair<uint16_t, uint16_t>> pairs) {
  Bytes v;
  for (auto [language, codePage] : pairs) {
    appendU16(&v, language);
    appendU16(&v, codePage);
  }
  return block(u"VarFileInfo", 1, 0, {}, {block(u"Translation", 0, uint16_t(v.size()), v)});
}

// The root block, with a fixed file information of zeros after its signature.
inline Bytes versionInfo(const std::vector<Bytes>& children) {
  Bytes fixed(52, 0);
  putU32(fixed.data(), 0xFEEF04BD);
  return block(u"VS_VERSION_INFO", 0, uint16_t(fixed.size()), fixed, children);
}

// A PE image with one resource section holding version resources in the given languages (each
// with its own bytes), under resource id `id`.
struct PeOptions {
  bool pe32Plus = true;
  uint32_t id = 1;
  std::vector<std::pair<uint16_t, Bytes>> languages;
  uint32_t sizeExtra = 0;  // added to the data entry's stated size
};

inline Bytes buildPe(const PeOptions& o) {
  const uint32_t kRsrcRva = 0x2000, kRsrcRaw = 0x400;
  // Resource section: three directory levels, data entries, then the data.
  Bytes rsrc;
  auto dir = [&](uint16_t ids) {
    Bytes d(16, 0);
    putU16(d.data() + 14, ids);
    rsrc.insert(rsrc.end(), d.begin(), d.end());
  };
  auto entry = [&](uint32_t id, uint32_t offset) {
    appendU32(&rsrc, id);
    appendU32(&rsrc, offset);
  };
  size_t n = o.languages.size();
  dir(1);
  entry(16, 0x80000000u | 24);
  dir(1);
  entry(o.id, 0x80000000u | 48);
  dir(uint16_t(n));
  size_t dataEntries = 48 + 16 + 8 * n;
  for (size_t i = 0; i < n; i++) entry(o.languages[i].first, uint32_t(dataEntries + 16 * i));
  size_t dataAt = dataEntries + 16 * n;
  std::vector<size_t> at;
  for (size_t i = 0; i < n; i++) {
    at.push_back(dataAt);
    dataAt += (o.languages[i].second.size() + 3) & ~size_t(3);
  }
  for (size_t i = 0; i < n; i++) {
    appendU32(&rsrc, uint32_t(kRsrcRva + at[i]));
    appendU32(&rsrc, uint32_t(o.languages[i].second.size() + o.sizeExtra));
    appendU32(&rsrc, 0);
    appendU32(&rsrc, 0);
  }
  for (size_t i = 0; i < n; i++) {
    rsrc.insert(rsrc.end(), o.languages[i].second.begin(), o.languages[i].second.end());
    if (i + 1 < n) pad4(&rsrc);
  }

  Bytes pe(kRsrcRaw + rsrc.size(), 0);
  pe[0] = 'M';
  pe[1] = 'Z';
  putU32(pe.data() + 0x3C, 0x80);
  uint8_t* h = pe.data() + 0x80;
  std::memcpy(h, "PE\0\0", 4);
  uint16_t optSize = o.pe32Plus ? 240 : 224;
  putU16(h + 4, o.pe32Plus ? 0x8664 : 0x14C);
  putU16(h + 6, 1);
  putU16(h + 20, optSize);
  uint8_t* opt = h + 24;
  putU16(opt, o.pe32Plus ? 0x20B : 0x10B);
  putU32(opt + 60, kRsrcRaw);
  size_t dirs = o.pe32Plus ? 112 : 96;
  putU32(opt + dirs - 4, 16);
  putU32(opt + dirs + 16, kRsrcRva);
  putU32(opt + dirs + 20, uint32_t(rsrc.size()));
  uint8_t* sec = opt + optSize;
  std::memcpy(sec, ".rsrc", 5);
  putU32(sec + 8, uint32_t(rsrc.size()));
  putU32(sec + 12, kRsrcRva);
  putU32(sec + 16, uint32_t(rsrc.size()));
  putU32(sec + 20, kRsrcRaw);
  std::copy(rsrc.begin(), rsrc.end(), pe.begin() + kRsrcRaw);
  return pe;
}

}  // namespace testing_support
}  // namespace keldrun

#endif  // KELDRUN_TESTS_PE_IMAGE_SUPPORT_H_
