// The feeder folder: sheets waiting in name order, taking one into the
// transport, setting undecodable ones aside, and queueing copies. Windows
// only; callers hold the device lock.
#pragma once

#include <string>
#include <vector>

#include "feeder_state.h"

namespace feeder {

// Names (not paths) of the sheet files waiting in `folder`, in the order the
// device takes them: every visible file except placement files.
std::vector<std::string> ListSheets(const std::string &folder);

// Looks for the first decodable sheet. Undecodable ones met on the way move
// to the rejected folder, each with a trace entry. With `take`, the sheet
// found moves into the transport (the scanned folder) and becomes the
// current sheet. Returns FEED_STATUS_OK or FEED_STATUS_NO_PAPER.
int16_t FindSheet(FeederState *state, bool take);

// The sheet's placement: its placement file when there is a readable one,
// else the device's default.
FeederPlacement PlacementFor(const FeederState &state, const std::string &sheetPath);

// Copies `source` in behind the waiting sheets; see feeder::QueueSheet.
bool QueueSheetCopy(FeederState *state, const std::string &source, const FeederPlacement *placement,
                    std::string *queuedPath);

// Removes the sheet and placement files from the feeder folder and its
// scanned and rejected folders.
void EmptyFeeder(const std::string &folder);

} // namespace feeder
