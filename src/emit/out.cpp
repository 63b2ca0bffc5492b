#include "emit/out.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace qv {

Out::Out(int fd, const char* what)
    : buf_(new char[kCap]), cur_(buf_), lim_(buf_ + kCap), fd_(fd), what_(what) {
#ifdef F_SETPIPE_SZ
  // A pipe that holds a whole buffer takes each write at once, so the
  // reader drains it while the next one is filled.  Where the pipe cannot
  // grow (not a pipe, a limit) it stays as it is.
  int size = fcntl(fd, F_GETPIPE_SZ);
  if (size > 0 && static_cast<std::size_t>(size) < kCap) fcntl(fd, F_SETPIPE_SZ, static_cast<int>(kCap));
#endif
}

Out::Out(std::string* sink, std::size_t cap) : buf_(new char[cap]), cur_(buf_), lim_(buf_ + cap), sink_(sink) {}

Out::~Out() { delete[] buf_; }

char* Out::digits(char* d, long long v, int width) {
  char tmp[24];
  int k = 0;
  unsigned long long u = v < 0 ? 0ULL - static_cast<unsigned long long>(v) : v;
  do {
    tmp[k++] = static_cast<char>('0' + u % 10);
    u /= 10;
  } while (u);
  if (v < 0) tmp[k++] = '-';
  for (int pad = width - k; pad > 0; pad--) *d++ = ' ';
  while (k) *d++ = tmp[--k];
  return d;
}

void Out::number(long long v, int width) {
  char text[24 + 256];
  raw(text, static_cast<std::size_t>(digits(text, v, width) - text));
}

// A piece that does not fit behind what is buffered: write it in chunks.
void Out::raw_slow(const char* p, std::size_t k) {
  while (k) {
    if (cur_ == lim_) flush();
    std::size_t take = std::min(k, static_cast<std::size_t>(lim_ - cur_));
    std::memcpy(cur_, p, take);
    cur_ += take;
    p += take;
    k -= take;
  }
}

void Out::flush() {
  std::size_t used = static_cast<std::size_t>(cur_ - buf_);
  cur_ = buf_;
  if (sink_) {
    sink_->append(buf_, used);
    return;
  }
  if (!write_all(fd_, buf_, used))
    throw Fatal(std::string("quorvelin: error writing ") + what_ + ": " + std::strerror(errno));
}

bool write_all(int fd, const char* p, std::size_t n) {
  while (n) {
    ssize_t r = ::write(fd, p, n);
    if (r < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    p += r;
    n -= static_cast<std::size_t>(r);
  }
  return true;
}

}  // namespace qv
