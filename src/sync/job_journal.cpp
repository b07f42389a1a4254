#include "sync/job_journal.h"

#include <charconv>
#include <system_error>
#include <utility>
#include <vector>

#include "api/api_client.h"
#include "support/durable_file.h"
#include "support/file_append.h"
#include "support/logger.h"
#include "sync/set_aside_file.h"

namespace tsl {

namespace {

constexpr int kFormatVersion = 1;

Json resultItem(const std::string& ref, bool ok, std::uint32_t status, std::string body,
                const std::string& error) {
    Json item;
    item.set("ref", Json(ref)).set("ok", Json(ok));
    item.set("httpStatus", Json(static_cast<double>(status))).set("body", Json(std::move(body)));
    item.set("error", error.empty() ? Json() : Json(error));
    return item;
}

std::vector<std::string> splitLines(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    for (std::size_t end = text.find('\n'); end != std::string::npos;
         start = end + 1, end = text.find('\n', start)) {
        lines.push_back(text.substr(start, end - start));
    }
    if (start < text.size()) lines.push_back(text.substr(start));  // cut short: parsed or not
    return lines;
}

std::optional<Json> parsed(const std::string& line) {
    try {
        return Json::parse(line);
    } catch (const JsonError&) {
        return std::nullopt;
    }
}

// An index from a line, or nothing when it is not one of the job's requests.
std::optional<std::size_t> indexIn(const Json& value, std::size_t count) {
    if (!value.isNumber()) return std::nullopt;
    const int index = value.intOr(-1);
    if (index < 0 || static_cast<std::size_t>(index) >= count) return std::nullopt;
    return static_cast<std::size_t>(index);
}

// An answer named by its file is taken only when the file is there whole (a damaged kept file
// may have taken the answers folder aside with it); the request then reads as in flight.
bool answerOnDisk(const std::filesystem::path& folder, const Json& result) {
    if (result.get(ReportBody::kBodyFile).isNull()) return true;
    std::string name;
    std::uint64_t bytes = 0;
    std::error_code ec;
    return answerFileOf(result, name, bytes) &&
           std::filesystem::file_size(folder / KeptResults::kAnswersFolder / name, ec) == bytes &&
           !ec;
}

}  // namespace

bool JobJournal::append(const Json& line) {
    if (!writing_) return false;
    // Written as it is (a large answer is not copied once more to add the line's end), then
    // the end, with which everything goes to the disk.
    if (appendToFile(file_, line.dump()) && appendToFile(file_, "\n", AppendMode::Flushed)) {
        return true;
    }
    // Without its journal the job still runs and is kept whole at its end, as it always was.
    Logger::error("The answers of the job in progress cannot be written down as they arrive (" +
                  file_.filename().string() + "); they are kept when the job is done");
    writing_ = false;
    return false;
}

bool JobJournal::begin(const Job& job, const Pairing& pairing, std::int64_t keptAt) {
    std::error_code ec;
    std::filesystem::remove(file_, ec);
    Json refs(Json::Array{});
    for (const JobRequest& request : job.requests)
        refs.push(Json(request.ref));
    Json header;
    header.set("version", Json(static_cast<double>(kFormatVersion)));
    header.set("id", Json(job.id)).set("kind", Json(job.kind)).set("refs", std::move(refs));
    header.set("server", Json(pairing.server)).set("organisation", Json(pairing.organisation));
    header.set("keptAt", Json(std::to_string(keptAt)));
    writing_ = true;
    return append(header);
}

void JobJournal::sending(std::size_t index) {
    Json line;
    line.set("sending", Json(static_cast<double>(index)));
    append(line);
}

void JobJournal::answered(std::size_t index, JobResult& result) {
    if (!writing_) return;
    Json line;
    line.set("answered", Json(static_cast<double>(index)));
    if (!result.bodyFile.empty()) {
        // The answer is already whole in its file: the line names it.
        std::vector<JobResult> one{result};
        append(line.set("result", ApiClient::resultsArray(std::move(one)).items().front()));
        return;
    }
    // The body (tens of MB, perhaps) goes into the line and back out again, never copied.
    line.set("result", resultItem(result.ref, result.ok, result.httpStatus, std::move(result.body),
                                  result.error));
    append(line);
    result.body = line.find("result")->find("body")->takeStringOr("");
}

void JobJournal::finish() {
    writing_ = false;
    std::error_code ec;
    std::filesystem::remove(file_, ec);
}

std::optional<KeptJob> JobJournal::recover() {
    std::string text, error;
    if (readWholeFile(file_, text, error) != ReadOutcome::Read) return std::nullopt;
    const std::vector<std::string> lines = splitLines(text);
    text = std::string();
    const std::optional<Json> header = lines.empty() ? std::nullopt : parsed(lines.front());
    if (!header || header->get("version").intOr(0) != kFormatVersion ||
        !header->get("id").isString() || !header->get("refs").isArray()) {
        renameDamagedFile(file_, "The journal of the job in progress", "it is not one");
        return std::nullopt;
    }
    const Json::Array& refs = header->get("refs").items();
    std::vector<Json> results;
    std::vector<bool> inFlight(refs.size(), false);
    for (const Json& ref : refs)
        results.push_back(resultItem(ref.stringOr(""), false, 0, std::string(), kNotSent));
    for (std::size_t i = 1; i < lines.size(); ++i) {
        const std::optional<Json> line = parsed(lines[i]);
        if (!line) break;  // the last line, cut short when the process ended
        if (const auto sent = indexIn(line->get("sending"), refs.size())) {
            inFlight[*sent] = true;
            results[*sent] =
                resultItem(refs[*sent].stringOr(""), false, 0, std::string(), kStoppedInFlight);
        } else if (const auto done = indexIn(line->get("answered"), refs.size())) {
            const Json& result = line->get("result");
            if (result.isObject() && answerOnDisk(file_.parent_path(), result)) {
                results[*done] = result;
            }
        }
    }
    KeptJob job;
    job.id = header->get("id").stringOr("");
    job.kind = header->get("kind").stringOr("");
    job.pairing =
        Pairing{header->get("server").stringOr(""), header->get("organisation").stringOr("")};
    const std::string keptAt = header->get("keptAt").stringOr("");
    std::from_chars(keptAt.data(), keptAt.data() + keptAt.size(), job.keptAt);
    // The job's own error is its first failure, as when it runs to the end.
    for (const Json& result : results) {
        if (const Json& e = result.get("error"); e.isString()) {
            job.error = e.stringOr("");
            break;
        }
    }
    job.results = Json(std::move(results));
    std::error_code ec;
    std::filesystem::remove(file_, ec);
    return job;
}

}  // namespace tsl
