#include "tally/open_companies.h"

#include <cctype>
#include <cstdlib>

namespace tsl {

namespace {

// Resolves the five named entities and references to ASCII characters; anything else stays as
// written (Tally writes its text as characters, not references).
std::string xmlText(const std::string& text) {
    static const struct {
        const char* name;
        char c;
    } kNamed[] = {{"amp", '&'}, {"lt", '<'}, {"gt", '>'}, {"quot", '"'}, {"apos", '\''}};
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const std::size_t end = text[i] == '&' ? text.find(';', i) : std::string::npos;
        const std::string name = end - i <= 8 ? text.substr(i + 1, end - i - 1) : std::string();
        int c = -1;
        for (const auto& named : kNamed) {
            if (name == named.name) c = named.c;
        }
        if (name.size() > 1 && name[0] == '#') {
            const bool hex = name[1] == 'x';
            char* rest = nullptr;
            const long v = std::strtol(name.c_str() + (hex ? 2 : 1), &rest, hex ? 16 : 10);
            if (*rest == '\0' && v > 0 && v < 0x80 &&
                std::isxdigit(static_cast<unsigned char>(name.back()))) {
                c = static_cast<int>(v);
            }
        }
        if (c < 0) {
            out += text[i];
        } else {
            out += static_cast<char>(c);
            i = end;
        }
    }
    return out;
}

}  // namespace

std::string openCompaniesRequest() {
    return "<ENVELOPE><HEADER><VERSION>1</VERSION><TALLYREQUEST>Export</TALLYREQUEST>"
           "<TYPE>Collection</TYPE><ID>Open Companies</ID></HEADER><BODY><DESC>"
           "<STATICVARIABLES><SVEXPORTFORMAT>$$SysName:XML</SVEXPORTFORMAT></STATICVARIABLES>"
           "<TDL><TDLMESSAGE><COLLECTION NAME=\"Open Companies\" ISMODIFY=\"No\">"
           "<TYPE>Company</TYPE><FETCH>Name</FETCH></COLLECTION></TDLMESSAGE></TDL>"
           "</DESC></BODY></ENVELOPE>";
}

std::optional<std::vector<std::string>> openCompaniesIn(const std::string& answer) {
    if (answer.find("<COLLECTION") == std::string::npos ||
        answer.find("<LINEERROR>") != std::string::npos) {
        return std::nullopt;
    }
    std::vector<std::string> names;
    const std::string open = "<COMPANY NAME=\"";
    for (std::size_t at = answer.find(open); at != std::string::npos;
         at = answer.find(open, at + 1)) {
        const std::size_t start = at + open.size();
        const std::size_t end = answer.find('"', start);
        if (end == std::string::npos) return std::nullopt;
        names.push_back(xmlText(answer.substr(start, end - start)));
    }
    return names;
}

}  // namespace tsl
