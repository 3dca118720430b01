// The user's auto-crop and auto-deskew choices, read the way the agent
// finds its settings, without changing anything in the registry.
#pragma once

#include "pagefit.h"

// Both choices default to off when the settings cannot be found.
pagefit::Options ReadUserChoices();
