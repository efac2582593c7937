// Cutting, padding and replacing in 8-bit texts.
//
// Two layers. The buffer layer works in place on a NUL-terminated character
// buffer; its positions, counts and widths are 16-bit. The text layer takes
// and returns text values, with 8-bit start, count and width, and gives exactly
// what copying the text into a fresh buffer and running the buffer operation
// would give (a text holding a NUL byte is seen only up to that byte, as a
// buffer would see it). The text layer is what the rest of the program calls.
//
// Positions are 1-based. Nothing here keeps state; any thread may call it.
#ifndef KDX_UTIL_TEXT_UTILS_H_
#define KDX_UTIL_TEXT_UTILS_H_

#include <cstddef>
#include <cstdint>
#include <string>

// Cuts the buffer's text to at most `length` characters; returns `buffer`.
char* BufTruncate(char* buffer, uint16_t length);

// Address of the last `count` characters of the text, or `buffer` itself when
// the text is not longer than `count`. Writes nothing.
char* BufRight(char* buffer, uint16_t count);

// Address where the substring of at most `count` characters from position
// `start` begins; the buffer is cut behind the substring. An empty text when
// `start` lies behind the text; a start of 0 acts as 1. The position is
// computed in 16-bit arithmetic, as the buffer layer always has.
char* BufMid(char* buffer, uint16_t start, uint16_t count);

// Pads the text on the right with `fill` to `width` characters, or to
// `capacity` - 1 when the buffer of `capacity` bytes cannot hold more. A text
// of `width` characters or more is left alone. Returns `buffer`.
char* BufPadRight(char* buffer, size_t capacity, uint16_t width, char fill);

// Replaces every occurrence of `search` (case-sensitive, left to right, not
// overlapping, replacements not scanned again) by `replacement`, and cuts the
// result to the length the text had at the call. Texts of fewer than two
// characters and an empty `search` leave the buffer unchanged. Returns `buffer`.
char* BufReplaceAll(char* buffer, const char* search, const char* replacement);

// At most `count` characters of `text` from position `start` (0 acts as 1);
// empty when `start` is behind the text or `count` is 0.
std::string TextMid(const std::string& text, uint8_t start, uint8_t count);

// `text` padded on the right with `fill` to `width` characters; never cut.
std::string TextPadRight(const std::string& text, uint8_t width, char fill);

// `text` with every occurrence of `search` replaced as BufReplaceAll does:
// never longer than `text`, and a one-character text is never changed.
std::string TextReplaceAll(const std::string& text, const std::string& search,
                           const std::string& replacement);

// Replaces every control character below the blank other than TAB (CR, LF,
// NUL, ...) in `text` by one blank and returns how many it replaced. An
// export line is one record and a field keeps its width only when its
// values hold none of them.
size_t BlankControlCharacters(std::string& text);

#endif  // KDX_UTIL_TEXT_UTILS_H_
