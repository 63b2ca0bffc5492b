#include "input/line_reader.h"

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <unistd.h>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace qv {

namespace {
constexpr std::size_t kBlock = 256 << 10;
}

LineReader::LineReader(int fd, std::string name, Out* out)
    : fd_(fd), name_(std::move(name)), out_(out), block_(new char[kBlock]) {
  pos_ = end_ = block_;
}

LineReader::LineReader(const char* data, std::size_t size) : pos_(data), end_(data + size), drained_(true) {}

LineReader::~LineReader() { delete[] block_; }

bool LineReader::refill() {
  if (drained_) return false;
  // What is translated so far goes out before we may wait for more input.
  if (out_) out_->flush();
  for (;;) {
    ssize_t r = ::read(fd_, block_, kBlock);
    if (r > 0) {
      pos_ = block_;
      end_ = block_ + r;
      return true;
    }
    if (r == 0) {
      drained_ = true;
      return false;
    }
    if (errno == EINTR) continue;
    throw Fatal("quorvelin: error reading " + name_ + ": " + std::strerror(errno));
  }
}

int LineReader::read_piece(char* dst) {
#if defined(__SSE2__)
  // Most lines are short and lie in the block: one look at 32 bytes finds
  // the line break, and two 16-byte stores copy the piece (with some bytes
  // after it, which the tokenizer never reads).  The tokenizer's loads of the
  // same two halves then take their bytes straight from these stores.
  if (end_ - pos_ >= kPiece) [[likely]] {
    __m128i lo = _mm_loadu_si128(reinterpret_cast<const __m128i*>(pos_));
    __m128i hi = _mm_loadu_si128(reinterpret_cast<const __m128i*>(pos_ + 16));
    __m128i k = _mm_set1_epi8('\n');
    uint32_t m = static_cast<uint32_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(lo, k))) |
                 static_cast<uint32_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(hi, k))) << 16;
    if (m) {
      int n = __builtin_ctz(m) + 1;
      _mm_storeu_si128(reinterpret_cast<__m128i*>(dst), lo);
      _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + 16), hi);
      pos_ += n;
      return n;
    }
  }
#endif
  return read_piece_slow(dst);
}

// Any piece: up to 99 characters, through a line break, across blocks.
int LineReader::read_piece_slow(char* dst) {
  int n = 0;
  while (n < kPiece) {
    if (pos_ == end_ && !refill()) {
      eof_ = true;
      break;
    }
    std::size_t room = static_cast<std::size_t>(kPiece - n);
    std::size_t avail = static_cast<std::size_t>(end_ - pos_);
    std::size_t take = avail < room ? avail : room;
    const char* nl = static_cast<const char*>(std::memchr(pos_, '\n', take));
    if (nl) take = static_cast<std::size_t>(nl - pos_) + 1;
    std::memcpy(dst + n, pos_, take);
    n += static_cast<int>(take);
    pos_ += take;
    if (nl) break;
  }
  return n;
}

}  // namespace qv
