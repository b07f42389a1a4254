#include "sync/answer_file.h"

#include <charconv>
#include <fstream>
#include <stdexcept>
#include <system_error>
#include <utility>

#include "json/json_escape.h"
#include "sync/path_text.h"

namespace tsl {

namespace {

constexpr std::size_t kBufferBytes = std::size_t{256} << 10;
constexpr std::size_t kReplayPiece = std::size_t{64} << 10;

}  // namespace

AnswerFile::AnswerFile(std::filesystem::path folder, std::size_t inlineBytes,
                       std::uint64_t maxBytes)
    : folder_(std::move(folder)), inlineBytes_(inlineBytes), maxBytes_(maxBytes) {}

void AnswerFile::spill() {
    std::error_code ec;
    std::filesystem::create_directories(folder_, ec);
    name_ = newAnswerFileName(folder_);
    writer_ = std::make_unique<DurableFileWriter>(folder_ / name_);
}

void AnswerFile::flush() {
    if (!writer_->write(buffer_)) {
        error_ = writer_->error();
        throw std::runtime_error(error_);
    }
    buffer_.clear();
}

void AnswerFile::write(std::string_view text) {
    if (text.size() > maxBytes_ - bytes_) throw std::length_error("answer too large");
    buffer_.append(text);
    bytes_ += text.size();
    if (!writer_ && buffer_.size() > inlineBytes_) spill();
    if (writer_ && buffer_.size() >= kBufferBytes) flush();
}

void AnswerFile::restart(const std::function<void(std::string_view)>& replay) {
    bytes_ = 0;
    if (!writer_) {
        replay(std::exchange(buffer_, {}));
        return;
    }
    // What was written is put aside under a name of its own, read back into the file begun
    // anew, and then removed.
    const std::filesystem::path file = folder_ / name_;
    std::filesystem::path old = file;
    old += ".replay";
    flush();
    if (!commit()) throw std::runtime_error(error_);
    std::error_code ec;
    std::filesystem::rename(file, old, ec);
    if (ec) throw std::runtime_error("Could not rename " + pathText(file) + ": " + ec.message());
    writer_ = std::make_unique<DurableFileWriter>(file);
    {
        std::ifstream in(old, std::ios::binary);
        std::string piece(kReplayPiece, '\0');
        while (in) {
            in.read(piece.data(), static_cast<std::streamsize>(piece.size()));
            const auto got = static_cast<std::size_t>(in.gcount());
            if (got > 0) replay(std::string_view(piece.data(), got));
        }
        if (!in.eof()) throw std::runtime_error("Could not read " + pathText(old));
    }
    std::filesystem::remove(old, ec);
}

bool AnswerFile::commit() {
    if (!writer_) return true;
    if ((buffer_.empty() || writer_->write(buffer_)) && writer_->commit()) {
        buffer_.clear();
        return true;
    }
    error_ = writer_->error();
    return false;
}

std::string AnswerFile::takeText() {
    std::string text;
    if (buffer_.size() >= 2) {
        jsonescape::read(std::string_view(buffer_).substr(1, buffer_.size() - 2), text);
    }
    buffer_.clear();
    return text;
}

std::string newAnswerFileName(const std::filesystem::path& folder) {
    std::uint64_t highest = 0;
    std::error_code ec;
    for (std::filesystem::directory_iterator it(folder, ec), end; !ec && it != end;
         it.increment(ec)) {
        const std::string name = pathText(it->path().filename());
        std::uint64_t number = 0;
        const auto [next, fault] = std::from_chars(name.data(), name.data() + name.size(), number);
        if (fault == std::errc() && number > highest) highest = number;
    }
    return std::to_string(highest + 1) + ".jstr";
}

}  // namespace tsl
