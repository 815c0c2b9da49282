// The walk over an archive, from its tail record backwards: the one parser
// of the layout. The launcher's reader and the package tool both drive it,
// each with its own observer.
#pragma once

#include "archive/layout.h"
#include "archive/payload.h"
#include "platform/win32.h"

#include <cstdint>
#include <string>
#include <string_view>

namespace archive {

// What the walk reads: a file with the system's 32-bit file pointer, moved
// and read as SetFilePointer and ReadFile do. The launcher reads its own
// file through its handle; the package tool reads files of its host.
class byte_source {
public:
    virtual ~byte_source() = default;
    // As SetFilePointer(file, distance, nullptr, method): the new position,
    // or INVALID_SET_FILE_POINTER.
    virtual DWORD move(LONG distance, DWORD method) = 0;
    // As ReadFile: false when the read failed; done receives the count
    // read, less than size at the end of the file.
    virtual bool read(void* buffer, DWORD size, DWORD& done) = 0;
};

// A file the system opened.
class handle_source : public byte_source {
public:
    explicit handle_source(HANDLE file) : file_(file) {}
    DWORD move(LONG distance, DWORD method) override { return SetFilePointer(file_, distance, nullptr, method); }
    bool read(void* buffer, DWORD size, DWORD& done) override {
        return ReadFile(file_, buffer, size, &done, nullptr) != FALSE;
    }

private:
    HANDLE file_;
};

// Moves to the end of the tail record: finds the marker nearest the end of
// the file (the last byte is never part of a window; no window starts
// before offset 23) and steps over the length and digest behind it.
// Returns false when there is no marker; the last error is then whatever
// the moves and reads left. tail_end receives the position of the tail
// record's end.
bool find_tail(byte_source& file, uint32_t* tail_end = nullptr);

enum class record_status { ok, failed, mismatch };

struct record_info {
    uint32_t offset = 0;  // of the payload
    uint32_t length = 0;
    bool digest_matches = false;
};

// Reads the record that ends at the current position into payload and
// checks its digest. On ok the position is at the start of the payload;
// on mismatch at the start of the length field; on failed (a move or read
// failed, or a length no record can have) it is unspecified.
record_status read_checked_record(byte_source& file, payload_buffer& payload, record_info& info);

enum class walk_end {
    stub,       // reached the stub group: the normal end
    failed,     // a move or read failed
    mismatch,   // a record failed its digest
    refused,    // the observer refused a packed file
};

struct walk_options {
    // For listing: go on past records that fail their digest (their payload
    // is still interpreted) and read the stub group's file name and data.
    bool listing = false;
};

struct walk_result {
    walk_end end = walk_end::failed;
    // The tail record was read and nothing went wrong since: no digest
    // failed, no move or read failed, no packed file was refused.
    bool valid = false;
};

class walk_observer {
public:
    virtual ~walk_observer() = default;
    // Every record read, with its role in its group.
    virtual void on_record(const record_info&, std::string_view /*payload*/, record_role /*role*/) {}
    virtual void on_tail() {}
    // A record failed its digest (except the stub group's file name and data).
    virtual void on_mismatch() {}
    virtual void on_value(std::string_view /*name*/, std::string_view /*text*/) {}
    // A packed file; returning false ends the walk (walk_end::refused).
    virtual bool on_file(std::string_view /*name*/, std::string_view /*file_name*/, std::string_view /*data*/) {
        return true;
    }
    // A move or read failed after the tail record was found.
    virtual void on_failure() {}
};

// Walks from the current position (the end of the tail record) until the
// stub group or the first failure.
walk_result walk_archive(byte_source& file, walk_observer& observer, const walk_options& options = walk_options());

}  // namespace archive
