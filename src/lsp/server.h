// The language server: the open documents, what is known of each, and the
// protocol's life cycle.  Everything the server remembers lives here.
#pragma once

#include <chrono>
#include <deque>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "lsp/analysis.h"
#include "lsp/rpc.h"
#include "lsp/text.h"

namespace qv::lsp {

using Clock = std::chrono::steady_clock;

// The files that form one program, in order.  An open document stands for
// its file; the others are read from disk when the program is read.
struct Program {
  std::vector<std::string> uris, names;  // names: the paths
  std::vector<Text> disk;                // the texts of files not open
  std::vector<int64_t> disk_stamp;       // their modification times (-1: unread)
  std::vector<const Text*> texts;        // each file's text, set by Server::analysis
  Analysis analysis;                     // of the current texts, once fresh
  bool fresh = false;

  int index(std::string_view name) const;  // of the file of that path, or -1
};

struct Document {
  std::string uri;
  std::string name;  // the path, normalized
  Text text;
  int64_t version = 0;
  Program own;       // its program when the project does not list it
  bool due = false;  // diagnostics to publish at due_at
  Clock::time_point due_at;
};

// The name of the project file at the workspace root.
inline constexpr const char* kProjectFile = "quorvelin.project";

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
  // The program a document belongs to, and its file's index there.
  Program& program(Document& d, uint32_t* file = nullptr);
  const Analysis& analysis(Program& p);
  void changed(Document& d);  // its program is to be read again
  bool load_project();        // true when the list of files changed
  void publish(Program& p);
  void publish_due();

  json initialize(const json& params);
  json hover(Document& d, uint32_t off);
  const LabelInfo* label_here(Document& d, uint32_t off, Program*& p, uint32_t& file);
  json definition(Document& d, uint32_t off);
  json references(Document& d, uint32_t off, bool with_defs);
  json highlight(Document& d, uint32_t off);
  json prepare_rename(Document& d, uint32_t off);
  json rename(Document& d, uint32_t off, const std::string& name);
  json symbols(Document& d);
  json workspace_symbols(const std::string& query);
  json completion(Document& d, uint32_t off);
  json code_actions(Document& d, const json& params);

  json range(const Text& t, uint32_t from, uint32_t to) const;
  json location(const Program& p, uint32_t file, const Tok& t) const;

  Reader& in_;
  Out& out_;
  std::map<std::string, Document, std::less<>> docs_;
  std::string root_;           // the workspace root ("": none)
  Program project_;            // the files the project file lists (none: no project)
  std::deque<json> queue_;     // messages read and not yet handled
  std::set<std::string> cancelled_;  // ids (as JSON text) of queued requests
  bool initialized_ = false, shut_down_ = false, exited_ = false, eof_ = false;
  bool snippets_ = false;      // the client takes snippets in completions
};

}  // namespace qv::lsp
