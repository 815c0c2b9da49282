// Writes packages: a launcher image followed by the archive, streamed to
// disk with each digest computed while the payload is written. Used by the
// package tool and by tests that build packages in-process; the calls only
// tests make are protected, and tests/support/package_writer.h opens them.
#pragma once

#include "archive/host_file.h"
#include "archive/layout.h"
#include "tessel/exception.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace archive {

// Everything the writer refuses: unreadable inputs, lengths beyond the
// format's limits, groups out of order, failed writes.
TESSEL_DECLARE_ERROR(package_error, tessel::exception, "package");

struct written_record {
    uint64_t offset;  // of the payload
    uint32_t length;
    record_role role;
};

// The records of a stub, file or value group (writer.cpp).
struct group_layout;

class package_writer {
public:
    // Writes the package file at a path of the host system, which close
    // creates or replaces: until then, and when writing fails, nothing is
    // left there (host_output).
    explicit package_writer(const std::string& path);
    package_writer(const package_writer&) = delete;
    package_writer& operator=(const package_writer&) = delete;

    // The stub group, first in every package: the launcher image, the name
    // of its file and the group's name. A stored digest other than the
    // image's own may be given (a package signed after it was built has one).
    void add_stub(const std::string& image_path, const std::string& file_name, const std::string& name = "stub",
                  const std::optional<std::string>& stored_digest = std::nullopt);
    // The same from bytes in memory, or from the first image_length bytes of
    // a file (the image inside an existing package).
    void add_stub_data(const std::string& image, const std::string& file_name, const std::string& name = "stub",
                       const std::optional<std::string>& stored_digest = std::nullopt);
    void add_stub_prefix(const std::string& path, uint64_t image_length, const std::string& file_name,
                         const std::string& name = "stub");

    void add_file(const std::string& name, const std::string& file_name, const std::string& source_path);
    void add_value(const std::string& name, const std::string& text);

    // Ends the archive with the tail record.
    void add_tail();
    // Bytes behind the archive (after add_tail): zero bytes up to a multiple
    // of alignment, then the bytes given.
    void align(uint32_t alignment);
    void add_trailing_file(const std::string& path);

    // Puts the package in place, once check (when given) has read it
    // whole under its temporary name; the writer cannot be used afterwards.
    void close(const std::function<void(const std::string& written)>& check = nullptr);

    const std::vector<written_record>& records() const { return records_; }

    // Progress: called with the package size so far after every block.
    void on_progress(void (*callback)(uint64_t written, void* context), void* context);

protected:
    // Packages no tool builds, for tests: a file group from memory, bytes
    // behind the tail, records with any payload (groups the format does not
    // know) and deliberate damage to the next record.
    struct record_damage {
        std::optional<std::string> digest;  // stored instead of the real one
        std::optional<uint32_t> length;     // stored instead of the real one
    };
    void add_file_data(const std::string& name, const std::string& file_name, const std::string& data);
    void add_trailing(const std::string& bytes);
    void add_record(const std::string& payload, record_role role = record_role::other);
    void damage_next_record(const record_damage& damage);
    uint64_t size() const { return size_; }

private:
    enum class state { empty, archive, tail, closed };

    void expect(state wanted, const char* what) const;
    void put(const void* data, size_t size);
    // A group: its data (written by data), the file name (stub and file
    // groups only), the name and the kind.
    void write_group(const group_layout& group, const std::function<void(record_role)>& data,
                     const std::string* file_name, const std::string& name);
    void record_from_memory(const std::string& payload, record_role role,
                            const std::optional<std::string>& stored_digest = std::nullopt);
    void record_from_file(const std::string& path, std::optional<uint64_t> length, record_role role,
                          const std::optional<std::string>& stored_digest = std::nullopt);
    void finish_record(uint64_t offset, uint64_t length, const std::string& digest, record_role role,
                       const std::optional<std::string>& stored_digest);
    void check_package_size(uint64_t more) const;

    host_output out_;
    std::vector<char> buffer_;
    state state_ = state::empty;
    uint64_t size_ = 0;
    std::vector<written_record> records_;
    std::optional<record_damage> damage_;
    void (*progress_)(uint64_t, void*) = nullptr;
    void* progress_context_ = nullptr;
};

}  // namespace archive
