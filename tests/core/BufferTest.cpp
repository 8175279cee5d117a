#include "core/Buffer.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

std::string Contents(const CBuffer& b) { return std::string(reinterpret_cast<const char*>(b.Data()), b.Length()); }

TEST(BufferTest, FindReturnsIndexAfterMatchOrZero) {
  CBuffer b;
  EXPECT_EQ(b.Find("VORAN", 5, 0), 0);  // no storage at all
  b.Write("VORAN,BASE\r\n");
  EXPECT_EQ(b.Find("VORAN", 5, 0), 5);
  EXPECT_EQ(b.Find("\r\n", 2, 0), 12);
  EXPECT_EQ(b.Find("GET", 3, 0), 0);
  EXPECT_EQ(b.Find("VORAN", 5, 1), 0);         // search starts after the match
  EXPECT_EQ(b.Find("\r\n", 2, 11), 0);         // from + n beyond the length
  EXPECT_EQ(b.Find("N", 1, 11), 0);
  EXPECT_EQ(b.Find("\n", 1, 11), 12);          // last byte
  CBuffer shortOne;
  shortOne.Write("VOR");
  EXPECT_EQ(shortOne.Find("VORAN", 5, 0), 0);  // shorter than the pattern
}

TEST(BufferTest, ScanAndByteAt) {
  CBuffer b;
  b.Write("abc,def");
  EXPECT_EQ(b.Scan(",", 0), 4);
  EXPECT_EQ(b.Scan("x", 0), 0);
  EXPECT_EQ(b.Scan(",", 8), -1);  // beyond the length
  EXPECT_EQ(b.Scan("def", 7), 0);
  EXPECT_EQ(b.ByteAt(0), 'a');
  EXPECT_EQ(b.ByteAt(6), 'f');
  EXPECT_EQ(b.ByteAt(7), 0);
  EXPECT_EQ(b.ByteAt(-1), 0);
}

TEST(BufferTest, ReadPeekDeleteAndInsert) {
  CBuffer b;
  b.Write("0123456789");
  char out[16] = {};
  EXPECT_EQ(b.Read(out, 4, true), 4);
  EXPECT_EQ(std::string(out, 4), "0123");
  EXPECT_EQ(Contents(b), "0123456789");  // peek leaves the contents
  EXPECT_EQ(b.Read(out, 4), 4);
  EXPECT_EQ(Contents(b), "456789");
  EXPECT_EQ(b.ReadAt(out, 2, 3), 2);
  EXPECT_EQ(std::string(out, 2), "78");
  EXPECT_EQ(Contents(b), "4569");
  EXPECT_EQ(b.Delete(100, 2), 2);  // only what lies behind the position
  EXPECT_EQ(Contents(b), "45");
  EXPECT_EQ(b.Insert("ab"), 2);
  EXPECT_EQ(Contents(b), "ab45");
  EXPECT_EQ(b.Read(out, 50), 4);  // cut to the length
  EXPECT_EQ(b.Length(), 0);
  EXPECT_EQ(b.Read(out, 5000), 0);  // more than the capacity reads nothing
}

TEST(BufferTest, StorageComesAndGoesInWholePages) {
  CBuffer b;
  EXPECT_EQ(b.Capacity(), 0);
  b.Clear();
  EXPECT_EQ(b.Capacity(), 4096);  // clear on an empty buffer leaves one page
  EXPECT_EQ(b.Length(), 0);

  std::vector<char> big(9000, 'x');
  b.Write(big.data(), static_cast<int>(big.size()));
  EXPECT_EQ(b.Capacity(), 3 * 4096);
  std::vector<char> out(9000);
  b.Read(out.data(), 5000);
  EXPECT_EQ(b.Length(), 4000);
  EXPECT_EQ(b.Capacity(), 4096);  // pages no longer needed are given back
  b.Read(out.data(), 4000);
  EXPECT_EQ(b.Capacity(), 0);
  b.Write(big.data(), 4096);
  EXPECT_EQ(b.Capacity(), 4096);
  b.Write("y");
  EXPECT_EQ(b.Capacity(), 8192);
  EXPECT_EQ(b.ByteAt(4096), 'y');
  b.Clear();
  EXPECT_EQ(b.Capacity(), 4096);
}

TEST(BufferTest, CopyAndWriteToFile) {
  CBuffer a;
  a.Write("hello");
  CBuffer b;
  b.Write("old contents");
  b.Copy(a);
  EXPECT_EQ(Contents(b), "hello");
  const std::string path = ::testing::TempDir() + "buffer_append.bin";
  std::remove(path.c_str());
  ASSERT_TRUE(b.WriteToFile(path));
  ASSERT_TRUE(b.WriteToFile(path));
  std::FILE* f = std::fopen(path.c_str(), "rb");
  ASSERT_NE(f, nullptr);
  char text[32] = {};
  EXPECT_EQ(std::fread(text, 1, sizeof text, f), 10u);
  std::fclose(f);
  EXPECT_EQ(std::string(text), "hellohello");
  std::remove(path.c_str());
  EXPECT_FALSE(b.WriteToFile("/nonexistent-dir/x"));
}

}  // namespace
