// Per-user settings in small INI files of our own format. QSettings was not
// used because its INI writer re-encodes keys and values, and we promise to
// give back exactly the text we were given (leading blanks, letter case,
// any Unicode) and to keep every line we do not understand.
//
// Format: "[section]" lines and "key=value" lines; blank lines and lines
// starting with ';' or '#' are comments and are kept on rewrite. Blanks
// around the '=' and at the ends of a line are layout, so blanks that belong
// to a key or value at its ends are written as "\s". Other escapes: "\\",
// "\n", "\r", "\t", "\=", "\[", "\]", "\;", "\#" and "\xHH" for control
// characters.
//
// A line that is none of these (text added by hand or by another program,
// an unknown escape, a NUL byte) is foreign: it is kept byte for byte and
// skipped, so one stray line costs nothing but itself. A foreign section
// header hides the entries below it until the next header, since nobody can
// tell which section they were meant for. Only a file that cannot be read
// at all is left untouched.
#include "support/SettingsStore.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <optional>
#include <set>
#include <string_view>
#include <vector>

#include "support/AtomicFile.h"
#include "support/Error.h"
#include "support/ErrorHandler.h"
#include "support/UserFolders.h"

namespace cvn {
namespace {

constexpr int32_t kBadSettingsKey = 5;  // invalid argument
constexpr int32_t kSettingsFileError = kPathError;
constexpr const char* kSource = "cvnWCHalv";
// A settings file holds a handful of short values; anything this large is
// not one of ours and is not read into memory.
constexpr off_t kMaxFileSize = 1 << 20;
constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";  // UTF-8

struct Line {
    // ForeignSection: a header we cannot read; its entries belong to no
    // section anyone can ask for.
    enum class Kind { Layout, Section, Entry, Foreign, ForeignSection } kind = Kind::Layout;
    std::string raw;   // the line as read, written back while unchanged
    std::string name;  // section name, or key of an entry
    std::string value;
    bool crlf = false;  // ended in CR LF, and is written back so
};

struct Parsed {
    std::vector<Line> lines;
    std::string problem;            // empty when the file could be read
    std::vector<int> foreignLines;  // numbers of the lines kept but skipped
};

struct Loaded {
    bool exists = false;
    Parsed parsed;
};

bool isLayoutBlank(char c) {
    return c == ' ' || c == '\t';
}

std::string trimLayout(const std::string& text) {
    size_t begin = 0;
    size_t end = text.size();
    while (begin < end && isLayoutBlank(text[begin])) ++begin;
    // Blanks that are data are written as "\s", so raw ones are always layout.
    while (end > begin && isLayoutBlank(text[end - 1])) --end;
    return text.substr(begin, end - begin);
}

int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

std::optional<std::string> unescape(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\') {
            out += text[i];
            continue;
        }
        if (++i >= text.size()) return std::nullopt;
        switch (text[i]) {
            case '\\':
            case '=':
            case '[':
            case ']':
            case ';':
            case '#':
                out += text[i];
                break;
            case 's':
                out += ' ';
                break;
            case 'n':
                out += '\n';
                break;
            case 'r':
                out += '\r';
                break;
            case 't':
                out += '\t';
                break;
            case 'x': {
                if (i + 2 >= text.size()) return std::nullopt;
                const int hi = hexValue(text[i + 1]);
                const int lo = hexValue(text[i + 2]);
                if (hi < 0 || lo < 0) return std::nullopt;
                out += static_cast<char>(hi * 16 + lo);
                i += 2;
                break;
            }
            default:
                return std::nullopt;
        }
    }
    return out;
}

enum class Field { Section, Key, Value };

std::string escape(const std::string& text, Field field) {
    size_t lead = 0;
    while (lead < text.size() && text[lead] == ' ') ++lead;
    size_t trail = text.size();
    while (trail > lead && text[trail - 1] == ' ') --trail;

    std::string out;
    out.reserve(text.size() + 8);
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        const auto u = static_cast<unsigned char>(c);
        if (c == ' ' && (i < lead || i >= trail)) {
            out += "\\s";
        } else if (c == '\\') {
            out += "\\\\";
        } else if (c == '\n') {
            out += "\\n";
        } else if (c == '\r') {
            out += "\\r";
        } else if (c == '\t') {
            out += "\\t";
        } else if (u < 0x20 || u == 0x7F) {
            static const char digits[] = "0123456789ABCDEF";
            out += "\\x";
            out += digits[u >> 4];
            out += digits[u & 0xF];
        } else if ((field == Field::Key && c == '=') || (field == Field::Section && c == ']') ||
                   (field == Field::Key && i == 0 && (c == '[' || c == ';' || c == '#'))) {
            out += '\\';
            out += c;
        } else {
            out += c;
        }
    }
    return out;
}

// The first '=' that is not escaped.
size_t findSeparator(const std::string& text) {
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\\') {
            ++i;
        } else if (text[i] == '=') {
            return i;
        }
    }
    return std::string::npos;
}

// The line's meaning; Foreign or ForeignSection when it has none we know.
void classify(Line& line) {
    const std::string text = trimLayout(line.raw);
    if (text.empty() || text[0] == ';' || text[0] == '#') {
        line.kind = Line::Kind::Layout;
        return;
    }
    // A raw NUL is no text of ours: every control character is escaped.
    if (text.find('\0') != std::string::npos) {
        line.kind = text[0] == '[' ? Line::Kind::ForeignSection : Line::Kind::Foreign;
        return;
    }
    if (text[0] == '[') {
        std::optional<std::string> name;
        if (text.size() >= 2 && text.back() == ']')
            name = unescape(text.substr(1, text.size() - 2));
        line.kind = name ? Line::Kind::Section : Line::Kind::ForeignSection;
        if (name) line.name = std::move(*name);
        return;
    }
    const size_t eq = findSeparator(text);
    if (eq == std::string::npos) {
        line.kind = Line::Kind::Foreign;
        return;
    }
    auto key = unescape(trimLayout(text.substr(0, eq)));
    auto value = unescape(trimLayout(text.substr(eq + 1)));
    if (!key || !value) {
        line.kind = Line::Kind::Foreign;
        return;
    }
    line.kind = Line::Kind::Entry;
    line.name = std::move(*key);
    line.value = std::move(*value);
}

Parsed parse(std::string content) {
    Parsed result;
    if (content.rfind(kByteOrderMark, 0) == 0) content.erase(0, kByteOrderMark.size());
    size_t pos = 0;
    int number = 0;
    while (pos < content.size()) {
        size_t end = content.find('\n', pos);
        if (end == std::string::npos) end = content.size();
        Line line;
        line.raw = content.substr(pos, end - pos);
        if (!line.raw.empty() && line.raw.back() == '\r') {
            line.raw.pop_back();
            line.crlf = true;
        }
        pos = end + 1;
        ++number;
        classify(line);
        if (line.kind == Line::Kind::Foreign || line.kind == Line::Kind::ForeignSection)
            result.foreignLines.push_back(number);
        result.lines.push_back(std::move(line));
    }
    return result;
}

Loaded load(const std::string& path) {
    Loaded loaded;
    // Non-blocking: a FIFO put where the file should be must not hang the
    // open; it is refused below as no regular file.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        if (errno != ENOENT) {
            loaded.exists = true;
            loaded.parsed.problem = std::string("it cannot be read: ") + std::strerror(errno);
        }
        return loaded;
    }
    loaded.exists = true;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        loaded.parsed.problem = "it is not a regular file";
        return loaded;
    }
    if (st.st_size > kMaxFileSize) {
        ::close(fd);
        loaded.parsed.problem = "it is far too large for a settings file";
        return loaded;
    }
    std::string content;
    char buf[8192];
    for (;;) {
        const ssize_t n = ::read(fd, buf, sizeof buf);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            loaded.parsed.problem = std::string("it cannot be read: ") + std::strerror(errno);
            ::close(fd);
            return loaded;
        }
        if (n == 0) break;
        content.append(buf, static_cast<size_t>(n));
        if (content.size() > static_cast<size_t>(kMaxFileSize)) {
            ::close(fd);
            loaded.parsed.problem = "it is far too large for a settings file";
            return loaded;
        }
    }
    ::close(fd);
    loaded.parsed = parse(std::move(content));
    return loaded;
}

// Each unusable file, and each file with foreign lines, is reported once
// per process (again only after it was found clean in between), so a
// dialog reading ten keys logs one line.
std::set<std::string>& reportedFiles() {
    static std::set<std::string> files;
    return files;
}

void reportOnce(const std::string& file, const std::string& text) {
    if (!reportedFiles().insert(file).second) return;
    errorHandler().LogProblem(text);
}

std::string lineList(const std::vector<int>& numbers) {
    std::string out;
    for (size_t i = 0; i < numbers.size() && i < 10; ++i)
        out += (i ? ", " : "") + std::to_string(numbers[i]);
    if (numbers.size() > 10) out += " and " + std::to_string(numbers.size() - 10) + " more";
    return out;
}

// Logs what is wrong with a loaded file; true when it can be used.
bool reportLoaded(const std::string& path, const Loaded& loaded) {
    if (!loaded.parsed.problem.empty()) {
        reportOnce(path, "The settings file " + path + " cannot be used: " + loaded.parsed.problem +
                             "; the defaults are used instead");
        return false;
    }
    if (!loaded.parsed.foreignLines.empty()) {
        reportOnce(path, "The settings file " + path + " has lines that are no settings (line " +
                             lineList(loaded.parsed.foreignLines) +
                             "); they are kept as they are and skipped");
    } else {
        reportedFiles().erase(path);
    }
    return true;
}

std::string folderOf(const std::string& path) {
    return path.substr(0, path.rfind('/'));
}

void writeAtomically(const std::string& path, const std::string& content) {
    const std::string folder = folderOf(path);
    if (!MakeFolders(folder, 0700)) {
        throw Error(kSettingsFileError,
                    "Cannot create the settings folder " + folder + ": " + std::strerror(errno),
                    kSource);
    }
    // Private to the user, like the folder, unless the user chose otherwise.
    try {
        WriteFileAtomically(path, content, 0600);
    } catch (const FileWriteError& e) {
        throw Error(kSettingsFileError, "Cannot write the settings file " + path + ": " + e.why(),
                    kSource);
    }
}

}  // namespace

std::string SettingsFilePath(const std::string& appKey) {
    const auto reject = [&](const std::string& why) {
        return Error(kBadSettingsKey, "Invalid settings key \"" + appKey + "\": " + why, kSource);
    };
    std::string relative;
    size_t pos = 0;
    for (;;) {
        const size_t next = appKey.find('\\', pos);
        const std::string part =
            appKey.substr(pos, next == std::string::npos ? std::string::npos : next - pos);
        if (part.empty()) throw reject("it has an empty level");
        if (part == "." || part == "..") throw reject("it leaves its folder");
        if (part.find('/') != std::string::npos || part.find('\0') != std::string::npos) {
            throw reject("a level contains '/' or a NUL character");
        }
        relative += '/';
        relative += part;
        if (next == std::string::npos) break;
        pos = next + 1;
    }
    return UserConfigHome() + relative + ".ini";
}

std::string GetSetting(const std::string& appKey, const std::string& section,
                       const std::string& key, const std::string& def) {
    try {
        const std::string path = SettingsFilePath(appKey);
        const Loaded loaded = load(path);
        if (!reportLoaded(path, loaded)) return def;
        std::optional<std::string> current = std::string();
        for (const Line& line : loaded.parsed.lines) {
            if (line.kind == Line::Kind::Section) {
                current = line.name;
            } else if (line.kind == Line::Kind::ForeignSection) {
                current.reset();
            } else if (line.kind == Line::Kind::Entry && current == section && line.name == key) {
                return line.value;
            }
        }
        return def;
    } catch (const Error& e) {
        reportOnce(appKey, e.description() + "; the defaults are used instead");
        return def;
    } catch (...) {
        return def;
    }
}

namespace {

// The file's lines, or cvn::Error when it cannot be read: a file we could
// not read is never rewritten, since that would lose what is in it.
Loaded loadUsable(const std::string& path) {
    Loaded loaded = load(path);
    if (!reportLoaded(path, loaded)) {
        throw Error(kSettingsFileError,
                    "The settings file " + path + " cannot be used (" + loaded.parsed.problem +
                        ") and was left unchanged; repair or remove it",
                    kSource);
    }
    return loaded;
}

void writeLines(const std::string& path, const std::vector<Line>& lines) {
    std::string content;
    for (const Line& line : lines) {
        content += line.raw;
        // The CR of a CR LF line end goes back too: dropped, it would take
        // the last byte of a value that ends in a raw CR with it.
        if (line.crlf) content += '\r';
        content += '\n';
    }
    // The reader drops a byte-order mark at the start of the file, so a first
    // line that itself begins with one (a key that starts with U+FEFF) keeps
    // it only behind a second mark.
    if (content.rfind(kByteOrderMark, 0) == 0) content.insert(0, kByteOrderMark);
    writeAtomically(path, content);
}

}  // namespace

void SaveSetting(const std::string& appKey, const std::string& section, const std::string& key,
                 const std::string& value) {
    const std::string path = SettingsFilePath(appKey);
    Loaded loaded = loadUsable(path);
    std::vector<Line>& lines = loaded.parsed.lines;
    const std::string entryText = escape(key, Field::Key) + "=" + escape(value, Field::Value);

    bool inSection = section.empty();  // entries before any header have no section
    bool sectionSeen = inSection;
    size_t insertAt = 0;  // after the last line that belongs to the section
    bool written = false;
    for (size_t i = 0; i < lines.size(); ++i) {
        Line& line = lines[i];
        if (line.kind == Line::Kind::Section) {
            inSection = line.name == section;
            sectionSeen = sectionSeen || inSection;
            if (inSection) insertAt = i + 1;
            continue;
        }
        if (line.kind == Line::Kind::ForeignSection) {
            inSection = false;
            continue;
        }
        if (!inSection) continue;
        if (line.kind == Line::Kind::Entry) {
            insertAt = i + 1;
            if (line.name == key && !written) {
                line.value = value;
                line.raw = entryText;
                written = true;
            }
        }
    }
    if (!written) {
        // New lines end like the line before them, so a file kept with
        // CR LF line ends stays that way.
        const auto endingOf = [&](size_t at) { return at > 0 && lines[at - 1].crlf; };
        Line line;
        line.kind = Line::Kind::Entry;
        line.raw = entryText;
        if (sectionSeen) {
            line.crlf = endingOf(insertAt);
            lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(insertAt), std::move(line));
        } else {
            const bool crlf = endingOf(lines.size());
            if (!lines.empty() && !trimLayout(lines.back().raw).empty()) {
                Line blank;
                blank.crlf = crlf;
                lines.push_back(std::move(blank));
            }
            line.crlf = crlf;
            Line header;
            header.kind = Line::Kind::Section;
            header.crlf = crlf;
            // Appended piece by piece: GCC 12 warns falsely (-Wrestrict) on
            // "[" + text + "]" in optimised builds.
            header.raw = "[";
            header.raw += escape(section, Field::Section);
            header.raw += ']';
            lines.push_back(std::move(header));
            lines.push_back(std::move(line));
        }
    }

    writeLines(path, lines);
}

void DeleteSetting(const std::string& appKey, const std::string& section, const std::string& key) {
    const std::string path = SettingsFilePath(appKey);
    Loaded loaded = loadUsable(path);
    if (!loaded.exists) return;
    std::vector<Line> kept;
    std::optional<std::string> current = std::string();
    bool changed = false;
    for (Line& line : loaded.parsed.lines) {
        if (line.kind == Line::Kind::Section) current = line.name;
        if (line.kind == Line::Kind::ForeignSection) current.reset();
        const bool inSection = current == section;
        // A whole section goes with its header; comments, blank lines and
        // foreign lines stay.
        const bool drop =
            inSection &&
            (key.empty() ? line.kind == Line::Kind::Section || line.kind == Line::Kind::Entry
                         : line.kind == Line::Kind::Entry && line.name == key);
        if (drop) {
            changed = true;
            continue;
        }
        kept.push_back(std::move(line));
    }
    if (changed) writeLines(path, kept);
}

std::vector<std::string> GetSections(const std::string& appKey) {
    std::vector<std::string> sections;
    const Loaded loaded = loadUsable(SettingsFilePath(appKey));
    for (const Line& line : loaded.parsed.lines)
        if (line.kind == Line::Kind::Section) sections.push_back(line.name);
    return sections;
}

std::string SettingsFileProblem(const std::string& appKey) {
    try {
        return load(SettingsFilePath(appKey)).parsed.problem;
    } catch (const Error& e) {
        return e.description();
    }
}

std::vector<int> SettingsFileSkippedLines(const std::string& appKey) {
    try {
        return load(SettingsFilePath(appKey)).parsed.foreignLines;
    } catch (const Error&) {
        return {};
    }
}

}  // namespace cvn
