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

std::vector<std::string> SplitList(std::string_view text) {
    std::vector<std::string> fields;
    size_t start = 0;
    while (start <= text.size()) {
        size_t comma = text.find(',', start);
        if (comma == std::string_view::npos) comma = text.size();
        std::string_view field = text.substr(start, comma - start);
        const size_t first = field.find_first_not_of(' ');
        if (first != std::string_view::npos) {
            field = field.substr(first, field.find_last_not_of(' ') - first + 1);
            fields.emplace_back(field);
        }
        start = comma + 1;
    }
    return fields;
}

}  // namespace cvn
