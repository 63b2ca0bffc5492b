#include "lsp/rpc.h"

#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace qv::lsp {

namespace {

bool same_ci(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); i++)
    if ((a[i] | 0x20) != (b[i] | 0x20)) return false;
  return true;
}

std::string_view trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return s;
}

}  // namespace

Reader::Got Reader::next(std::string& body) {
  std::string_view rest = std::string_view(buf_).substr(pos_);
  std::size_t head_end = rest.find("\r\n\r\n");
  if (head_end == std::string_view::npos) {
    if (rest.size() > kMaxHeader) {
      // No header end in sight: drop what came, keeping a possible start of "\r\n\r\n".
      pos_ = buf_.size() - 3;
      return Got::bad_frame;
    }
    return Got::none;
  }
  if (head_end > kMaxHeader) {
    pos_ += head_end + 4;
    return Got::bad_frame;
  }
  std::string_view head = rest.substr(0, head_end);
  std::size_t length = 0;
  bool have = false, bad = false;
  while (!head.empty()) {
    std::size_t eol = head.find("\r\n");
    std::string_view field = head.substr(0, eol);
    head = eol == std::string_view::npos ? std::string_view() : head.substr(eol + 2);
    std::size_t colon = field.find(':');
    if (colon == std::string_view::npos) {
      bad = true;
      continue;
    }
    if (!same_ci(trim(field.substr(0, colon)), "Content-Length")) continue;
    std::string_view v = trim(field.substr(colon + 1));
    if (v.empty() || v.size() > 10) {
      bad = true;
      continue;
    }
    std::size_t n = 0;
    for (char c : v) {
      if (c < '0' || c > '9') {
        bad = true;
        break;
      }
      n = n * 10 + static_cast<std::size_t>(c - '0');
    }
    if (n > kMaxBody) bad = true;
    length = n;
    have = true;
  }
  if (bad || !have) {
    pos_ += head_end + 4;
    return Got::bad_frame;
  }
  if (rest.size() - head_end - 4 < length) return Got::none;
  body.assign(rest.substr(head_end + 4, length));
  pos_ += head_end + 4 + length;
  // Keep the buffer from growing with what has been taken.
  if (pos_ > (1u << 20) || pos_ == buf_.size()) {
    buf_.erase(0, pos_);
    pos_ = 0;
  }
  return Got::frame;
}

bool Reader::ready() {
  pollfd p{fd_, POLLIN, 0};
  return ::poll(&p, 1, 0) > 0;
}

bool Reader::fill(int timeout_ms) {
  pollfd p{fd_, POLLIN, 0};
  int r = ::poll(&p, 1, timeout_ms);
  if (r < 0) return errno == EINTR;
  if (r == 0) return true;
  char block[64 << 10];
  ssize_t n;
  do {
    n = ::read(fd_, block, sizeof block);
  } while (n < 0 && errno == EINTR);
  if (n <= 0) return false;
  if (pos_ == buf_.size() || pos_ > (1u << 20)) {
    buf_.erase(0, pos_);
    pos_ = 0;
  }
  buf_.append(block, static_cast<std::size_t>(n));
  return true;
}

void send(Out& out, const json& message) {
  // Text from the document may be cut in the middle of a character (the
  // reader's pieces are bytes): such bytes become replacement characters.
  send_body(out, message.dump(-1, ' ', false, json::error_handler_t::replace));
}

void send_body(Out& out, std::string_view body) {
  out.raw("Content-Length: ");
  out.number(static_cast<long long>(body.size()), 0);
  out.raw("\r\n\r\n");
  out.raw(body);
  out.flush();
}

}  // namespace qv::lsp
