#include "input/name_builder.h"

namespace zol {

void NameBuilder::Append(const char* text, size_t limit) {
  for (size_t i = 0; i < limit && text[i] != '\0' && length_ < kMaxLength; ++i) {
    buffer_[length_++] = text[i];
  }
  buffer_[length_] = '\0';
}

}  // namespace zol
