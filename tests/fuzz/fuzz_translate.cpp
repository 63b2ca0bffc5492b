// libFuzzer target: arbitrary bytes as one or two input files, through the
// line loop, tokenizer, dispatcher and every handler, into memory.
//
// The first byte chooses the layout.  Even: the rest is one file.  Odd: the
// rest is two files, split at (byte >> 1) / 128 of its length, so a mutation
// of that byte moves the split.
//
// Besides crashes and sanitizer reports, the target aborts when one of these
// breaks:
//   - standard output begins with the prologue and holds no NUL byte;
//   - standard error holds only "floating reg is %4d" lines;
//   - no read of a line writes more than a few kilobytes;
//   - a second run on the same files writes the same bytes;
//   - two files A and B give what the one file A + "\n" + B gives (the line
//     break ends A's last line the way the end of A does, and an empty line
//     writes what an end-of-file pass writes);
//   - the output of A alone is a prefix of the output of A and B.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "input/line_reader.h"
#include "dispatch/read_ip.h"
#include "emit/frame.h"
#include "state.h"

namespace {

struct Run {
  std::string out;
  std::string err;
  uint64_t labels = 0;
};

// The writers live across runs: each holds a buffer of a megabyte, and
// allocating two of them per run would cost more than the translation.
Run translate(const std::vector<std::string>& files) {
  static std::string out_sink, err_sink;
  static qv::Out out(&out_sink);
  static qv::Out err(&err_sink);
  out_sink.clear();
  err_sink.clear();
  qv::State st(out, err);
  for (std::size_t i = 0; i < files.size(); i++) {
    qv::LineReader ip(files[i].data(), files[i].size());
    qv::read_ip(st, ip, static_cast<int>(i));
  }
  out.flush();
  err.flush();
  return {out_sink, err_sink, st.internal_label_cnt};
}

const std::string& prologue() {
  static const std::string text = [] {
    std::string s, e;
    qv::Out out(&s);
    qv::Out err(&e);
    qv::State st(out, err);
    qv::gen_header(st);
    out.flush();
    return s;
  }();
  return text;
}

[[noreturn]] void fail(const char* what) {
  std::fprintf(stderr, "invariant broken: %s\n", what);
  std::abort();
}

void check(bool ok, const char* what) {
  if (!ok) fail(what);
}

bool trace_lines_only(const std::string& err) {
  static const std::string head = "floating reg is ";
  std::size_t i = 0;
  while (i < err.size()) {
    std::size_t nl = err.find('\n', i);
    if (nl == std::string::npos || err.compare(i, head.size(), head) != 0) return false;
    std::size_t j = i + head.size();
    if (nl - j < 4) return false;
    while (j < nl && err[j] == ' ') j++;
    if (j < nl && err[j] == '-') j++;
    if (j == nl) return false;
    for (; j < nl; j++)
      if (err[j] < '0' || err[j] > '9') return false;
    i = nl + 1;
  }
  return true;
}

void check_run(const Run& r) {
  check(r.out.compare(0, prologue().size(), prologue()) == 0, "output begins with the prologue");
  check(r.out.find('\0') == std::string::npos, "no NUL byte in the output");
  check(trace_lines_only(r.err), "standard error holds only trace lines");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const char* rest = reinterpret_cast<const char*>(data + 1);
  std::size_t n = size - 1;

  std::vector<std::string> files;
  if ((data[0] & 1) == 0) {
    files.emplace_back(rest, n);
  } else {
    std::size_t cut = n * (data[0] >> 1) / 128;
    files.emplace_back(rest, cut);
    files.emplace_back(rest + cut, n - cut);
  }

  Run a = translate(files);
  check_run(a);
  // Every read takes at least one byte, and each file ends with at most one
  // more pass; no template comes near 4096 bytes.
  check(a.out.size() - prologue().size() <= (n + 2) * 4096, "output bounded by the input");
  Run again = translate(files);
  check(a.out == again.out && a.err == again.err && a.labels == again.labels, "same input, same bytes");

  if (files.size() == 2) {
    Run joined = translate({files[0] + "\n" + files[1]});
    check(a.out == joined.out && a.err == joined.err && a.labels == joined.labels,
          "two files translate as one file joined by a line break");
    Run first = translate({files[0]});
    check(a.out.compare(0, first.out.size(), first.out) == 0 && a.err.compare(0, first.err.size(), first.err) == 0,
          "the first file's output is a prefix");
  }
  return 0;
}
