#include "komaban/core/hand.h"

namespace komaban {

std::string Hand::to_string() const {
  std::string text = "Hand(pieces=[";
  for (int s = 0; s < SIZE; ++s) {
    if (s) text += ", ";
    text += piece_debug_text(pieces[s]);
  }
  text += "], counts=[";
  for (int s = 0; s < SIZE; ++s) {
    if (s) text += ", ";
    text += std::to_string(counts[s]);
  }
  text += "])";
  return text;
}

}  // namespace komaban
