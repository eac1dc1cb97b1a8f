#ifndef KOMABAN_CORE_RANDOM_H
#define KOMABAN_CORE_RANDOM_H

#include <array>
#include <cstdint>

namespace komaban {

// xoshiro256**: 256 bits of state, fast and of good statistical quality.
class Rng {
 public:
  explicit Rng(const std::array<std::uint64_t, 4>& seed) : state_(seed) {
    if (!(state_[0] | state_[1] | state_[2] | state_[3])) state_[0] = 0x9e3779b97f4a7c15ULL;
  }

  std::uint64_t next() {
    const std::uint64_t result = rotl(state_[1] * 5, 7) * 9;
    const std::uint64_t t = state_[1] << 17;
    state_[2] ^= state_[0];
    state_[3] ^= state_[1];
    state_[1] ^= state_[2];
    state_[0] ^= state_[3];
    state_[2] ^= t;
    state_[3] = rotl(state_[3], 45);
    return result;
  }

  // Uniform in [0, max], without modulo bias (Lemire's multiply-and-reject).
  std::uint32_t uniform(std::uint16_t max) {
    const std::uint32_t range = std::uint32_t(max) + 1;
    std::uint64_t product = (next() >> 32) * range;
    if (std::uint32_t(product) < range) {
      const std::uint32_t threshold = (0u - range) % range;
      while (std::uint32_t(product) < threshold) product = (next() >> 32) * range;
    }
    return std::uint32_t(product >> 32);
  }

 private:
  static constexpr std::uint64_t rotl(std::uint64_t x, int k) { return (x << k) | (x >> (64 - k)); }
  std::array<std::uint64_t, 4> state_;
};

// 256 bits from the operating system: getrandom (else /dev/urandom) on
// Linux, getentropy on macOS and the BSDs, BCryptGenRandom on Windows.
std::array<std::uint64_t, 4> entropy_seed();

// The calling thread's generator, created on first use and seeded afresh in
// a child process after fork.
Rng& thread_rng();

}  // namespace komaban

#endif
