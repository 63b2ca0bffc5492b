// JSON-RPC messages over a byte stream, framed as the Language Server
// Protocol frames them:
//
//   Content-Length: N\r\n
//   \r\n
//   N bytes of JSON
//
// Input is read in blocks and cut into frames; output goes through the
// core's one buffered writer, flushed after every message.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "emit/out.h"

namespace qv::lsp {

using json = nlohmann::json;

// Frames read from a file descriptor.
class Reader {
 public:
  static constexpr std::size_t kMaxHeader = 16 << 10;
  static constexpr std::size_t kMaxBody = 256u << 20;

  explicit Reader(int fd) : fd_(fd) {}

  // What next() found.
  enum class Got { frame, bad_frame, none };
  // Takes the next complete frame from what has been read so far: its body
  // goes into `body`.  A header without a usable Content-Length, or one that
  // is too long or announces too much, is dropped and reported as bad_frame.
  Got next(std::string& body);
  // Reads what the descriptor has, waiting at most timeout_ms (-1: without
  // limit).  False at end of input or on a read error.
  bool fill(int timeout_ms);
  // Whether a read would find bytes now.
  bool ready();

 private:
  int fd_;
  std::string buf_;
  std::size_t pos_ = 0;  // what has been taken from buf_
};

// ---- What a message's parameters hold ----
//
// The language server and the debug adapter hold each message's parameters
// to the protocol's shape in one place, before any of it is used: a request
// with a field of the wrong type is refused whole, with the field named,
// instead of failing halfway through (with half of it done) in a conversion.
//
// A shape lists fields by path: "position.line" inside objects; "[]" after a
// name for each element of that list ("breakpoints[].line"); a final "?" for
// a field that may be absent.  A field inside an object or list that is
// absent or is not one is not looked at: the field of that object or list
// says what is wrong, and comes first in the shape.

// What a field may hold; several are or'ed.  Both protocols' integers are
// 32-bit, their unsigned ones 0 to 2^31 - 1.
enum Kind : unsigned { kObject = 1, kList = 2, kString = 4, kInteger = 8, kUinteger = 16, kBoolean = 32, kNull = 64 };

struct Field {
  std::string path;
  unsigned kinds;
};
using Shape = std::vector<Field>;

// What is wrong with `params` (an object) for `shape`, as a message on its
// first misshapen field ("'position.line' is not an integer"); "" when all is
// well.
std::string misshapen(const json& params, const Shape& shape);

// Writes one message with its header; throws Fatal when the write fails.
void send(Out& out, const json& message);
// The same for a message already written as JSON text.
void send_body(Out& out, std::string_view body);

}  // namespace qv::lsp
