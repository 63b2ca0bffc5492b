#include "lsp/server.h"

#include <algorithm>

#include "check/check.h"
#include "check/forms.h"
#include "lsp/opcodes.h"
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
  return s;
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
  if (!msg.contains("id")) {
    try {
      notification(method, params);
    } catch (const std::exception&) {
      // A notification has no answer: one with bad parameters is dropped.
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
  try {
    reply(id, request(method, params));
  } catch (const RpcError& e) {
    error(id, e.code, e.message);
  } catch (const json::exception& e) {
    error(id, kInvalidParams, std::string("invalid parameters: ") + e.what());
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
  Document* d = doc(params);
  auto at = [&]() {
    const json& p = params.at("position");
    return d->text.offset({p.at("line").get<uint32_t>(), p.at("character").get<uint32_t>()});
  };
  if (method == "textDocument/hover") return d ? hover(*d, at()) : json(nullptr);
  if (method == "textDocument/definition") return d ? definition(*d, at()) : json(nullptr);
  if (method == "textDocument/references") {
    bool decl = params.contains("context") && params["context"].value("includeDeclaration", false);
    return d ? references(*d, at(), decl) : json(nullptr);
  }
  if (method == "textDocument/documentHighlight") return d ? highlight(*d, at()) : json(nullptr);
  if (method == "textDocument/prepareRename") return d ? prepare_rename(*d, at()) : json(nullptr);
  if (method == "textDocument/rename") {
    if (!d) throw RpcError{kInvalidParams, "the document is not open"};
    return rename(*d, at(), params.at("newName").get<std::string>());
  }
  if (method == "textDocument/documentSymbol") return d ? symbols(*d) : json(nullptr);
  if (method == "textDocument/completion") return d ? completion(*d, at()) : json(nullptr);
  throw RpcError{kMethodNotFound, "unknown method " + method};
}

json Server::initialize(const json& params) {
  initialized_ = true;
  if (params.is_object()) {
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
  };
  return {{"capabilities", caps}, {"serverInfo", {{"name", "quorvelin-lsp"}, {"version", QV_VERSION}}}};
}

void Server::notification(const std::string& method, const json& params) {
  if (method == "exit") {
    exited_ = true;
    return;
  }
  if (!initialized_) return;
  if (method == "textDocument/didOpen") {
    const json& td = params.at("textDocument");
    std::string uri = td.at("uri").get<std::string>();
    Document& d = docs_[uri];
    d.uri = uri;
    d.name = uri_path(uri);
    d.text.assign(td.at("text").get<std::string>());
    d.version = td.value("version", int64_t{0});
    d.analysis.reset();
    publish(d);
  } else if (method == "textDocument/didChange") {
    Document* d = doc(params);
    if (!d) return;
    for (const json& c : params.at("contentChanges")) {
      if (!c.contains("range")) {
        d->text.assign(c.at("text").get<std::string>());
        continue;
      }
      const json& r = c["range"];
      uint32_t from = d->text.offset({r.at("start").at("line").get<uint32_t>(), r.at("start").at("character").get<uint32_t>()});
      uint32_t to = d->text.offset({r.at("end").at("line").get<uint32_t>(), r.at("end").at("character").get<uint32_t>()});
      d->text.replace(from, to, c.at("text").get<std::string>());
    }
    d->version = params.at("textDocument").value("version", d->version);
    d->analysis.reset();
    d->due = true;
    d->due_at = Clock::now() + debounce;
  } else if (method == "textDocument/didSave") {
    Document* d = doc(params);
    if (!d) return;
    if (params.contains("text") && params["text"].is_string()) {
      d->text.assign(params["text"].get<std::string>());
      d->analysis.reset();
    }
    publish(*d);
  } else if (method == "textDocument/didClose") {
    Document* d = doc(params);
    if (!d) return;
    send(out_, json{{"jsonrpc", "2.0"},
                    {"method", "textDocument/publishDiagnostics"},
                    {"params", {{"uri", d->uri}, {"diagnostics", json::array()}}}});
    docs_.erase(d->uri);
  }
}

Document* Server::doc(const json& params) {
  if (!params.is_object() || !params.contains("textDocument")) return nullptr;
  const json& td = params["textDocument"];
  if (!td.is_object() || !td.contains("uri") || !td["uri"].is_string()) return nullptr;
  auto it = docs_.find(td["uri"].get_ref<const std::string&>());
  return it == docs_.end() ? nullptr : &it->second;
}

const Analysis& Server::analysis(Document& d) {
  if (!d.analysis) d.analysis = analyze(d.text.str());
  return *d.analysis;
}

// ---- Diagnostics ----

json Server::range(const Text& t, uint32_t from, uint32_t to) const {
  Pos a = t.pos(from), b = t.pos(to);
  return {{"start", {{"line", a.line}, {"character", a.col}}}, {"end", {{"line", b.line}, {"character", b.col}}}};
}

json Server::location(const Document& d, const Tok& t) const {
  return {{"uri", d.uri}, {"range", range(d.text, t.off, t.end())}};
}

void Server::publish(Document& d) {
  d.due = false;
  check::Settings settings;
  check::Diags diags(&check::rule_names());
  diags.opt.max_errors = 0;
  check::check_texts({d.name}, {d.text.str()}, settings, diags);
  diags.trim();
  const Text& t = d.text;
  // A 1-based line and byte column of the checker: the range of the word there.
  auto place = [&](const check::Loc& l) {
    uint32_t line = l.line ? l.line - 1 : 0;
    uint32_t start = t.line_start(line), end = t.line_end(line);
    uint32_t from = std::min(start + (l.col ? l.col - 1 : 0), end);
    uint32_t to = from;
    const std::string& s = t.str();
    while (to < end && s[to] != ' ' && s[to] != '\t' && s[to] != ',') to++;
    if (to == from && to < end) to++;
    return range(t, from, to);
  };
  json list = json::array();
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
      related.push_back({{"location", {{"uri", d.uri}, {"range", place(n.loc)}}}, {"message", n.message}});
    }
    if (!related.empty()) one["relatedInformation"] = std::move(related);
    list.push_back(std::move(one));
  }
  json params = {{"uri", d.uri}, {"diagnostics", std::move(list)}};
  params["version"] = d.version;
  send(out_, json{{"jsonrpc", "2.0"}, {"method", "textDocument/publishDiagnostics"}, {"params", std::move(params)}});
}

void Server::publish_due() {
  auto now = Clock::now();
  for (auto& [uri, d] : docs_)
    if (d.due && d.due_at <= now) publish(d);
}

// ---- Hover ----

json Server::hover(Document& d, uint32_t off) {
  const Analysis& a = analysis(d);
  const std::string& s = d.text.str();
  Tok at;
  std::string_view name = a.label_at(off, &at);
  std::string md;
  json where;
  if (!name.empty()) {
    auto it = a.labels.find(name);
    const LabelInfo& l = it->second;
    if (l.defs.empty()) md = "label `" + std::string(name) + "`: defined nowhere in this program";
    for (const Occurrence& o : l.defs) {
      const Piece& p = a.pieces[o.piece];
      if (!md.empty()) md += "\n\n";
      md += std::string(kind_word(o.kind)) + " `" + std::string(name) + "`, defined at line " + std::to_string(p.line + 1);
      if (o.kind == LabelKind::string && p.literal.len)
        md += ": " + code_block(s.substr(p.literal.off, p.literal.len), "");
      if (o.kind == LabelKind::table) {
        if (p.tok[2].len) md += ", superclass `" + s.substr(p.tok[2].off, p.tok[2].len) + "`";
        std::string methods;
        for (std::size_t k = o.piece + 1; k < a.pieces.size(); k++) {
          const Piece& m = a.pieces[k];
          if (!m.row || std::string_view(m.row->mnemonic) != "mth") break;
          if (m.tok[1].len) methods += (methods.empty() ? "" : ", ") + ("`" + s.substr(m.tok[1].off, m.tok[1].len) + "`");
        }
        md += methods.empty() ? "; no methods" : "; methods " + methods;
      }
    }
    if (l.defs.size() > 1) md += "\n\ndefined " + std::to_string(l.defs.size()) + " times";
    md += "\n\nused " + std::to_string(l.uses.size()) + (l.uses.size() == 1 ? " time" : " times");
    where = range(d.text, at.off, at.end());
  } else {
    const Piece* p = a.piece_at(off);
    if (!p) return nullptr;
    if (p->row && p->tok[0].len && off >= p->tok[0].off && off <= p->tok[0].end()) {
      md = code_block(signature_text(*p->row), "") + "\n" + std::string(opcode_summary(p->row->mnemonic));
      where = range(d.text, p->tok[0].off, p->tok[0].end());
    } else {
      // The translation of every piece of the line, as the translator writes it.
      std::string mips;
      uint32_t line = p->line;
      const Piece* first = p;
      while (first > a.pieces.data() && (first - 1)->line == line) first--;
      for (const Piece* q = first; q < a.pieces.data() + a.pieces.size() && q->line == line; q++)
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

json Server::definition(Document& d, uint32_t off) {
  const Analysis& a = analysis(d);
  std::string_view name = a.label_at(off);
  if (name.empty()) return nullptr;
  json list = json::array();
  for (const Occurrence& o : a.labels.find(name)->second.defs) list.push_back(location(d, o.at));
  return list;
}

json Server::references(Document& d, uint32_t off, bool with_defs) {
  const Analysis& a = analysis(d);
  std::string_view name = a.label_at(off);
  if (name.empty()) return nullptr;
  const LabelInfo& l = a.labels.find(name)->second;
  json list = json::array();
  if (with_defs)
    for (const Occurrence& o : l.defs) list.push_back(location(d, o.at));
  for (const Occurrence& o : l.uses) list.push_back(location(d, o.at));
  return list;
}

json Server::highlight(Document& d, uint32_t off) {
  const Analysis& a = analysis(d);
  std::string_view name = a.label_at(off);
  if (name.empty()) return nullptr;
  const LabelInfo& l = a.labels.find(name)->second;
  json list = json::array();
  for (const Occurrence& o : l.defs) list.push_back({{"range", range(d.text, o.at.off, o.at.end())}, {"kind", 3}});
  for (const Occurrence& o : l.uses) list.push_back({{"range", range(d.text, o.at.off, o.at.end())}, {"kind", 2}});
  return list;
}

json Server::prepare_rename(Document& d, uint32_t off) {
  Tok at;
  std::string_view name = analysis(d).label_at(off, &at);
  if (name.empty()) return nullptr;
  return {{"range", range(d.text, at.off, at.end())}, {"placeholder", std::string(name)}};
}

json Server::rename(Document& d, uint32_t off, const std::string& name) {
  const Analysis& a = analysis(d);
  std::string_view old = a.label_at(off);
  if (old.empty()) throw RpcError{kInvalidParams, "there is no label here to rename"};
  if (!check::identifier(name) || check::spim_word(name) || check::reg_form(name).kind != check::RegForm::none)
    throw RpcError{kInvalidParams, "'" + name + "' is not a name SPIM takes as a label"};
  if (name != old && a.labels.count(name) && !a.labels.find(name)->second.defs.empty())
    throw RpcError{kInvalidParams, "the label '" + name + "' is defined already"};
  const LabelInfo& l = a.labels.find(old)->second;
  json edits = json::array();
  for (const auto* list : {&l.defs, &l.uses})
    for (const Occurrence& o : *list) edits.push_back({{"range", range(d.text, o.at.off, o.at.end())}, {"newText", name}});
  return {{"changes", {{d.uri, edits}}}};
}

// ---- Symbols ----

json Server::symbols(Document& d) {
  const Analysis& a = analysis(d);
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
  for (std::size_t i = 0; i < a.pieces.size(); i++) {
    const Piece& p = a.pieces[i];
    if (!p.row || !p.tok[1].len) continue;
    std::string_view m = p.row->mnemonic;
    uint32_t from = d.text.line_start(p.line);
    if (m == "ntr") {
      std::size_t k = i + 1;
      while (k < a.pieces.size() && !starts_block(a.pieces[k])) k++;
      uint32_t last = k < a.pieces.size() ? a.pieces[k].line : d.text.lines();
      if (last > p.line + 1 || k == a.pieces.size()) last--;
      last = std::max(last, p.line);
      list.push_back(symbol(p.tok[1], kSymFunction, from, d.text.line_end(last)));
    } else if (m == "cls") {
      json methods = json::array();
      uint32_t last = p.line;
      for (std::size_t k = i + 1; k < a.pieces.size(); k++) {
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

// ---- Completion ----

json Server::completion(Document& d, uint32_t off) {
  const Analysis& a = analysis(d);
  json items = json::array();
  const Piece* p = a.piece_at(off);
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
