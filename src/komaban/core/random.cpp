#include "komaban/core/random.h"

#include <atomic>
#include <cerrno>
#include <optional>

#include "komaban/core/panic.h"

// The operating system's entropy source: getrandom (falling back to
// /dev/urandom) on Linux, BCryptGenRandom on Windows, getentropy on macOS and
// the BSDs. Windows has no fork; everywhere else a child after fork reseeds.
#if defined(_WIN32)
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

// After windows.h, whose types it uses.
#include <bcrypt.h>
#else
#include <pthread.h>
#include <unistd.h>
#if defined(__linux__)
#include <fcntl.h>
#include <sys/random.h>
#elif defined(__APPLE__)
#include <sys/random.h>
#endif
#endif

namespace komaban {

namespace {

#if defined(_WIN32)

// No fork: a thread's generator is seeded once.
constexpr bool fork_handler_installed = true;
std::uint64_t current_fork_generation() { return 0; }

bool fill_from_system(unsigned char* buffer, std::size_t size) {
  return BCryptGenRandom(nullptr, buffer, ULONG(size), BCRYPT_USE_SYSTEM_PREFERRED_RNG) >= 0;
}

#else

// Bumped in every child after fork; a generator seeded under another value
// is reseeded before its next use, so parent and child never share a stream.
std::atomic<std::uint64_t> fork_generation{0};

void after_fork_in_child() { fork_generation.fetch_add(1, std::memory_order_relaxed); }

const bool fork_handler_installed = [] {
  return pthread_atfork(nullptr, nullptr, after_fork_in_child) == 0;
}();

std::uint64_t current_fork_generation() { return fork_generation.load(std::memory_order_relaxed); }

#if defined(__linux__)

bool fill_from_getrandom(unsigned char* buffer, std::size_t size) {
  std::size_t done = 0;
  while (done < size) {
    const ssize_t n = getrandom(buffer + done, size - done, 0);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    done += std::size_t(n);
  }
  return true;
}

bool fill_from_urandom(unsigned char* buffer, std::size_t size) {
  const int fd = open("/dev/urandom", O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  std::size_t done = 0;
  while (done < size) {
    const ssize_t n = read(fd, buffer + done, size - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    done += std::size_t(n);
  }
  close(fd);
  return done == size;
}

bool fill_from_system(unsigned char* buffer, std::size_t size) {
  return fill_from_getrandom(buffer, size) || fill_from_urandom(buffer, size);
}

#else

// getentropy gives at most 256 bytes a call; the seed is 32.
bool fill_from_system(unsigned char* buffer, std::size_t size) {
  return size <= 256 && getentropy(buffer, size) == 0;
}

#endif
#endif

}  // namespace

std::array<std::uint64_t, 4> entropy_seed() {
  std::array<std::uint64_t, 4> seed{};
  auto* bytes = reinterpret_cast<unsigned char*>(seed.data());
  if (!fill_from_system(bytes, sizeof seed))
    throw Panic("could not read the operating system's entropy source");
  return seed;
}

Rng& thread_rng() {
  struct Slot {
    std::optional<Rng> rng;
    std::uint64_t generation = 0;
  };
  thread_local Slot slot;
  const std::uint64_t generation = current_fork_generation();
  if (!slot.rng || slot.generation != generation || !fork_handler_installed) {
    slot.rng.emplace(entropy_seed());
    slot.generation = generation;
  }
  return *slot.rng;
}

}  // namespace komaban
