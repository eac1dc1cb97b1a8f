#ifndef KOMABAN_CORE_PANIC_H
#define KOMABAN_CORE_PANIC_H

#include <cstdint>
#include <exception>
#include <string>
#include <utility>

namespace komaban {

// A broken internal invariant. The binding layer turns it into PanicException
// with this message; nothing is rolled back.
class Panic : public std::exception {
 public:
  explicit Panic(std::string message) : message_(std::move(message)) {}
  const char* what() const noexcept override { return message_.c_str(); }
  // The whole message; it may hold NUL characters from caller text.
  const std::string& message() const noexcept { return message_; }

 private:
  std::string message_;
};

[[noreturn]] void panic_index_out_of_bounds(std::uint64_t len, std::uint64_t index);
[[noreturn]] void panic_unwrap_none();

}  // namespace komaban

#endif
