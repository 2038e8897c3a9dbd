// JSON written by hand, for the capture's machine files and explanations:
// no library, so that the capture exe stays small.
#pragma once

#include <cstdint>
#include <cstring>
#include <vector>

#include "platform/win32.h"

// A number in decimal digits, at the end of out.
inline void AppendDecimal(std::vector<char>& out, DWORD number) {
  char digits[10];
  int count = 0;
  do {
    digits[count++] = static_cast<char>('0' + number % 10);
    number /= 10;
  } while (number != 0);
  while (count > 0) out.push_back(digits[--count]);
}

class JsonOut {
 public:
  explicit JsonOut(std::vector<char>& out) : out_(out) {}

  void Raw(const char* text) { out_.insert(out_.end(), text, text + std::strlen(text)); }
  void Char(char c) { out_.push_back(c); }

  void Number(DWORD number) { AppendDecimal(out_, number); }

  void Key(const char* name) {
    Char('"');
    Raw(name);
    Raw("\": ");
  }

  // ASCII text as a JSON string.
  void Ascii(const char* text, std::size_t length) {
    Char('"');
    for (std::size_t i = 0; i < length; ++i) Escaped(static_cast<unsigned char>(text[i]));
    Char('"');
  }

  // Well-formed UTF-16 as a JSON string in UTF-8 (see IsText).
  void Text(const WCHAR* text, std::size_t length) {
    Char('"');
    for (std::size_t i = 0; i < length; ++i) {
      std::uint32_t code = text[i];
      if (code >= 0xD800 && code < 0xDC00) code = 0x10000 + ((code - 0xD800) << 10) + (text[++i] - 0xDC00u);
      Escaped(code);
    }
    Char('"');
  }

  // Any UTF-16, lone surrogates too, as a JSON string of ASCII: every other
  // character as its \u escape.
  void EscapedText(const WCHAR* text, std::size_t length) {
    static const char kDigits[] = "0123456789abcdef";
    Char('"');
    for (std::size_t i = 0; i < length; ++i) {
      if (text[i] >= 0x20 && text[i] < 0x7F) {
        Escaped(text[i]);
        continue;
      }
      Raw("\\u");
      for (int shift = 12; shift >= 0; shift -= 4) Char(kDigits[(text[i] >> shift) & 15]);
    }
    Char('"');
  }

  // Bytes as pairs of hex digits, as one JSON string.
  void Hex(const BYTE* bytes, std::size_t count) {
    static const char kDigits[] = "0123456789abcdef";
    Char('"');
    for (std::size_t i = 0; i < count; ++i) {
      if (i != 0 && i % 2 == 0) Char(' ');
      Char(kDigits[bytes[i] >> 4]);
      Char(kDigits[bytes[i] & 15]);
    }
    Char('"');
  }

 private:
  void Escaped(std::uint32_t code) {
    if (code == '"' || code == '\\') {
      Char('\\');
      Char(static_cast<char>(code));
    } else if (code < 0x20) {
      static const char kDigits[] = "0123456789abcdef";
      Raw("\\u00");
      Char(kDigits[code >> 4]);
      Char(kDigits[code & 15]);
    } else if (code < 0x80) {
      Char(static_cast<char>(code));
    } else if (code < 0x800) {
      Char(static_cast<char>(0xC0 | (code >> 6)));
      Char(static_cast<char>(0x80 | (code & 0x3F)));
    } else if (code < 0x10000) {
      Char(static_cast<char>(0xE0 | (code >> 12)));
      Char(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
      Char(static_cast<char>(0x80 | (code & 0x3F)));
    } else {
      Char(static_cast<char>(0xF0 | (code >> 18)));
      Char(static_cast<char>(0x80 | ((code >> 12) & 0x3F)));
      Char(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
      Char(static_cast<char>(0x80 | (code & 0x3F)));
    }
  }

  std::vector<char>& out_;
};
