// The virtual scanner's shared block: mapping it, locking it, its defaults,
// its folders and its trace. Windows only; every process that touches the
// device goes through here.
#pragma once

#include <string>
#include <vector>

#include "feeder_state.h"

namespace feeder {

// Holds the device lock for its lifetime. `state` is null when the block
// cannot be mapped or has another layout version; callers then fail.
class StateLock {
public:
    StateLock();
    ~StateLock();
    StateLock(const StateLock &) = delete;
    StateLock &operator=(const StateLock &) = delete;
    FeederState *state;

private:
    bool held_;
};

// Every field at its default; with `keepConfiguration` the feeder folder
// choice and the VID/PID survive, as they do a reset.
void InitialiseState(FeederState *state, bool keepConfiguration);

// Unmaps the block and closes the lock in this process: the driver calls it
// when it is unloaded, so loading it again and again costs nothing.
void ReleaseSharedState();

// The device's data folder under the common application data folder, with
// no trailing backslash; created when missing. Empty when it cannot be.
std::string DataFolder();
// The folder sheets wait in (the override, or the default), created when missing.
std::string ActiveFeederFolder(const FeederState &state);

// Appends one entry, numbering it; the oldest is overwritten when full.
// The performance counter in microseconds, modulo 2^32: the same clock in
// every process, so the differences of two processes' readings are times.
uint32_t TraceMicroseconds();
void AppendTrace(FeederState *state, FeederTraceEntry entry);
// Copies the retained entries, oldest first.
void CopyTrace(const FeederState &state, std::vector<FeederTraceEntry> *entries);

// Bounded copy of a C string into a fixed field.
void CopyText(char *field, size_t capacity, const char *text);

// True when the process still runs.
bool ProcessAlive(uint32_t processId);

} // namespace feeder
