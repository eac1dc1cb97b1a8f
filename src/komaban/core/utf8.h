#ifndef KOMABAN_CORE_UTF8_H
#define KOMABAN_CORE_UTF8_H

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace komaban {

// Walks a UTF-8 text character by character. Text from Python is always
// well formed; a malformed byte is taken as a character of its own value so
// that native callers can pass any bytes.
class Utf8Reader {
 public:
  explicit Utf8Reader(std::string_view text) : text_(text) {}

  bool next(char32_t& c) {
    if (pos_ >= text_.size()) return false;
    const auto lead = std::uint8_t(text_[pos_]);
    const int len = lead < 0x80           ? 1
                    : (lead >> 5) == 0x6  ? 2
                    : (lead >> 4) == 0xe  ? 3
                    : (lead >> 3) == 0x1e ? 4
                                          : 0;
    if (len <= 1 || pos_ + std::size_t(len) > text_.size()) {
      c = lead;
      ++pos_;
      return true;
    }
    char32_t value = lead & (0x7f >> len);
    for (int i = 1; i < len; ++i) {
      const auto cont = std::uint8_t(text_[pos_ + std::size_t(i)]);
      if ((cont & 0xc0) != 0x80) {
        c = lead;
        ++pos_;
        return true;
      }
      value = (value << 6) | (cont & 0x3f);
    }
    c = value;
    pos_ += std::size_t(len);
    return true;
  }

 private:
  std::string_view text_;
  std::size_t pos_ = 0;
};

}  // namespace komaban

#endif
