// A buffered text file of the standard library with ownership, used for the
// table data file, the details file and every file the program writes.
// Lines end at a line feed, at a carriage return followed by a line feed, or
// at a carriage return alone, so files with LF, CR LF or CR line ends all
// read the same. A UTF-8 byte order mark that begins a file read is passed
// over: editors that write one make the first line no different.
#pragma once

#include <cstddef>
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
    // Closes the file; false when a read or a write failed (Failed()) or
    // buffered output could not be written.
    bool Close();

    // Longest line that ReadLine keeps.
    static constexpr std::size_t kMaxLineLength = std::size_t{1} << 20;

    // Reads the next line without its terminator. Of a longer line only the
    // first kMaxLineLength characters are kept and the rest is passed over,
    // so a file without line ends cannot exhaust the memory. False at the end
    // of the file (when nothing at all was left to read) and when the system
    // reports a read error; Failed() tells the two apart. After a read error
    // the line is empty, even if part of it had been read, and every further
    // call returns false.
    bool ReadLine(std::string& line);
    // True when the line last read was cut at kMaxLineLength and what was
    // passed over held more than blanks and tabs: the line is not whole.
    bool LastLineCut() const { return lastLineCut_; }

    // Writes TEXT as it stands; false when the write failed. The failure is
    // also remembered and reported by Failed().
    bool Write(const std::string& text);
    // Hands buffered output to the system, so that a full disk shows now and
    // not only at Close; false (and Failed()) when that failed.
    bool Flush();
    // True once a read or a write has failed since the file was opened.
    bool Failed() const { return failed_; }

private:
    std::FILE* file_ = nullptr;
    bool failed_ = false;
    bool firstLine_ = false;  // the next line read is the file's first
    bool lastLineCut_ = false;
};

}  // namespace kelvorin
