// Layout of the settings file "Keldrun.cfg", shared by its writer and its reader
// (settings_file.cpp).
//
// All integers are little-endian, unsigned 32-bit.
//   OFFSET  SIZE  CONTENT
//        0     3  filler
//        3     4  length of the compressed body, XOR kCompressedMask
//        7     4  filler
//       11     4  length of the body before compression, XOR kBodyMask
//       15     2  filler
//       17     c  the body as one zlib stream (level 9)
//     17+c     -  filler up to the end
// The file is (body length / 1024) * 1024 + 1536 bytes long. Filler bytes are pseudo-random: the
// whole buffer is filled first, then the two lengths and the stream are written over it.
//
// Body: records, each the key's bytes, kRecordSeparator, the value's bytes, kRecordEnd. The key
// ends at the first separator; the value may hold further separators but never kRecordEnd.
// Records in order: "q" (time of writing, never read back), "p" (the catalog's snapshot numbers
// joined by ","), then one record per setting in registration order.
#ifndef KELDRUN_WORKSPACE_SETTINGS_FORMAT_H_
#define KELDRUN_WORKSPACE_SETTINGS_FORMAT_H_

#include <cstddef>
#include <cstdint>

namespace keldrun {

constexpr size_t kSettingsCompressedLengthAt = 3;
constexpr size_t kSettingsBodyLengthAt = 11;
constexpr size_t kSettingsStreamAt = 17;
constexpr uint32_t kSettingsCompressedMask = 0x3C91D2A4;
constexpr uint32_t kSettingsBodyMask = 0x6E25B7C3;
constexpr size_t kSettingsSizeStep = 1024;
constexpr size_t kSettingsSizeExtra = 1536;
constexpr int kSettingsCompressionLevel = 9;

constexpr uint8_t kSettingsRecordSeparator = 0x01;
constexpr uint8_t kSettingsRecordEnd = 0xFF;

// A settings file larger than this is not read: even a catalog of a million snapshots stays
// far below it.
constexpr size_t kSettingsMaxFileSize = 64u << 20;

// The file size the writer gives a body of bodyLength bytes.
constexpr size_t settingsFileSize(size_t bodyLength) {
  return bodyLength / kSettingsSizeStep * kSettingsSizeStep + kSettingsSizeExtra;
}

}  // namespace keldrun

#endif  // KELDRUN_WORKSPACE_SETTINGS_FORMAT_H_
