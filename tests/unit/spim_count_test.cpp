// SPIM's instruction count, through the preloaded library: hand-counted
// programs run in a real SPIM (skipped where SPIM is not installed).
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <chrono>
#include <fstream>
#include <thread>

#include <string>

#include "spim/process.h"
#include "spim/trap.h"

namespace {

using qv::spim::kStartupInstructions;


// Runs `body` (the program's `main`) in SPIM with the library, or without
// it when `preload` is false, in `spim` when one is named.
qv::spim::SpimRun run(const std::string& body, uint64_t limit = 0, bool preload = true, std::string spim = "") {
  qv::spim::SpimJob job;
  job.spim = spim.empty() ? qv::spim::find_program("spim") : spim;
  job.trap = std::string(qv::spim::trap_file());
  job.cpu_limit = 20;
  if (preload) job.preload = QV_TEST_PRELOAD;
  job.instruction_limit = limit;
  std::string program = "\t.data\n__qvmap:\n__qvmapend:\n\t.text\nmain:\n" + body;
  qv::spim::SpimProcess p;
  qv::spim::SpimRun r;
  if (!p.start(job, r)) return r;
  p.run(program, 0, [](const std::string&, const std::string&) { return true; }, r);
  return r;
}

#define NEED_SPIM() \
  if (qv::spim::find_program("spim").empty()) GTEST_SKIP() << "SPIM is not installed"

TEST(SpimCount, CountsEveryInstructionExecuted) {
  NEED_SPIM();
  const std::string exit = "\tli $v0, 10\n\tsyscall\n";
  auto r = run(exit);
  ASSERT_TRUE(r.counted);
  EXPECT_EQ(r.instructions, kStartupInstructions + 2);

  std::string ten;
  for (int i = 0; i < 10; i++) ten += "\taddu $t0, $t0, $t1\n";
  EXPECT_EQ(run(ten + exit).instructions, kStartupInstructions + 12);

  // 1,000 passes of two instructions, the li before and the exit after.
  const std::string loop = "\tli $t0, 1000\nL:\taddiu $t0, $t0, -1\n\tbnez $t0, L\n" + exit;
  EXPECT_EQ(run(loop).instructions, kStartupInstructions + 2003);
  // A pseudo-instruction counts as what it expands to (la: lui and ori).
  EXPECT_EQ(run("\tla $t0, __qvmap\n" + exit).instructions, kStartupInstructions + 4);
}

TEST(SpimCount, TheLimitStopsAtExactlyItsCount) {
  NEED_SPIM();
  const std::string loop = "\tli $t0, 1000\nL:\taddiu $t0, $t0, -1\n\tbnez $t0, L\n\tli $v0, 10\n\tsyscall\n";
  for (uint64_t n : {uint64_t{1}, uint64_t{500}, uint64_t{2002}}) {
    auto r = run(loop, kStartupInstructions + n);
    ASSERT_TRUE(r.counted);
    EXPECT_TRUE(r.instruction_limit) << n;
    EXPECT_EQ(r.instructions, kStartupInstructions + n);
  }
  // A limit the program stays within is never met.
  auto r = run(loop, kStartupInstructions + 2005);
  EXPECT_FALSE(r.instruction_limit);
  EXPECT_EQ(r.instructions, kStartupInstructions + 2005 - 2);
  EXPECT_EQ(r.status, 0);
}

TEST(SpimCount, WithoutTheLibraryNoCountIsClaimed) {
  NEED_SPIM();
  auto r = run("\tli $v0, 10\n\tsyscall\n", 0, false);
  EXPECT_TRUE(r.exited);
  EXPECT_FALSE(r.counted);
  EXPECT_EQ(r.instructions, 0u);
  // A SPIM behind a script: the library lands in the shell, not in SPIM.
  char dir[] = "/tmp/qv-count-XXXXXX";
  ASSERT_NE(mkdtemp(dir), nullptr);
  std::string wrapper = std::string(dir) + "/spim";
  {
    std::ofstream f(wrapper);
    f << "#!/bin/sh\n" << qv::spim::find_program("spim") << " \"$@\"\n";
  }
  chmod(wrapper.c_str(), 0755);
  r = run("\tli $v0, 10\n\tsyscall\n", 0, true, wrapper);
  EXPECT_TRUE(r.exited);
  EXPECT_EQ(r.status, 0);
  EXPECT_FALSE(r.counted);
  unlink(wrapper.c_str());
  rmdir(dir);
}

// Coprocessor 0's Count register, read before and after: the program ends
// with the difference as its exit status.
const std::string kCountAround = "\tmfc0 $t0, $9\n%s\tmfc0 $t1, $9\n\tsubu $a0, $t1, $t0\n\tli $v0, 17\n\tsyscall\n";

std::string around(const std::string& body) {
  std::string s = kCountAround;
  return s.replace(s.find("%s"), 2, body);
}

TEST(SpimCount, CountTicksWithRealTimeAsWithoutTheLibrary) {
  NEED_SPIM();
  // Computing: Count never runs ahead of the clock (one tick per 10 ms).
  const std::string loop = "\tli $t2, 3000000\nL:\taddiu $t2, $t2, -1\n\tbnez $t2, L\n";
  for (bool preload : {true, false}) {
    auto t0 = std::chrono::steady_clock::now();
    auto r = run(around(loop), 0, preload);
    auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - t0).count();
    ASSERT_TRUE(r.exited);
    EXPECT_LE(r.status, ms / 10 + 1) << "preload " << preload;
  }
  // Waiting for input: the one-shot timer runs out once while SPIM waits,
  // so Count moves by one tick (two if it ran out just before), as SPIM
  // does on its own.
  for (bool preload : {true, false}) {
    int p[2];
    ASSERT_EQ(pipe(p), 0);
    int saved = dup(0);
    dup2(p[0], 0);
    close(p[0]);
    std::thread typist([w = p[1]] {
      std::this_thread::sleep_for(std::chrono::milliseconds(300));
      (void)!write(w, "7\n", 2);
      close(w);
    });
    auto r = run(around("\tli $v0, 5\n\tsyscall\n"), 0, preload);
    typist.join();
    dup2(saved, 0);
    close(saved);
    ASSERT_TRUE(r.exited);
    EXPECT_GE(r.status, 1) << "preload " << preload;
    EXPECT_LE(r.status, 2) << "preload " << preload;
  }
}

}  // namespace
