#pragma once
// Decoding of the texts of a language file declared UTF-8 ("IsUTF8" in "-Header-").
//
// The decoder turns bytes into 16-bit characters by the lead byte's bit 5 alone: a byte
// below 128 is a character; a byte of 128 or more with bit 5 set starts a three-byte form
// and one with bit 5 clear a two-byte form, each following byte in 128..191. A missing or
// out-of-range following byte makes the whole text decode to empty text. Overlong forms
// are accepted. A four-byte form (a character above U+FFFF) reads as a three-byte form
// followed by a stray byte, so a text holding one decodes to empty text.
//
// The 16-bit characters are then converted to the narrow code page of the platform in
// one place, WideToNarrow; on Linux that code page is UTF-8.

#include <string>
#include <string_view>

// Empty text when the bytes are not well-formed by the rules above.
std::u16string Utf8ToWide(std::string_view bytes);

// 16-bit characters to the narrow code page. For UTF-8: surrogate pairs become the
// character they stand for; a lone surrogate, which no narrow text can hold, becomes
// U+FFFD, the substitute character.
std::string WideToNarrow(std::u16string_view text);

// Utf8ToWide followed by WideToNarrow: what a UTF-8 language file's text becomes.
std::string DecodeUtf8Text(std::string_view bytes);
