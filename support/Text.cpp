#include "support/Text.h"

#include <algorithm>

namespace cvn {
namespace {

char upper(char c) {
    return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

bool sameLetter(char a, char b) {
    return upper(a) == upper(b);
}

}  // namespace

std::string ToUpperAscii(std::string_view text) {
    std::string out(text);
    for (char& c : out) c = upper(c);
    return out;
}

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), sameLetter);
}

bool ContainsIgnoringCase(std::string_view text, std::string_view part) {
    return std::search(text.begin(), text.end(), part.begin(), part.end(), sameLetter) !=
               text.end() ||
           part.empty();
}

}  // namespace cvn
