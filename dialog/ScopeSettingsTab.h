// The OK action of the capture dialog's Scope Settings tab.
#pragma once

namespace cvn {

class FWCdlgHalv;

// Saves the scope's setup to a file when "save to file" is selected,
// otherwise sends a setup file to the scope. The dialog stays open.
void RunScopeSettingsTab(FWCdlgHalv& dlg);

}  // namespace cvn
