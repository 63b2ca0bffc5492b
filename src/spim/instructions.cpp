#include "spim/instructions.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

namespace qv::spim {

namespace {

// The ELF class and machine of a file, read from its header; false when it
// is no ELF file.
bool elf_kind(const char* path, unsigned char& cls, uint16_t& machine) {
  int fd = ::open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  unsigned char h[20];
  bool ok = ::read(fd, h, sizeof h) == static_cast<ssize_t>(sizeof h) && std::memcmp(h, "\x7f" "ELF", 4) == 0;
  ::close(fd);
  if (!ok) return false;
  cls = h[4];
  std::memcpy(&machine, h + 18, 2);  // in the host's order, as the dynamic loader wants it
  return true;
}

// A library the dynamic loader would refuse (another architecture, not a
// library at all) would make it complain on SPIM's standard error, which
// the runner takes for SPIM's own words: such a file is not offered.
bool loadable(const std::string& path) {
  unsigned char cls = 0, own_cls = 0;
  uint16_t machine = 0, own_machine = 0;
  return elf_kind(path.c_str(), cls, machine) && elf_kind("/proc/self/exe", own_cls, own_machine) &&
         cls == own_cls && machine == own_machine;
}

}  // namespace

std::string preload_library() {
  auto usable = [](const std::string& p) { return !p.empty() && ::access(p.c_str(), R_OK) == 0 && loadable(p); };
  if (const char* e = std::getenv("QV_SPIM_PRELOAD"); e) return usable(e) ? e : std::string();
  char self[4096];
  ssize_t n = ::readlink("/proc/self/exe", self, sizeof self - 1);
  if (n > 0) {
    std::string dir(self, static_cast<std::size_t>(n));
    dir.erase(dir.rfind('/') + 1);
    if (usable(dir + "libqvspim.so")) return dir + "libqvspim.so";
#ifdef QV_SPIM_PRELOAD_RELATIVE
    if (usable(dir + QV_SPIM_PRELOAD_RELATIVE)) return dir + QV_SPIM_PRELOAD_RELATIVE;
#endif
  }
#ifdef QV_SPIM_PRELOAD_INSTALLED
  if (usable(QV_SPIM_PRELOAD_INSTALLED)) return QV_SPIM_PRELOAD_INSTALLED;
#endif
  return {};
}

InstructionCounter::~InstructionCounter() {
  if (page_) ::munmap(page_, sizeof(CounterPage));
  if (fd_ >= 0) ::close(fd_);
}

bool InstructionCounter::open() {
#ifdef MFD_CLOEXEC
  fd_ = ::memfd_create("quorvelin-count", MFD_CLOEXEC);
#endif
  if (fd_ < 0) return false;
  void* m = MAP_FAILED;
  if (::ftruncate(fd_, sizeof(CounterPage)) == 0)
    m = ::mmap(nullptr, sizeof(CounterPage), PROT_READ | PROT_WRITE, MAP_SHARED, fd_, 0);
  if (m == MAP_FAILED) {
    ::close(fd_);
    fd_ = -1;
    return false;
  }
  page_ = static_cast<CounterPage*>(m);
  std::memcpy(page_->magic, kCounterMagic, sizeof page_->magic);
  return true;
}

bool InstructionCounter::available() const {
  if (!page_) return false;
  uint32_t s = __atomic_load_n(&page_->state, __ATOMIC_RELAXED);
  return (s & (kLoaded | kTimerSeen)) == (kLoaded | kTimerSeen);
}

bool InstructionCounter::loaded() const {
  return page_ && (__atomic_load_n(&page_->state, __ATOMIC_RELAXED) & kLoaded) != 0;
}

uint64_t InstructionCounter::count() const { return page_ ? __atomic_load_n(&page_->count, __ATOMIC_RELAXED) : 0; }

uint32_t InstructionCounter::stops() const { return page_ ? __atomic_load_n(&page_->stops, __ATOMIC_RELAXED) : 0; }

void InstructionCounter::set_limit(uint64_t raw, uint32_t on_limit) {
  if (!page_) return;
  __atomic_store_n(&page_->on_limit, on_limit, __ATOMIC_RELAXED);
  __atomic_store_n(&page_->limit, raw, __ATOMIC_RELAXED);
}

uint64_t InstructionCounter::limit() const { return page_ ? __atomic_load_n(&page_->limit, __ATOMIC_RELAXED) : 0; }

void InstructionCounter::reset() {
  if (page_) __atomic_store_n(&page_->count, 0, __ATOMIC_RELAXED);
}

uint32_t InstructionCounter::handed() const {
  return page_ ? __atomic_load_n(&page_->handed, __ATOMIC_ACQUIRE) : 0;
}

int32_t InstructionCounter::parked_pid() const {
  return page_ ? __atomic_load_n(&page_->parked_pid, __ATOMIC_RELAXED) : -1;
}

int32_t InstructionCounter::live_pid() const { return page_ ? __atomic_load_n(&page_->live_pid, __ATOMIC_RELAXED) : -1; }

int hand_over(const std::string& library, InstructionCounter& counter, std::vector<std::string>& env) {
  int lib = library.empty() ? -1 : ::open(library.c_str(), O_RDONLY | O_CLOEXEC);
  if (lib < 0) return -1;
  env.push_back("LD_PRELOAD=/proc/self/fd/" + std::to_string(kPreloadFd));
  counter.open();
  return lib;
}

std::string instructions_text(uint64_t n) { return std::to_string(n) + (n == 1 ? " instruction" : " instructions"); }

void drop_loader_complaint(std::string& err) {
  constexpr std::string_view kHead = "ERROR: ld.so: object '/proc/self/fd/7' from LD_PRELOAD cannot be preloaded";
  std::size_t at = err.find(kHead);
  if (at == std::string::npos || (at > 0 && err[at - 1] != '\n')) return;
  std::size_t end = err.find('\n', at);
  err.erase(at, end == std::string::npos ? std::string::npos : end + 1 - at);
}

}  // namespace qv::spim
