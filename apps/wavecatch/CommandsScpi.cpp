// scpi: commands sent to the instrument as typed, replies shown; with no
// command on a terminal, a prompt with history.
#include <editline/readline.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <iostream>

#include "apps/wavecatch/BenchCommand.h"
#include "apps/wavecatch/Commands.h"
#include "host/Json.h"
#include "host/ReplyText.h"
#include "host/bench/Scpi.h"
#include "io/IoSession.h"
#include "support/AtomicFile.h"
#include "support/Error.h"

namespace cvn::host {

namespace {

constexpr const char* kScpiHelp =
    "usage: wavecatch scpi [--address ADDR] [--timeout MS] [--block-out FILE]\n"
    "                      [--json] [COMMAND...]\n"
    "Sends each COMMAND to the instrument as it stands. A query (a command whose\n"
    "header holds \"?\") prints its reply; a binary block reply is written to FILE\n"
    "(FILE-2, FILE-3... for later blocks; '-': every block on stdout) or shown as\n"
    "its length and first bytes.\n"
    "A text reply's control bytes show as \\xHH (ESC as \\x1b), bytes that are not\n"
    "UTF-8 as Latin-1 (0xB5 as the micro sign); --json gives the same text, its\n"
    "control characters as \\u escapes.\n"
    "Without COMMAND: one command per line of standard input, or, on a terminal, a\n"
    "prompt with history (kept in $XDG_STATE_HOME/wavecatch/scpi_history); an\n"
    "empty line or end of input ends it.\n"
    "  --timeout MS      reply time-out (default 10000)\n"
    "  --address ADDR    the instrument (default: the address stored by the last\n"
    "                    connection); --registry-key KEY another settings key\n"
    "  --json            [{\"command\", \"reply\"} or {\"command\", \"block_bytes\",\n"
    "                    \"file\"}] on stdout\n"
    "Example: wavecatch scpi --address 192.168.1.20:5025 '*IDN?' ':MEAS:FREQ? CHAN1'\n";

class ScpiRun {
public:
    ScpiRun(const ParsedArgs& p, std::ostream& out) : p_(p), out_(out) {
        address_ = ResolveAddress(TargetOf(p));
        if (p.hasValue("--timeout")) {
            const std::string t = p.value("--timeout");
            char* end = nullptr;
            const long ms = std::strtol(t.c_str(), &end, 10);
            if (t.empty() || *end != '\0' || ms <= 0 || ms > 3600000)
                throw UsageError("--timeout takes milliseconds from 1 to 3600000");
            timeout_ = static_cast<int>(ms);
        }
        if (p.hasValue("--block-out")) {
            const std::string& b = p.value("--block-out");
            if (b == "-" && p.has("--json"))
                throw UsageError("--json and --block-out - would both write to stdout");
            blockOut_ = b == "-" ? b : AbsolutePath(b);
        }
        if (p.has("--json")) json_.beginArray();
    }

    // Sends one command; throws on failure.
    void send(const std::string& command) {
        if (!io::Reusable(session_, address_)) {
            session_ = io::IoManager().Open(address_);
            session_->SetTimeout(timeout_);
        }
        if (p_.has("--json")) json_.beginObject().key("command").value(command);
        if (!IsQuery(command)) {
            session_->Output(command);
            if (p_.has("--json")) json_.endObject();
            return;
        }
        const ScpiReply r = ScpiQuery(*session_, command);
        if (r.block) {
            std::string file;
            if (!blockOut_.empty()) {
                file = blockOut_;
                // Standard output takes every block, one after the other.
                if (++blocks_ > 1 && blockOut_ != "-") {
                    const std::filesystem::path b(blockOut_);
                    file = (b.parent_path() / (b.stem().string() + "-" + std::to_string(blocks_) +
                                               b.extension().string()))
                               .string();
                }
                WriteFileAtomically(file, r.data);
            }
            if (p_.has("--json")) {
                json_.key("block_bytes").value(r.data.size());
                if (!file.empty()) json_.key("file").value(file);
            } else if (file == "-") {
                // The block's bytes are the output.
            } else if (!file.empty()) {
                out_ << "block of " << r.data.size() << " bytes written: " << file << "\n";
            } else {
                out_ << "block of " << DescribeBlock(r.data) << "\n";
            }
        } else if (p_.has("--json")) {
            json_.key("reply").value(r.text);
        } else {
            // Shown, never obeyed: a control byte of the reply (ESC, NUL)
            // prints as \x1b, \x00; a byte that is not UTF-8 as Latin-1.
            std::string_view text = r.text;
            if (!text.empty() && text.back() == '\n') text.remove_suffix(1);
            if (!text.empty() && text.back() == '\r') text.remove_suffix(1);
            out_ << TerminalText(text) << "\n";
        }
        if (p_.has("--json")) json_.endObject();
        if (r.cut) throw Error(kBenchFailed, "the reply was cut at 64 MiB", "wavecatch");
    }

    void finish() {
        if (p_.has("--json")) out_ << json_.endArray().text() << "\n";
    }

private:
    const ParsedArgs& p_;
    std::ostream& out_;
    std::string address_;
    std::string blockOut_;
    int timeout_ = 10000;
    int blocks_ = 0;
    io::IoSessionPtr session_;
    JsonWriter json_;
};

std::string historyFile() {
    const char* state = std::getenv("XDG_STATE_HOME");
    const char* home = std::getenv("HOME");
    std::filesystem::path dir = state && *state
                                    ? std::filesystem::path(state)
                                    : std::filesystem::path(home ? home : ".") / ".local/state";
    dir /= "wavecatch";
    std::error_code ec;
    std::filesystem::create_directories(dir, ec);
    return (dir / "scpi_history").string();
}

// The prompt: a failing command is reported and the next one asked.
int prompt(ScpiRun& run, std::ostream& err) {
    const std::string history = historyFile();
    read_history(history.c_str());
    for (;;) {
        char* line = readline("scpi> ");
        if (!line) break;
        std::string command(line);
        std::free(line);
        if (command.find_first_not_of(" \t") == std::string::npos) break;
        add_history(command.c_str());
        try {
            run.send(command);
        } catch (const Error& e) {
            err << "wavecatch: scpi: " << command << ": " << TerminalText(e.description()) << "\n";
        } catch (const std::exception& e) {
            err << "wavecatch: scpi: " << command << ": " << TerminalText(e.what()) << "\n";
        }
    }
    write_history(history.c_str());
    history_truncate_file(history.c_str(), 1000);
    return 0;
}

}  // namespace

int CmdScpi(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    const ParsedArgs p =
        ParseArgs(args, BenchValueOptions({"--timeout", "--block-out"}), BenchFlagOptions({}));
    if (p.has("--help")) return PrintHelp(out, kScpiHelp);
    return RunBenchCommand(err, "scpi", [&] {
        ScpiRun run(p, out);
        if (p.operands.empty() && ::isatty(STDIN_FILENO) && &out == &std::cout)
            return prompt(run, err);
        std::vector<std::string> commands = p.operands;
        if (commands.empty()) {
            std::string line;
            while (std::getline(std::cin, line)) {
                if (!line.empty() && line.back() == '\r') line.pop_back();
                if (!line.empty()) commands.push_back(line);
            }
        }
        for (const std::string& c : commands) {
            try {
                run.send(c);
            } catch (const Error& e) {
                throw Error(e.number(), c + ": " + e.description(), e.source());
            }
        }
        run.finish();
        return 0;
    });
}

}  // namespace cvn::host
