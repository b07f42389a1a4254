#pragma once

#include <cstdint>
#include <string>

namespace tsl {

enum class SyncState : std::int32_t {
    Starting = 0,
    NotConnected = 1,
    ServerUnreachable = 2,
    SyncOff = 3,
    TallyUnreachable = 4,
    Paused = 5,
    Syncing = 6,
    UpToDate = 7,
    // Tally answered, but this PC could not write the answer down (a full disk, say): the job
    // stopped there, and its message is the disk's sentence.
    AnswersNotWritten = 8,
};

// The display text of a state; "" for a value outside the enumeration.
const char* syncStateText(SyncState state);

// The detail shown after a state's text: the message, less the state's own words where it
// begins with them, so a line never reads "Cannot reach Tessaline: Cannot reach Tessaline: ...".
std::string stateDetail(SyncState state, const std::string& message);
// The state's text, then ": " and its detail when there is one.
std::string stateLine(SyncState state, const std::string& message);

// True for the states that mean sync has stopped for a reason the user may need to see:
// changes into them are logged as warnings.
bool isTroubledState(SyncState state);

// How syncing goes; a plain value handed out as a snapshot.
struct SyncStatus {
    SyncState state = SyncState::Starting;
    std::string message;    // detail given with the state; "" = none
    std::string tallyInfo;  // what the last Tally probe said
    std::string company;    // Tally company from the last successful heartbeat
    std::string lastJob;    // kind + ": " + the server's summary of the last reported job
    std::string lastSync;   // "DD-MM-YYYY hh:mm" of the last pass that found no further job
    std::uint64_t jobsThisSession = 0;
    std::uint64_t resultsWaiting = 0;   // jobs whose results are kept until Tessaline takes them
    std::uint64_t resultsSetAside = 0;  // jobs whose results Tessaline did not take (see below)
};

// The file in the state folder that holds the results set aside, for a person to look at.
inline constexpr char kSetAsideFileName[] = "kept-results.set-aside.json";

}  // namespace tsl
