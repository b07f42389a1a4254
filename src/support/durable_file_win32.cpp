#include <windows.h>

#include "support/durable_file.h"

#include <algorithm>

#include "support/system_error.h"
#include "support/text.h"
#include "support/win32_handles.h"

namespace tsl {

namespace {

constexpr DWORD kChunk = 1u << 30;  // WriteFile and ReadFile take 32-bit counts

std::string failure(const std::string& step, const std::filesystem::path& file) {
    return step + " " + toUtf8(file.wstring()) + ": " + systemErrorText(GetLastError());
}

}  // namespace

struct DurableFileWriter::Handle {
    explicit Handle(HANDLE raw) : file(raw) {}
    KernelHandle file;
};

DurableFileWriter::DurableFileWriter(std::filesystem::path target) : target_(std::move(target)) {
    temporary_ = target_;
    // The name is the writer's own (process and thread): two threads, or a console run beside
    // the tray, may replace the same file at once.
    temporary_ += L".tmp-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
                  std::to_wstring(GetCurrentThreadId());
    const HANDLE raw = CreateFileW(temporary_.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                   FILE_ATTRIBUTE_NORMAL, nullptr);
    if (raw == INVALID_HANDLE_VALUE) {
        error_ = failure("Could not create", temporary_);
        return;
    }
    handle_ = std::make_unique<Handle>(raw);
}

DurableFileWriter::~DurableFileWriter() {
    if (!handle_) return;
    handle_.reset();
    DeleteFileW(temporary_.c_str());
}

bool DurableFileWriter::write(std::string_view bytes) {
    if (!handle_ || !error_.empty()) return false;
    while (!bytes.empty()) {
        const DWORD size = static_cast<DWORD>(std::min<std::size_t>(bytes.size(), kChunk));
        DWORD written = 0;
        if (!WriteFile(handle_->file.get(), bytes.data(), size, &written, nullptr) ||
            written == 0) {
            error_ = failure("Could not write", temporary_);
            return false;
        }
        bytes.remove_prefix(written);
    }
    return true;
}

bool DurableFileWriter::commit() {
    if (!handle_ || !error_.empty()) return false;
    if (!FlushFileBuffers(handle_->file.get())) {
        error_ = failure("Could not write", temporary_);
        return false;
    }
    handle_->file.reset();
    // Write-through: the call returns once the new name is on the disk.
    if (!MoveFileExW(temporary_.c_str(), target_.c_str(),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        error_ = failure("Could not replace", target_);
        return false;
    }
    handle_.reset();
    return true;
}

ReadOutcome readWholeFile(const std::filesystem::path& file, std::string& bytes,
                          std::string& error) {
    bytes.clear();
    // Shared with writers, renames and removals: reading the log (for a diagnostics report)
    // must not make the logger's appends or its rotation fail meanwhile.
    const HANDLE raw = CreateFileW(file.c_str(), GENERIC_READ,
                                   FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                   OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (raw == INVALID_HANDLE_VALUE) {
        const DWORD code = GetLastError();
        if (code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND)
            return ReadOutcome::Missing;
        SetLastError(code);
        error = failure("Could not open", file);  // a folder fails here (access denied)
        return ReadOutcome::Failed;
    }
    const KernelHandle handle(raw);
    std::string buffer(64 * 1024, '\0');
    for (;;) {
        DWORD got = 0;
        if (!ReadFile(handle.get(), buffer.data(), static_cast<DWORD>(buffer.size()), &got,
                      nullptr)) {
            error = failure("Could not read", file);
            return ReadOutcome::Failed;
        }
        if (got == 0) return ReadOutcome::Read;
        bytes.append(buffer.data(), got);
    }
}

}  // namespace tsl
