// Board text: any bytes read as a position, written, and read again. The
// reader and writer must match their references (checks.h) byte for byte;
// the written field is well formed, so reading it back gives a sound
// position that writes the same field, unless it holds promoted pieces,
// whose "+" the reader does not take.

#include "../native/checks.h"

using namespace komaban;
using namespace komaban::checks;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  Board read, expected;
  const auto failure = panic_of([&] { read = read_position(text); });
  check(failure == panic_of([&] { expected = reference_read_position(text); }),
        "position reader fails exactly where the reference does");
  check(read == expected, "position reader matches the reference");
  if (failure) return 0;

  const std::string field = write_board_field(read);
  check(field == reference_write_board_field(read), "board writer matches the reference");
  check(field.size() <= BOARD_FIELD_MAX, "board field fits its bound", long(field.size()));

  const Board again = read_position(field);
  if (field.find('+') != std::string::npos) return 0;
  check(is_sound(again), "a written field reads as a sound position");
  check(write_board_field(again) == field, "a written field reads back to itself");
  return 0;
}
