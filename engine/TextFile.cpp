#include "TextFile.h"

#include <sys/stat.h>

#include <utility>

namespace kelvorin {

TextFile::~TextFile() { Close(); }

TextFile::TextFile(TextFile&& other) noexcept
    : file_(std::exchange(other.file_, nullptr)),
      failed_(std::exchange(other.failed_, false)),
      firstLine_(std::exchange(other.firstLine_, false)) {}

TextFile& TextFile::operator=(TextFile&& other) noexcept {
    if (this != &other) {
        Close();
        file_ = std::exchange(other.file_, nullptr);
        failed_ = std::exchange(other.failed_, false);
        firstLine_ = std::exchange(other.firstLine_, false);
    }
    return *this;
}

bool TextFile::Open(const std::string& name, Mode mode) {
    Close();
    failed_ = false;
    if (name.empty()) return false;
    struct stat info {};
    if (::stat(name.c_str(), &info) == 0 && S_ISDIR(info.st_mode)) return false;
    const char* how = mode == Mode::Read ? "rb" : mode == Mode::Write ? "wb" : "ab";
    file_ = std::fopen(name.c_str(), how);
    firstLine_ = mode == Mode::Read;
    return file_ != nullptr;
}

bool TextFile::Close() {
    if (file_ == nullptr) return !failed_;
    if (std::fclose(file_) != 0) failed_ = true;
    file_ = nullptr;
    return !failed_;
}

bool TextFile::ReadLine(std::string& line) {
    line.clear();
    lastLineCut_ = false;
    if (file_ == nullptr || failed_) return false;
    // getc gives EOF both at the end of the file and on a read error; only
    // the stream's error indicator tells them apart.
    auto readError = [&] {
        if (!std::ferror(file_)) return false;
        failed_ = true;
        line.clear();
        return true;
    };
    int ch = std::getc(file_);
    if (ch == EOF) {
        readError();
        return false;
    }
    while (ch != EOF && ch != '\n') {
        if (ch == '\r') {
            // A line feed right after the carriage return belongs to it.
            const int next = std::getc(file_);
            if (next != '\n' && next != EOF) std::ungetc(next, file_);
            break;
        }
        if (line.size() < kMaxLineLength)
            line.push_back(static_cast<char>(ch));
        else if (ch != ' ' && ch != '\t')
            lastLineCut_ = true;
        ch = std::getc(file_);
    }
    if (firstLine_) {
        firstLine_ = false;
        if (line.starts_with("\xEF\xBB\xBF")) line.erase(0, 3);
    }
    return !readError();
}

bool TextFile::Write(const std::string& text) {
    if (file_ == nullptr) {
        failed_ = true;
        return false;
    }
    if (std::fwrite(text.data(), 1, text.size(), file_) != text.size()) failed_ = true;
    return !failed_;
}

bool TextFile::Flush() {
    if (file_ == nullptr || std::fflush(file_) != 0) failed_ = true;
    return !failed_;
}

}  // namespace kelvorin
