// Writes a large, deterministic intermediate program for the benchmark: class
// tables, procedures with locals, variable access, arithmetic, comparisons and
// branches with labels, calls with pushed arguments, string literals, console
// output and comments, in the shapes a compiler front end gives them.
//
//   qv_bench_gen LINES [SEED] > program.ic
//
// The same LINES and SEED always give the same bytes.  The program has about
// LINES lines (the last procedure is finished, then the "end" line follows).
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

struct Rng {
  uint64_t s;
  uint64_t next() {  // splitmix64
    uint64_t z = (s += 0x9e3779b97f4a7c15ULL);
    z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
    z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
    return z ^ (z >> 31);
  }
  int below(int n) { return static_cast<int>(next() % static_cast<uint64_t>(n)); }
  bool chance(int percent) { return below(100) < percent; }
};

class Writer {
 public:
  ~Writer() { flush(); }
  void line(const char* fmt, ...) __attribute__((format(printf, 2, 3))) {
    if (used_ > sizeof buf_ - 512) flush();
    va_list ap;
    va_start(ap, fmt);
    used_ += static_cast<std::size_t>(std::vsnprintf(buf_ + used_, sizeof buf_ - used_, fmt, ap));
    va_end(ap);
    buf_[used_++] = '\n';
    lines++;
  }
  void blank() {
    if (used_ > sizeof buf_ - 512) flush();
    buf_[used_++] = '\n';
    lines++;
  }
  void flush() {
    if (used_ && std::fwrite(buf_, 1, used_, stdout) != used_) {
      std::perror("qv_bench_gen: write");
      std::exit(1);
    }
    used_ = 0;
  }
  uint64_t lines = 0;

 private:
  char buf_[1 << 16];
  std::size_t used_ = 0;
};

const char* const kWords[] = {"count", "total", "index", "value", "result", "limit", "item",  "node",
                              "left",  "right", "sum",   "max",   "min",    "flag",  "size",  "next"};
const char* const kTexts[] = {"Hello, world",       "Result: ",          "Enter a number: ", "done",
                              "value of x is ",     "sorted:",           "error: out of range", "ok",
                              "iteration ",         "The answer is ",    "a, b: c",          "tab\there",
                              "line\\n",            "100% done",         "",                 "Total = "};
const char* const kArith[] = {"add", "sub", "mul", "div", "rem", "add", "add", "sub"};
const char* const kFloat[] = {"addf", "subf", "mulf", "divf"};
const char* const kCompare[] = {"ltn", "leq", "gtr", "geq", "eql", "neq"};
const char* const kCompareF[] = {"ltnf", "leqf", "gtrf", "geqf", "eqlf", "neqf"};

template <class T, std::size_t N>
const T& pick(Rng& r, const T (&a)[N]) {
  return a[r.below(static_cast<int>(N))];
}

class Gen {
 public:
  Gen(uint64_t target, uint64_t seed) : target_(target), r_{seed} {}

  void program() {
    w_.line("// benchmark program: %llu lines wanted, seed %llu",
            static_cast<unsigned long long>(target_), static_cast<unsigned long long>(r_.s));
    w_.line("// generated; every procedure is a method of one of the classes below");
    int cls = 0;
    while (w_.lines + 16 < target_) {
      class_block(cls++);
    }
    w_.blank();
    w_.line("end 4, C0, P0");
  }

 private:
  // A class table, then the procedures it lists.
  void class_block(int c) {
    int methods = 2 + r_.below(6);
    int first = proc_;
    w_.blank();
    w_.line("// class C%d", c);
    w_.line("cls C%d, C%d", c, c > 0 ? r_.below(c) : 0);
    for (int m = 0; m < methods; m++) w_.line("mth P%d", first + m);
    for (int m = 0; m < methods && w_.lines + 16 < target_; m++) procedure(proc_++, 0);
  }

  void procedure(int p, int depth) {
    int locals = 2 + r_.below(10);
    locals_ = locals;
    w_.blank();
    w_.line("// procedure P%d: %d locals", p, locals);
    w_.line("ntr P%d, %d", p, locals);
    int statements = 8 + r_.below(40);
    for (int i = 0; i < statements && w_.lines < target_; i++) statement(depth, 0);
    // An inner procedure now and then: its variables reach out one level.
    if (depth == 0 && r_.chance(15) && w_.lines + 16 < target_) {
      procedure(proc_++, 1);
      locals_ = locals;
    }
    int args = r_.below(4);
    if (r_.chance(50))
      w_.line("rtn r0, %d", args);
    else
      w_.line("rtn %d", args);
  }

  int delta(int depth) { return depth > 0 && r_.chance(30) ? 1 : 0; }
  int disp() { return 2 + r_.below(locals_); }

  // Address of a variable into register reg.
  void var(int depth, int reg) { w_.line("\tvar %d, %d, r%d", delta(depth), disp(), reg); }

  // The value of a small expression into register reg; uses reg and reg+1.
  void expr(int depth, int reg) {
    switch (r_.below(4)) {
      case 0:
        w_.line("\tcst %d, r%d", r_.below(1000) - 100, reg);
        break;
      default:
        var(depth, reg);
        w_.line("\tval r%d", reg);
        break;
    }
    int terms = r_.below(3);
    for (int t = 0; t < terms; t++) {
      if (r_.chance(50)) {
        w_.line("\tcst %d, r%d", 1 + r_.below(64), reg + 1);
      } else {
        var(depth, reg + 1);
        w_.line("\tval r%d", reg + 1);
      }
      w_.line("\t%s r%d, r%d", pick(r_, kArith), reg + 1, reg);
    }
  }

  void assign(int depth) {
    if (r_.chance(25)) w_.line("// %s := %s + %d", pick(r_, kWords), pick(r_, kWords), r_.below(10));
    expr(depth, 1);
    var(depth, 0);
    w_.line("\tsto r1, r0");
  }

  void condition(int depth) {
    expr(depth, 1);
    expr(depth, 3);
    w_.line("\t%s r3, r1", pick(r_, kCompare));
    if (r_.chance(10)) {
      expr(depth, 3);
      w_.line("\t%s r3, r1", r_.chance(50) ? "and" : "or");
    }
    if (r_.chance(5)) w_.line("\tnot r1");
  }

  void if_stmt(int depth, int nest) {
    int else_l = label_++;
    int end_l = label_++;
    if (r_.chance(30)) w_.line("// if %s < %s", pick(r_, kWords), pick(r_, kWords));
    condition(depth);
    w_.line("\tbrf r1, L%d", else_l);
    block(depth, nest);
    w_.line("\tbra L%d", end_l);
    w_.line("L%d:", else_l);
    block(depth, nest);
    w_.line("L%d:", end_l);
  }

  void while_stmt(int depth, int nest) {
    int top = label_++;
    int out = label_++;
    if (r_.chance(30)) w_.line("// while %s > 0", pick(r_, kWords));
    w_.line("L%d:\tvar %d, %d, r1", top, delta(depth), disp());
    w_.line("\tval r1");
    w_.line("\tcst 0, r2");
    w_.line("\tgtr r2, r1");
    w_.line("\tbrf r1, L%d", out);
    block(depth, nest);
    w_.line("\tbra L%d", top);
    w_.line("L%d:", out);
  }

  void block(int depth, int nest) {
    int n = 1 + r_.below(4);
    for (int i = 0; i < n; i++) statement(depth, nest + 1);
  }

  void call(int depth) {
    int args = r_.below(4);
    for (int a = 0; a < args; a++) {
      expr(depth, 1);
      w_.line("\tpsh r1");
    }
    w_.line("\tcst P%d, r4", r_.below(proc_ + 1));
    w_.line("\tcal %d, r4\t// call with %d arguments", r_.below(2) - 1 + depth, args);
    if (r_.chance(60)) {
      var(depth, 0);
      w_.line("\tsto rr, r0");
    }
  }

  void print(int depth) {
    switch (r_.below(5)) {
      case 0:
      case 1: {
        int s = string_++;
        w_.line("\tstr S%d \"%s\"", s, pick(r_, kTexts));
        w_.line("\tcst S%d, r0", s);
        w_.line("\tpstr r0");
        break;
      }
      case 2:
        expr(depth, 1);
        w_.line("\tpint r1");
        break;
      case 3:
        condition(depth);
        w_.line("\tpbln r1");
        break;
      default:
        w_.line("\tpln");
        break;
    }
  }

  void floats(int depth) {
    w_.line("\tcstf %d.%d, r1", r_.below(100), r_.below(100));
    var(depth, 2);
    w_.line("\tval r2");
    w_.line("\t%s r2, r1", pick(r_, kFloat));
    if (r_.chance(50)) {
      w_.line("\tcstf 0.5, r2");
      w_.line("\t%s r2, r1", pick(r_, kCompareF));
      w_.line("\tpbln r1");
    } else {
      w_.line("\tpflt r1");
    }
  }

  void memory(int depth) {
    switch (r_.below(4)) {
      case 0:  // a[i] := x
        var(depth, 1);
        var(depth, 2);
        w_.line("\tval r2");
        w_.line("\tndx r2, 1, %d, r1", 1 + r_.below(3));
        expr(depth, 3);
        w_.line("\tsto r3, r1");
        break;
      case 1:  // x := o.f
        var(depth, 1);
        w_.line("\tval r1");
        w_.line("\tsel %d, r1", r_.below(8));
        w_.line("\tval r1");
        var(depth, 0);
        w_.line("\tsto r1, r0");
        break;
      case 2:  // new object
        w_.line("\tcst %d, r1", 2 + r_.below(6));
        w_.line("\talc r1, r2");
        w_.line("\tcst C%d, r3", r_.below(8));
        w_.line("\tsto r3, r2");
        var(depth, 0);
        w_.line("\tsto r2, r0");
        break;
      default:
        w_.line("\tmov r1, r2");
        break;
    }
  }

  void rare() {
    switch (r_.below(4)) {
      case 0:
        w_.line("\tgint r1");
        break;
      case 1:
        w_.line("\tdbg P%d", proc_);
        break;
      case 2:
        w_.line("\tneg r1");
        break;
      default:
        w_.line("\tpshf fp%d", 2 * r_.below(6));
        break;
    }
  }

  void statement(int depth, int nest) {
    int k = r_.below(100);
    if (nest >= 3 && k >= 35 && k < 50) k = 0;  // keep nesting shallow
    if (k < 35)
      assign(depth);
    else if (k < 43)
      if_stmt(depth, nest);
    else if (k < 48)
      while_stmt(depth, nest);
    else if (k < 62)
      call(depth);
    else if (k < 74)
      print(depth);
    else if (k < 80)
      floats(depth);
    else if (k < 94)
      memory(depth);
    else if (k < 99)
      w_.line("// %s", pick(r_, kWords));
    else
      rare();
  }

  uint64_t target_;
  Rng r_;
  Writer w_;
  int proc_ = 0;
  int label_ = 0;
  int string_ = 0;
  int locals_ = 2;
};

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: qv_bench_gen LINES [SEED] > program.ic\n");
    return 2;
  }
  uint64_t lines = std::strtoull(argv[1], nullptr, 10);
  uint64_t seed = argc > 2 ? std::strtoull(argv[2], nullptr, 10) : 7;
  Gen(lines, seed).program();
  return 0;
}
