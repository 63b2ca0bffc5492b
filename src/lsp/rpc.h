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

// Writes one message with its header; throws Fatal when the write fails.
void send(Out& out, const json& message);
// The same for a message already written as JSON text.
void send_body(Out& out, std::string_view body);

}  // namespace qv::lsp
