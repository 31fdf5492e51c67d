// The wavecatch commands. Each takes its arguments (after the command name)
// and writes to out and err, so tests run them exactly as the program does.
//
// Exit codes: 0 done; 1 the add-in reported a failure, the scope did not
// answer or the capture was cancelled; 2 the command line is wrong; 3 the
// module or class cannot be loaded or created; 4 the object has no such
// member.
#pragma once

#include <ostream>
#include <string>
#include <vector>

namespace cvn::host {

inline constexpr int kExitFailed = 1;
inline constexpr int kExitUsage = 2;
inline constexpr int kExitNoModule = 3;
inline constexpr int kExitNoMember = 4;

// What every command does with --help: the text on out, exit code 0.
inline int PrintHelp(std::ostream& out, const char* text) {
    out << text;
    return 0;
}

// The whole command line without the program name.
int RunWavecatch(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

// One command each; args are those after the command name.
int CmdRegister(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);
int CmdUnregister(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);
int CmdInfo(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);
int CmdScope(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);
int CmdGet(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);
int CmdLet(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);
int CmdCall(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);
int CmdCapture(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);
int CmdRecord(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);
int CmdDemo(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);
int CmdDoctor(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);
// The bench commands: the add-in's own routines without its dialog.
int CmdMeasure(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);
int CmdSetup(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);
int CmdScreen(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);
int CmdFind(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);
int CmdScpi(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);
// show: a capture.h5 summarised.
int CmdShow(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

}  // namespace cvn::host
