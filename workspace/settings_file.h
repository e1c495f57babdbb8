// Encoding and decoding of the settings file "Keldrun.cfg" (layout in settings_format.h), apart
// from the Settings object that gives the records their meaning.
#ifndef KELDRUN_WORKSPACE_SETTINGS_FILE_H_
#define KELDRUN_WORKSPACE_SETTINGS_FILE_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace keldrun {

using SettingsRecord = std::pair<std::string, std::string>;  // key, value

// Appends one record to a body. The value is cut before its first 0xFF byte, which would
// otherwise end the record early; 0x01 bytes in it are kept.
void appendSettingsRecord(std::string* body, const std::string& key, const std::string& value);

// The whole file for a body: masked lengths, the level-9 zlib stream and pseudo-random filler
// drawn from seed. Empty when compression fails.
std::vector<uint8_t> encodeSettingsFile(const std::string& body, uint32_t seed);

// Extracts the body from a file's bytes. False, leaving *body empty, when the file is shorter
// than its header, declares a stream that does not fit in it or a body larger than its size
// allows, or holds a stream that does not inflate to exactly the declared length.
bool decodeSettingsFile(const uint8_t* data, size_t size, std::string* body);

// The records of a body in order. Pieces without a separator are skipped.
std::vector<SettingsRecord> parseSettingsRecords(const std::string& body);

// A decimal integer as the settings and the older settings file store it: optional leading
// white space and sign, then the leading digits; 0 when there are none. Values beyond the
// 32-bit range are clamped to it.
int32_t parseDecimal(const std::string& text);

}  // namespace keldrun

#endif  // KELDRUN_WORKSPACE_SETTINGS_FILE_H_
