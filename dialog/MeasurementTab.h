// The reactions of the capture dialog's Measurement tab: the two source
// lists, the two measure buttons, Select All, Clear All and Save Data. The
// measurements themselves are asked by MeasurementRun; this file moves the
// dialog's boxes into it and its results back.
#pragma once

namespace cvn {

class FWCdlgHalv;

// Connects the tab's buttons and lists to the reactions below.
void ConnectMeasurementTab(FWCdlgHalv& dlg);

// The user picked an entry in the first list: the scope measures it.
void MeasurementSource1Picked(FWCdlgHalv& dlg);
// The user picked an entry in the second list: both sources are sent.
void MeasurementSource2Picked(FWCdlgHalv& dlg);
// "Current Acquisition": stops the scope and fills every result box (empty
// for rows not ticked). A failure stops the sequence, keeps the rows filled
// so far and is reported through the error handler.
void MeasureCurrentAcquisition(FWCdlgHalv& dlg);
// "New Acquisition": one single acquisition, the fixed pause, then the same.
void MeasureNewAcquisition(FWCdlgHalv& dlg);
// Ticks every available measurement box; unavailable ones stay as they are.
void SelectAllMeasurements(FWCdlgHalv& dlg);
// Unticks every measurement box (available or not) and empties every result.
void ClearAllMeasurements(FWCdlgHalv& dlg);
// "Save Data": the ticked rows with their shown results, to a file the user
// chooses.
void SaveMeasurementResults(FWCdlgHalv& dlg);

}  // namespace cvn
