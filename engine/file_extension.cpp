#include "engine/file_extension.h"

#include <cstring>

namespace keldrun {

namespace {

void appendVarint(std::vector<uint8_t>* out, uint64_t v) {
  while (v >= 0x80) {
    out->push_back(uint8_t(v | 0x80));
    v >>= 7;
  }
  out->push_back(uint8_t(v));
}

bool readVarint(const uint8_t* p, size_t n, size_t* pos, uint64_t* v) {
  uint64_t result = 0;
  for (int shift = 0; shift < 70; shift += 7) {
    if (*pos >= n) return false;
    uint8_t b = p[(*pos)++];
    if (shift == 63 && b > 1) return false;  // past 64 bits
    result |= uint64_t(b & 0x7F) << shift;
    if (!(b & 0x80)) {
      *v = result;
      return true;
    }
  }
  return false;
}

// Differences as zigzag numbers, wrapping: small steps either way take one or two bytes.
uint64_t zigzag(uint64_t difference) {
  int64_t d = int64_t(difference);
  return (uint64_t(d) << 1) ^ uint64_t(d >> 63);
}
uint64_t unzigzag(uint64_t v) { return (v >> 1) ^ (~(v & 1) + 1); }

}  // namespace

std::string fileMarkText(uint8_t marks) {
  static const char* const words[] = {"content or attributes changed, date kept", "replaced",
                                      "content digest changed"};
  std::string text;
  for (int i = 0; i < 3; i++) {
    if (!(marks & (1 << i))) continue;
    if (!text.empty()) text += "; ";
    text += words[i];
  }
  return text;
}

namespace {

// The change time of record i is stored against this: its own last-write time, or in a chained
// block the previous record's change time.
uint64_t changeBase(bool chained, size_t i, uint64_t previousTime, uint64_t lastWrite) {
  return chained && i > 0 ? previousTime : lastWrite;
}

size_t varintSize(uint64_t v) {
  size_t n = 1;
  for (; v >= 0x80; v >>= 7) n++;
  return n;
}

// The bytes the change times of a block take, chained or not.
size_t changeTimesSize(const std::vector<FileExt>& ext, const std::vector<uint64_t>& lastWrite,
                       bool chained) {
  size_t n = 0;
  for (size_t i = 0; i < ext.size(); i++)
    n += varintSize(zigzag(ext[i].changeTime -
                           changeBase(chained, i, i ? ext[i - 1].changeTime : 0, lastWrite[i])));
  return n;
}

}  // namespace

void encodeFileExtension(const std::vector<FileExt>& ext, const std::vector<uint64_t>& lastWrite,
                         bool digests, std::vector<uint8_t>* out) {
  bool chained = changeTimesSize(ext, lastWrite, true) < changeTimesSize(ext, lastWrite, false);
  bool volumes = false;
  for (const FileExt& e : ext) volumes = volumes || e.volume != ext[0].volume;
  out->push_back(uint8_t((digests ? kExtensionDigestFlag : 0) | (chained ? kExtensionChainedFlag : 0) |
                         (volumes ? kExtensionVolumesFlag : 0)));
  if (!volumes) appendVarint(out, ext.empty() ? 0 : ext[0].volume);
  uint64_t previousId = 0;
  for (size_t i = 0; i < ext.size(); i++) {
    const FileExt& e = ext[i];
    uint64_t base = changeBase(chained, i, i ? ext[i - 1].changeTime : 0, lastWrite[i]);
    appendVarint(out, zigzag(e.changeTime - base));
    if (volumes) appendVarint(out, e.volume);
    appendVarint(out, zigzag(e.fileId - previousId));
    previousId = e.fileId;
    if (!digests) continue;
    out->push_back(e.digestState);
    if (e.digestState == kDigestSha256) out->insert(out->end(), e.sha256, e.sha256 + kSha256Size);
  }
}

bool FileExtensionDecoder::start(const uint8_t* p, size_t n) {
  p_ = p;
  n_ = n;
  pos_ = 0;
  records_ = 0;
  previousId_ = 0;
  previousTime_ = 0;
  volume_ = 0;
  if (n == 0 || p[0] & ~kExtensionFlags) return false;
  flags_ = p[pos_++];
  return (flags_ & kExtensionVolumesFlag) || readVarint(p_, n_, &pos_, &volume_);
}

bool FileExtensionDecoder::next(uint64_t lastWrite, FileExt* out) {
  uint64_t time, id;
  if (!readVarint(p_, n_, &pos_, &time)) return false;
  if ((flags_ & kExtensionVolumesFlag) && !readVarint(p_, n_, &pos_, &volume_)) return false;
  if (!readVarint(p_, n_, &pos_, &id)) return false;
  *out = FileExt();
  out->changeTime =
      changeBase(flags_ & kExtensionChainedFlag, records_++, previousTime_, lastWrite) + unzigzag(time);
  out->fileId = previousId_ + unzigzag(id);
  out->volume = volume_;
  previousId_ = out->fileId;
  previousTime_ = out->changeTime;
  if (!(flags_ & kExtensionDigestFlag)) return true;
  if (pos_ >= n_ || p_[pos_] > kDigestUnreadable) return false;
  out->digestState = p_[pos_++];
  if (out->digestState != kDigestSha256) return true;
  if (n_ - pos_ < kSha256Size) return false;
  std::memcpy(out->sha256, p_ + pos_, kSha256Size);
  pos_ += kSha256Size;
  return true;
}

}  // namespace keldrun
