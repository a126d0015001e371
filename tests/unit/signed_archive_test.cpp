// Signed self-extracting files, read by the core as the stub reads them: the
// certificate table behind the archive is set aside only where signing puts
// it, the block stream ends at the recorded size, and head slot 0 is the
// stub as the creator saw it.
#include <gtest/gtest.h>

#include <string>

#include "common/app_state.h"
#include "core_support.h"
#include "encode_support.h"

namespace {

// Start-up's size check failed (the file is larger or smaller than recorded).
const int kSizeRefused = 100;

// An archive whose first file is the stub's own first 20,000 bytes (stored
// as a prefix of slot 0, header fields included) followed by a text; the
// comment has `commentLength` bytes, so the archive's size can be steered.
Bytes headArchive(const Bytes& stub, size_t commentLength, ArchiveStats* stats = 0) {
  Bytes head(stub.begin(), stub.begin() + 20000);
  ArchiveSettings s;
  s.comment = std::string(commentLength, 'c');
  return packItems({{"head.bin", false, head}, {"b.txt", false, Bytes(300, 'b')}}, s, 1 << 20, stats, &stub);
}

std::vector<ReadEntry> readOrFail(const Bytes& file, int expectedCode = -1) {
  std::vector<ReadEntry> entries;
  EXPECT_EQ(readBack(file, "", &entries), expectedCode);
  return entries;
}

TEST(SignedArchive, ReadsAsTheUnsignedCopyForBothHeaderFormsAndEveryPadding) {
  for (uint32_t magic : {kPe32, kPe32Plus}) {
    const Bytes stub = peStubImage(magic);
    for (size_t comment = 0; comment < 8; ++comment) {  // every size modulo 8
      ArchiveStats stats;
      const Bytes plain = headArchive(stub, comment, &stats);
      ASSERT_EQ(stats.prefixBytes, 16384u);  // the first file begins with slot 0
      const std::vector<ReadEntry> unsigned_ = readOrFail(plain);
      ASSERT_EQ(unsigned_.size(), 2u);
      EXPECT_TRUE(unsigned_[0].content == Bytes(stub.begin(), stub.begin() + 20000));

      const Bytes signed_ = signedCopy(plain);
      ASSERT_NE(get32(signed_, checksumAt(signed_)), 0u);
      const std::vector<ReadEntry> back = readOrFail(signed_);
      ASSERT_EQ(back.size(), 2u) << magic << " " << comment;
      EXPECT_TRUE(back[0].content == unsigned_[0].content) << magic << " " << comment;
      EXPECT_TRUE(back[1].content == unsigned_[1].content);
    }
  }
}

TEST(SignedArchive, OnlyTheTableWhereSigningPutsItIsSetAside) {
  const Bytes stub = peStubImage(kPe32);
  const Bytes plain = headArchive(stub, 3);  // padded by signing
  const uint32_t end = (uint32_t)plain.size();
  const uint32_t tableAt = (end + 7) & ~7u;
  ASSERT_NE(end, tableAt);
  const Bytes good = signedCopy(plain);
  const size_t entry = securityEntryAt(good);
  readOrFail(good);

  auto refused = [&](Bytes file, const std::string& what) {
    SCOPED_TRACE(what);
    readOrFail(file, kSizeRefused);
  };
  auto withEntry = [&](uint32_t at, uint32_t length) {
    Bytes f = good;
    put32(&f, entry, at);
    put32(&f, entry + 4, length);
    return f;
  };
  const uint32_t length = get32(good, entry + 4);
  const uint32_t fileSize = (uint32_t)good.size();

  Bytes appended = good;
  appended.push_back(0);
  refused(appended, "a byte after the table");
  refused(Bytes(good.begin(), good.end() - 1), "the file cut inside the table");
  refused(withEntry(tableAt, length - 1), "a table that ends before the file");
  refused(withEntry(tableAt, length + 1), "a table that runs past the file");
  refused(withEntry(tableAt - 1, length + 1), "a table one byte early");
  refused(withEntry(tableAt + 1, length - 1), "a table one byte late");
  refused(withEntry(tableAt + 8, length - 8), "a table one step of 8 late");
  refused(withEntry(end, fileSize - end), "a table that takes the padding in");
  refused(withEntry(0, 0), "no security entry");
  refused(withEntry(kStubSize, fileSize - kStubSize), "a table over the whole payload");
  for (uint32_t i = end; i < tableAt; ++i) {
    Bytes dirty = good;
    dirty[i] = 1;
    refused(dirty, "padding byte " + std::to_string(i - end) + " not zero");
  }
  // A table too short to hold one certificate header.
  Bytes tiny = signedCopy(plain, 7);
  refused(tiny, "a table of 7 bytes");
  readOrFail(signedCopy(plain, 8));

  // The header's offset must keep the security entry inside the image.
  Bytes farHeader = good;
  put32(&farHeader, 0x3c, kStubSize - 100);
  refused(farHeader, "a header beyond the image");
  put32(&farHeader, 0x3c, 0xFFFFFFF0);  // wraps around to the image's start
  refused(farHeader, "a header offset that wraps");
}

TEST(SignedArchive, RecordedSizesThatOverflowAreNotTakenForSigned) {
  const Bytes stub = peStubImage(kPe32Plus);
  const Bytes plain = headArchive(stub, 0);
  Bytes f = signedCopy(plain);
  const size_t entry = securityEntryAt(f);
  const uint32_t fileSize = (uint32_t)f.size();
  // The recorded size, the table's offset and length chosen so that offset +
  // length wraps around to the file's size.
  for (uint32_t recorded : {0x7FFFFFF0u, 0x7FFFFFFFu, 0x80000001u, 0xFFFFFFF9u}) {
    const uint32_t tableAt = (recorded + 7) & ~7u;
    Bytes g = f;
    put32(&g, kStubSize, recorded);
    put32(&g, entry, tableAt);
    put32(&g, entry + 4, fileSize - tableAt);
    SCOPED_TRACE(recorded);
    readOrFail(g, kSizeRefused);
  }
  // A recorded size inside the stub's own header fields.
  Bytes g = f;
  put32(&g, kStubSize, kStubSize);
  put32(&g, entry, kStubSize);
  put32(&g, entry + 4, fileSize - kStubSize);
  readOrFail(g, kSizeRefused);
}

// Records only (folders), so the block stream's length is exact: the stream
// ends with a full block right before the table, and with a short one.
TEST(SignedArchive, TheBlockStreamEndsAtTheRecordedSize) {
  const Bytes stub = peStubImage(kPe32);
  for (size_t dataBytes : {(size_t)4096, (size_t)8192, (size_t)5000, (size_t)5}) {
    Bytes data;
    std::string name;
    while (data.size() < dataBytes) {
      // Folder entries "d<n>\." of chosen lengths fill the stream exactly.
      const size_t left = dataBytes - data.size();
      const size_t nameLength = left > 1000 ? 897 : left - 3;
      name = std::string(nameLength, 'a' + (data.size() % 26));
      data.insert(data.end(), name.begin(), name.end());
      data.insert(data.end(), {'\\', '.', 0});
    }
    ASSERT_EQ(data.size(), dataBytes);
    Bytes file = stub;
    Bytes header = {0, 0, 0, 0, 0, 0, 0};
    file.insert(file.end(), header.begin(), header.end());
    Bytes stream = makeBlockStream(data);
    file.insert(file.end(), stream.begin(), stream.end());
    put32(&file, kStubSize, (uint32_t)file.size());
    const std::vector<ReadEntry> plain = readOrFail(file);
    const std::vector<ReadEntry> back = readOrFail(signedCopy(file));
    ASSERT_EQ(back.size(), plain.size()) << dataBytes;
    EXPECT_EQ(back.back().name, name + "\\.");
  }
}

}  // namespace
