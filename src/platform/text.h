// String operations on zero-terminated wide and 8-bit text. Letter case is
// folded for the ASCII letters only, on every platform, whatever the locale.
#pragma once

#include <cstddef>

#include "platform/win32.h"

// Number of characters before the terminator.
DWORD TextLength(const WCHAR* text);

// The same, counting no further than limit characters: the text need not be
// terminated within them.
DWORD TextLengthWithin(const WCHAR* text, DWORD limit);

// Copies at most capacity - 1 characters and always terminates (capacity > 0).
void TextCopy(WCHAR* destination, DWORD capacity, const WCHAR* source);

// Appends source at the end of destination, cutting it to fit capacity.
void TextAppend(WCHAR* destination, DWORD capacity, const WCHAR* source);

// First occurrence of needle in haystack, exact and case-sensitive; an
// empty needle is found at the start. Null when absent.
const WCHAR* TextFind(const WCHAR* haystack, const WCHAR* needle);

// The same as searching the upper-cased haystack for upperNeedle, whose
// letters are upper-case already, without writing to the haystack.
const WCHAR* TextFindUpperCased(const WCHAR* haystack, const WCHAR* upperNeedle);

// Like TextFind, over 8-bit text that ends at its terminator or after length
// bytes, whichever comes first; never reads beyond either.
const char* BytesFind(const char* haystack, std::size_t length, const char* needle);

// Upper-cases the ASCII letters a to z in place; nothing else changes.
void TextUpperAscii(WCHAR* text);

// Whole-string comparison, exact: true when equal.
bool TextEqual(const WCHAR* left, const WCHAR* right);

// Whole-string comparison folding ASCII letters only: true when equal.
bool TextEqualNoCase(const WCHAR* left, const WCHAR* right);

// Compares the first count characters (fewer when a string ends first),
// folding ASCII letters only: true when equal.
bool TextPrefixEqualNoCase(const WCHAR* left, const WCHAR* right, DWORD count);
