#include "lsp/server.h"

#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "check/check.h"
#include "check/forms.h"
#include "lsp/opcodes.h"
#include "lsp/tokens.h"
#include "version.h"

namespace qv::lsp {

namespace {

// JSON-RPC and protocol error codes.
constexpr int kParseError = -32700;
constexpr int kInvalidRequest = -32600;
constexpr int kMethodNotFound = -32601;
constexpr int kInvalidParams = -32602;
constexpr int kInternalError = -32603;
constexpr int kNotInitialized = -32002;
constexpr int kRequestCancelled = -32800;

// An error a handler raises to answer its request with.
struct RpcError {
  int code;
  std::string message;
};

bool valid_id(const json& id) { return id.is_number_integer() || id.is_string(); }

// What each method reads of its parameters, required as the protocol has it
// (see misshapen in rpc.h); methods not here read nothing.  initialize is
// taken from any client: of its fields only the types are held.
const Shape* shape_of(std::string_view method) {
  static const std::map<std::string_view, Shape> shapes = [] {
    auto range = [](const std::string& p, bool optional = false) {
      return Shape{{p + (optional ? "?" : ""), kObject},      {p + ".start", kObject}, {p + ".start.line", kUinteger},
                   {p + ".start.character", kUinteger}, {p + ".end", kObject},   {p + ".end.line", kUinteger},
                   {p + ".end.character", kUinteger}};
    };
    auto join = [](std::initializer_list<Shape> parts) {
      Shape s;
      for (const Shape& p : parts) s.insert(s.end(), p.begin(), p.end());
      return s;
    };
    const Shape doc = {{"textDocument", kObject}, {"textDocument.uri", kString}};
    const Shape at = join({doc, {{"position", kObject}, {"position.line", kUinteger}, {"position.character", kUinteger}}});
    std::map<std::string_view, Shape> m;
    m["initialize"] = {{"rootUri?", kString | kNull},
                       {"rootPath?", kString | kNull},
                       {"workspaceFolders?", kList | kNull},
                       {"workspaceFolders[]", kObject},
                       {"workspaceFolders[].uri", kString},
                       {"capabilities?", kObject}};
    for (const char* method : {"textDocument/hover", "textDocument/definition", "textDocument/documentHighlight",
                               "textDocument/prepareRename", "textDocument/completion"})
      m[method] = at;
    m["textDocument/references"] = join({at, {{"context", kObject}, {"context.includeDeclaration", kBoolean}}});
    m["textDocument/rename"] = join({at, {{"newName", kString}}});
    m["textDocument/documentSymbol"] = m["textDocument/semanticTokens/full"] = doc;
    m["textDocument/codeAction"] =
        join({doc, range("range"), {{"context", kObject}, {"context.diagnostics", kList}, {"context.diagnostics[]", kObject},
                                     {"context.diagnostics[].message", kString}},
              range("context.diagnostics[].range")});
    m["workspace/symbol"] = {{"query", kString}};
    m["textDocument/didOpen"] = join({doc, {{"textDocument.text", kString}, {"textDocument.version", kInteger}}});
    m["textDocument/didChange"] =
        join({doc, {{"textDocument.version", kInteger}, {"contentChanges", kList}, {"contentChanges[]", kObject},
                    {"contentChanges[].text", kString}},
              range("contentChanges[].range", true)});
    m["textDocument/didSave"] = join({doc, {{"text?", kString}}});
    m["textDocument/didClose"] = doc;
    return m;
  }();
  auto it = shapes.find(method);
  return it == shapes.end() ? nullptr : &it->second;
}

// The file path of a file: URI, for the checker's messages; other URIs as they are.
std::string uri_path(std::string_view uri) {
  if (uri.substr(0, 7) != "file://") return std::string(uri);
  uri.remove_prefix(7);
  std::string s;
  for (std::size_t i = 0; i < uri.size(); i++) {
    auto hex = [](char c) { return c >= '0' && c <= '9' ? c - '0' : (c | 0x20) >= 'a' && (c | 0x20) <= 'f' ? (c | 0x20) - 'a' + 10 : -1; };
    if (uri[i] == '%' && i + 2 < uri.size() && hex(uri[i + 1]) >= 0 && hex(uri[i + 2]) >= 0) {
      s += static_cast<char>(hex(uri[i + 1]) * 16 + hex(uri[i + 2]));
      i += 2;
    } else {
      s += uri[i];
    }
  }
  return std::filesystem::path(s).lexically_normal().string();
}

// A file: URI for a path, with what a URI cannot hold percent-encoded.
std::string path_uri(std::string_view path) {
  std::string u = "file://";
  static const char* hex = "0123456789ABCDEF";
  for (unsigned char c : path) {
    if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '/' || c == '-' ||
        c == '.' || c == '_' || c == '~') {
      u += static_cast<char>(c);
    } else {
      u += '%';
      u += hex[c >> 4];
      u += hex[c & 15];
    }
  }
  return u;
}

// A modification time for a file, -1 when it cannot be read.
int64_t stamp(const std::string& path) {
  struct stat sb;
  if (::stat(path.c_str(), &sb) != 0) return -1;
  return static_cast<int64_t>(sb.st_mtim.tv_sec) * 1000000000 + sb.st_mtim.tv_nsec;
}

// Case-insensitive: whether the letters of `query` appear in `name` in order.
bool fuzzy_match(std::string_view name, std::string_view query) {
  std::size_t i = 0;
  for (char c : name)
    if (i < query.size() && (c | 0x20) == (query[i] | 0x20)) i++;
  return i == query.size();
}

// The replacement a checker's message offers: "did you mean 'X'?".
bool suggestion(std::string_view message, std::string& with) {
  std::size_t at = message.rfind("did you mean '");
  if (at == std::string_view::npos) return false;
  at += 14;
  std::size_t end = message.find("'?", at);
  if (end == std::string_view::npos || end == at) return false;
  with = message.substr(at, end - at);
  // The message escapes bytes it cannot show as <XX>: such a name is not offered.
  return with.find_first_of("<> \t") == std::string::npos;
}

// A fence for a Markdown code block that the text cannot close.
std::string fence_for(std::string_view text) {
  std::size_t run = 0, most = 0;
  for (char c : text) {
    run = c == '`' ? run + 1 : 0;
    most = std::max(most, run);
  }
  return std::string(std::max<std::size_t>(3, most + 1), '`');
}

std::string code_block(std::string_view text, const char* lang) {
  std::string f = fence_for(text);
  std::string s = f + lang + "\n";
  s += text;
  if (!text.empty() && text.back() != '\n') s += '\n';
  return s + f;
}

const char* kind_word(LabelKind k) {
  switch (k) {
    case LabelKind::procedure: return "procedure";
    case LabelKind::table: return "class table";
    case LabelKind::string: return "string";
    case LabelKind::line: return "line label";
  }
  return "label";
}

// Which labels an operand wants, by the opcode and the operand's place.
enum Want : unsigned { kLines = 1, kProcedures = 2, kTables = 4, kStrings = 8, kAny = 15 };

unsigned wanted_labels(const OpcodeRow& row, int i) {
  std::string_view m = row.mnemonic;
  switch (row.sig.arg[i]) {
    case Arg::label:
      if (m == "bra" || m == "brf") return kLines;
      if (m == "mth") return kProcedures;
      if (m == "cls") return kTables;
      if (m == "end") return i == 1 ? kTables : kProcedures;
      return kAny;
    case Arg::callee: return kProcedures;
    case Arg::value: return kAny;
    default: return 0;
  }
}

unsigned want_bit(LabelKind k) {
  switch (k) {
    case LabelKind::line: return kLines;
    case LabelKind::procedure: return kProcedures;
    case LabelKind::table: return kTables;
    case LabelKind::string: return kStrings;
  }
  return 0;
}

std::string reg_name(const char* prefix, int n) {
  std::string s = prefix;
  s += std::to_string(n);
  return s;
}

// LSP's symbol and completion kinds.
constexpr int kSymFunction = 12, kSymClass = 5, kSymMethod = 6, kSymString = 15;
constexpr int kItemFunction = 3, kItemVariable = 6, kItemClass = 7, kItemKeyword = 14, kItemReference = 18,
              kItemConstant = 21;

}  // namespace

// ---- The message loop ----

int Server::run() {
  for (;;) {
    pump();
    if (exited_) return shut_down_ ? 0 : 1;
    publish_due();
    if (!queue_.empty()) {
      // Whatever has arrived meanwhile is read first: it may cancel a
      // request still waiting here.
      if (!eof_ && in_.ready()) {
        if (!in_.fill(0)) eof_ = true;
        continue;
      }
      json msg = std::move(queue_.front());
      queue_.pop_front();
      handle(msg);
      continue;
    }
    if (eof_) return 1;  // the client went away without "exit"
    int wait = -1;
    for (const auto& [uri, d] : docs_) {
      if (!d.due) continue;
      auto left = std::chrono::duration_cast<std::chrono::milliseconds>(d.due_at - Clock::now()).count();
      int ms = static_cast<int>(std::clamp<long long>(left + 1, 0, 60000));
      wait = wait < 0 ? ms : std::min(wait, ms);
    }
    if (!in_.fill(wait)) eof_ = true;
  }
}

// Takes every complete frame read so far: a cancellation is applied at once,
// anything else waits in the queue.
void Server::pump() {
  std::string body;
  for (;;) {
    Reader::Got got = in_.next(body);
    if (got == Reader::Got::none) return;
    if (got == Reader::Got::bad_frame) {
      error(nullptr, kParseError, "a message header without a valid Content-Length");
      continue;
    }
    json msg = json::parse(body, nullptr, false);
    if (msg.is_discarded()) {
      error(nullptr, kParseError, "the message is not valid JSON");
      continue;
    }
    if (msg.is_object() && msg.value("method", json()) == "$/cancelRequest") {
      const json* params = msg.contains("params") ? &msg["params"] : nullptr;
      if (params && params->is_object() && params->contains("id") && valid_id((*params)["id"])) {
        const json& id = (*params)["id"];
        for (const json& q : queue_)
          if (q.is_object() && q.contains("id") && q["id"] == id) cancelled_.insert(id.dump());
      }
      continue;
    }
    queue_.push_back(std::move(msg));
  }
}

void Server::handle(const json& msg) {
  if (!msg.is_object() || (msg.contains("method") && !msg["method"].is_string())) {
    error(nullptr, kInvalidRequest, "not a request or notification");
    return;
  }
  if (!msg.contains("method")) return;  // a response: the server asks nothing
  std::string method = msg["method"].get<std::string>();
  json params = msg.contains("params") ? msg["params"] : json::object();
  std::string misfit;
  if (const Shape* shape = shape_of(method))
    misfit = params.is_object() ? misshapen(params, *shape) : "the parameters are not an object";
  if (!msg.contains("id")) {
    // A notification has no answer: one with bad parameters is dropped whole.
    if (!misfit.empty()) return;
    try {
      notification(method, params);
    } catch (const std::exception&) {
      // Nor has a failure in handling one: the next message is served.
    }
    return;
  }
  const json& id = msg["id"];
  if (!valid_id(id)) {
    error(nullptr, kInvalidRequest, "a request id must be a number or a string");
    return;
  }
  if (cancelled_.erase(id.dump())) {
    error(id, kRequestCancelled, "cancelled");
    return;
  }
  if (!initialized_ && method != "initialize") {
    error(id, kNotInitialized, "the server is not initialized");
    return;
  }
  if (shut_down_) {
    error(id, kInvalidRequest, "the server is shut down");
    return;
  }
  if (!misfit.empty()) {
    error(id, kInvalidParams, misfit);
    return;
  }
  try {
    if (method == "textDocument/semanticTokens/full") {
      // Tens of thousands of numbers: written straight, not as a JSON tree.
      Document* d = doc(params);
      std::string body = "{\"jsonrpc\":\"2.0\",\"id\":" + id.dump() + ",\"result\":";
      if (!d) {
        body += "null}";
      } else {
        uint32_t file;
        const Analysis& a = analysis(program(*d, &file));
        body += "{\"data\":[";
        bool first = true;
        for (uint32_t v : qv::lsp::semantic_tokens(a, file, d->text)) {
          if (!first) body += ',';
          first = false;
          body += std::to_string(v);
        }
        body += "]}}";
      }
      send_body(out_, body);
      return;
    }
    reply(id, request(method, params));
  } catch (const RpcError& e) {
    error(id, e.code, e.message);
  } catch (const std::exception& e) {
    error(id, kInternalError, e.what());
  }
}

void Server::reply(const json& id, json result) {
  send(out_, json{{"jsonrpc", "2.0"}, {"id", id}, {"result", std::move(result)}});
}

void Server::error(const json& id, int code, std::string message) {
  send(out_, json{{"jsonrpc", "2.0"}, {"id", id}, {"error", {{"code", code}, {"message", std::move(message)}}}});
}

// ---- Requests and notifications ----

json Server::request(const std::string& method, const json& params) {
  if (method == "initialize") return initialize(params);
  if (method == "shutdown") {
    shut_down_ = true;
    return nullptr;
  }
  // The parameters have their shape (see handle); a document that is not
  // open has nothing to show.
  Document* d = doc(params);
  auto at = [&]() {
    const json& p = params["position"];
    return d->text.offset({p["line"].get<uint32_t>(), p["character"].get<uint32_t>()});
  };
  if (method == "textDocument/hover") return d ? hover(*d, at()) : json(nullptr);
  if (method == "textDocument/definition") return d ? definition(*d, at()) : json(nullptr);
  if (method == "textDocument/references")
    return d ? references(*d, at(), params["context"]["includeDeclaration"].get<bool>()) : json(nullptr);
  if (method == "textDocument/documentHighlight") return d ? highlight(*d, at()) : json(nullptr);
  if (method == "textDocument/prepareRename") return d ? prepare_rename(*d, at()) : json(nullptr);
  if (method == "textDocument/rename") {
    if (!d) throw RpcError{kInvalidParams, "the document is not open"};
    return rename(*d, at(), params["newName"].get<std::string>());
  }
  if (method == "textDocument/documentSymbol") return d ? symbols(*d) : json(nullptr);
  if (method == "textDocument/completion") return d ? completion(*d, at()) : json(nullptr);
  if (method == "textDocument/codeAction") return d ? code_actions(*d, params) : json(nullptr);
  if (method == "workspace/symbol") return workspace_symbols(params["query"].get<std::string>());
  throw RpcError{kMethodNotFound, "unknown method " + method};
}

json Server::initialize(const json& params) {
  initialized_ = true;
  if (params.is_object()) {
    // The workspace root: rootUri, or the first workspace folder, or rootPath.
    if (params.contains("rootUri") && params["rootUri"].is_string())
      root_ = uri_path(params["rootUri"].get<std::string>());
    else if (params.contains("workspaceFolders") && params["workspaceFolders"].is_array() &&
             !params["workspaceFolders"].empty() && params["workspaceFolders"][0].is_object() &&
             params["workspaceFolders"][0].contains("uri") && params["workspaceFolders"][0]["uri"].is_string())
      root_ = uri_path(params["workspaceFolders"][0]["uri"].get<std::string>());
    else if (params.contains("rootPath") && params["rootPath"].is_string())
      root_ = std::filesystem::path(params["rootPath"].get<std::string>()).lexically_normal().string();
    const json::json_pointer snippets("/capabilities/textDocument/completion/completionItem/snippetSupport");
    snippets_ = params.contains(snippets) && params.at(snippets) == true;
    if (params.contains("initializationOptions") && params["initializationOptions"].is_object()) {
      const json& o = params["initializationOptions"];
      if (o.contains("debounceMs") && o["debounceMs"].is_number_unsigned())
        debounce = std::chrono::milliseconds(std::min<uint64_t>(o["debounceMs"].get<uint64_t>(), 10000));
    }
  }
  json caps = {
      {"positionEncoding", "utf-16"},
      {"textDocumentSync", {{"openClose", true}, {"change", 2}, {"save", {{"includeText", false}}}}},
      {"hoverProvider", true},
      {"definitionProvider", true},
      {"referencesProvider", true},
      {"documentHighlightProvider", true},
      {"renameProvider", {{"prepareProvider", true}}},
      {"documentSymbolProvider", true},
      {"completionProvider", json::object()},
      {"workspaceSymbolProvider", true},
      {"codeActionProvider", {{"codeActionKinds", {"quickfix"}}}},
      {"semanticTokensProvider", {{"legend", {{"tokenTypes", token_types()}, {"tokenModifiers", token_modifiers()}}},
                                  {"full", true}}},
  };
  load_project();
  return {{"capabilities", caps}, {"serverInfo", {{"name", "quorvelin-lsp"}, {"version", QV_VERSION}}}};
}

void Server::notification(const std::string& method, const json& params) {
  if (method == "exit") {
    exited_ = true;
    return;
  }
  if (!initialized_) return;
  // The parameters have their shape (see handle).
  if (method == "textDocument/didOpen") {
    const json& td = params["textDocument"];
    std::string uri = td["uri"].get<std::string>();
    Document& d = docs_[uri];
    d.uri = uri;
    d.name = uri_path(uri);
    d.text.assign(td["text"].get<std::string>());
    d.version = td["version"].get<int64_t>();
    load_project();
    changed(d);
    publish(program(d));
  } else if (method == "textDocument/didChange") {
    Document* d = doc(params);
    if (!d) return;
    auto offset = [&](const json& p) { return d->text.offset({p["line"].get<uint32_t>(), p["character"].get<uint32_t>()}); };
    for (const json& c : params["contentChanges"]) {
      if (!c.contains("range")) {
        d->text.assign(c["text"].get<std::string>());
        continue;
      }
      const json& r = c["range"];
      uint32_t from = offset(r["start"]), to = offset(r["end"]);
      d->text.replace(from, to, c["text"].get<std::string>());
    }
    d->version = params["textDocument"]["version"].get<int64_t>();
    changed(*d);
    d->due = true;
    d->due_at = Clock::now() + debounce;
  } else if (method == "textDocument/didSave") {
    Document* d = doc(params);
    if (!d) return;
    if (params.contains("text")) d->text.assign(params["text"].get<std::string>());
    load_project();
    changed(*d);
    publish(program(*d));
  } else if (method == "textDocument/didClose") {
    Document* d = doc(params);
    if (!d) return;
    Program& p = program(*d);
    if (&p == &d->own) {
      send(out_, json{{"jsonrpc", "2.0"},
                      {"method", "textDocument/publishDiagnostics"},
                      {"params", {{"uri", d->uri}, {"diagnostics", json::array()}}}});
      docs_.erase(d->uri);
    } else {
      // The file on disk takes the buffer's place in the project.
      docs_.erase(d->uri);
      p.fresh = false;
      publish(p);
    }
  } else if (method == "workspace/didChangeWatchedFiles") {
    if (load_project()) publish(project_);
  }
}

int Program::index(std::string_view name) const {
  for (std::size_t i = 0; i < names.size(); i++)
    if (names[i] == name) return static_cast<int>(i);
  return -1;
}

// Reads the project file: one file a line, relative to the workspace root
// (or absolute), in the order they form the program; blank lines and lines
// that begin with "#" are skipped.  Without the file there is no project.
bool Server::load_project() {
  std::vector<std::string> names;
  if (!root_.empty()) {
    std::ifstream f(std::filesystem::path(root_) / kProjectFile);
    std::string line;
    while (f && std::getline(f, line)) {
      while (!line.empty() && (line.back() == '\r' || line.back() == ' ' || line.back() == '\t')) line.pop_back();
      std::size_t i = line.find_first_not_of(" \t");
      if (i == std::string::npos || line[i] == '#') continue;
      std::filesystem::path path(line.substr(i));
      if (path.is_relative()) path = std::filesystem::path(root_) / path;
      std::string name = path.lexically_normal().string();
      if (std::find(names.begin(), names.end(), name) == names.end()) names.push_back(std::move(name));
    }
  }
  if (names == project_.names) return false;
  project_.names = std::move(names);
  project_.uris.clear();
  for (const std::string& n : project_.names) project_.uris.push_back(path_uri(n));
  project_.disk.assign(project_.names.size(), Text());
  project_.disk_stamp.assign(project_.names.size(), -1);
  project_.fresh = false;
  for (auto& [uri, d] : docs_) d.own.fresh = false;
  return true;
}

Program& Server::program(Document& d, uint32_t* file) {
  int i = project_.index(d.name);
  if (i >= 0) {
    if (file) *file = static_cast<uint32_t>(i);
    project_.uris[static_cast<std::size_t>(i)] = d.uri;  // the client's spelling of it
    return project_;
  }
  if (d.own.names.empty()) {
    d.own.names = {d.name};
    d.own.uris = {d.uri};
    d.own.disk.assign(1, Text());
    d.own.disk_stamp.assign(1, -1);
  }
  if (file) *file = 0;
  return d.own;
}

void Server::changed(Document& d) { program(d).fresh = false; }

Document* Server::doc(const json& params) {
  if (!params.is_object() || !params.contains("textDocument")) return nullptr;
  const json& td = params["textDocument"];
  if (!td.is_object() || !td.contains("uri") || !td["uri"].is_string()) return nullptr;
  auto it = docs_.find(td["uri"].get_ref<const std::string&>());
  return it == docs_.end() ? nullptr : &it->second;
}

const Analysis& Server::analysis(Program& p) {
  if (p.fresh) return p.analysis;
  p.texts.assign(p.names.size(), nullptr);
  std::vector<std::string_view> views;
  for (std::size_t i = 0; i < p.names.size(); i++) {
    auto open = std::find_if(docs_.begin(), docs_.end(), [&](const auto& kv) { return kv.second.name == p.names[i]; });
    if (open != docs_.end()) {
      p.texts[i] = &open->second.text;
    } else {
      // A file not open is read again when it has changed on disk; one that
      // cannot be read counts as empty.
      int64_t now = stamp(p.names[i]);
      if (now != p.disk_stamp[i]) {
        std::ifstream f(p.names[i], std::ios::binary);
        std::ostringstream all;
        if (f) all << f.rdbuf();
        p.disk[i].assign(all.str());
        p.disk_stamp[i] = now;
      }
      p.texts[i] = &p.disk[i];
    }
    views.push_back(p.texts[i]->str());
  }
  p.analysis.build(views);
  p.fresh = true;
  return p.analysis;
}

// ---- Diagnostics ----

json Server::range(const Text& t, uint32_t from, uint32_t to) const {
  Pos a = t.pos(from), b = t.pos(to);
  return {{"start", {{"line", a.line}, {"character", a.col}}}, {"end", {{"line", b.line}, {"character", b.col}}}};
}

json Server::location(const Program& p, uint32_t file, const Tok& t) const {
  return {{"uri", p.uris[file]}, {"range", range(*p.texts[file], t.off, t.end())}};
}

// Checks the program's files as one program and publishes each file's
// diagnostics, for open files and the others alike.
void Server::publish(Program& p) {
  analysis(p);  // the texts of the files
  for (auto& [uri, d] : docs_)
    if (&program(d) == &p) d.due = false;
  check::Settings settings;
  check::Diags diags(&check::rule_names());
  diags.opt.max_errors = 0;
  std::vector<std::string> texts;
  for (const Text* t : p.texts) texts.push_back(t->str());
  check::check_texts(p.names, texts, settings, diags);
  diags.trim();
  // A 1-based line and byte column of the checker: the range of the word there.
  auto place = [&](const check::Loc& l) {
    const Text& t = *p.texts[l.file < p.texts.size() ? l.file : 0];
    uint32_t line = l.line ? l.line - 1 : 0;
    uint32_t start = t.line_start(line), end = t.line_end(line);
    uint32_t from = std::min(start + (l.col ? l.col - 1 : 0), end);
    uint32_t to = from;
    const std::string& s = t.str();
    while (to < end && s[to] != ' ' && s[to] != '\t' && s[to] != ',') to++;
    if (to == from && to < end) to++;
    return range(t, from, to);
  };
  auto file_of = [&](const check::Loc& l) { return l.file < p.names.size() ? l.file : 0; };
  std::vector<json> lists(p.names.size(), json::array());
  const auto& names = check::rule_names();
  for (const check::Diag& g : diags.all()) {
    json one = {{"range", place(g.loc)},
                {"severity", g.severity == check::Severity::error ? 1 : g.severity == check::Severity::warning ? 2 : 3},
                {"source", "quorvelin-check"},
                {"message", g.message}};
    if (g.rule >= 0 && static_cast<std::size_t>(g.rule) < names.size()) one["code"] = std::string(names[g.rule]);
    json related = json::array();
    for (const check::Note& n : g.notes) {
      if (n.loc.line == 0) {
        one["message"] = one["message"].get<std::string>() + "\n" + n.message;
        continue;
      }
      related.push_back({{"location", {{"uri", p.uris[file_of(n.loc)]}, {"range", place(n.loc)}}}, {"message", n.message}});
    }
    if (!related.empty()) one["relatedInformation"] = std::move(related);
    lists[file_of(g.loc)].push_back(std::move(one));
  }
  for (std::size_t i = 0; i < p.names.size(); i++) {
    json params = {{"uri", p.uris[i]}, {"diagnostics", std::move(lists[i])}};
    auto open = std::find_if(docs_.begin(), docs_.end(), [&](const auto& kv) { return kv.second.name == p.names[i]; });
    if (open != docs_.end()) params["version"] = open->second.version;
    send(out_, json{{"jsonrpc", "2.0"}, {"method", "textDocument/publishDiagnostics"}, {"params", std::move(params)}});
  }
}

void Server::publish_due() {
  auto now = Clock::now();
  for (auto& [uri, d] : docs_)
    if (d.due && d.due_at <= now) publish(program(d));
}

// ---- Hover ----

json Server::hover(Document& d, uint32_t off) {
  uint32_t file;
  Program& prog = program(d, &file);
  const Analysis& a = analysis(prog);
  Tok at;
  std::string_view name = a.label_at(file, off, &at);
  std::string md;
  json where;
  if (!name.empty()) {
    auto it = a.labels.find(name);
    const LabelInfo& l = it->second;
    if (l.defs.empty()) md = "label `" + std::string(name) + "`: defined nowhere in this program";
    for (const Occurrence& o : l.defs) {
      const Piece& p = a.pieces[o.piece];
      const std::string& s = prog.texts[o.file]->str();
      if (!md.empty()) md += "\n\n";
      md += std::string(kind_word(o.kind)) + " `" + std::string(name) + "`, defined at line " + std::to_string(p.line + 1);
      if (o.file != file) md += " of " + std::filesystem::path(prog.names[o.file]).filename().string();
      if (o.kind == LabelKind::string && p.literal.len)
        md += ": " + code_block(s.substr(p.literal.off, p.literal.len), "");
      if (o.kind == LabelKind::table) {
        if (p.tok[2].len) md += ", superclass `" + s.substr(p.tok[2].off, p.tok[2].len) + "`";
        std::string methods;
        for (std::size_t k = o.piece + 1; k < a.pieces.size(); k++) {
          const Piece& m = a.pieces[k];
          if (m.file != o.file || !m.row || std::string_view(m.row->mnemonic) != "mth") break;
          if (m.tok[1].len) methods += (methods.empty() ? "" : ", ") + ("`" + s.substr(m.tok[1].off, m.tok[1].len) + "`");
        }
        md += methods.empty() ? "; no methods" : "; methods " + methods;
      }
    }
    if (l.defs.size() > 1) md += "\n\ndefined " + std::to_string(l.defs.size()) + " times";
    md += "\n\nused " + std::to_string(l.uses.size()) + (l.uses.size() == 1 ? " time" : " times");
    where = range(d.text, at.off, at.end());
  } else {
    const Piece* p = a.piece_at(file, off);
    if (!p) return nullptr;
    if (p->row && p->tok[0].len && off >= p->tok[0].off && off <= p->tok[0].end()) {
      md = code_block(signature_text(*p->row), "") + "\n" + std::string(opcode_summary(p->row->mnemonic));
      where = range(d.text, p->tok[0].off, p->tok[0].end());
    } else {
      // The translation of every piece of the line, as the translator writes it.
      std::string mips;
      uint32_t line = p->line;
      const Piece* first = p;
      while (first > a.pieces.data() && (first - 1)->file == file && (first - 1)->line == line) first--;
      for (const Piece* q = first; q < a.pieces.data() + a.pieces.size() && q->file == file && q->line == line; q++)
        mips.append(a.out, q->out_begin, q->out_end - q->out_begin);
      if (mips.empty()) return nullptr;
      md = code_block(mips, "asm");
    }
  }
  json h = {{"contents", {{"kind", "markdown"}, {"value", md}}}};
  if (!where.is_null()) h["range"] = where;
  return h;
}

// ---- Labels: definition, references, highlight, rename ----

// The label under `off` in `d`, or nullptr; `p` and `file` say where.
const LabelInfo* Server::label_here(Document& d, uint32_t off, Program*& p, uint32_t& file) {
  p = &program(d, &file);
  const Analysis& a = analysis(*p);
  std::string_view name = a.label_at(file, off);
  return name.empty() ? nullptr : &a.labels.find(name)->second;
}

json Server::definition(Document& d, uint32_t off) {
  uint32_t file;
  Program* p;
  const LabelInfo* l = label_here(d, off, p, file);
  if (!l) return nullptr;
  json list = json::array();
  for (const Occurrence& o : l->defs) list.push_back(location(*p, o.file, o.at));
  return list;
}

json Server::references(Document& d, uint32_t off, bool with_defs) {
  uint32_t file;
  Program* p;
  const LabelInfo* l = label_here(d, off, p, file);
  if (!l) return nullptr;
  json list = json::array();
  if (with_defs)
    for (const Occurrence& o : l->defs) list.push_back(location(*p, o.file, o.at));
  for (const Occurrence& o : l->uses) list.push_back(location(*p, o.file, o.at));
  return list;
}

json Server::highlight(Document& d, uint32_t off) {
  uint32_t file;
  Program* p;
  const LabelInfo* found = label_here(d, off, p, file);
  if (!found) return nullptr;
  const LabelInfo& l = *found;
  json list = json::array();
  // Only this document's occurrences.
  for (const Occurrence& o : l.defs)
    if (o.file == file) list.push_back({{"range", range(d.text, o.at.off, o.at.end())}, {"kind", 3}});
  for (const Occurrence& o : l.uses)
    if (o.file == file) list.push_back({{"range", range(d.text, o.at.off, o.at.end())}, {"kind", 2}});
  return list;
}

json Server::prepare_rename(Document& d, uint32_t off) {
  uint32_t file;
  Program& p = program(d, &file);
  Tok at;
  std::string_view name = analysis(p).label_at(file, off, &at);
  if (name.empty()) return nullptr;
  return {{"range", range(d.text, at.off, at.end())}, {"placeholder", std::string(name)}};
}

json Server::rename(Document& d, uint32_t off, const std::string& name) {
  uint32_t file;
  Program& p = program(d, &file);
  const Analysis& a = analysis(p);
  std::string_view old = a.label_at(file, off);
  if (old.empty()) throw RpcError{kInvalidParams, "there is no label here to rename"};
  if (!check::identifier(name) || check::spim_word(name) || check::reg_form(name).kind != check::RegForm::none)
    throw RpcError{kInvalidParams, "'" + name + "' is not a name SPIM takes as a label"};
  if (name != old && a.labels.count(name) && !a.labels.find(name)->second.defs.empty())
    throw RpcError{kInvalidParams, "the label '" + name + "' is defined already"};
  const LabelInfo& l = a.labels.find(old)->second;
  json changes = json::object();
  for (const auto* list : {&l.defs, &l.uses})
    for (const Occurrence& o : *list)
      changes[p.uris[o.file]].push_back({{"range", range(*p.texts[o.file], o.at.off, o.at.end())}, {"newText", name}});
  return {{"changes", std::move(changes)}};
}

// ---- Symbols ----

json Server::symbols(Document& d) {
  uint32_t file;
  const Analysis& a = analysis(program(d, &file));
  const std::string& s = d.text.str();
  json list = json::array();
  auto word = [&](const Tok& t) { return s.substr(t.off, t.len); };
  auto symbol = [&](const Tok& name, int kind, uint32_t from, uint32_t to) {
    return json{{"name", word(name)},
                {"kind", kind},
                {"range", range(d.text, from, to)},
                {"selectionRange", range(d.text, name.off, name.end())}};
  };
  // A procedure runs to the next procedure, class table or end line.
  auto starts_block = [](const Piece& p) {
    if (!p.row) return false;
    std::string_view m = p.row->mnemonic;
    return m == "ntr" || m == "cls" || m == "end";
  };
  const std::size_t end = a.files[file].end_piece;
  for (std::size_t i = a.files[file].first_piece; i < end; i++) {
    const Piece& p = a.pieces[i];
    if (!p.row || !p.tok[1].len) continue;
    std::string_view m = p.row->mnemonic;
    uint32_t from = d.text.line_start(p.line);
    if (m == "ntr") {
      std::size_t k = i + 1;
      while (k < end && !starts_block(a.pieces[k])) k++;
      uint32_t last = k < end ? a.pieces[k].line : d.text.lines();
      if (last > p.line + 1 || k == end) last--;
      last = std::max(last, p.line);
      list.push_back(symbol(p.tok[1], kSymFunction, from, d.text.line_end(last)));
    } else if (m == "cls") {
      json methods = json::array();
      uint32_t last = p.line;
      for (std::size_t k = i + 1; k < end; k++) {
        const Piece& q = a.pieces[k];
        if (!q.row || std::string_view(q.row->mnemonic) != "mth") break;
        last = q.line;
        if (q.tok[1].len)
          methods.push_back(symbol(q.tok[1], kSymMethod, d.text.line_start(q.line), d.text.line_end(q.line)));
      }
      json c = symbol(p.tok[1], kSymClass, from, d.text.line_end(last));
      if (p.tok[2].len) c["detail"] = "superclass " + word(p.tok[2]);
      c["children"] = std::move(methods);
      list.push_back(std::move(c));
    } else if (m == "str") {
      json c = symbol(p.tok[1], kSymString, from, d.text.line_end(p.line));
      if (p.literal.len) c["detail"] = word(p.literal);
      list.push_back(std::move(c));
    }
  }
  return list;
}

json Server::workspace_symbols(const std::string& query) {
  json list = json::array();
  auto add = [&](Program& p) {
    if (p.names.empty()) return;
    const Analysis& a = analysis(p);
    for (const auto& [name, l] : a.labels) {
      if (!fuzzy_match(name, query)) continue;
      for (const Occurrence& o : l.defs) {
        if (o.kind == LabelKind::line) continue;
        int kind = o.kind == LabelKind::procedure ? kSymFunction : o.kind == LabelKind::table ? kSymClass : kSymString;
        json one = {{"name", name}, {"kind", kind}, {"location", location(p, o.file, o.at)}};
        one["containerName"] = std::filesystem::path(p.names[o.file]).filename().string();
        list.push_back(std::move(one));
      }
    }
  };
  add(project_);
  for (auto& [uri, d] : docs_) {
    Program& p = program(d);
    if (&p == &d.own) add(p);
  }
  return list;
}

// ---- Code actions ----

// The checker's "did you mean" as a quick fix: the diagnostic's range takes
// the name it offers.
json Server::code_actions(Document& d, const json& params) {
  json actions = json::array();
  for (const json& g : params["context"]["diagnostics"]) {
    std::string with;
    if (!suggestion(g["message"].get_ref<const std::string&>(), with)) continue;
    json edit = {{"changes", {{d.uri, json::array({{{"range", g["range"]}, {"newText", with}}})}}}};
    actions.push_back({{"title", "Change to '" + with + "'"},
                       {"kind", "quickfix"},
                       {"diagnostics", json::array({g})},
                       {"isPreferred", true},
                       {"edit", std::move(edit)}});
  }
  return actions;
}

// ---- Completion ----

json Server::completion(Document& d, uint32_t off) {
  uint32_t file;
  const Analysis& a = analysis(program(d, &file));
  json items = json::array();
  const Piece* p = a.piece_at(file, off);
  // Nothing inside a comment, a literal or a label.
  if (p && (off > p->code_end || (p->colon >= 0 && off <= p->colon) ||
            (p->literal.len && off >= p->literal.off && off <= p->literal.end())))
    return items;
  int index = 0;
  if (p) {
    for (int i = 0; i < p->ntok; i++) {
      const Tok& t = p->tok[i];
      if (!t.len) continue;
      if (off >= t.off && off <= t.end()) {
        index = i;
        break;
      }
      if (t.end() < off) index = i + 1;
    }
  }
  if (index == 0) {
    for (const OpcodeRow& row : opcode_table) {
      json item = {{"label", row.mnemonic},
                   {"kind", kItemKeyword},
                   {"detail", signature_text(row)},
                   {"documentation", std::string(opcode_summary(row.mnemonic))}};
      if (snippets_) {
        item["insertText"] = signature_snippet(row);
        item["insertTextFormat"] = 2;
      }
      items.push_back(std::move(item));
    }
    return items;
  }
  if (!p || !p->row || index - 1 >= p->row->sig.n) return items;
  const OpcodeRow& row = *p->row;
  Arg arg = row.sig.arg[index - 1];
  if (arg == Arg::reg || arg == Arg::ret || arg == Arg::callee) {
    for (int r = 0; r <= 13; r++) items.push_back({{"label", reg_name("r", r)}, {"kind", kItemVariable}});
    items.push_back({{"label", "rr"}, {"kind", kItemVariable}, {"detail", "the result register ($v0)"}});
  }
  if (arg == Arg::freg)
    for (int r = 0; r <= 31; r++) items.push_back({{"label", reg_name("fp", r)}, {"kind", kItemVariable}});
  if (unsigned want = wanted_labels(row, index - 1)) {
    for (const auto& [name, l] : a.labels) {
      if (l.defs.empty() || !(want & want_bit(l.defs.front().kind))) continue;
      LabelKind k = l.defs.front().kind;
      int kind = k == LabelKind::procedure ? kItemFunction
                 : k == LabelKind::table   ? kItemClass
                 : k == LabelKind::string  ? kItemConstant
                                           : kItemReference;
      items.push_back({{"label", name}, {"kind", kind}, {"detail", kind_word(k)}});
    }
  }
  return items;
}

}  // namespace qv::lsp
