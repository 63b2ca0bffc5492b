// The language server: the open documents, what is known of each, and the
// protocol's life cycle.  Everything the server remembers lives here.
#pragma once

#include <chrono>
#include <deque>
#include <map>
#include <optional>
#include <set>
#include <string>

#include "lsp/analysis.h"
#include "lsp/rpc.h"
#include "lsp/text.h"

namespace qv::lsp {

using Clock = std::chrono::steady_clock;

struct Document {
  std::string uri;
  std::string name;  // the path, for the checker
  Text text;
  int64_t version = 0;
  std::optional<Analysis> analysis;  // of the current text, made when asked for
  bool due = false;                  // diagnostics to publish at due_at
  Clock::time_point due_at;
};

class Server {
 public:
  Server(Reader& in, Out& out) : in_(in), out_(out) {}
  // Serves until the exit notification or the end of input; returns the
  // exit status the protocol asks for.
  int run();

  // How long diagnostics wait after a change for the next one.
  std::chrono::milliseconds debounce{200};

 private:
  void pump();
  void handle(const json& msg);
  json request(const std::string& method, const json& params);
  void notification(const std::string& method, const json& params);
  void reply(const json& id, json result);
  void error(const json& id, int code, std::string message);

  Document* doc(const json& params);
  const Analysis& analysis(Document& d);
  void publish(Document& d);
  void publish_due();

  json initialize(const json& params);
  json hover(Document& d, uint32_t off);
  json definition(Document& d, uint32_t off);
  json references(Document& d, uint32_t off, bool with_defs);
  json highlight(Document& d, uint32_t off);
  json prepare_rename(Document& d, uint32_t off);
  json rename(Document& d, uint32_t off, const std::string& name);
  json symbols(Document& d);
  json completion(Document& d, uint32_t off);

  json range(const Text& t, uint32_t from, uint32_t to) const;
  json location(const Document& d, const Tok& t) const;

  Reader& in_;
  Out& out_;
  std::map<std::string, Document, std::less<>> docs_;
  std::deque<json> queue_;     // messages read and not yet handled
  std::set<std::string> cancelled_;  // ids (as JSON text) of queued requests
  bool initialized_ = false, shut_down_ = false, exited_ = false, eof_ = false;
  bool snippets_ = false;      // the client takes snippets in completions
};

}  // namespace qv::lsp
