#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>

namespace quillfen {

// Bytes read front to back, never seeking, so a pipe serves as well as a file.
class ByteSource {
public:
    virtual ~ByteSource() = default;
    // Fills the front of `buffer`: the count of bytes read, 0 at the end or on a failure.
    virtual std::size_t read(std::span<char> buffer) = 0;
    // Why reading failed, as the end of a sentence; nothing while it has not.
    virtual const std::optional<std::string>& failure() const = 0;
};

// A saved log's bytes: a file, a pipe or FIFO, or standard input for "-".
// A regular file is read up to the size it had when it was opened, so one
// that keeps growing still ends. Opening a FIFO never blocks: when no
// program writes to it within `writerWait`, reading fails.
class InputFile final : public ByteSource {
public:
    struct Opened {
        std::unique_ptr<InputFile> file;
        std::string failure; // why it did not open, when `file` is null
    };
    static Opened open(const std::string& path, std::chrono::milliseconds writerWait);
    // Whether `path` names a directory (a log archive, not a file).
    static bool isDirectory(const std::string& path);

    ~InputFile() override;
    InputFile(const InputFile&) = delete;
    InputFile& operator=(const InputFile&) = delete;

    std::size_t read(std::span<char> buffer) override;
    const std::optional<std::string>& failure() const override { return failure_; }
    // How far reading has come, of the size a regular file had at opening (none for a pipe).
    std::uint64_t bytesRead() const { return bytesRead_; }
    std::optional<std::uint64_t> size() const { return size_; }

private:
    InputFile(int fd, bool owned, std::optional<std::uint64_t> size, bool waitForWriter,
              std::chrono::milliseconds writerWait);
    bool awaitWriter();
    std::size_t fail(std::string why);

    int fd_;
    bool owned_;
    std::optional<std::uint64_t> size_;
    std::optional<std::uint64_t> remaining_; // bytes left of a regular file's size at opening
    std::uint64_t bytesRead_ = 0;
    bool waitForWriter_;
    std::chrono::milliseconds writerWait_;
    std::optional<std::string> failure_;
};

} // namespace quillfen
