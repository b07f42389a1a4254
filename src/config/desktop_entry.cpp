#include "config/desktop_entry.h"

#include <string_view>

namespace tsl {

namespace {

std::string quotedArgument(const std::string& text) {
    std::string out = "\"";
    for (char c : text) {
        if (c == '"' || c == '`' || c == '$' || c == '\\') out += '\\';
        out += c;
    }
    return out + '"';
}

// The string-value escapes, applied by readers before the argument quoting is undone.
std::string stringValue(const std::string& text) {
    std::string out;
    for (char c : text) {
        switch (c) {
            case '\\':
                out += "\\\\";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\t':
                out += "\\t";
                break;
            case '\r':
                out += "\\r";
                break;
            case '%':
                out += "%%";
                break;
            default:
                out += c;
        }
    }
    return out;
}

std::string_view trimmed(std::string_view text) {
    const auto first = text.find_first_not_of(" \t\r");
    if (first == std::string_view::npos) return {};
    return text.substr(first, text.find_last_not_of(" \t\r") + 1 - first);
}

}  // namespace

std::string desktopEntryText(const std::string& exePath) {
    return "[Desktop Entry]\n"
           "Type=Application\n"
           "Name=Tessaline Tally Connector\n"
           "Comment=Links TallyPrime to Tessaline\n"
           "Exec=" +
           stringValue(quotedArgument(exePath)) +
           " --background\n"
           // The icon theme's name of the installed icon (share/icons/hicolor/*/apps).
           "Icon=tessaline-tally-connector\n"
           "Terminal=false\n"
           "X-GNOME-Autostart-enabled=true\n";
}

bool isAutostartEntryTurnedOff(const std::string& text) {
    bool inEntry = false;
    for (std::size_t at = 0; at < text.size();) {
        std::size_t end = text.find('\n', at);
        if (end == std::string::npos) end = text.size();
        const std::string_view line = trimmed(std::string_view(text).substr(at, end - at));
        at = end + 1;
        if (!line.empty() && line.front() == '[') {
            inEntry = line == "[Desktop Entry]";
            continue;
        }
        const std::size_t equals = line.find('=');
        if (!inEntry || equals == std::string_view::npos) continue;
        const std::string_view key = trimmed(line.substr(0, equals));
        const std::string_view value = trimmed(line.substr(equals + 1));
        if (key == "Hidden" && (value == "true" || value == "1")) return true;
        if (key == "X-GNOME-Autostart-enabled" && (value == "false" || value == "0")) return true;
    }
    return false;
}

}  // namespace tsl
