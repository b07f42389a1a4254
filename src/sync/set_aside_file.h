#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>

namespace tsl {

// The answers Tessaline will not take, for a person to look at: a file of the same shape as the
// kept file ({"jobs":[...],"version":2}). Entries are only ever added: each addition rewrites the
// file durably with every earlier entry byte for byte. A file there that this program did not
// write is renamed aside first (".damaged-<time>"), never overwritten. Used by one thread at a
// time, under the sync lock when other processes may use the file too.
class SetAsideFile {
  public:
    explicit SetAsideFile(std::filesystem::path file);

    // Adds one entry (a JSON object's text); "" or the failure's sentence.
    std::string add(const std::string& entry);
    // The entries in the file now; read again only when the file changed size.
    std::size_t count();

    const std::filesystem::path& file() const { return file_; }

  private:
    std::filesystem::path file_;
    std::uintmax_t countedSize_ = 0;  // 0: nothing counted yet (the file is never empty)
    std::size_t count_ = 0;
};

// Objects directly inside the "jobs" array of a file written as above, or -1 when the bytes are
// not such a file. Strings are skipped, so braces inside an answer do not count.
long countSetAsideEntries(const std::string& text);

// Renames a file that cannot be used to <name>.damaged-<local time> beside it, with an ERROR
// line that begins with `what` ("The kept results file"), so a person can still recover what it
// holds.
void renameDamagedFile(const std::filesystem::path& file, const std::string& what,
                       const std::string& reason);

}  // namespace tsl
