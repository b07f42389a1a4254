#include "tally_xml.h"

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <vector>

namespace sandbox {

namespace {

// Code points of UTF-8 text; a broken sequence gives U+FFFD for its first byte.
std::vector<char32_t> codePoints(const std::string& utf8) {
    std::vector<char32_t> out;
    std::size_t i = 0;
    while (i < utf8.size()) {
        const auto lead = static_cast<unsigned char>(utf8[i]);
        const std::size_t extra = lead < 0x80 ? 0 : lead >= 0xF0 ? 3 : lead >= 0xE0 ? 2 : 1;
        bool whole = lead < 0x80 || (lead >= 0xC0 && i + extra < utf8.size());
        for (std::size_t k = 1; whole && k <= extra; ++k) {
            whole = (static_cast<unsigned char>(utf8[i + k]) & 0xC0) == 0x80;
        }
        if (!whole) {
            out.push_back(0xFFFD);
            ++i;
            continue;
        }
        char32_t cp = extra == 0 ? lead : lead & (0x3F >> extra);
        for (std::size_t k = 1; k <= extra; ++k) {
            cp = (cp << 6) | (static_cast<unsigned char>(utf8[i + k]) & 0x3F);
        }
        out.push_back(cp);
        i += extra + 1;
    }
    return out;
}

// Windows-1252's 0x80..0x9F row; 0 where the code page has no character.
constexpr char16_t kCp1252High[32] = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

char toCp1252(char32_t cp) {
    if (cp < 0x80 || (cp >= 0xA0 && cp <= 0xFF)) return static_cast<char>(cp);
    for (int i = 0; i < 32; ++i) {
        if (kCp1252High[i] != 0 && kCp1252High[i] == cp) return static_cast<char>(0x80 + i);
    }
    return '?';
}

void appendUtf16Le(std::string& out, char32_t cp) {
    auto unit = [&out](char32_t u) {
        out.push_back(static_cast<char>(u & 0xFF));
        out.push_back(static_cast<char>((u >> 8) & 0xFF));
    };
    if (cp >= 0x10000) {
        cp -= 0x10000;
        unit(0xD800 + (cp >> 10));
        unit(0xDC00 + (cp & 0x3FF));
    } else {
        unit(cp);
    }
}

std::string upper(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    return text;
}

std::string escapeXml(const std::string& text) {
    std::string out;
    for (char c : text) {
        switch (c) {
            case '&':
                out += "&amp;";
                break;
            case '<':
                out += "&lt;";
                break;
            case '>':
                out += "&gt;";
                break;
            case '"':
                out += "&quot;";
                break;
            case '\'':
                out += "&apos;";
                break;
            default:
                out += c;
        }
    }
    return out;
}

std::string ledger(const std::string& name, const std::string& parent, const std::string& opening) {
    const std::string n = escapeXml(name);
    return "<LEDGER NAME=\"" + n + "\" RESERVEDNAME=\"\"><NAME.LIST TYPE=\"String\"><NAME>" + n +
           "</NAME></NAME.LIST><PARENT TYPE=\"String\">" + escapeXml(parent) +
           "</PARENT><OPENINGBALANCE TYPE=\"Amount\">" + opening + "</OPENINGBALANCE></LEDGER>\r\n";
}

std::string costCentre(const std::string& name, const std::string& category) {
    const std::string n = escapeXml(name);
    return "<COSTCENTRE NAME=\"" + n + "\" RESERVEDNAME=\"\"><NAME.LIST TYPE=\"String\"><NAME>" +
           n + "</NAME></NAME.LIST><CATEGORY TYPE=\"String\">" + escapeXml(category) +
           "</CATEGORY></COSTCENTRE>\r\n";
}

}  // namespace

std::optional<Encoding> encodingFromName(const std::string& name) {
    if (name == "utf8") return Encoding::Utf8;
    if (name == "utf8-bom") return Encoding::Utf8Bom;
    if (name == "utf16le-bom") return Encoding::Utf16LeBom;
    if (name == "utf16le") return Encoding::Utf16Le;
    if (name == "ansi") return Encoding::Ansi;
    return std::nullopt;
}

std::string encodingName(Encoding encoding) {
    switch (encoding) {
        case Encoding::Utf8:
            return "utf8";
        case Encoding::Utf8Bom:
            return "utf8-bom";
        case Encoding::Utf16LeBom:
            return "utf16le-bom";
        case Encoding::Utf16Le:
            return "utf16le";
        case Encoding::Ansi:
            return "ansi";
    }
    return "utf8";
}

std::string encodingCharset(Encoding encoding) {
    switch (encoding) {
        case Encoding::Utf16LeBom:
        case Encoding::Utf16Le:
            return "utf-16";
        case Encoding::Ansi:
            return "windows-1252";
        default:
            return "utf-8";
    }
}

std::string encodeText(const std::string& utf8, Encoding encoding) {
    std::string out;
    switch (encoding) {
        case Encoding::Utf8:
            return utf8;
        case Encoding::Utf8Bom:
            return "\xEF\xBB\xBF" + utf8;
        case Encoding::Utf16LeBom:
            out = "\xFF\xFE";
            [[fallthrough]];
        case Encoding::Utf16Le:
            for (char32_t cp : codePoints(utf8))
                appendUtf16Le(out, cp);
            return out;
        case Encoding::Ansi:
            for (char32_t cp : codePoints(utf8))
                out.push_back(toCp1252(cp));
            return out;
    }
    return utf8;
}

std::string runningAnswer(bool erp9) {
    return erp9 ? "<RESPONSE>Tally.ERP 9 Server is Running</RESPONSE>"
                : "<RESPONSE>TallyPrime Server is Running</RESPONSE>";
}

RequestKind requestKind(const std::string& xml) {
    const std::string text = upper(xml);
    const std::size_t tag = text.find("<TALLYREQUEST>");
    if (tag == std::string::npos || text.find("<ENVELOPE") == std::string::npos) {
        return RequestKind::Unknown;
    }
    const std::string value = text.substr(tag + 14, 6);
    if (value == "EXPORT") return RequestKind::Export;
    if (value == "IMPORT") return RequestKind::Import;
    return RequestKind::Unknown;
}

std::string requestedCompany(const std::string& xml) {
    const std::string text = upper(xml);
    const std::size_t open = text.find("<SVCURRENTCOMPANY>");
    if (open == std::string::npos) return {};
    const std::size_t start = open + 18;
    const std::size_t close = text.find("</SVCURRENTCOMPANY>", start);
    if (close == std::string::npos) return {};
    return xml.substr(start, close - start);
}

std::string exportAnswer(const std::string& company) {
    std::string xml =
        "<ENVELOPE>\r\n<HEADER>\r\n<VERSION>1</VERSION>\r\n<STATUS>1</STATUS>\r\n</HEADER>\r\n"
        "<BODY>\r\n<DESC>\r\n<STATICVARIABLES><SVCURRENTCOMPANY>" +
        escapeXml(company) +
        "</SVCURRENTCOMPANY></STATICVARIABLES>\r\n</DESC>\r\n<DATA>\r\n<COLLECTION>\r\n";
    xml += ledger("Cash", "Cash-in-Hand", "12500.00");
    xml += ledger("Profit & Loss A/c", "Primary", "0.00");
    xml += ledger("Müller & Söhne GmbH", "Sundry Creditors", "-48250.75");
    xml += ledger("Café Lumière Supplies", "Sundry Debtors", "3180.40");
    xml += ledger("Sales – Exports €", "Sales Accounts", "0.00");
    xml += ledger("Office Rent ₹ Mumbai", "Indirect Expenses", "0.00");
    xml += costCentre("Head Office", "Primary Cost Category");
    xml += costCentre("Branch – Zürich", "Primary Cost Category");
    xml += "</COLLECTION>\r\n</DATA>\r\n</BODY>\r\n</ENVELOPE>\r\n";
    return xml;
}

bool asksForCompanies(const std::string& xml) {
    return upper(xml).find("<TYPE>COMPANY</TYPE>") != std::string::npos;
}

std::string openCompaniesAnswer(const std::string& company) {
    std::string xml =
        "<ENVELOPE>\r\n<HEADER>\r\n<VERSION>1</VERSION>\r\n<STATUS>1</STATUS>\r\n</HEADER>\r\n"
        "<BODY>\r\n<DESC>\r\n</DESC>\r\n<DATA>\r\n<COLLECTION>\r\n";
    if (!company.empty()) {
        const std::string name = escapeXml(company);
        xml += "<COMPANY NAME=\"" + name + "\" RESERVEDNAME=\"\"><NAME TYPE=\"String\">" + name +
               "</NAME></COMPANY>\r\n";
    }
    return xml + "</COLLECTION>\r\n</DATA>\r\n</BODY>\r\n</ENVELOPE>\r\n";
}

std::string importAnswer(int created, int altered, int errors) {
    return "<ENVELOPE>\r\n<HEADER>\r\n<VERSION>1</VERSION>\r\n<STATUS>1</STATUS>\r\n</HEADER>\r\n"
           "<BODY>\r\n<DATA>\r\n<IMPORTRESULT>\r\n<CREATED>" +
           std::to_string(created) + "</CREATED>\r\n<ALTERED>" + std::to_string(altered) +
           "</ALTERED>\r\n<DELETED>0</DELETED>\r\n<LASTVCHID>0</LASTVCHID>\r\n<LASTMID>0</LASTMID>"
           "\r\n<COMBINED>0</COMBINED>\r\n<IGNORED>0</IGNORED>\r\n<ERRORS>" +
           std::to_string(errors) +
           "</ERRORS>\r\n<CANCELLED>0</CANCELLED>\r\n<EXCEPTIONS>0</EXCEPTIONS>\r\n"
           "</IMPORTRESULT>\r\n</DATA>\r\n</BODY>\r\n</ENVELOPE>\r\n";
}

std::string unknownRequestAnswer() {
    return "<RESPONSE>Unknown Request, cannot be processed</RESPONSE>\r\n";
}

std::string companyNotLoadedAnswer(const std::string& company) {
    return "<ENVELOPE>\r\n<HEADER>\r\n<VERSION>1</VERSION>\r\n<STATUS>0</STATUS>\r\n</HEADER>\r\n"
           "<BODY>\r\n<DATA>\r\n<LINEERROR>Could not set &apos;SVCurrentCompany&apos; to &apos;" +
           escapeXml(company) + "&apos;</LINEERROR>\r\n</DATA>\r\n</BODY>\r\n</ENVELOPE>\r\n";
}

int importedObjects(const std::string& xml) {
    const std::string text = upper(xml);
    int count = 0;
    for (std::size_t at = text.find("<TALLYMESSAGE"); at != std::string::npos;
         at = text.find("<TALLYMESSAGE", at + 1)) {
        ++count;
    }
    return std::max(count, 1);
}

std::string sampleImportRequest(const std::string& company, const std::string& ledgerName) {
    return "<ENVELOPE><HEADER><TALLYREQUEST>Import Data</TALLYREQUEST></HEADER><BODY><IMPORTDATA>"
           "<REQUESTDESC><REPORTNAME>All Masters</REPORTNAME><STATICVARIABLES><SVCURRENTCOMPANY>" +
           escapeXml(company) +
           "</SVCURRENTCOMPANY></STATICVARIABLES></REQUESTDESC><REQUESTDATA>"
           "<TALLYMESSAGE xmlns:UDF=\"TallyUDF\"><LEDGER NAME=\"" +
           escapeXml(ledgerName) + "\" ACTION=\"Create\"><NAME.LIST><NAME>" +
           escapeXml(ledgerName) +
           "</NAME></NAME.LIST><PARENT>Sundry Debtors</PARENT><ISBILLWISEON>Yes</ISBILLWISEON>"
           "</LEDGER></TALLYMESSAGE></REQUESTDATA></IMPORTDATA></BODY></ENVELOPE>";
}

std::string sampleExportRequest(const std::string& company) {
    return "<ENVELOPE><HEADER><VERSION>1</VERSION><TALLYREQUEST>Export</TALLYREQUEST>"
           "<TYPE>Collection</TYPE><ID>Ledgers and Cost Centres</ID></HEADER><BODY><DESC>"
           "<STATICVARIABLES><SVCURRENTCOMPANY>" +
           escapeXml(company) +
           "</SVCURRENTCOMPANY><SVEXPORTFORMAT>$$SysName:XML</SVEXPORTFORMAT></STATICVARIABLES>"
           "<TDL><TDLMESSAGE><COLLECTION NAME=\"Ledgers and Cost Centres\"><TYPE>Ledger</TYPE>"
           "<FETCH>Name, Parent, OpeningBalance</FETCH></COLLECTION></TDLMESSAGE></TDL>"
           "</DESC></BODY></ENVELOPE>";
}

}  // namespace sandbox
