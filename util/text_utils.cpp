#include "util/text_utils.h"

#include <algorithm>
#include <cstring>

namespace {

// Length of a text as a NUL-terminated buffer sees it.
size_t BufferLength(const std::string& text) {
  const size_t nul = text.find('\0');
  return nul == std::string::npos ? text.size() : nul;
}

// Offset of BufMid's result for a text of `length` characters: the 16-bit
// count L - start + 1 handed to BufRight, then BufRight's choice.
size_t MidOffset(size_t length, uint16_t start) {
  const uint16_t right_count = static_cast<uint16_t>(length - start + 1);
  return length > right_count ? length - right_count : 0;
}

// Appends to `out` the expansion of text[0, length) with every occurrence of
// `search` replaced, stopping once `out` holds `length` characters: only that
// many survive the final cut.
void ReplaceCapped(const char* text, size_t length, const char* search, size_t search_length,
                   const char* replacement, size_t replacement_length, std::string* out) {
  out->reserve(length);
  size_t i = 0;
  while (i < length && out->size() < length) {
    if (text[i] == search[0] && search_length <= length - i &&
        std::memcmp(text + i, search, search_length) == 0) {
      out->append(replacement, std::min(replacement_length, length - out->size()));
      i += search_length;
    } else {
      out->push_back(text[i]);
      ++i;
    }
  }
}

}  // namespace

char* BufTruncate(char* buffer, uint16_t length) {
  if (std::strlen(buffer) > length) buffer[length] = '\0';
  return buffer;
}

char* BufRight(char* buffer, uint16_t count) {
  const size_t length = std::strlen(buffer);
  return length > count ? buffer + (length - count) : buffer;
}

char* BufMid(char* buffer, uint16_t start, uint16_t count) {
  const size_t length = std::strlen(buffer);
  if (length < start) {
    buffer[0] = '\0';
    return buffer;
  }
  char* p = BufRight(buffer, static_cast<uint16_t>(length - start + 1));
  BufTruncate(p, count);
  return p;
}

char* BufPadRight(char* buffer, size_t capacity, uint16_t width, char fill) {
  size_t length = std::strlen(buffer);
  if (length >= width) return buffer;
  size_t target = width;
  if (capacity == 0) return buffer;
  if (target > capacity - 1) target = capacity - 1;
  for (; length < target; ++length) buffer[length] = fill;
  buffer[length] = '\0';
  return buffer;
}

char* BufReplaceAll(char* buffer, const char* search, const char* replacement) {
  const size_t length = std::strlen(buffer);
  if (length <= 1) return buffer;
  const size_t search_length = std::strlen(search);
  if (search_length == 0) return buffer;
  std::string out;
  ReplaceCapped(buffer, length, search, search_length, replacement, std::strlen(replacement),
                &out);
  std::memcpy(buffer, out.data(), out.size());
  buffer[out.size()] = '\0';
  return buffer;
}

std::string TextMid(const std::string& text, uint8_t start, uint8_t count) {
  const size_t length = BufferLength(text);
  if (length < start) return std::string();
  const size_t offset = MidOffset(length, start);
  return text.substr(offset, std::min<size_t>(count, length - offset));
}

std::string TextPadRight(const std::string& text, uint8_t width, char fill) {
  if (text.size() >= width) return text;
  std::string out = text.substr(0, BufferLength(text));
  // A fill of NUL ends the text where the padding starts.
  if (fill != '\0') out.append(width - out.size(), fill);
  return out;
}

std::string TextReplaceAll(const std::string& text, const std::string& search,
                           const std::string& replacement) {
  const size_t length = BufferLength(text);
  const size_t search_length = BufferLength(search);
  if (length <= 1 || search_length == 0) return text.substr(0, length);
  std::string out;
  ReplaceCapped(text.data(), length, search.data(), search_length, replacement.data(),
                BufferLength(replacement), &out);
  return out;
}

size_t BlankControlCharacters(std::string& text) {
  size_t replaced = 0;
  for (char& c : text) {
    const unsigned char byte = static_cast<unsigned char>(c);
    if (byte < 0x20 && byte != '\t') {
      c = ' ';
      ++replaced;
    }
  }
  return replaced;
}
