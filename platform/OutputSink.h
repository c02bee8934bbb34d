#pragma once

#include <cstddef>
#include <span>

namespace quillfen {

// Where a tool's standard output goes as it arrives: the reader asks for
// space, reads into it, and commits what it read.
class OutputSink {
public:
    virtual ~OutputSink() = default;
    // Room for the next bytes; never empty.
    virtual std::span<char> space() = 0;
    // The first `count` bytes of the last space() now hold output.
    virtual void commit(std::size_t count) = 0;
    // True once the output can no longer be used, however it goes on: the
    // tool is then ended rather than read to its end.
    virtual bool refusesMore() const { return false; }
};

} // namespace quillfen
