// The Scope Settings tab hands its choice to the settings-file actions.
#include "dialog/ScopeSettingsTab.h"

#include <QRadioButton>

#include "dialog/FWCdlgHalv.h"
#include "setupfile/ScopeSettingsActions.h"

namespace cvn {

void RunScopeSettingsTab(FWCdlgHalv& dlg) {
    RunScopeSettingsAction(dlg.optSaveToFile->isChecked());
}

}  // namespace cvn
