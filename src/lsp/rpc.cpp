#include "lsp/rpc.h"

#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
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

namespace {

// The kinds as a message says them: "a string or null".
std::string kind_words(unsigned kinds) {
  static const std::pair<unsigned, const char*> words[] = {
      {kObject, "an object"},      {kString, "a string"}, {kList, "a list"}, {kInteger | kUinteger, "an integer"},
      {kBoolean, "true or false"}, {kNull, "null"}};
  std::string s;
  for (const auto& [k, w] : words)
    if (kinds & k) s += (s.empty() ? "" : " or ") + std::string(w);
  return s;
}

// Why `v` at `path` is none of `kinds`; "" when it is one.
std::string kind_error(const json& v, const std::string& path, unsigned kinds) {
  if (((kinds & kObject) && v.is_object()) || ((kinds & kList) && v.is_array()) ||
      ((kinds & kString) && v.is_string()) || ((kinds & kBoolean) && v.is_boolean()) ||
      ((kinds & kNull) && v.is_null()))
    return {};
  if ((kinds & (kInteger | kUinteger)) && v.is_number_integer()) {
    // Unsigned: parsed from text without a sign; what does not fit int64_t is out of range anyway.
    int64_t n = v.is_number_unsigned() ? static_cast<int64_t>(std::min<uint64_t>(v.get<uint64_t>(), INT64_MAX))
                                       : v.get<int64_t>();
    int64_t low = kinds & kInteger ? INT32_MIN : 0;
    if (n >= low && n <= INT32_MAX) return {};
    return "'" + path + "' is out of range (" + std::to_string(low) + " to " + std::to_string(INT32_MAX) + ")";
  }
  return "'" + path + "' is not " + kind_words(kinds);
}

// Checks the field `rest` of a path names inside `v`; `at` is the path so
// far as the message shows it, with the elements' indices.
std::string check_field(const json& v, std::string_view rest, const std::string& at, unsigned kinds, bool optional) {
  if (!v.is_object()) return {};
  std::size_t dot = rest.find('.');
  bool last = dot == std::string_view::npos;
  std::string name(rest.substr(0, dot));
  bool each = name.size() > 2 && name.compare(name.size() - 2, 2, "[]") == 0;
  if (each) name.resize(name.size() - 2);
  std::string here = at.empty() ? name : at + "." + name;
  auto it = v.find(name);
  if (it == v.end()) return last && !each && !optional ? "'" + here + "' is missing" : std::string();
  if (!each) return last ? kind_error(*it, here, kinds) : check_field(*it, rest.substr(dot + 1), here, kinds, optional);
  if (!it->is_array()) return {};
  for (std::size_t i = 0; i < it->size(); i++) {
    std::string element = here + "[" + std::to_string(i) + "]";
    const json& e = (*it)[i];
    std::string why = last ? kind_error(e, element, kinds) : check_field(e, rest.substr(dot + 1), element, kinds, optional);
    if (!why.empty()) return why;
  }
  return {};
}

}  // namespace

std::string misshapen(const json& params, const Shape& shape) {
  for (const Field& f : shape) {
    std::string_view path = f.path;
    bool optional = !path.empty() && path.back() == '?';
    if (optional) path.remove_suffix(1);
    std::string why = check_field(params, path, "", f.kinds, optional);
    if (!why.empty()) return why;
  }
  return {};
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
