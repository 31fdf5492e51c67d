// The Scope Settings tab's two actions: save the scope's complete setup to a
// setup file, and send such a file back. Both work on the shared session
// gSession and talk to the user through ui().
//
// Sending is guarded: a file is sent only when it is a sound setup file of a
// supported model, so a damaged or foreign file never reaches the scope.
#pragma once

#include <cstddef>
#include <string>

namespace cvn {

// File dialog filter of both actions.
inline constexpr const char* kScopeSettingsFilter = "Scope settings (*.scp)";
// Largest setup reply read from the scope.
inline constexpr std::size_t kSetupReadCapacity = 1000000;
// Time the scope gets to deliver its setup.
inline constexpr int kSetupReadTimeoutMs = 10000;

// Asks where to save (proposing the current folder and "Wavecatch", type
// "scp"). Returns the chosen path, or "" when cancelled. Never throws.
std::string SaveSettingsToFile();

// Asks for a setup file to open. A chosen name without the ".scp" extension
// (any case) is reported as "Incorrect file type" and still returned: the
// content decides in SendSetupFile. Returns "" when cancelled or when the
// dialog fails. Never throws.
std::string OpenSettingsFile();

// Reads the identification and the setup from the scope and writes them to
// path. Without a session it reports "No connection." and returns. A reply
// shorter than two bytes writes nothing. Throws io::IoError when the scope
// fails to answer and cvn::Error when the file cannot be written (an
// existing file is then left as it was). The session's terminator and
// time-out are put back afterwards.
void SaveLearnString(const std::string& path);

// Sends the setup kept in path to the scope as one message: "Syst:Set ",
// the setup bytes, and the session's write terminator.
// Refuses, with a message box and without sending anything, a file that is
// not a setup file ("Not a compatible file", with the reason when the file
// looks like one but is damaged or holds no setup) or one of an unsupported
// model ("Not a compatible instrument"); without a session it reports "No
// connection.". Returns true when the setup was sent. Throws io::IoError
// when sending fails.
bool SendSetupFile(const std::string& path);

// The OK action of the Scope Settings tab: save (saveToFile) or restore,
// with the busy pointer while the scope is busy. Failures are reported to
// the user; never throws.
void RunScopeSettingsAction(bool saveToFile);

}  // namespace cvn
