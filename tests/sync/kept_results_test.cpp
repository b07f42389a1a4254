#include "sync/kept_results.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "common/temp_dir.h"
#include "support/file_append.h"
#include "support/logger.h"
#include "support/text.h"
#include "sync/answer_file.h"
#include "sync/job_journal.h"
#include "sync/kept_location.h"
#include "sync/sync_status.h"

namespace {

using tsl::Json;
using tsl::KeptJob;
using tsl::KeptResults;
using tsl::Pairing;
using tsl::testing::readFile;
using tsl::testing::writeFile;

const Pairing kPairingA{"https://a.example/api", "Org A"};
const Pairing kPairingB{"https://b.example/api", "Org B"};

Json resultsWith(const std::string& body) {
    Json item;
    item.set("ref", Json("r1")).set("ok", Json(true)).set("httpStatus", Json(200.0));
    item.set("body", Json(body)).set("error", Json());
    return Json(Json::Array{item});
}

KeptJob job(const std::string& id, const std::string& body = "a", const std::string& error = "") {
    return KeptJob{id, "import", resultsWith(body), error, kPairingA, 0, 1767225600, 0};
}

class KeptResultsTest : public ::testing::Test {
  protected:
    void SetUp() override { tsl::Logger::startIn(dir.path() / "logs", false); }
    void TearDown() override { tsl::Logger::reset(); }

    std::filesystem::path file() const { return dir.path() / "kept-results.json"; }
    std::filesystem::path asideFile() const { return dir.path() / tsl::kSetAsideFileName; }
    KeptResults loaded(const Pairing& current = kPairingA) const {
        KeptResults kept(file());
        kept.reload(current);
        return kept;
    }
    std::string log() const { return readFile(dir.path() / "logs" / "connector.log"); }
    // The contents of the files in the folder whose names start so.
    static std::vector<std::string> filesNamed(const std::filesystem::path& folder,
                                               const std::string& prefix) {
        std::vector<std::string> found;
        for (const auto& entry : std::filesystem::directory_iterator(folder)) {
            if (entry.path().filename().string().rfind(prefix, 0) == 0)
                found.push_back(readFile(entry.path()));
        }
        return found;
    }

    tsl::testing::TempDir dir;
};

TEST_F(KeptResultsTest, EntriesComeBackAfterARestartOldestFirst) {
    const std::string awkward = "<A>Caf\xC3\xA9 \"q\" \\ \x01 \xE2\x82\xB9</A>\r\n";
    {
        KeptResults kept = loaded();
        EXPECT_EQ(kept.size(), 0u);
        EXPECT_FALSE(std::filesystem::exists(file()));
        kept.keep(job("j-1", awkward, "Tally stopped responding: cut"));
        // 2099-12-31 23:59:59, past 32 bits
        kept.keep({"j/2?", "import", resultsWith(""), "", kPairingB, 7, 4102444799, 0});
        kept.keep(job(""));  // ids are kept as the server sent them
    }
    KeptResults again = loaded(kPairingB);
    ASSERT_EQ(again.size(), 3u);
    ASSERT_NE(again.find(""), nullptr);
    again.remove("");
    const KeptJob &first = again.oldest(), *second = again.find("j/2?");
    EXPECT_EQ(first.id + first.kind + first.error, "j-1importTally stopped responding: cut");
    EXPECT_EQ(first.results, resultsWith(awkward));
    EXPECT_EQ(first.pairing, kPairingA);
    EXPECT_EQ(first.keptAt, 1767225600);
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(second->pairing, kPairingB);
    EXPECT_EQ(second->attempts, 7u);
    EXPECT_EQ(second->keptAt, 4102444799);
    again.countFailedAttempt("j/2?");
    EXPECT_EQ(loaded().find("j/2?")->attempts, 8u);
    EXPECT_EQ(again.find("missing"), nullptr);
    EXPECT_NE(readFile(file()).find("\"keptAt\":\"2026-01-01T00:00:00Z\""), std::string::npos);

    again.remove("j-1");
    EXPECT_EQ(loaded().oldest().id, "j/2?");
    again.remove("j/2?");
    EXPECT_FALSE(std::filesystem::exists(file()));  // nothing kept: no file
    EXPECT_EQ(log().find("[ERROR]"), std::string::npos);
}

// Files of the first format recorded no pairing: they belong to the one current when first
// read, and keep belonging to it after a new pairing.
TEST_F(KeptResultsTest, FirstFormatEntriesTakeThePairingOfTheirFirstReading) {
    writeFile(file(),
              R"({"jobs":[{"error":null,"id":"old-1","kind":"import","results":[]}],"version":1})");
    EXPECT_EQ(loaded(kPairingB).oldest().pairing, kPairingB);
    const KeptResults later = loaded(kPairingA);
    ASSERT_EQ(later.size(), 1u);
    EXPECT_EQ(later.oldest().pairing, kPairingB);
    EXPECT_EQ(later.oldest().attempts, 0u);
    EXPECT_NE(readFile(file()).find("\"version\":3"), std::string::npos);
}

TEST_F(KeptResultsTest, SetAsideEntriesAreAddedNeverOverwritten) {
    KeptResults kept = loaded();
    kept.keep(job("j-1", "{\"x\":[1,{\"y\":\"}\"}]}"));  // braces in the answer do not count
    kept.keep(job("j-2"));
    kept.keep(job("j-3"));
    EXPECT_EQ(kept.setAsideCount(), 0u);
    EXPECT_EQ(kept.setAside("j-1", "Tessaline answered HTTP 404"), "");
    EXPECT_EQ(kept.setAside("j-2", "another reason"), "");
    EXPECT_EQ(kept.setAsideCount(), 2u);
    EXPECT_EQ(loaded().size(), 1u);  // moved, not copied

    const Json aside = Json::parse(readFile(asideFile())).get("jobs");
    ASSERT_EQ(aside.items().size(), 2u);
    EXPECT_EQ(aside.items()[0].get("id").stringOr(""), "j-1");
    EXPECT_EQ(aside.items()[0].get("reason").stringOr(""), "Tessaline answered HTTP 404");
    EXPECT_EQ(aside.items()[0].get("results"), resultsWith("{\"x\":[1,{\"y\":\"}\"}]}"));
    EXPECT_EQ(aside.items()[1].get("organisation").stringOr(""), "Org A");

    // A file there that this program did not write is renamed, not overwritten.
    writeFile(asideFile(), "{\"notes\": \"a person's\"}");
    EXPECT_EQ(kept.setAsideCount(), 0u);
    EXPECT_EQ(kept.setAside("j-3", "r"), "");
    EXPECT_EQ(kept.setAsideCount(), 1u);
    EXPECT_EQ(filesNamed(dir.path(), "kept-results.set-aside.json.damaged-"),
              std::vector<std::string>{"{\"notes\": \"a person's\"}"});
    EXPECT_EQ(tsl::countSetAsideEntries(R"({"jobs":[],"version":2})"), 0);
    EXPECT_EQ(tsl::countSetAsideEntries(R"({"jobs":[{"a":"]"}],"version":2})"), 1);
    EXPECT_EQ(tsl::countSetAsideEntries(R"({"jobs":[{"a":"\"}],"version":2})"), -1);
}

TEST_F(KeptResultsTest, OldestAreDroppedBeyondTheBounds) {
    struct Case {
        tsl::KeptLimits limits;
        std::size_t bodyBytes;
        std::size_t left;
    } cases[] = {
        {{3, 1u << 20}, 10, 3},            // by count
        {{100, 2800}, 1000, 2},            // by size
        {{100, 1u << 20, 2800}, 1000, 2},  // by what the file holds
        {{100, 500}, 1000, 1},             // the newest stays, however large
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.left);
        std::filesystem::remove(file());
        KeptResults kept(file(), c.limits);
        for (int i = 1; i <= 4; ++i)
            kept.keep(job("j-" + std::to_string(i), std::string(c.bodyBytes, 'x')));
        EXPECT_EQ(kept.size(), c.left);
        EXPECT_EQ(kept.oldest().id, "j-" + std::to_string(5 - c.left));
        EXPECT_NE(log().find("[ERROR] Dropped the kept results of job j-1 (import): more than "),
                  std::string::npos);
        EXPECT_EQ(loaded().size(), c.left);  // the file agrees
    }
}

// Answers in files go with their job: kept over a restart and counted in the bounds, removed,
// dropped or set aside with it; what no job names is removed. A file not as recorded makes the
// kept file damaged, and the answers go aside with it.
TEST_F(KeptResultsTest, AnswerFilesGoWithTheirJob) {
    const std::filesystem::path answers = dir.path() / "answers";
    const std::filesystem::path aside = dir.path() / "set-aside-answers";
    auto inFile = [&](const std::string& id, const std::string& name, const std::string& text) {
        std::filesystem::create_directories(answers);
        writeFile(answers / name, text);
        Json item;
        item.set("ref", Json("r1")).set("ok", Json(true)).set("httpStatus", Json(200.0));
        item.set("error", Json()).set("bodyFile", Json(name));
        item.set("bodyBytes", Json(std::to_string(text.size())));
        return KeptJob{id, "import", Json(Json::Array{item}), "", kPairingA, 0, 1767225600, 0};
    };
    const std::string y = "\"" + std::string(600, 'y') + "\"";
    {
        KeptResults kept(file(), {100, 1200});
        kept.keep(inFile("j-1", "1.jstr", "\"" + std::string(600, 'x') + "\""));
        kept.keep(inFile("j-2", "2.jstr", y));
        kept.keep(inFile("j-3", "3.jstr", "\"z\""));
        EXPECT_EQ(kept.size(), 2u);
        EXPECT_FALSE(std::filesystem::exists(answers / "1.jstr"));
    }
    writeFile(answers / "7.jstr.tmp-1-2", "\"cut");
    KeptResults kept = loaded();
    ASSERT_EQ(kept.size(), 2u);
    EXPECT_EQ(kept.oldest().results.items()[0].get("bodyFile").stringOr(""), "2.jstr");
    kept.removeStrayAnswers();
    EXPECT_FALSE(std::filesystem::exists(answers / "7.jstr.tmp-1-2"));
    EXPECT_EQ(kept.setAside("j-2", "r"), "");
    EXPECT_EQ(readFile(aside / "1.jstr"), y);
    EXPECT_EQ(Json::parse(readFile(asideFile())).get("jobs").items()[0].get("results").dump(),
              R"([{"bodyBytes":"602","bodyFile":"1.jstr","error":null,"httpStatus":200,)"
              R"("ok":true,"ref":"r1"}])");
    kept.remove("j-3");
    EXPECT_TRUE(std::filesystem::is_empty(answers));

    kept.keep(inFile("j-4", "4.jstr", "\"abc\""));
    writeFile(answers / "4.jstr", "\"abc");
    EXPECT_EQ(loaded().size(), 0u);
    EXPECT_EQ(filesNamed(dir.path(), "kept-results.json.damaged-").size(), 1u);
    EXPECT_FALSE(std::filesystem::exists(answers));
    EXPECT_EQ(filesNamed(dir.path(), "answers.damaged-").size(), 1u);  // the folder, read as ""
}

// An answer that proves to be ANSI part way is written again from its start, in memory or in
// its file; the answer is what the whole answer gives, nothing is left beside the file, and
// without a commit no file stays. Past its limit an answer goes to a file.
TEST_F(KeptResultsTest, AnswerFileWrittenAgainWhenTheAnswerIsNotUtf8) {
    const std::filesystem::path folder = dir.path() / "answers";
    std::string raw;
    for (int i = 0; raw.size() < (std::size_t{300} << 10); ++i)
        raw += "<L>\"" + std::to_string(i) + "\"</L>\n";
    raw += "caf\xE9";
    const std::size_t limits[] = {std::size_t{1} << 20, 1000, 1000};  // the last not committed
    for (std::size_t i = 0; i < std::size(limits); ++i) {
        tsl::AnswerFile file(folder, limits[i]);
        tsl::AnswerEncoder encoder(file);
        for (std::size_t at = 0; at < raw.size(); at += 70000)
            encoder.feed(std::string_view(raw).substr(at, 70000));
        encoder.finish();
        EXPECT_EQ(file.inFile(), i > 0);
        EXPECT_EQ(i == 0 ? file.takeText() : tsl::decodeText(raw), tsl::decodeText(raw));
        EXPECT_TRUE(i != 1 || file.commit());
    }
    const std::string whole = Json(tsl::decodeText(raw)).dump();
    for (const std::uint64_t room : {whole.size(), whole.size() - 1}) {  // past it, it stops
        tsl::AnswerFile file(folder, 1000, room);
        tsl::AnswerEncoder encoder(file);
        const auto relay = [&] {
            encoder.feed(raw);
            encoder.finish();
        };
        if (room == whole.size())
            EXPECT_NO_THROW(relay());
        else
            EXPECT_THROW(relay(), std::length_error);
    }
    EXPECT_EQ(filesNamed(folder, ""), std::vector<std::string>{whole});
    EXPECT_EQ(tsl::newAnswerFileName(folder), "2.jstr");
}

TEST_F(KeptResultsTest, FileThatCannotBeWrittenKeepsThemInMemory) {
    const std::filesystem::path folder = dir.path() / "later";
    KeptResults kept(folder / "kept-results.json");
    kept.keep(job("j-1"));
    kept.keep(job("j-2"));
    const std::string lines = log(), failing =
                                         "[ERROR] Kept results are only in memory until "
                                         "the file can be written: Could not create ";
    ASSERT_NE(lines.find(failing), std::string::npos) << lines;
    EXPECT_EQ(lines.find(failing, lines.find(failing) + 1), std::string::npos);  // once
    EXPECT_NE(kept.setAside("j-1", "r"), "");  // nowhere to set it aside: it stays kept
    EXPECT_EQ(kept.size(), 2u);

    std::filesystem::create_directory(folder);
    kept.keep(job("j-3"));
    EXPECT_NE(log().find("[INFO] The kept results file can be written again"), std::string::npos);
    KeptResults again(folder / "kept-results.json");
    again.reload(kPairingA);
    EXPECT_EQ(again.size(), 3u);
    EXPECT_EQ(filesNamed(folder, "").size(), 1u);  // no temporary file is left behind

    // The file read again while it is behind: what was kept since joins it, what went since
    // does not come back.
    std::filesystem::rename(folder, dir.path() / "away");
    kept.remove("j-1");
    kept.keep(job("j-4"));
    std::filesystem::rename(dir.path() / "away", folder);
    for (KeptResults* reader : {&kept, &again}) {
        reader->reload(kPairingA);
        EXPECT_EQ(reader->size(), 3u);
        EXPECT_EQ(reader->find("j-1"), nullptr);
        EXPECT_NE(reader->find("j-4"), nullptr);
    }
}

// Kept files beside connector.ini move to the state folder; one whose name is taken there
// arrives under a free name.
TEST_F(KeptResultsTest, KeptFilesMoveToTheStateFolderWithoutLosingOne) {
    const std::filesystem::path from = dir.path() / "roaming", to = dir.path() / "local";
    std::filesystem::create_directories(from);
    std::filesystem::create_directories(to);
    writeFile(from / "connector.ini", "ini");
    writeFile(from / "kept-results.json", "old kept");
    writeFile(from / "kept-results.set-aside.json", "old aside");
    writeFile(from / "kept-results.json.damaged-20260101-000000", "damaged");
    writeFile(to / "kept-results.json", "new kept");
    tsl::moveKeptFiles(from, to);
    tsl::moveKeptFiles(to, to);  // the same folder: nothing

    EXPECT_EQ(readFile(to / "kept-results.json"), "new kept");
    EXPECT_EQ(readFile(to / "kept-results.json.earlier"), "old kept");
    EXPECT_EQ(readFile(to / "kept-results.set-aside.json"), "old aside");
    EXPECT_EQ(readFile(to / "kept-results.json.damaged-20260101-000000"), "damaged");
    EXPECT_EQ(filesNamed(from, ""), std::vector<std::string>{"ini"});
    EXPECT_NE(log().find("[INFO] Moved 3 file(s) of kept results from "), std::string::npos);
    EXPECT_NE(log().find("[WARN] Kept results kept-results.json from "), std::string::npos);
}

// A damaged or unreadable file never stops the start: it is set aside for a person to look at,
// and nothing in it, not even the entries before the damage, is taken for kept answers.
TEST_F(KeptResultsTest, DamagedFileIsSetAside) {
    const std::string valid = R"({"error":null,"id":"j","kind":"k","results":[]})";
    const std::string cases[] = {
        "{\"jobs\":[{\"id\":", R"({"jobs":[)" + valid + R"(,{"id":5}],"version":1})",
        R"({"jobs":[],"version":9})", "folder"};
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        SCOPED_TRACE(cases[i]);
        const std::filesystem::path folder = dir.path() / std::to_string(i);
        const std::filesystem::path file = folder / "kept-results.json";
        std::filesystem::create_directories(cases[i] == "folder" ? file : folder);
        writeFile(cases[i] == "folder" ? file / "x" : file, cases[i]);
        KeptResults kept(file);
        kept.reload(kPairingA);
        EXPECT_EQ(kept.size(), 0u);
        EXPECT_FALSE(std::filesystem::exists(file));
        const std::vector<std::string> aside = filesNamed(folder, "kept-results.json.damaged-");
        ASSERT_EQ(aside.size(), 1u);
        EXPECT_EQ(aside[0], cases[i] == "folder" ? "" : cases[i]);  // a folder reads as ""
    }
    EXPECT_NE(log().find("[ERROR] The kept results file cannot be used ("), std::string::npos);
}

// A process ended in the middle of a job: its journal becomes the job to report, with the answer
// that arrived, the request that was on its way and the one never sent told apart.
TEST_F(KeptResultsTest, JournalOfAJobCutShortBecomesAKeptJob) {
    const auto file = dir.path() / tsl::JobJournal::kFileName;
    tsl::Job running{"job-7", "import", {{"a", "<A/>"}, {"b", "<B/>"}, {"c", "<C/>"}}};
    {
        tsl::JobJournal journal(file);
        ASSERT_TRUE(journal.begin(running, kPairingB, 1767225600));
        journal.sending(0);
        tsl::JobResult answer{"a", true, 200, "<A/>\n\"q\"", "", "", 0};
        journal.answered(0, answer);
        EXPECT_EQ(answer.body, "<A/>\n\"q\"");  // lent to the journal, given back
        journal.sending(1);
        std::filesystem::create_directories(dir.path() / "answers");
        writeFile(dir.path() / "answers" / "4.jstr", "\"<B/>\"");
        tsl::JobResult inFile{"b", true, 200, "", "", "4.jstr", 6};
        journal.answered(1, inFile);
        journal.sending(2);
        tsl::JobResult lost{"c", true, 200, "", "", "5.jstr", 6};  // its file is not there
        journal.answered(2, lost);
    }  // the process ends here, half through writing a line
    tsl::appendToFile(file, "{\"answered\":1,\"res");

    const std::optional<KeptJob> cut = tsl::JobJournal(file).recover();
    ASSERT_TRUE(cut.has_value());
    EXPECT_EQ(cut->id + cut->kind, "job-7import");
    EXPECT_EQ(cut->pairing, kPairingB);
    EXPECT_EQ(cut->keptAt, 1767225600);
    EXPECT_EQ(cut->error, tsl::JobJournal::kStoppedInFlight);
    EXPECT_EQ(cut->results.dump(),
              R"([{"body":"<A/>\n\"q\"","error":null,"httpStatus":200,"ok":true,"ref":"a"},)"
              R"({"bodyBytes":"6","bodyFile":"4.jstr","error":null,"httpStatus":200,"ok":true,)"
              R"("ref":"b"},{"body":"","error":")" +
                  std::string(tsl::JobJournal::kStoppedInFlight) +
                  R"(","httpStatus":0,"ok":false,"ref":"c"}])");
    EXPECT_FALSE(std::filesystem::exists(file));
    EXPECT_FALSE(tsl::JobJournal(file).recover().has_value());

    // A finished job leaves nothing to recover; a file that is no journal is set aside.
    tsl::JobJournal done(file);
    done.begin(running, kPairingA, 1);
    done.finish();
    EXPECT_FALSE(std::filesystem::exists(file));
    writeFile(file, "not a journal\n");
    EXPECT_FALSE(tsl::JobJournal(file).recover().has_value());
    EXPECT_FALSE(std::filesystem::exists(file));

    // Lines naming no request of the job (a damaged file) change nothing.
    tsl::JobJournal damaged(file);
    damaged.begin(running, kPairingA, 1);
    damaged.sending(3);
    tsl::appendToFile(file, "{\"sending\":-1}\n{\"answered\":3,\"result\":{\"ok\":true}}\n");
    const std::optional<KeptJob> none = tsl::JobJournal(file).recover();
    ASSERT_TRUE(none.has_value());
    ASSERT_EQ(none->results.items().size(), 3u);
    for (const tsl::Json& item : none->results.items())
        EXPECT_EQ(item.get("error").stringOr(""), "Not sent to Tally: the connector ended");
}

}  // namespace
