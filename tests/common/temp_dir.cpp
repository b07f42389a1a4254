#include "common/temp_dir.h"

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <system_error>

namespace tsl::testing {

namespace {

// Sets the variable, or removes it when unset (on Windows an empty value removes it).
void setEnv(const std::string& name, const std::string& value, bool unset = false) {
#ifdef _WIN32
    _putenv_s(name.c_str(), unset ? "" : value.c_str());
#else
    unset ? unsetenv(name.c_str()) : setenv(name.c_str(), value.c_str(), 1);
#endif
}

}  // namespace

TempDir::TempDir() {
    static std::atomic<unsigned> counter{0};
    const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
    std::error_code ec;
    do {
        path_ = std::filesystem::temp_directory_path() /
                ("tsl-test-" + std::to_string(stamp) + "-" + std::to_string(counter++));
    } while (!std::filesystem::create_directory(path_, ec));
}

TempDir::~TempDir() {
    std::error_code ec;
    std::filesystem::permissions(path_, std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::add, ec);
    std::filesystem::remove_all(path_, ec);
}

std::string readFile(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

void writeFile(const std::filesystem::path& file, const std::string& bytes) {
    std::ofstream(file, std::ios::binary | std::ios::trunc) << bytes;
}

ScopedEnv::ScopedEnv(const std::string& name, const std::string& value) : name_(name) {
    const char* old = std::getenv(name.c_str());
    hadOld_ = old != nullptr;
    old_ = old ? old : "";
    setEnv(name, value);
}

ScopedEnv::~ScopedEnv() {
    setEnv(name_, old_, !hadOld_);
}

}  // namespace tsl::testing
