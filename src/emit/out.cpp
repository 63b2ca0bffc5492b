#include "emit/out.h"

#include <algorithm>
#include <cerrno>
#include <unistd.h>

namespace qv {

Out::Out(int fd, const char* what) : buf_(new char[kCap]), fd_(fd), what_(what) {}

Out::Out(std::string* sink) : buf_(new char[kCap]), sink_(sink) {}

Out::~Out() { delete[] buf_; }

void Out::number(long long v, int width) {
  char tmp[24];
  int k = 0;
  unsigned long long u = v < 0 ? 0ULL - static_cast<unsigned long long>(v) : v;
  do {
    tmp[k++] = static_cast<char>('0' + u % 10);
    u /= 10;
  } while (u);
  if (v < 0) tmp[k++] = '-';
  char text[48];
  int m = 0;
  for (int pad = width - k; pad > 0; pad--) text[m++] = ' ';
  while (k) text[m++] = tmp[--k];
  raw(text, m);
}

// A piece that does not fit behind what is buffered: write it in chunks.
void Out::raw_slow(const char* p, std::size_t k) {
  while (k) {
    if (used_ == kCap) flush();
    std::size_t take = std::min(k, kCap - used_);
    std::memcpy(buf_ + used_, p, take);
    used_ += take;
    p += take;
    k -= take;
  }
}

void Out::flush() {
  if (sink_) {
    sink_->append(buf_, used_);
    used_ = 0;
    return;
  }
  std::size_t done = 0;
  while (done < used_) {
    ssize_t r = ::write(fd_, buf_ + done, used_ - done);
    if (r < 0) {
      if (errno == EINTR) continue;
      int e = errno;
      used_ = 0;
      throw Fatal(std::string("quorvelin: error writing ") + what_ + ": " + std::strerror(e));
    }
    done += static_cast<std::size_t>(r);
  }
  used_ = 0;
}

}  // namespace qv
