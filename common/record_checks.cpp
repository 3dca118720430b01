// Pulls in every header that checks a fixed record size, so a build for the
// wrong target or with the wrong packing stops here.
#include "feedlink_protocol.h"
#include "win32_records.h"
