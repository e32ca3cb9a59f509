// A buffered text file of the standard library with ownership, used for the
// table data file, the details file and every file the program writes.
// Lines end at a line feed; a carriage return before it is dropped on reading,
// so files with CR LF line ends read the same as files with LF.
#pragma once

#include <cstdio>
#include <string>

namespace kelvorin {

class TextFile {
public:
    enum class Mode { Read, Write, Append };

    TextFile() = default;
    ~TextFile();
    TextFile(TextFile&& other) noexcept;
    TextFile& operator=(TextFile&& other) noexcept;
    TextFile(const TextFile&) = delete;
    TextFile& operator=(const TextFile&) = delete;

    // Opens NAME; returns false (and stays closed) when it cannot be opened.
    // A directory is refused for every mode.
    bool Open(const std::string& name, Mode mode);
    bool IsOpen() const { return file_ != nullptr; }
    // Closes the file; false when buffered output could not be written.
    bool Close();

    // Reads the next line of any length without its terminator. False at the
    // end of the file (when nothing at all was left to read).
    bool ReadLine(std::string& line);

    // Writes TEXT as it stands; false when the write failed. The failure is
    // also remembered and reported by Failed().
    bool Write(const std::string& text);
    bool Failed() const { return failed_; }

private:
    std::FILE* file_ = nullptr;
    bool failed_ = false;
};

}  // namespace kelvorin
