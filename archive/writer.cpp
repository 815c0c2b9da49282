// The streaming package writer.

#include "archive/writer.h"

#include "archive/background_digest.h"
#include "archive/digest.h"
#include "archive/layout.h"

namespace archive {
namespace {

// Small enough to be digested while still in the processor's cache, and
// to keep the page cache on small folios, which fill at a steady speed where
// free memory is handed back to a hypervisor.
const size_t block_size = 64 * 1024;

}  // namespace

package_writer::package_writer(const std::string& path) : out_(path), buffer_(block_size) {}

void package_writer::on_progress(void (*callback)(uint64_t, void*), void* context) {
    progress_ = callback;
    progress_context_ = context;
}

void package_writer::expect(state wanted, const char* what) const {
    if (state_ == wanted) return;
    static const char* const names[] = {"before the stub group", "inside the archive", "behind the tail record",
                                        "after closing"};
    throw package_error(std::string(what) + " cannot be written " + names[int(state_)]);
}

void package_writer::check_package_size(uint64_t more) const {
    if (size_ + more > max_package_size)
        throw package_error("the package would exceed " + std::to_string(max_package_size) +
                            " bytes, the most a 32-bit file position reaches");
}

void package_writer::put(const void* data, size_t size) {
    check_package_size(size);
    if (size != 0) out_.write(static_cast<const char*>(data), size);
    size_ += size;
}

void package_writer::finish_record(uint64_t offset, uint64_t length, const std::string& digest, record_role role,
                                   const std::optional<std::string>& stored_digest) {
    uint32_t stored_length = uint32_t(length);
    std::string stored = stored_digest ? *stored_digest : digest;
    if (damage_) {
        if (damage_->digest) stored = *damage_->digest;
        if (damage_->length) stored_length = *damage_->length;
        damage_.reset();
    }
    if (digest.size() != digest_bytes)
        throw package_error(std::string("the MD5 digest of the ") + role_name(role) + " cannot be computed");
    if (stored.size() != digest_bytes) throw package_error("a stored digest must be 16 bytes");
    const std::string trailer = encode_trailer(stored_length, stored);
    put(trailer.data(), trailer.size());
    records_.push_back(written_record{offset, uint32_t(length), role});
    if (progress_ != nullptr) progress_(size_, progress_context_);
}

void package_writer::record_from_memory(const std::string& payload, record_role role,
                                        const std::optional<std::string>& stored_digest) {
    if (payload.size() > max_payload_length)
        throw package_error(std::string(role_name(role)) + ": " + std::to_string(payload.size()) + " bytes do not fit a record (at most " +
                            std::to_string(max_payload_length) + ")");
    check_package_size(payload.size() + trailer_size);
    const uint64_t offset = size_;
    put(payload.data(), payload.size());
    finish_record(offset, payload.size(), md5_of(payload.data(), payload.size()), role, stored_digest);
}

void package_writer::record_from_file(const std::string& path, std::optional<uint64_t> length, record_role role,
                                      const std::optional<std::string>& stored_digest) {
    host_input input(path);
    const std::optional<uint64_t> expected = length ? length : input.size();
    const auto too_long = [&](uint64_t size) {
        return package_error(std::string(role_name(role)) + " " + path + ": " + std::to_string(size) + " bytes do not fit a record (at most " +
                             std::to_string(max_payload_length) + ")");
    };
    if (expected && *expected > max_payload_length) throw too_long(*expected);
    if (expected) check_package_size(*expected + trailer_size);
    if (length && input.size() && *input.size() < *length)
        throw package_error(path + " is shorter than " + std::to_string(*length) + " bytes");

    const uint64_t offset = size_;
    background_digest digest(block_size);
    uint64_t total = 0;
    for (;;) {
        size_t want = block_size;
        if (length && *length - total < want) want = size_t(*length - total);
        if (want == 0) break;
        char* block = digest.next_block();
        const size_t count = input.read(block, want);
        if (count == 0) break;
        total += count;
        if (total > max_payload_length) throw too_long(total);  // grew while being read
        digest.submit(count);  // digested while it is written
        put(block, count);
        if (progress_ != nullptr) progress_(size_, progress_context_);
    }
    if (length && total != *length)
        throw package_error(path + " ended after " + std::to_string(total) + " bytes");
    finish_record(offset, total, digest.finish(), role, stored_digest);
}

// What sets the groups apart; the stub group comes first, before any other.
struct group_layout {
    const char* what;
    const char* kind;
    bool stub;
    record_role data, file_name, name, kind_role;
};

namespace {

const group_layout stub_group{"the stub group", kind_stub, true, record_role::stub_data, record_role::stub_file_name,
                              record_role::stub_name, record_role::stub_kind};
const group_layout file_group{"a file group", kind_file, false, record_role::file_data, record_role::file_name,
                              record_role::name, record_role::kind};
const group_layout value_group{"a value group", kind_value, false, record_role::value_text, record_role::other,
                               record_role::value_name, record_role::kind};

}  // namespace

void package_writer::write_group(const group_layout& group, const std::function<void(record_role)>& data,
                                 const std::string* file_name, const std::string& name) {
    expect(group.stub ? state::empty : state::archive, group.what);
    data(group.data);
    if (file_name != nullptr) record_from_memory(*file_name, group.file_name);
    record_from_memory(name, group.name);
    record_from_memory(group.kind, group.kind_role);
    state_ = state::archive;
}

void package_writer::add_stub(const std::string& image_path, const std::string& file_name, const std::string& name,
                              const std::optional<std::string>& stored_digest) {
    write_group(
        stub_group, [&](record_role role) { record_from_file(image_path, std::nullopt, role, stored_digest); },
        &file_name, name);
}

void package_writer::add_stub_data(const std::string& image, const std::string& file_name, const std::string& name,
                                   const std::optional<std::string>& stored_digest) {
    write_group(stub_group, [&](record_role role) { record_from_memory(image, role, stored_digest); }, &file_name,
                name);
}

void package_writer::add_stub_prefix(const std::string& path, uint64_t image_length, const std::string& file_name,
                                     const std::string& name) {
    write_group(stub_group, [&](record_role role) { record_from_file(path, image_length, role); }, &file_name, name);
}

void package_writer::add_file(const std::string& name, const std::string& file_name, const std::string& source_path) {
    write_group(file_group, [&](record_role role) { record_from_file(source_path, std::nullopt, role); }, &file_name,
                name);
}

void package_writer::add_file_data(const std::string& name, const std::string& file_name, const std::string& data) {
    write_group(file_group, [&](record_role role) { record_from_memory(data, role); }, &file_name, name);
}

void package_writer::add_value(const std::string& name, const std::string& text) {
    write_group(value_group, [&](record_role role) { record_from_memory(text, role); }, nullptr, name);
}

void package_writer::add_record(const std::string& payload, record_role role) {
    if (state_ != state::empty) expect(state::archive, "a record");
    record_from_memory(payload, role);
}

void package_writer::damage_next_record(const record_damage& damage) { damage_ = damage; }

void package_writer::add_tail() {
    expect(state::archive, "the tail record");
    record_from_memory(std::string(tail_marker, marker_size), record_role::tail);
    state_ = state::tail;
}

void package_writer::align(uint32_t alignment) {
    expect(state::tail, "alignment");
    if (alignment == 0) return;
    const std::string zeros(size_t((alignment - size_ % alignment) % alignment), '\0');
    put(zeros.data(), zeros.size());
}

void package_writer::add_trailing(const std::string& bytes) {
    expect(state::tail, "trailing bytes");
    put(bytes.data(), bytes.size());
}

void package_writer::add_trailing_file(const std::string& path) {
    expect(state::tail, "trailing bytes");
    host_input input(path);
    if (input.size()) check_package_size(*input.size());
    for (;;) {
        const size_t count = input.read(buffer_.data(), buffer_.size());
        if (count == 0) break;
        put(buffer_.data(), count);
    }
}

void package_writer::close(const std::function<void(const std::string& written)>& check) {
    if (state_ == state::closed) return;
    state_ = state::closed;
    out_.place(check);
}

}  // namespace archive
