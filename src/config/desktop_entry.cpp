#include "config/desktop_entry.h"

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

}  // namespace tsl
