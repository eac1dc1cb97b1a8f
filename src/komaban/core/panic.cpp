#include "komaban/core/panic.h"

namespace komaban {

void panic_index_out_of_bounds(std::uint64_t len, std::uint64_t index) {
  throw Panic("index out of bounds: the len is " + std::to_string(len) + " but the index is " +
              std::to_string(index));
}

void panic_unwrap_none() { throw Panic("called `Option::unwrap()` on a `None` value"); }

}  // namespace komaban
