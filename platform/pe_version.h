// A portable reader of the version resource of Windows executables (PE32 and PE32+).
//
// It answers what GetFileVersionInfo and VerQueryValue answer for "\VarFileInfo\Translation" and
// "\StringFileInfo\<lang><codepage>\<name>": the resource of type 16 (RT_VERSION) with id 1,
// in the language neutral, then US English, then the first language the file has; the first
// translation of its Translation entry; the strings of the string table of that translation
// (keys compared case-insensitively). Every length and offset read from the file is checked
// against the bytes that hold it; a malformed file reads as having no version resource.
#ifndef KELDRUN_PLATFORM_PE_VERSION_H_
#define KELDRUN_PLATFORM_PE_VERSION_H_

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/env.h"

namespace keldrun {

// Random access to the bytes of one file.
class ByteSource {
 public:
  virtual ~ByteSource() = default;
  virtual uint64_t size() const = 0;
  // Reads n bytes at offset into out; false when they are not all there.
  virtual bool read(uint64_t offset, size_t n, uint8_t* out) = 0;
};

// The version resource block (VS_VERSIONINFO) is at most 65,535 bytes: its length is 16 bits.
constexpr size_t kMaxVersionResource = 0xFFFF;

// Finds the version resource of a PE image and copies its bytes (cut at kMaxVersionResource)
// into *resource. False when the source is not a PE image or has no version resource.
bool findVersionResource(ByteSource* source, std::string* resource);

// Reads the strings of a VS_VERSIONINFO block. False when the block is malformed or has no
// Translation entry of at least one (language, code page) pair; missing strings are empty.
bool parseVersionResource(const uint8_t* data, size_t size, FileVersionInfo* out);

// Both steps over a file in memory or on disk (a native path).
bool readPeVersion(const uint8_t* data, size_t size, FileVersionInfo* out);
bool readPeVersionFile(const std::string& nativePath, FileVersionInfo* out);

}  // namespace keldrun

#endif  // KELDRUN_PLATFORM_PE_VERSION_H_
