#pragma once

#include <filesystem>
#include <string>

namespace tsl::testing {

// A fresh, empty folder under the system's temporary folder, removed with everything in it
// when the owner goes away.
class TempDir {
  public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::filesystem::path& path() const { return path_; }

  private:
    std::filesystem::path path_;
};

// The whole content of a file as bytes ("" when it cannot be read).
std::string readFile(const std::filesystem::path& file);
// Replaces the file's content with the bytes.
void writeFile(const std::filesystem::path& file, const std::string& bytes);

// Sets an environment variable for the life of the object, then restores the old value.
class ScopedEnv {
  public:
    ScopedEnv(const std::string& name, const std::string& value);
    ~ScopedEnv();
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

  private:
    std::string name_;
    std::string old_;
    bool hadOld_ = false;
};

}  // namespace tsl::testing
