#include <gtest/gtest.h>
#include <zlib.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>

#include "engine/pack.h"
#include "engine/snapshot.h"
#include "engine/snapshot_format.h"
#include "tests/test_support.h"

namespace keldrun {
namespace {

namespace fs = std::filesystem;
using testing_support::readBytes;
using testing_support::writeBytes;

// Part text-like (compressible), part random (not), so chunks compress to varied sizes.
std::vector<uint8_t> sampleBytes(size_t n, uint32_t seed) {
  std::mt19937 rng(seed);
  std::vector<uint8_t> v(n);
  for (size_t i = 0; i < n; i++) v[i] = (i / 4096) % 3 == 0 ? uint8_t(rng()) : uint8_t("snapshot"[i % 8]);
  return v;
}

class PackTest : public ::testing::Test {
 protected:
  std::string path(const std::string& name) const { return dir_ / name; }

  // Unpacks with the stream function, as the file-level driver does not for plain bytes.
  bool unpackTo(const std::string& source, const std::string& target, ProgressSink* sink,
                int threads = 0) {
    FILE* in = std::fopen(source.c_str(), "rb");
    std::unique_ptr<WritableFile> out = defaultFileSystem()->openWritable(target, WriteMode::kCreate);
    bool ok = in && out && unpack(in, out.get(), sink, threads);
    if (in) std::fclose(in);
    if (out && !out->close()) ok = false;
    return ok;
  }

  // A packed file of the given chunks (u, c, bytes) with the given count.
  std::vector<uint8_t> forge(int32_t count, const std::vector<std::vector<uint8_t>>& chunks) {
    std::vector<uint8_t> out = {'C', '1', '.', '4'};
    appendU32(&out, uint32_t(count));
    out.resize(kPackHeaderSize, 0);
    for (const auto& c : chunks) out.insert(out.end(), c.begin(), c.end());
    return out;
  }
  static std::vector<uint8_t> chunk(uint32_t u, const std::vector<uint8_t>& data, int trimC = 0) {
    std::vector<uint8_t> z(compressBound(uLong(data.size())));
    uLongf zn = uLongf(z.size());
    compress2(z.data(), &zn, data.data(), uLong(data.size()), 3);
    z.resize(zn);
    std::vector<uint8_t> out;
    appendU32(&out, u);
    appendU32(&out, uint32_t(int(zn) + trimC));
    out.insert(out.end(), z.begin(), z.end());
    return out;
  }

  testing_support::TempFolder dir_;
};

TEST_F(PackTest, RoundTripsAreByteIdenticalAndChunksInflateWithZlib) {
  const size_t kChunk = kPackChunkSize;
  const size_t sizes[] = {0, 1, kChunk - 1, kChunk, kChunk + 1, 3 * kChunk + 12345};
  for (size_t size : sizes) {
    SCOPED_TRACE(size);
    std::vector<uint8_t> data = sampleBytes(size, uint32_t(size));
    writeBytes(path("src"), data);
    ProgressSink sink;
    ASSERT_TRUE(packFile(path("src"), path("packed"), &sink));

    std::vector<uint8_t> packed = readBytes(path("packed"));
    ASSERT_GE(packed.size(), kPackHeaderSize);
    EXPECT_EQ(std::string(packed.begin(), packed.begin() + 4), "C1.4");
    size_t expectChunks = (size + kChunk - 1) / kChunk;
    EXPECT_EQ(getU32(&packed[4]), expectChunks);
    for (size_t i = 8; i < 20; i++) EXPECT_EQ(packed[i], 0);
    EXPECT_EQ(sink.percent(), int(100 * expectChunks / (size / kChunk + 1)));

    // Walk the chunks by hand and inflate each with stock zlib.
    size_t at = kPackHeaderSize, done = 0;
    for (size_t k = 0; k < expectChunks; k++) {
      ASSERT_LE(at + 8, packed.size());
      uint32_t u = getU32(&packed[at]), c = getU32(&packed[at + 4]);
      EXPECT_EQ(u, k + 1 < expectChunks ? kChunk : size - done);
      ASSERT_LE(at + 8 + c, packed.size());
      std::vector<uint8_t> plain(u);
      uLongf n = u;
      ASSERT_EQ(uncompress(plain.data(), &n, &packed[at + 8], c), Z_OK);
      ASSERT_EQ(n, u);
      EXPECT_TRUE(std::equal(plain.begin(), plain.end(), data.begin() + long(done)));
      done += u;
      at += 8 + c;
    }
    EXPECT_EQ(at, packed.size());
    EXPECT_EQ(done, size);
    // Byte for byte the file that one zlib call per chunk, in order, makes.
    std::vector<std::vector<uint8_t>> chunks;
    for (size_t from = 0; from < size; from += kChunk) {
      size_t n = std::min(kChunk, size - from);
      chunks.push_back(chunk(uint32_t(n), std::vector<uint8_t>(data.begin() + long(from), data.begin() + long(from + n))));
    }
    EXPECT_TRUE(packed == forge(int32_t(chunks.size()), chunks));

    ProgressSink back;
    ASSERT_TRUE(unpackTo(path("packed"), path("out"), &back));
    EXPECT_TRUE(readBytes(path("out")) == data);
    EXPECT_EQ(back.percent(), size == 0 ? 0 : 100);
  }
}

// Chunks are compressed and inflated on several threads and written in order: every thread
// count gives the one-thread bytes, around the chunk boundaries and over more chunks than the
// threads have slots, and inflates back to the source.
TEST_F(PackTest, EveryThreadCountPacksTheSameBytesAsOneThread) {
  const size_t kChunk = kPackChunkSize;
  const size_t sizes[] = {0, 1, kChunk - 1, kChunk, kChunk + 1, 2 * kChunk - 1, 2 * kChunk,
                          2 * kChunk + 1, 13 * kChunk + 777};
  for (size_t size : sizes) {
    SCOPED_TRACE(size);
    std::vector<uint8_t> data = sampleBytes(size, uint32_t(size) + 7);
    writeBytes(path("src"), data);
    ASSERT_TRUE(packFile(path("src"), path("one"), nullptr, defaultFileSystem(), 1));
    std::vector<uint8_t> one = readBytes(path("one"));
    for (int threads : {2, 3, 8}) {
      SCOPED_TRACE(threads);
      ProgressSink sink;
      ASSERT_TRUE(packFile(path("src"), path("many"), &sink, defaultFileSystem(), threads));
      EXPECT_TRUE(readBytes(path("many")) == one);
      EXPECT_EQ(sink.percent(), int(100 * ((size + kChunk - 1) / kChunk) / (size / kChunk + 1)));
      ProgressSink back;
      ASSERT_TRUE(unpackTo(path("one"), path("out"), &back, threads));
      EXPECT_TRUE(readBytes(path("out")) == data);
      EXPECT_EQ(back.percent(), size == 0 ? 0 : 100);
    }
  }
}

// A bad chunk deep in a long pack fails the unpack however many chunks are in flight around it.
TEST_F(PackTest, ABadChunkAmongManyFailsTheUnpackAtAnyThreadCount) {
  std::vector<uint8_t> data = sampleBytes(kPackChunkSize, 3);
  std::vector<uint8_t> good = chunk(uint32_t(kPackChunkSize), data);
  std::vector<uint8_t> garbled = good;
  garbled[40] ^= 0x55;
  std::vector<uint8_t> cut(good.begin(), good.end() - 9);
  struct {
    const char* label;
    size_t at;
    std::vector<uint8_t> bad;
  } cases[] = {
      {"garbled stream in the middle", 7, garbled},
      {"inflates to less than u, second chunk", 1, chunk(uint32_t(kPackChunkSize), sampleBytes(1000, 4))},
      {"cut body of the last chunk", 11, cut},
  };
  for (const auto& c : cases) {
    std::vector<std::vector<uint8_t>> chunks(12, good);
    chunks[c.at] = c.bad;
    writeBytes(path("bad.pak"), forge(12, chunks));
    for (int threads : {1, 2, 8}) {
      SCOPED_TRACE(std::string(c.label) + ", threads " + std::to_string(threads));
      SnapshotInfo info;
      writeBytes(path("target.snp"), {1, 2, 3});
      EXPECT_FALSE(unpackFile(path("bad.pak"), path("target.snp"), &info, nullptr,
                              defaultFileSystem(), threads));
      EXPECT_FALSE(fs::exists(path("target.snp")));
    }
  }
}

TEST_F(PackTest, EmptySourcePacksToBareHeader) {
  writeBytes(path("src"), {});
  ASSERT_TRUE(packFile(path("src"), path("packed"), nullptr));
  std::vector<uint8_t> packed = readBytes(path("packed"));
  std::vector<uint8_t> expected = {'C', '1', '.', '4'};
  expected.resize(20, 0);
  EXPECT_EQ(packed, expected);
  // A negative count is an empty snapshot too.
  writeBytes(path("neg"), forge(-5, {}));
  for (const char* src : {"packed", "neg"}) {
    ASSERT_TRUE(unpackTo(path(src), path("out"), nullptr)) << src;
    EXPECT_EQ(fs::file_size(path("out")), 0u);
  }
}

TEST_F(PackTest, HostilePacksFailAndTargetIsDeleted) {
  std::vector<uint8_t> data = sampleBytes(1000, 1);
  std::vector<uint8_t> big(kPackChunkSize + 1, 'x');
  std::vector<uint8_t> good = chunk(1000, data);
  std::vector<uint8_t> garbled = good;
  garbled[20] ^= 0x55;
  std::vector<uint8_t> hugeC = good;
  putU32(&hugeC[4], uint32_t(kPackOutputSize + 1));
  std::vector<uint8_t> wrongTag = forge(1, {good});
  wrongTag[0] = 'c';
  struct {
    const char* label;
    std::vector<uint8_t> bytes;
  } cases[] = {
      {"wrong tag", wrongTag},
      {"short header", {'C', '1', '.', '4', 1, 0}},
      {"empty file", {}},
      {"count beyond the chunks", forge(2, {good})},
      {"cut chunk head", forge(1, {{0xE8, 0x03, 0, 0, 10}})},
      {"cut chunk body", forge(1, {std::vector<uint8_t>(good.begin(), good.end() - 3)})},
      {"u past the chunk buffer", forge(1, {chunk(uint32_t(kPackChunkSize + 1), big)})},
      {"c past the output buffer", forge(1, {hugeC})},
      {"inflates to more than u", forge(1, {chunk(999, data)})},
      {"inflates to less than u", forge(1, {chunk(1001, data)})},
      {"garbled stream", forge(1, {garbled})},
      {"c one short", forge(1, {chunk(1000, data, -1)})},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    writeBytes(path("bad.pak"), c.bytes);
    writeBytes(path("target.snp"), {1, 2, 3});
    SnapshotInfo info;
    info.number = 5;
    EXPECT_FALSE(unpackFile(path("bad.pak"), path("target.snp"), &info, nullptr));
    EXPECT_FALSE(fs::exists(path("target.snp")));
  }
  // The good chunk alone unpacks (the harness above is not failing for another reason).
  writeBytes(path("ok.pak"), forge(1, {good}));
  ASSERT_TRUE(unpackTo(path("ok.pak"), path("out"), nullptr));
  EXPECT_EQ(readBytes(path("out")), data);
}

TEST_F(PackTest, CancelFailsAndDeletesTarget) {
  writeBytes(path("src"), sampleBytes(6 * kPackChunkSize + 5, 9));
  ProgressSink sink;
  ASSERT_TRUE(packFile(path("src"), path("packed"), &sink));
  // A cancel asked for before the start writes no chunk, whatever the threads have in flight.
  for (int threads : {1, 4}) {
    SCOPED_TRACE(threads);
    ProgressSink cancelled;
    cancelled.cancel();
    EXPECT_FALSE(packFile(path("src"), path("packed2"), &cancelled, defaultFileSystem(), threads));
    EXPECT_FALSE(fs::exists(path("packed2")));
    SnapshotInfo info;
    EXPECT_FALSE(unpackFile(path("packed"), path("snap.snp"), &info, &cancelled,
                            defaultFileSystem(), threads));
    EXPECT_FALSE(fs::exists(path("snap.snp")));
    EXPECT_FALSE(unpackTo(path("packed"), path("out"), &cancelled, threads));
    EXPECT_EQ(fs::file_size(path("out")), 0u) << "a chunk was written after the cancel";
  }
}

TEST_F(PackTest, MissingSourceOrSameTargetFails) {
  EXPECT_FALSE(packFile(path("none"), path("packed"), nullptr));
  EXPECT_FALSE(fs::exists(path("packed")));
  std::vector<uint8_t> data = sampleBytes(5000, 3);
  writeBytes(path("src"), data);
  EXPECT_FALSE(packFile(path("src"), path("src"), nullptr));
  EXPECT_EQ(readBytes(path("src")), data) << "the source survives";
  EXPECT_FALSE(packFile(path("src"), path("no/such/folder/packed"), nullptr));
}

// Export and import of a real snapshot: the imported copy carries the importer's number and is
// otherwise the same file.
TEST_F(PackTest, SnapshotExportImportKeepsNumber) {
  SnapshotFile file;
  ASSERT_TRUE(file.create(path("snap001.snp")));
  std::vector<uint8_t> content = sampleBytes(3 * kPackChunkSize, 4);
  uint32_t at = file.appendTable(content.data(), content.size());
  file.addRoot(kSectionFiles, u"c:", 0, 0, 0, at);
  SnapshotInfo info;
  FilterList lists[kSectionCount] = {{}, {u"c:\\temp\\"}, {}};
  info.fillNew("exported", 1, lists);
  ASSERT_TRUE(file.finish(&info));
  ASSERT_TRUE(file.close());
  std::vector<uint8_t> original = readBytes(path("snap001.snp"));

  ASSERT_TRUE(packFile(path("snap001.snp"), path("export.pak"), nullptr));
  SnapshotInfo imported;
  imported.number = 17;
  ASSERT_TRUE(unpackFile(path("export.pak"), path("snap017.snp"), &imported, nullptr));
  EXPECT_EQ(imported.number, 17);
  EXPECT_EQ(imported.name, "exported");
  EXPECT_EQ(imported.filterList[1], lists[1]);
  EXPECT_FALSE(file.isOpen());

  std::vector<uint8_t> copy = readBytes(path("snap017.snp"));
  ASSERT_EQ(copy.size(), original.size());
  EXPECT_EQ(int32_t(getU32(&copy[info.infoOffset + kInfoNumber])), 17);
  putU32(&copy[info.infoOffset + kInfoNumber], 1);
  EXPECT_TRUE(copy == original) << "only the number differs";

  // A packed file that unpacks to something that is no snapshot is refused and removed.
  writeBytes(path("junk"), sampleBytes(10, 5));
  ASSERT_TRUE(packFile(path("junk"), path("junk.pak"), nullptr));
  SnapshotInfo junk;
  EXPECT_FALSE(unpackFile(path("junk.pak"), path("snap018.snp"), &junk, nullptr));
  EXPECT_FALSE(fs::exists(path("snap018.snp")));
}

}  // namespace
}  // namespace keldrun
