#pragma once

namespace tsl {

// The program's name and version, as shown by "--version", the start-up log line and the
// user agent; the server receives kVersion as the agent version.
inline constexpr char kDisplayName[] = "Tessaline Tally Connector";
inline constexpr char kVersion[] = "1.0.0";

}  // namespace tsl
