// Options, target and failure reporting shared by the bench commands.
#include "apps/wavecatch/BenchCommand.h"

#include "host/ReplyText.h"
#include "support/Error.h"

namespace cvn::host {

std::set<std::string> BenchValueOptions(std::set<std::string> own) {
    own.insert({"--address", "--registry-key"});
    return own;
}

std::set<std::string> BenchFlagOptions(std::set<std::string> own) {
    own.insert({"--help", "--json"});
    return own;
}

BenchTarget TargetOf(const ParsedArgs& p) {
    BenchTarget t;
    t.address = p.value("--address");
    if (p.hasValue("--registry-key")) t.registryKey = p.value("--registry-key");
    return t;
}

int RunBenchCommand(std::ostream& err, const std::string& what, const std::function<int()>& body) {
    ConsoleUiScope console(&err);
    struct Close {
        ~Close() { CloseScope(); }
    } close;
    try {
        return body();
    } catch (const UsageError&) {
        throw;
    } catch (const Error& e) {
        // Descriptions may quote what the instrument sent.
        err << "wavecatch: " << what << ": " << TerminalText(e.description()) << "\n";
    } catch (const std::exception& e) {
        err << "wavecatch: " << what << ": " << TerminalText(e.what()) << "\n";
    }
    return 1;
}

}  // namespace cvn::host
