// The scan job: from a press of the scanner's button to saved, opened
// pictures, with continuous feeding. Called by the tray window and by the
// settings dialog's scan request.
#pragma once

// Runs one complete scan job on the calling thread, continuous scanning
// included. 1 when the job ran (also when it ended early or the page failed);
// 0 when the image library could not be loaded.
int RunScanJob(void);
