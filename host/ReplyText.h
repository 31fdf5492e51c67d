// Texts an instrument sent, made fit for where they are shown. A reply is
// bytes, not text: scopes answer in ASCII, sometimes with a Latin-1 byte
// ("\xB5" for micro), and nothing stops a control byte. JSON and Python need
// valid UTF-8; a terminal must not act on an escape sequence it was handed.
#pragma once

#include <string>
#include <string_view>

namespace cvn::host {

// The bytes as UTF-8: each valid UTF-8 sequence as it is (so our own texts,
// such as the degree sign of a unit, stay what they are), every other byte
// read as Latin-1 (0xB5 becomes U+00B5). Valid UTF-8 comes back unchanged.
std::string Utf8Text(std::string_view bytes);

// Utf8Text for a terminal: control characters (C0 other than tab and line
// feed, DEL, C1) written as \xHH, so ESC shows as \x1b and NUL as \x00.
std::string TerminalText(std::string_view bytes);

// True for a character a terminal may act on instead of showing.
bool IsControlCharacter(char32_t c);

}  // namespace cvn::host
