#include "sync/kept_results.h"

#include <gtest/gtest.h>

#include <string>

#include "common/temp_dir.h"
#include "support/logger.h"

namespace {

using tsl::Json;
using tsl::KeptJob;
using tsl::KeptResults;
using tsl::testing::readFile;

Json resultsWith(const std::string& body) {
    Json item;
    item.set("ref", Json("r1")).set("ok", Json(true)).set("httpStatus", Json(200.0));
    item.set("body", Json(body)).set("error", Json());
    return Json(Json::Array{item});
}

class KeptResultsTest : public ::testing::Test {
  protected:
    void SetUp() override { tsl::Logger::startIn(dir.path() / "logs", false); }
    void TearDown() override { tsl::Logger::reset(); }

    std::filesystem::path file() const { return dir.path() / "kept-results.json"; }
    std::string log() const { return readFile(dir.path() / "logs" / "connector.log"); }

    tsl::testing::TempDir dir;
};

TEST_F(KeptResultsTest, EntriesComeBackAfterARestartOldestFirst) {
    const std::string awkward = "<A>Caf\xC3\xA9 \"q\" \\ \x01 \xE2\x82\xB9</A>\r\n";
    {
        KeptResults kept(file());
        EXPECT_EQ(kept.size(), 0u);
        EXPECT_FALSE(std::filesystem::exists(file()));
        kept.keep({"j-1", "import", resultsWith(awkward), "Tally stopped responding: cut"});
        kept.keep({"j/2?", "export", resultsWith(""), ""});
        kept.keep(
            {"", "", resultsWith("no id given"), ""});  // ids are kept as the server sent them
    }
    KeptResults again(file());
    ASSERT_EQ(again.size(), 3u);
    ASSERT_NE(again.find(""), nullptr);
    EXPECT_EQ(again.find("")->results, resultsWith("no id given"));
    again.remove("");
    EXPECT_EQ(again.oldest().id, "j-1");
    EXPECT_EQ(again.oldest().kind, "import");
    EXPECT_EQ(again.oldest().error, "Tally stopped responding: cut");
    EXPECT_EQ(again.oldest().results, resultsWith(awkward));
    ASSERT_NE(again.find("j/2?"), nullptr);
    EXPECT_EQ(again.find("j/2?")->error, "");
    EXPECT_EQ(again.find("missing"), nullptr);

    again.remove("j-1");
    EXPECT_EQ(KeptResults(file()).oldest().id, "j/2?");
    again.remove("j/2?");
    EXPECT_FALSE(std::filesystem::exists(file()));  // nothing kept: no file
    EXPECT_EQ(log().find("[ERROR]"), std::string::npos);
}

TEST_F(KeptResultsTest, OldestAreDroppedBeyondTheBounds) {
    struct Case {
        tsl::KeptLimits limits;
        std::size_t bodyBytes;
        std::size_t left;
    } cases[] = {
        {{3, 1u << 20}, 10, 3},  // by count
        {{100, 2500}, 1000, 2},  // by size
        {{100, 500}, 1000, 1},   // the newest stays, however large
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.left);
        std::filesystem::remove(file());
        KeptResults kept(file(), c.limits);
        for (int i = 1; i <= 4; ++i)
            kept.keep({"j-" + std::to_string(i), "import",
                       resultsWith(std::string(c.bodyBytes, 'x')), ""});
        EXPECT_EQ(kept.size(), c.left);
        EXPECT_EQ(kept.oldest().id, "j-" + std::to_string(5 - c.left));
        EXPECT_NE(log().find("[ERROR] Dropped the kept results of job j-1 (import): more than "),
                  std::string::npos);
        EXPECT_EQ(KeptResults(file()).size(), c.left);  // the file agrees
    }
}

TEST_F(KeptResultsTest, FileThatCannotBeWrittenKeepsThemInMemory) {
    const std::filesystem::path folder = dir.path() / "later";
    KeptResults kept(folder / "kept-results.json");
    kept.keep({"j-1", "import", resultsWith("a"), ""});
    kept.keep({"j-2", "import", resultsWith("b"), ""});
    EXPECT_EQ(kept.size(), 2u);
    EXPECT_NE(kept.find("j-1"), nullptr);
    const std::string lines = log();
    const std::string failing =
        "[ERROR] Kept results are only in memory until the file can be "
        "written: Could not create ";
    ASSERT_NE(lines.find(failing), std::string::npos) << lines;
    EXPECT_EQ(lines.find(failing, lines.find(failing) + 1), std::string::npos);  // once

    std::filesystem::create_directory(folder);
    kept.keep({"j-3", "import", resultsWith("c"), ""});
    EXPECT_NE(log().find("[INFO] The kept results file can be written again"), std::string::npos);
    EXPECT_EQ(KeptResults(folder / "kept-results.json").size(), 3u);
    // No temporary file is left behind, whatever happened.
    std::size_t files = 0;
    for (const auto& entry : std::filesystem::directory_iterator(folder))
        files += entry.is_regular_file() ? 1 : 0;
    EXPECT_EQ(files, 1u);
}

}  // namespace
