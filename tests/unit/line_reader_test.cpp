#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "input/line_reader.h"

namespace {

struct Piece {
  std::string text;
  bool eof;
  bool operator==(const Piece&) const = default;
};

std::ostream& operator<<(std::ostream& os, const Piece& p) { return os << "{\"" << p.text << "\", " << p.eof << "}"; }

// The pieces and end-of-file decisions of the line loop over `data`.
std::vector<Piece> pieces(qv::LineReader& r) {
  std::vector<Piece> got;
  char buf[128];
  for (;;) {
    int n = r.read_piece(buf);
    got.push_back({std::string(buf, n), r.eof()});
    if (r.eof() || got.size() > 100000) break;
  }
  return got;
}

std::vector<Piece> pieces(const std::string& data) {
  qv::LineReader r(data.data(), data.size());
  return pieces(r);
}

// What fgets(buf, 100, f) followed by feof(f) gives on the same bytes.
std::vector<Piece> stdio_pieces(const std::string& data) {
  FILE* f = tmpfile();
  fwrite(data.data(), 1, data.size(), f);
  rewind(f);
  std::vector<Piece> got;
  char buf[101];
  for (;;) {
    std::string text;
    if (fgets(buf, 100, f)) {
      // fgets cannot report embedded NULs; the inputs below have none.
      text = buf;
    }
    got.push_back({text, feof(f) != 0});
    if (feof(f)) break;
  }
  fclose(f);
  return got;
}

TEST(LineReader, MatchesStdioOnTheInterestingShapes) {
  std::vector<std::string> inputs = {
      "",
      "\n",
      "a",
      "a\n",
      "a\nb",
      "a\nb\n",
      "\n\n\n",
      std::string(98, 'x') + "\n",
      std::string(99, 'x'),
      std::string(99, 'x') + "\n",
      std::string(100, 'x'),
      std::string(150, 'c') + "\n",
      std::string(198, 'x'),
      std::string(297, 'x') + "\nend",
      "a\r\nb\r\n",
  };
  for (const auto& in : inputs) EXPECT_EQ(pieces(in), stdio_pieces(in)) << "input of " << in.size() << " bytes";
}

TEST(LineReader, EndOfFilePass) {
  // A final line break: one more read that meets end of file and reads nothing.
  EXPECT_EQ(pieces("pln\n"), (std::vector<Piece>{{"pln\n", false}, {"", true}}));
  // No final line break: the last read meets end of file itself.
  EXPECT_EQ(pieces("pln"), (std::vector<Piece>{{"pln", true}}));
  // A last piece of exactly 99 characters stops at its count, before end of file.
  std::string s99(99, 'x');
  EXPECT_EQ(pieces(s99), (std::vector<Piece>{{s99, false}, {"", true}}));
  EXPECT_EQ(pieces(""), (std::vector<Piece>{{"", true}}));
}

TEST(LineReader, KeepsNulAndHighBytes) {
  std::string in("a\0b\xff\n", 5);
  EXPECT_EQ(pieces(in), (std::vector<Piece>{{in, false}, {"", true}}));
}

TEST(LineReader, LongInputAcrossBlocksFromAFile) {
  // Lines that straddle the reader's block boundaries come out whole.
  std::string data;
  for (int i = 0; i < 40000; i++) data += "line " + std::to_string(i) + std::string(i % 130, 'z') + "\n";
  char path[] = "/tmp/qv_reader_XXXXXX";
  int fd = mkstemp(path);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(write(fd, data.data(), data.size()), static_cast<ssize_t>(data.size()));
  lseek(fd, 0, SEEK_SET);
  qv::LineReader r(fd, path, nullptr);
  auto got = pieces(r);
  close(fd);
  unlink(path);
  EXPECT_EQ(got, pieces(data));
  EXPECT_EQ(got, stdio_pieces(data));
}

TEST(LineReader, ReadErrorIsFatal) {
  int fd = open("/tmp", O_RDONLY);
  ASSERT_GE(fd, 0);
  qv::LineReader r(fd, "/tmp", nullptr);
  char buf[128];
  try {
    r.read_piece(buf);
    FAIL() << "no error";
  } catch (const qv::Fatal& e) {
    EXPECT_EQ(std::string(e.what()), "quorvelin: error reading /tmp: Is a directory");
  }
  close(fd);
}

}  // namespace
