#pragma once

#include <optional>
#include <string>
#include <vector>

namespace tsl {

// The read-only request that asks Tally's XML server which companies are open (a collection
// of type Company; Tally changes nothing for it).
std::string openCompaniesRequest();

// The company names of Tally's answer to that request, in its order, with the XML's character
// references resolved; nullopt when the answer is not such a collection (an error line, an
// unknown request). An empty list: Tally answered, with no company open.
std::optional<std::vector<std::string>> openCompaniesIn(const std::string& answer);

}  // namespace tsl
