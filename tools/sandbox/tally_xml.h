#pragma once

#include <optional>
#include <string>

namespace sandbox {

// The text encodings Tally's answers come in.
enum class Encoding { Utf8, Utf8Bom, Utf16LeBom, Utf16Le, Ansi };

std::optional<Encoding> encodingFromName(const std::string& name);
std::string encodingName(Encoding encoding);
// The charset for Content-Type.
std::string encodingCharset(Encoding encoding);
// UTF-8 text in the encoding; characters that Windows-1252 lacks become "?".
std::string encodeText(const std::string& utf8, Encoding encoding);

// The answer to GET /: "<RESPONSE>TallyPrime Server is Running</RESPONSE>", or the
// Tally.ERP 9 sentence when erp9.
std::string runningAnswer(bool erp9);

// What kind of request an XML text is, by its TALLYREQUEST element.
enum class RequestKind { Export, Import, Unknown };
RequestKind requestKind(const std::string& xml);

// The SVCURRENTCOMPANY the request names, or "" when it names none.
std::string requestedCompany(const std::string& xml);

// Answers, as UTF-8 text.
std::string exportAnswer(const std::string& company);
// A request for the collection of open companies (of type Company), and its answer: the loaded
// company, or none when it is "".
bool asksForCompanies(const std::string& xml);
std::string openCompaniesAnswer(const std::string& company);
std::string importAnswer(int created, int altered, int errors);
std::string unknownRequestAnswer();
std::string companyNotLoadedAnswer(const std::string& company);

// The number of TALLYMESSAGE elements in an import request (at least 1).
int importedObjects(const std::string& xml);

// Requests as the Tessaline server would send them: a ledger import and a ledger export.
std::string sampleImportRequest(const std::string& company, const std::string& ledger);
std::string sampleExportRequest(const std::string& company);

}  // namespace sandbox
