// The commands of qvpack, over the archive's own walk and writer.

#include "tools/qvpack/commands.h"

#include "tools/qvpack/signing.h"

#include "archive/host_file.h"
#include "archive/layout.h"
#include "archive/references.h"
#include "archive/walk.h"
#include "archive/writer.h"
#include "tessel/format.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <map>
#include <vector>

namespace qvpack {
namespace {

namespace fs = std::filesystem;

// A percentage on standard error, for long jobs, when it is a terminal.
class progress_meter {
public:
    progress_meter(const char* what, uint64_t total, bool wanted)
        : what_(what), total_(total), enabled_(wanted && total >= (8u << 20) && isatty(STDERR_FILENO)) {}
    ~progress_meter() {
        if (shown_) std::fprintf(stderr, "\r%*s\r", 30, "");
    }
    void update(uint64_t done) {
        if (!enabled_) return;
        const int percent = int(std::min<uint64_t>(done, total_) * 100 / total_);
        if (percent == last_) return;
        last_ = percent;
        shown_ = true;
        std::fprintf(stderr, "\rqvpack: %s %3d%%", what_, percent);
        std::fflush(stderr);
    }
    static void callback(uint64_t done, void* self) { static_cast<progress_meter*>(self)->update(done); }

private:
    const char* what_;
    uint64_t total_;
    bool enabled_;
    bool shown_ = false;
    int last_ = -1;
};

// A package open once, by a path of the host: the walk reads it through
// the 32-bit file pointer the launcher has, and the certificate checks read
// the same open file.
class open_package : public archive::byte_source {
public:
    explicit open_package(const std::string& path) : file_(path) {
        // The launcher's file pointer reaches no further.
        if (!file_.size()) throw archive::package_error("cannot read " + path + ": its size is unknown");
        if (*file_.size() >= INVALID_SET_FILE_POINTER)
            throw archive::package_error("cannot read " + path + ": no package can be that large");
        size_ = uint32_t(*file_.size());
    }

    archive::host_input& file() { return file_; }
    uint32_t size() const { return size_; }

    DWORD move(LONG distance, DWORD method) override {
        const int64_t base = method == FILE_BEGIN ? 0 : method == FILE_CURRENT ? position_ : int64_t(size_);
        const int64_t target = base + distance;
        if (target < 0 || target >= int64_t(INVALID_SET_FILE_POINTER)) return INVALID_SET_FILE_POINTER;
        position_ = target;
        return DWORD(target);
    }
    bool read(void* buffer, DWORD size, DWORD& done) override {
        file_.seek(uint64_t(position_));
        done = DWORD(file_.read(static_cast<char*>(buffer), size));
        position_ += done;
        return true;
    }

private:
    archive::host_input file_;
    uint32_t size_ = 0;
    int64_t position_ = 0;
};

std::string offset_text(uint32_t offset) { return std::to_string(offset); }

// The launcher's walk, with the reason it stopped early in words.
class checking_walk : public archive::walk_observer {
public:
    void on_record(const archive::record_info& info, std::string_view, archive::record_role role) override {
        last_ = info;
        last_role_ = archive::role_name(role);
        if (role != archive::record_role::tail) last_role_ += " record";  // the tail's role names it already
        ++records_;
    }
    void on_mismatch() override {
        reason_ = "the " + last_role_ + " at offset " + offset_text(last_.offset) + " fails its digest";
    }
    void on_failure() override {
        const std::string end = records_ == 0 ? "the tail record's end" : "offset " + offset_text(last_.offset);
        reason_ = "the record ending at " + end + " cannot be read (a length beyond the start of the file?)";
    }
    bool on_file(std::string_view name, std::string_view file_name, std::string_view data) override {
        if (!name.empty()) table_.emplace(name, file_name);
        if (!archive::is_plain_file_name(std::string(file_name))) {
            reason_ = "the packed file name " + quote(file_name) + " is not a plain file name";
            return false;
        }
        ++files_;
        return write(name, file_name, data);
    }
    void on_value(std::string_view name, std::string_view text) override {
        if (table_.emplace(name, text).second) values_.emplace_back(name);
    }

    // The reason the archive is not valid, once the walk is over.
    std::string verdict(const archive::walk_result& result) const {
        if (result.valid && result.end == archive::walk_end::stub) return std::string();
        if (!reason_.empty()) return reason_;
        return "the tail record was not read: its length or digest does not belong to the marker";
    }

    size_t files() const { return files_; }
    const std::vector<std::string>& values() const { return values_; }
    const std::string& value(const std::string& name) const { return table_.at(name); }
    // The installer's file name as the launcher forms it.
    std::string installer() const {
        const auto found = table_.find("executable32");
        return found == table_.end() ? std::string() : archive::expand_references(found->second, table_);
    }

protected:
    virtual bool write(std::string_view /*name*/, std::string_view /*file_name*/, std::string_view /*data*/) {
        return true;
    }
    void refuse(const std::string& reason) { reason_ = reason; }

private:
    archive::record_info last_;
    std::string last_role_;
    size_t records_ = 0;
    std::string reason_;
    size_t files_ = 0;
    std::map<std::string, std::string> table_;  // insert-if-absent, as the launcher's
    std::vector<std::string> values_;
};

class extracting_walk : public checking_walk {
public:
    extracting_walk(const std::string& folder, progress_meter& meter, uint32_t size)
        : folder_(folder), meter_(meter), size_(size) {}
    void on_record(const archive::record_info& info, std::string_view payload, archive::record_role role) override {
        checking_walk::on_record(info, payload, role);
        meter_.update(size_ - info.offset);
    }

protected:
    bool write(std::string_view, std::string_view file_name, std::string_view data) override {
        try {
            archive::host_output file(folder_ + "/" + std::string(file_name));
            file.write(data.data(), data.size());
            file.place();
            return true;
        } catch (const archive::package_error& error) {
            refuse(error.message());
            return false;
        }
    }

private:
    std::string folder_;
    progress_meter& meter_;
    uint32_t size_;
};

// The launcher takes the marker nearest the end of the file for the tail
// record: none may lie behind the one written (in a trailer, or across
// the tail record's end).
void refuse_marker_behind_tail(const std::string& package_path, const archive::written_record& tail,
                               const std::string& trailer_path) {
    open_package package(package_path);
    uint32_t found_end = 0;
    const uint64_t tail_end = tail.offset + tail.length + archive::trailer_size;
    if (archive::find_tail(package, &found_end) && found_end == tail_end) return;
    throw archive::package_error("the trailer " + trailer_path + " holds the marker text \"" +
                                 std::string(archive::tail_marker) + "\": the launcher would take it for the tail record");
}

archive::walk_result walk_package(open_package& package, archive::walk_observer& observer, std::string& reason,
                                  const archive::walk_options& options = archive::walk_options(),
                                  uint32_t* tail_end = nullptr) {
    if (!archive::find_tail(package, tail_end)) {
        reason = "no tail record: the marker \"" + std::string(archive::tail_marker) + "\" is not in the file";
        return archive::walk_result();
    }
    return archive::walk_archive(package, observer, options);
}

std::optional<packaged_stub> find_packaged_stub(open_package& package) {
    struct stub_finder : archive::walk_observer {
        void on_record(const archive::record_info& info, std::string_view payload, archive::record_role role) override {
            if (role == archive::record_role::stub_data) data = info;
            if (role == archive::record_role::stub_file_name) file_name = payload;
        }
        std::optional<archive::record_info> data;
        std::string file_name;
    } finder;
    archive::walk_options options;
    options.listing = true;
    std::string reason;
    const archive::walk_result result = walk_package(package, finder, reason, options);
    // A launcher image holds the marker text too; only a walk that reaches
    // a stub group whose image starts the file makes this a package.
    if (result.end != archive::walk_end::stub || !finder.data || finder.data->offset != 0) return std::nullopt;
    return packaged_stub{finder.data->length, finder.file_name};
}

int verify_open(open_package& package, std::string& reason, bool* is_signed, std::string* warning);

}  // namespace

std::optional<packaged_stub> find_packaged_stub(const std::string& path) {
    open_package package(path);
    return find_packaged_stub(package);
}

int build(const build_plan& plan, const std::string& output, bool show_progress) {
    std::optional<packaged_stub> packaged;
    std::optional<std::string> pe_image;
    uint64_t image_length = 0;
    {
        // The launcher image is looked at in one open file, closed before
        // the package, which may be the same file, replaces it.
        open_package stub(plan.stub_path);
        packaged = find_packaged_stub(stub);
        image_length = packaged ? packaged->image_length : stub.size();
        pe_image = carried_pe_image(stub.file(), image_length);
    }
    std::string stub_file_name = plan.stub_file_name;
    if (stub_file_name.empty())
        stub_file_name = packaged ? packaged->file_name : fs::path(plan.stub_path).filename().string();

    uint64_t total = image_length;
    std::error_code ignored;
    for (const group& item : plan.groups)
        if (item.kind == group::file) {
            const uintmax_t size = fs::file_size(item.path, ignored);
            if (size != uintmax_t(-1)) total += size;
        }
    progress_meter meter("building", total, show_progress);

    // Written beside output and put in place whole, or not at all.
    archive::package_writer writer(output);
    writer.on_progress(&progress_meter::callback, &meter);
    if (pe_image) writer.add_stub_data(*pe_image, stub_file_name);
    else if (packaged) writer.add_stub_prefix(plan.stub_path, packaged->image_length, stub_file_name);
    else writer.add_stub(plan.stub_path, stub_file_name);
    for (const group& item : plan.groups) {
        if (item.kind == group::file) writer.add_file(item.name, item.text, item.path);
        else writer.add_value(item.name, item.text);
    }
    writer.add_tail();
    if (plan.alignment != 0) writer.align(plan.alignment);
    if (!plan.trailer_path.empty()) writer.add_trailing_file(plan.trailer_path);
    const fs::perms stub_permissions = fs::status(plan.stub_path, ignored).permissions();
    writer.close([&](const std::string& written) {
        refuse_marker_behind_tail(written, writer.records().back(), plan.trailer_path);
        // A package is run: it keeps the launcher's permissions.
        if (stub_permissions != fs::perms::unknown) fs::permissions(written, stub_permissions, ignored);
    });
    return 0;
}

int list(const std::string& path, std::ostream& out) {
    struct lister : archive::walk_observer {
        struct entry {
            archive::record_info info;
            archive::record_role role;
            std::string preview;
        };
        void on_record(const archive::record_info& info, std::string_view payload, archive::record_role role) override {
            entries.push_back(entry{info, role, preview(payload, 40)});
        }
        std::vector<entry> entries;
    } records;
    open_package package(path);
    archive::walk_options options;
    options.listing = true;
    std::string reason;
    uint32_t tail_end = 0;
    walk_package(package, records, reason, options, &tail_end);
    if (!reason.empty()) throw archive::package_error(path + ": " + reason);

    std::reverse(records.entries.begin(), records.entries.end());  // read from the end: back to file order
    out << tessel::format("%10s %10s  %-7s  %-14s  %s\n", "offset", "length", "digest", "role", "payload");
    for (const auto& entry : records.entries) {
        const bool stub_only =
            entry.role == archive::record_role::stub_data || entry.role == archive::record_role::stub_file_name;
        const char* digest = entry.info.digest_matches ? "ok" : stub_only ? "differs" : "BAD";
        out << tessel::format("%10u %10u  %-7s  %-14s  ", entry.info.offset, entry.info.length, digest,
                              archive::role_name(entry.role))
            << entry.preview << "\n";
    }
    if (tail_end <= package.size()) {
        out << "tail record ends at " << tail_end << "; " << package.size() - tail_end << " bytes behind it\n";
        list_behind_tail(package.file(), package_certificate_directory(package.file(), package.size()), tail_end,
                         package.size(), out);
    } else {
        out << "tail record would end at " << tail_end << ", behind the end of the file (" << package.size() << ")\n";
    }

    std::string verdict;
    bool is_signed = false;
    out << (verify_open(package, verdict, &is_signed, nullptr) == 0 ? is_signed ? "valid, signed" : "valid, not signed"
                                                    : "invalid: " + verdict)
        << "\n";
    return 0;
}

// Windows starts programs itself; any other file (an .msi, a .bat ...) it
// opens through the program its type is associated with, which receives
// none of the parameters the launcher composed.
std::string installer_warning(const std::string& installer) {
    const size_t name = installer.find_last_of("\\/");
    const size_t dot = installer.rfind('.');
    std::string extension = dot == std::string::npos || (name != std::string::npos && dot < name)
                                ? std::string()
                                : installer.substr(dot);
    std::transform(extension.begin(), extension.end(), extension.begin(),
                   [](unsigned char c) { return char(std::tolower(c)); });
    if (installer.empty() || extension == ".exe" || extension == ".com") return std::string();
    return "executable32 names " + quote(installer) +
           ", which Windows does not start itself but opens with the program of its file type: the parameters "
           "(the silent switch, the /V text, the installer log, the language) would be lost; pack a program "
           "that starts it, such as tools/setup's setup.exe, as executable32";
}

namespace {

int verify_open(open_package& package, std::string& reason, bool* is_signed, std::string* warning) {
    reason.clear();
    checking_walk walk;
    uint32_t tail_end = 0;
    const archive::walk_result result = walk_package(package, walk, reason, archive::walk_options(), &tail_end);
    if (!reason.empty()) return 1;
    reason = walk.verdict(result);
    if (!reason.empty()) return 1;
    if (warning != nullptr) *warning = installer_warning(walk.installer());
    const certificate_directory directory = package_certificate_directory(package.file(), package.size());
    if (is_signed != nullptr) *is_signed = directory.present;
    reason = certificate_directory_fault(directory, tail_end, package.size());
    return reason.empty() ? 0 : 1;
}

}  // namespace

int verify(const std::string& path, std::string& reason, bool* is_signed, std::string* warning) {
    reason.clear();
    open_package package(path);
    return verify_open(package, reason, is_signed, warning);
}

int extract(const std::string& path, const std::string& folder, std::ostream& out, std::string& reason,
            bool show_progress) {
    std::error_code error;
    if (!fs::is_directory(folder, error)) throw archive::package_error("no folder " + folder);
    reason.clear();
    open_package package(path);
    progress_meter meter("extracting", package.size(), show_progress);
    extracting_walk walk(folder, meter, package.size());
    const archive::walk_result result = walk_package(package, walk, reason);
    if (!reason.empty()) return 1;
    for (const std::string& name : walk.values()) {
        if (name == "source" || name == "commandline")
            out << "# no effect: the launcher enters its own " << quote(name) << " before it reads the archive\n";
        out << "value " << quote(name) << " " << quote(walk.value(name)) << "\n";
    }
    reason = walk.verdict(result);
    return reason.empty() ? 0 : 1;
}

}  // namespace qvpack
