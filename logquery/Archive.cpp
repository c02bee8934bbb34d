#include "logquery/Archive.h"

#include "logquery/Gzip.h"
#include "logquery/Replay.h"
#include "logquery/TextLog.h"

#include <archive.h>
#include <archive_entry.h>
#include <cerrno>
#include <string>
#include <string_view>
#include <vector>

namespace quillfen {

namespace {

using namespace std::string_view_literals;

constexpr std::size_t kInputBytes = 64 * 1024;
// A tar header's "ustar" lies at 257.
constexpr std::size_t kLookedBytes = 262;
constexpr std::size_t kNamesListed = 5;

struct Magic {
    std::size_t at;
    std::string_view bytes;
    std::string_view compression; // empty for an archive as it is
};

// Only these are handed to libarchive, so a log is never taken for an archive of some other kind.
constexpr Magic kMagics[] = {
    {0,
     "\xFD"
     "7zXZ\0"sv,
     "xz"},
    {0, "BZh", "bzip2"},
    {0, "\x28\xB5\x2F\xFD", "zstd"},
    {0, "PK\x03\x04", ""},
    {0, "PK\x05\x06", ""},
    {257, "ustar", ""},
};

// Empty when `format` (libarchive's code) is no archive of files.
std::string kindOf(int format)
{
    switch (format & ARCHIVE_FORMAT_BASE_MASK) {
    case ARCHIVE_FORMAT_ZIP:
        return "zip";
    case ARCHIVE_FORMAT_TAR:
        return "tar";
    default:
        return {};
    }
}

bool isSysdiagnose(std::string_view name)
{
    if (name.starts_with("./"))
        name.remove_prefix(2);
    return name.starts_with("sysdiagnose_") || name.find("system_logs.logarchive") != std::string_view::npos;
}

// Folders, links, the Finder's __MACOSX copies and its ._ AppleDouble files hold no log.
bool isPassedOver(archive_entry* entry, std::string_view name)
{
    const std::string_view base = name.substr(name.find_last_of('/') + 1);
    return archive_entry_filetype(entry) != AE_IFREG || name.ends_with('/') || name.starts_with("__MACOSX/") ||
           name.find("/__MACOSX/") != std::string_view::npos || base.starts_with("._");
}

class ArchiveSource final : public ByteSource {
public:
    ArchiveSource(std::unique_ptr<Replay> upstream, std::string_view compression)
        : upstream_(std::move(upstream)), compression_(compression), input_(kInputBytes), archive_(archive_read_new())
    {
        archive_read_support_filter_xz(archive_);
        archive_read_support_filter_bzip2(archive_);
        archive_read_support_filter_zstd(archive_);
        archive_read_support_format_tar(archive_);
        archive_read_support_format_zip_streamable(archive_);
        archive_read_support_format_raw(archive_);
        archive_read_support_format_empty(archive_);
        if (archive_read_open(archive_, this, nullptr, &ArchiveSource::pull, nullptr) != ARCHIVE_OK)
            fail();
        else
            walk();
    }
    ~ArchiveSource() override { archive_read_free(archive_); }
    ArchiveSource(const ArchiveSource&) = delete;
    ArchiveSource& operator=(const ArchiveSource&) = delete;

    std::size_t read(std::span<char> buffer) override
    {
        if (failure_ || !reading_)
            return 0;
        const la_ssize_t count = archive_read_data(archive_, buffer.data(), buffer.size());
        if (count < 0) {
            fail();
            return 0;
        }
        if (count == 0) {
            // The log has ended; whatever follows it decides whether it was the only one.
            reading_ = false;
            walk();
        }
        return failure_ ? 0 : static_cast<std::size_t>(count);
    }
    const std::optional<std::string>& failure() const override { return failure_; }

private:
    static la_ssize_t pull(archive* archive, void* self, const void** buffer)
    {
        auto& source = *static_cast<ArchiveSource*>(self);
        const std::size_t count = source.upstream_->read(source.input_);
        *buffer = source.input_.data();
        if (count == 0 && source.upstream_->failure()) {
            archive_set_error(archive, EIO, "the source failed");
            return -1;
        }
        return static_cast<la_ssize_t>(count);
    }

    // Goes on to the first file that may be a log, or to the end and what the files found make of it.
    void walk()
    {
        archive_entry* entry = nullptr;
        for (;;) {
            const int status = archive_read_next_header(archive_, &entry);
            if (status == ARCHIVE_EOF)
                break;
            if (status < ARCHIVE_WARN)
                return fail();
            const int format = archive_format(archive_);
            if ((format & ARCHIVE_FORMAT_BASE_MASK) == ARCHIVE_FORMAT_RAW) {
                reading_ = true;
                return;
            }
            kind_ = kindOf(format);
            const char* utf8 = archive_entry_pathname_utf8(entry);
            const char* raw = archive_entry_pathname(entry);
            const std::string_view name = utf8 ? utf8 : raw ? raw : "";
            if (isSysdiagnose(name)) {
                failure_ = "it is a sysdiagnose archive: its logs are in system_logs.logarchive, which only a Mac's "
                           "log tool reads; on a Mac, open it with --file";
                return;
            }
            if (isPassedOver(entry, name))
                continue;
            if (++files_ <= kNamesListed)
                names_.push_back(quotable(name));
            if (files_ == 1) {
                reading_ = true;
                return;
            }
        }
        if (kind_.empty())
            kind_ = kindOf(archive_format(archive_));
        if (kind_.empty())
            return;
        if (files_ == 0)
            failure_ = "it is a " + kind_ + " archive with no log in it";
        else if (files_ > 1)
            failure_ = "it is a " + kind_ + " archive of " + std::to_string(files_) + " files (" + listed() +
                       "); extract the log and read that file";
    }
    std::string listed() const
    {
        std::string list;
        for (const std::string& name : names_)
            list += (list.empty() ? "" : ", ") + name;
        return files_ > names_.size() ? list + ", \u2026" : list;
    }
    void fail()
    {
        if (upstream_->failure()) {
            failure_ = upstream_->failure();
            return;
        }
        const char* why = archive_error_string(archive_);
        const std::string_view text = why ? why : "";
        // xz's library says "No progress is possible" of input that stops inside the stream.
        const bool cut = text.find("runcated") != std::string_view::npos ||
                         text.find("No progress") != std::string_view::npos ||
                         text.find("nexpected end") != std::string_view::npos ||
                         text.find("premature end") != std::string_view::npos;
        const std::string what = !compression_.empty() ? std::string(compression_) : kind_.empty() ? "archive" : kind_;
        failure_ = "its " + what + " data is " + (cut ? "cut off" : "damaged");
    }

    std::unique_ptr<Replay> upstream_;
    std::string_view compression_;
    std::vector<char> input_;
    archive* archive_;
    std::string kind_; // "zip" or "tar" once a header has been read
    std::size_t files_ = 0;
    std::vector<std::string> names_;
    bool reading_ = false;
    std::optional<std::string> failure_;
};

} // namespace

std::unique_ptr<ByteSource> unpacked(std::unique_ptr<ByteSource> source, bool outer)
{
    auto replay = std::make_unique<Replay>(std::move(source), kLookedBytes);
    const std::string_view head = replay->peek();
    for (const Magic& magic : kMagics) {
        if (head.size() < magic.at + magic.bytes.size() || head.substr(magic.at, magic.bytes.size()) != magic.bytes)
            continue;
        if (!outer && magic.compression.empty())
            break;
        auto archive = std::make_unique<ArchiveSource>(std::move(replay), magic.compression);
        // One more layer at most, so that what an archive holds cannot nest without end.
        if (!outer)
            return archive;
        return decompressed(std::move(archive), false);
    }
    return replay;
}

} // namespace quillfen
