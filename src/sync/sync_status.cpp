#include "sync/sync_status.h"

namespace tsl {

const char* syncStateText(SyncState state) {
    switch (state) {
        case SyncState::Starting:
            return "Starting";
        case SyncState::NotConnected:
            return "Not connected to Tessaline";
        case SyncState::ServerUnreachable:
            return "Cannot reach Tessaline";
        case SyncState::SyncOff:
            return "Sync is switched off in Tessaline";
        case SyncState::TallyUnreachable:
            return "Tally is not reachable";
        case SyncState::Paused:
            return "Sync paused by Tessaline";
        case SyncState::Syncing:
            return "Syncing";
        case SyncState::UpToDate:
            return "Up to date";
        case SyncState::AnswersNotWritten:
            return "Tally's answers cannot be written on this PC";
    }
    return "";
}

std::string stateDetail(SyncState state, const std::string& message) {
    const std::string text = syncStateText(state);
    if (text.empty() || message.compare(0, text.size(), text) != 0) return message;
    if (message.size() == text.size()) return std::string();
    if (message.compare(text.size(), 2, ": ") == 0) return message.substr(text.size() + 2);
    return message;
}

std::string stateLine(SyncState state, const std::string& message) {
    const std::string detail = stateDetail(state, message);
    return detail.empty() ? syncStateText(state) : syncStateText(state) + (": " + detail);
}

bool isTroubledState(SyncState state) {
    return state == SyncState::NotConnected || state == SyncState::ServerUnreachable ||
           state == SyncState::TallyUnreachable || state == SyncState::Paused ||
           state == SyncState::AnswersNotWritten;
}

}  // namespace tsl
