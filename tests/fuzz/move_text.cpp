// Move text: any bytes read as move text, against the reference reader
// (failure messages included); the value read is written and the text
// matches the reference writer. The first two bytes, taken as a move value,
// go through the writer and back: every board move and every drop of a
// lettered kind (what generation makes and more) reads back unchanged.

#include "../native/checks.h"

using namespace komaban;
using namespace komaban::checks;

namespace {

std::string reference_square_text(int index) {
  return {char(0x30 + index % 11), char(0x60 + index / 11)};
}

std::string reference_move_text(Move m) {
  if (!(m & 0x8000))
    return reference_square_text(m & 0x7f) + reference_square_text((m >> 7) & 0x7f) +
           (m & 0x4000 ? "+" : "");
  const int code = m & 0x3f;
  const int kind = code >= 1 && code <= 14 ? code : 0;
  std::string piece = " ";
  if (kind) {
    piece = std::string(kind >= 9 ? "+" : "") + "KGRBSNLP"[(kind >= 9 ? kind - 6 : kind) - 1];
    if (m & 0x40) piece.back() = char(piece.back() + 32);
  }
  return piece + "*" + reference_square_text((m >> 7) & 0x7f);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  Move read = 0, expected = 0;
  check(same_failure(panic_of([&] { read = read_move_text(text); }),
                     panic_of([&] { expected = reference_read_move(text); })),
        "move reader fails exactly where the reference does");
  check(read == expected, "move reader matches the reference", read);
  check(move_text(read) == reference_move_text(read), "move writer matches the reference", read);

  if (size < 2) return 0;
  const auto value = Move(data[0] | data[1] << 8);
  const std::string written = move_text(value);
  check(written == reference_move_text(value), "move writer matches the reference", value);
  const int code = value & 0x3f;
  if (!is_drop(value) || (code >= 1 && code <= 8 && !is_promote(value)))
    check(read_move_text(written) == value, "move text reads back to its value", value);
  return 0;
}
