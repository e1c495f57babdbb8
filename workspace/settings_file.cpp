#include "workspace/settings_file.h"

#include <zlib.h>

#include <random>

#include "base/coding.h"
#include "workspace/settings_format.h"

namespace keldrun {

void appendSettingsRecord(std::string* body, const std::string& key, const std::string& value) {
  body->append(key);
  body->push_back(char(kSettingsRecordSeparator));
  size_t end = value.find(char(kSettingsRecordEnd));
  body->append(value, 0, end == std::string::npos ? value.size() : end);
  body->push_back(char(kSettingsRecordEnd));
}

std::vector<uint8_t> encodeSettingsFile(const std::string& body, uint32_t seed) {
  size_t total = settingsFileSize(body.size());
  uLongf bound = compressBound(uLong(body.size()));
  // A body that does not compress could need more than the size rule leaves after the header;
  // the file then grows rather than losing the end of the stream.
  if (kSettingsStreamAt + bound > total) total = kSettingsStreamAt + bound;
  std::vector<uint8_t> file(total);
  std::minstd_rand rng(seed ? seed : 1);
  for (uint8_t& b : file) b = uint8_t(rng() >> 7);
  uLongf streamLength = uLongf(total - kSettingsStreamAt);
  if (compress2(file.data() + kSettingsStreamAt, &streamLength,
                reinterpret_cast<const Bytef*>(body.data()), uLong(body.size()),
                kSettingsCompressionLevel) != Z_OK)
    return {};
  putU32(file.data() + kSettingsCompressedLengthAt, uint32_t(streamLength) ^ kSettingsCompressedMask);
  putU32(file.data() + kSettingsBodyLengthAt, uint32_t(body.size()) ^ kSettingsBodyMask);
  return file;
}

bool decodeSettingsFile(const uint8_t* data, size_t size, std::string* body) {
  body->clear();
  if (size < kSettingsStreamAt || size > kSettingsMaxFileSize) return false;
  uint32_t streamLength = getU32(data + kSettingsCompressedLengthAt) ^ kSettingsCompressedMask;
  uint32_t bodyLength = getU32(data + kSettingsBodyLengthAt) ^ kSettingsBodyMask;
  if (streamLength == 0 || streamLength > size - kSettingsStreamAt) return false;
  // The writer makes the file at least settingsFileSize(body) long, so a longer body is a lie
  // (and would otherwise let a few bytes ask for gigabytes).
  if (settingsFileSize(bodyLength) > size) return false;
  std::string out(size_t(bodyLength) + 1, '\0');
  uLongf outLength = uLongf(out.size());
  int rc = uncompress(reinterpret_cast<Bytef*>(out.data()), &outLength, data + kSettingsStreamAt,
                      uLong(streamLength));
  if (rc != Z_OK || outLength != bodyLength) return false;
  out.resize(bodyLength);
  *body = std::move(out);
  return true;
}

std::vector<SettingsRecord> parseSettingsRecords(const std::string& body) {
  std::vector<SettingsRecord> records;
  size_t start = 0;
  while (start < body.size()) {
    size_t end = body.find(char(kSettingsRecordEnd), start);
    if (end == std::string::npos) end = body.size();
    size_t sep = body.find(char(kSettingsRecordSeparator), start);
    if (sep != std::string::npos && sep < end)
      records.emplace_back(body.substr(start, sep - start), body.substr(sep + 1, end - sep - 1));
    start = end + 1;
  }
  return records;
}

int32_t parseDecimal(const std::string& text) {
  size_t i = 0;
  while (i < text.size() && (text[i] == ' ' || (text[i] >= '\t' && text[i] <= '\r'))) i++;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  int64_t value = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; i++) {
    value = value * 10 + (text[i] - '0');
    if (value > int64_t(INT32_MAX) + 1) value = int64_t(INT32_MAX) + 1;
  }
  if (negative) value = -value;
  if (value > INT32_MAX) value = INT32_MAX;
  return int32_t(value);
}

}  // namespace keldrun
