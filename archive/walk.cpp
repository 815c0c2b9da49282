// The tail search and the record walk, over a 32-bit file pointer: every
// move is relative to the current position.

#include "archive/walk.h"

#include "archive/digest.h"
#include "archive/layout.h"

#include <algorithm>
#include <cstring>
#include <optional>
#include <string_view>
#include <vector>

namespace archive {
namespace {

bool move(byte_source& file, LONG distance, DWORD* position = nullptr) {
    const DWORD result = file.move(distance, FILE_CURRENT);
    if (position != nullptr) *position = result;
    return result != INVALID_SET_FILE_POINTER;
}

// Moves between two known positions (at most a block apart).
bool move_to(byte_source& file, DWORD from, DWORD to) { return move(file, LONG(int64_t(to) - int64_t(from))); }

bool read_exactly_asked(byte_source& file, void* buffer, DWORD size) {
    DWORD done = 0;
    return file.read(buffer, size, done);  // a short read shows up in the digest
}

// Gives a buffer's memory back (an assignment would keep it).
void release(payload_buffer& payload) { payload_buffer().swap(payload); }

// The trailing bytes are read in blocks and searched in memory; the result
// is the one of sliding a 22-byte window back one byte per step.
const DWORD search_block = 64 * 1024;

}  // namespace

bool find_tail(byte_source& file, uint32_t* tail_end) {
    // Should the end not be reachable, the position stays at 0 and the step
    // back fails.
    file.move(0, FILE_END);
    DWORD position = 0;
    if (!move(file, -LONG(first_marker_offset), &position) || position < first_marker_offset) return false;

    // Windows start at first_marker_offset .. position; the bytes they cover
    // end at position + 22 (one before the end of the file).
    const DWORD last_start = position;
    DWORD high = last_start + DWORD(marker_size);  // end of the bytes still to search
    std::string carry;                               // the first 21 bytes of the block above
    std::vector<char> block;
    for (;;) {
        const DWORD low = std::max<DWORD>(first_marker_offset, high > search_block ? high - search_block : 0);
        const DWORD size = high - low;
        // A block that cannot be read counts as no match: zero bytes never
        // match the marker.
        block.assign(size + carry.size(), '\0');
        DWORD done = 0;
        if (move_to(file, position, low) && file.read(block.data(), size, done)) {
            position = low + done;
        } else {
            done = 0;
            position = file.move(0, FILE_CURRENT);
        }
        if (done < size) std::fill(block.begin() + done, block.begin() + size, '\0');
        std::copy(carry.begin(), carry.end(), block.begin() + size);

        const std::string_view region(block.data(), block.size());
        const size_t found = region.rfind(tail_marker, std::string::npos, marker_size);
        if (found != std::string::npos) {
            const DWORD marker = low + DWORD(found);
            const DWORD end = marker + DWORD(marker_size + trailer_size);
            if (tail_end != nullptr) *tail_end = end;
            move_to(file, position, end);
            return true;
        }
        if (low == first_marker_offset) break;
        carry = std::string(region.substr(0, std::min(region.size(), marker_size - 1)));
        high = low;
    }
    // Where the sliding window would have stopped: at offset 22.
    move_to(file, position, first_marker_offset - 1);
    return false;
}

record_status read_checked_record(byte_source& file, payload_buffer& payload, record_info& info) {
    unsigned char stored[digest_bytes] = {};
    unsigned char length_bytes[length_size] = {};
    if (!move(file, -LONG(digest_bytes)) || !read_exactly_asked(file, stored, DWORD(digest_bytes)))
        return record_status::failed;
    if (!move(file, -LONG(trailer_size)) || !read_exactly_asked(file, length_bytes, DWORD(length_size)))
        return record_status::failed;
    const uint32_t length = decode_length(length_bytes);
    // A longer payload cannot be stepped over with a signed 32-bit distance.
    if (length > max_payload_length) return record_status::failed;
    DWORD start = 0;
    if (!move(file, LONG(-int64_t(length) - int64_t(length_size)), &start)) return record_status::failed;
    info.offset = start;
    info.length = length;
    // Given back before a larger buffer is taken, never copied into it.
    if (payload.capacity() < length) release(payload);
    payload.resize(length);
    if (!read_exactly_asked(file, &payload[0], length)) return record_status::failed;
    info.digest_matches = md5_of(payload.data(), payload.size()) == std::string(reinterpret_cast<char*>(stored), digest_bytes);
    if (!info.digest_matches) return record_status::mismatch;
    if (!move(file, -LONG(length))) return record_status::failed;
    return record_status::ok;
}

namespace {

class walker {
public:
    walker(byte_source& file, walk_observer& observer, const walk_options& options)
        : file_(file), observer_(observer), options_(options) {}

    walk_result run() {
        payload_buffer kind, name, first, second;
        for (;;) {
            if (!read(kind, std::nullopt)) break;
            if (is_tail(kind)) {
                result_.valid = true;
                observer_.on_tail();
                continue;
            }
            const bool is_value = kind == kind_value, is_file = kind == kind_file, is_stub = kind == kind_stub;
            if (!read(name, is_value  ? record_role::value_name
                            : is_file ? record_role::name
                            : is_stub ? record_role::stub_name
                                      : record_role::unknown_name))
                break;
            if (is_value) {
                if (!read(first, record_role::value_text)) break;
                observer_.on_value(name, first);
            } else if (is_file) {
                if (!read(first, record_role::file_name) || !read(second, record_role::file_data)) break;
                const bool written = observer_.on_file(name, first, second);
                release(second);  // a packed file's memory goes as soon as it is written
                if (!written) {
                    result_.valid = false;
                    result_.end = walk_end::refused;
                    break;
                }
            } else if (is_stub) {
                if (options_.listing) {
                    // Listed only: the launcher never reads these two.
                    const walk_result kept = result_;
                    if (read(first, record_role::stub_file_name, false)) read(second, record_role::stub_data, false);
                    result_ = kept;
                }
                result_.end = walk_end::stub;
                break;
            }
        }
        return result_;
    }

private:
    static bool is_tail(const payload_buffer& kind) {
        return std::string_view(kind) == std::string_view(tail_marker, marker_size);
    }

    static record_role kind_role(const payload_buffer& kind) {
        if (is_tail(kind)) return record_role::tail;
        if (kind == kind_value || kind == kind_file) return record_role::kind;
        if (kind == kind_stub) return record_role::stub_kind;
        return record_role::unknown_kind;
    }

    // Reads one record; no role means a kind, told by its payload.
    // Records that must not be verified are the stub's file name and data.
    bool read(payload_buffer& payload, std::optional<record_role> role, bool verified = true) {
        record_info info;
        const record_status status = read_checked_record(file_, payload, info);
        if (status == record_status::failed) {
            result_.valid = false;
            result_.end = walk_end::failed;
            observer_.on_failure();
            return false;
        }
        observer_.on_record(info, payload, role ? *role : kind_role(payload));
        if (status == record_status::ok) return true;
        if (verified) {
            result_.valid = false;
            observer_.on_mismatch();
            if (!options_.listing) {
                result_.end = walk_end::mismatch;
                return false;
            }
        }
        if (!move(file_, -LONG(info.length))) {
            result_.end = walk_end::failed;
            return false;
        }
        return true;
    }

    byte_source& file_;
    walk_observer& observer_;
    walk_options options_;
    walk_result result_;
};

}  // namespace

walk_result walk_archive(byte_source& file, walk_observer& observer, const walk_options& options) {
    return walker(file, observer, options).run();
}

}  // namespace archive
