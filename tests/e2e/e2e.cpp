// End-to-end test support.

#include "tests/e2e/e2e.h"

#include "tests/support/installer_record.h"
#include "tests/support/package_writer.h"
#include "tests/support/test_folder.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <linux/capability.h>
#include <sys/prctl.h>
#include <sys/ptrace.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <thread>

extern char** environ;

namespace e2e {
namespace {

std::string read_all(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

int hex_digit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Reads a quoted, escaped text starting at line[at] == '"'; at ends behind
// the closing quote. False when the text is malformed.
bool unquote(const std::string& line, size_t& at, std::string& text) {
    if (at >= line.size() || line[at] != '"') return false;
    text.clear();
    for (++at; at < line.size(); ++at) {
        const char c = line[at];
        if (c == '"') {
            ++at;
            return true;
        }
        if (c != '\\') {
            text += c;
            continue;
        }
        if (++at >= line.size()) return false;
        switch (line[at]) {
            case '\\': text += '\\'; break;
            case '"': text += '"'; break;
            case 'r': text += '\r'; break;
            case 'n': text += '\n'; break;
            case 't': text += '\t'; break;
            case 'x': {
                if (at + 2 >= line.size()) return false;
                const int high = hex_digit(line[at + 1]);
                const int low = hex_digit(line[at + 2]);
                if (high < 0 || low < 0) return false;
                text += static_cast<char>(high * 16 + low);
                at += 2;
                break;
            }
            default: return false;
        }
    }
    return false;
}

// The environment of a child: ours with the given changes.
std::vector<std::string> child_environment(const std::map<std::string, std::optional<std::string>>& changes) {
    std::vector<std::string> environment;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        const std::string text = *entry;
        if (changes.count(text.substr(0, text.find('='))) == 0) environment.push_back(text);
    }
    for (const auto& change : changes)
        if (change.second) environment.push_back(change.first + "=" + *change.second);
    return environment;
}

// fork + exec with standard error to a file, and the limits of run_options
// set in the child before exec.
pid_t spawn(const std::vector<std::string>& arguments, const std::vector<std::string>& environment,
            const std::string& error_path, std::optional<unsigned long long> address_space_limit,
            const std::string& directory = std::string(),
            std::optional<unsigned long long> file_size_limit = std::nullopt, bool without_file_override = false,
            bool stopped_at_start = false) {
    std::vector<std::string> arguments_copy = arguments;
    std::vector<std::string> environment_copy = environment;
    std::vector<char*> argv;
    for (std::string& argument : arguments_copy) argv.push_back(&argument[0]);
    argv.push_back(nullptr);
    std::vector<char*> envp;
    for (std::string& entry : environment_copy) envp.push_back(&entry[0]);
    envp.push_back(nullptr);

    const int error_fd = open(error_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    const int null_fd = open("/dev/null", O_RDWR | O_CLOEXEC);
    if (error_fd < 0 || null_fd < 0) throw std::runtime_error("cannot open the child's output files");
    const pid_t pid = fork();
    if (pid == 0) {
        if (address_space_limit) {
            struct rlimit limit = {static_cast<rlim_t>(*address_space_limit), static_cast<rlim_t>(*address_space_limit)};
            if (setrlimit(RLIMIT_AS, &limit) != 0) _exit(126);
        }
        // Whatever a run leaves in its current directory stays in the sandbox.
        if (!directory.empty() && chdir(directory.c_str()) != 0) _exit(125);
        if (file_size_limit) {
            struct rlimit limit = {static_cast<rlim_t>(*file_size_limit), static_cast<rlim_t>(*file_size_limit)};
            if (setrlimit(RLIMIT_FSIZE, &limit) != 0) _exit(126);
        }
        // Dropped from the bounding set, the two are gone after exec.
        if (without_file_override && geteuid() == 0 &&
            (prctl(PR_CAPBSET_DROP, CAP_DAC_OVERRIDE, 0, 0, 0) != 0 ||
             prctl(PR_CAPBSET_DROP, CAP_DAC_READ_SEARCH, 0, 0, 0) != 0))
            _exit(124);
        dup2(null_fd, 0);
        dup2(null_fd, 1);
        dup2(error_fd, 2);
        // Traced, the exec stops the child before the program runs.
        if (stopped_at_start && ptrace(PTRACE_TRACEME, 0, nullptr, nullptr) != 0) _exit(123);
        execve(argv[0], argv.data(), envp.data());
        _exit(127);
    }
    close(error_fd);
    close(null_fd);
    if (pid < 0) throw std::runtime_error("fork failed");
    int status = 0;
    if (stopped_at_start && (waitpid(pid, &status, 0) != pid || !WIFSTOPPED(status)))
        throw std::runtime_error("the child did not stop at its start");
    return pid;
}

void copy_file_into(std::ofstream& out, const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    out << in.rdbuf();
}

}  // namespace

std::string launcher_path() { return QV_LAUNCHER; }
std::string test_installer_path() { return QV_TEST_INSTALLER; }

bool eventually(const std::function<bool()>& condition, int timeout_seconds) {
    const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(timeout_seconds);
    while (!condition()) {
        if (std::chrono::steady_clock::now() > give_up) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

std::string dos_path(const std::string& posix_path) { return qv_test::test_folder::dos_path(posix_path); }

std::vector<message_box> parse_message_boxes(const std::string& standard_error) {
    std::vector<message_box> boxes;
    size_t start = 0;
    while (start < standard_error.size()) {
        size_t end = standard_error.find('\n', start);
        if (end == std::string::npos) end = standard_error.size();
        const std::string line = standard_error.substr(start, end - start);
        start = end + 1;
        const std::string head = "MessageBoxA caption=";
        if (line.compare(0, head.size(), head) != 0) continue;
        size_t at = head.size();
        message_box box;
        if (!unquote(line, at, box.caption)) continue;
        const std::string middle = " text=";
        if (line.compare(at, middle.size(), middle) != 0) continue;
        at += middle.size();
        if (unquote(line, at, box.text) && at == line.size()) boxes.push_back(box);
    }
    return boxes;
}

package_plan package_plan::example() {
    package_plan plan;
    plan.files.push_back({"installer32", "setup.exe", test_installer_path()});
    plan.values = {{"executable32", "%installer32%"},
                   {"parameters", "/V\"PARTNERID=5 WEBINSTALLER=1 \""},
                   {"msilog", "ON"}};
    return plan;
}

std::optional<installer_record> run_result::record() const {
    std::ifstream in(record_path, std::ios::binary);
    if (!in) return std::nullopt;
    installer_record record;
    std::string line;
    while (std::getline(in, line)) {
        const size_t equals = line.find('=');
        if (equals == std::string::npos) continue;
        const std::string key = line.substr(0, equals);
        const std::string value = ::installer_record::unescaped(line.substr(equals + 1));
        if (key == "program") record.program = value;
        if (key == "cwd") record.cwd = value;
        if (key == "command_line") record.command_line = value;
        if (key == "arg") record.arguments.push_back(value);
    }
    return record;
}

std::vector<std::string> run_result::working_folders() const {
    std::vector<std::string> folders;
    DIR* listing = opendir(tmpdir.c_str());
    if (listing == nullptr) return folders;
    while (const dirent* entry = readdir(listing)) {
        const std::string name = entry->d_name;
        struct stat info;
        if (name.compare(0, 2, "QV") == 0 && name.find('.') == std::string::npos &&
            stat((tmpdir + "/" + name).c_str(), &info) == 0 && S_ISDIR(info.st_mode))
            folders.push_back(name);
    }
    closedir(listing);
    return folders;
}

running_package::running_package(pid_t pid, run_result partial, std::string error_path)
    : pid_(pid), result_(std::move(partial)), error_path_(std::move(error_path)) {}

running_package::running_package(running_package&& other) noexcept
    : pid_(other.pid_), reaped_(other.reaped_), status_(other.status_), result_(std::move(other.result_)),
      error_path_(std::move(other.error_path_)) {
    other.reaped_ = true;
}

running_package::~running_package() {
    if (!reaped_) {
        ::kill(pid_, SIGKILL);
        waitpid(pid_, &status_, 0);
    }
}

bool running_package::has_ended() {
    if (reaped_) return true;
    if (waitpid(pid_, &status_, WNOHANG) == pid_) reaped_ = true;
    return reaped_;
}

void running_package::resume() { ptrace(PTRACE_DETACH, pid_, nullptr, nullptr); }

void running_package::kill_now() {
    ::kill(pid_, SIGKILL);
    finish();
}

run_result running_package::finish(int timeout_seconds) {
    if (!eventually([this] { return has_ended(); }, timeout_seconds)) {
        ::kill(pid_, SIGKILL);
        waitpid(pid_, &status_, 0);
        reaped_ = true;
    }
    result_.exit_code = WIFEXITED(status_) ? WEXITSTATUS(status_) : -1;
    result_.signal = WIFSIGNALED(status_) ? WTERMSIG(status_) : 0;
    result_.standard_error = read_all(error_path_);
    result_.boxes = parse_message_boxes(result_.standard_error);
    return result_;
}

sandbox::sandbox() : root_(folder_.path()), drive_c_(path("drive_c")), mutex_dir_(path("mutex")) {
    std::filesystem::create_directory(drive_c_);
}

std::string sandbox::fresh_folder(const std::string& prefix) {
    const std::string folder = path(prefix + std::to_string(++runs_));
    std::filesystem::create_directory(folder);
    return folder;
}

std::string sandbox::build_package(const package_plan& plan, const std::string& name) {
    const std::string archive_path = path(name + ".archive");
    const std::string image = plan.launcher.empty() ? launcher_path() : plan.launcher;
    {
        qv_test::package_writer writer(archive_path);
        if (plan.hole == 0) {
            writer.add_stub(image, "Reader.exe");
        } else {
            writer.add_stub_data("MZ", "Reader.exe");  // the image lies in front, before the hole
        }
        for (size_t i = 0; i < plan.files.size(); ++i) {
            const packed_file& file = plan.files[i];
            if (i + 1 == plan.files.size() && (plan.stored_data_length || plan.damage_last_file_digest)) {
                qv_test::package_writer::record_damage damage;
                damage.length = plan.stored_data_length;
                if (plan.damage_last_file_digest) damage.digest = std::string(16, '\x5a');
                // A file group in file order: data, file name, name, kind.
                writer.damage_next_record(damage);
                writer.add_record(read_all(file.source), archive::record_role::file_data);
                writer.add_record(file.file_name, archive::record_role::file_name);
                writer.add_record(file.name, archive::record_role::name);
                writer.add_record("file", archive::record_role::kind);
            } else {
                writer.add_file(file.name, file.file_name, file.source);
            }
        }
        for (const auto& value : plan.values) writer.add_value(value.first, value.second);
        writer.add_tail();
        writer.close();
    }
    const std::string package = path(name);
    if (plan.hole == 0) {
        std::filesystem::rename(archive_path, package);
    } else {
        {
            std::ofstream out(package, std::ios::binary);
            copy_file_into(out, image);
        }
        const auto image_size = std::filesystem::file_size(package);
        std::filesystem::resize_file(package, image_size + plan.hole);
        std::ofstream out(package, std::ios::binary | std::ios::app);
        copy_file_into(out, archive_path);
        out.close();
        std::filesystem::remove(archive_path);
    }
    chmod(package.c_str(), 0755);
    return package;
}

running_package sandbox::start(const std::string& package, const run_options& options) {
    run_result partial;
    partial.tmpdir = options.tmpdir.empty() ? fresh_folder("tmp") : options.tmpdir;
    const int run = ++runs_;
    partial.record_path = path("record" + std::to_string(run));
    const std::string error_path = path("stderr" + std::to_string(run));

    std::map<std::string, std::optional<std::string>> environment = {
        {"TMPDIR", partial.tmpdir},
        {"QV_MUTEX_DIR", mutex_dir_},
        {"QV_DRIVE_C", drive_c_},
        {"QV_TEST_RECORD", partial.record_path},
        {"QV_TEST_EXIT_CODE", std::to_string(options.installer_exit_code)},
        {"QV_TEST_RELEASE", options.release},
        {"QV_REGISTRY", std::nullopt},  // no product installed unless a test says so
    };
    for (const auto& change : options.environment) environment[change.first] = change.second;

    std::vector<std::string> arguments = {package};
    if (!options.command_line.empty()) arguments.push_back(options.command_line);
    const pid_t pid = spawn(arguments, child_environment(environment), error_path, options.address_space_limit,
                            root_, options.file_size_limit, options.without_file_override, options.stopped_at_start);
    return running_package(pid, partial, error_path);
}

run_result sandbox::run(const std::string& package, const run_options& options) {
    return start(package, options).finish();
}

int installer_exit_status(int code) {
    const std::vector<std::string> environment =
        child_environment({{"QV_TEST_EXIT_CODE", std::to_string(code)}, {"QV_TEST_RECORD", std::nullopt},
                           {"QV_TEST_RELEASE", std::nullopt}});
    const pid_t pid = spawn({test_installer_path()}, environment, "/dev/null", std::nullopt);
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace e2e
