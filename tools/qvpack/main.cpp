// qvpack: builds, lists, verifies and extracts packages.

#include "archive/host_file.h"
#include "archive/writer.h"
#include "tools/qvpack/commands.h"

#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <string>
#include <vector>

namespace {

const char usage[] =
    "usage: qvpack build -o PACKAGE --stub LAUNCHER [--stub-file-name NAME]\n"
    "                    [--file NAME FILE-NAME PATH | --value NAME TEXT]... [--align N] [--trailer PATH]\n"
    "       qvpack build -o PACKAGE --manifest MANIFEST\n"
    "       qvpack list PACKAGE\n"
    "       qvpack verify PACKAGE\n"
    "       qvpack extract -C FOLDER PACKAGE\n"
    "       qvpack --help | --version\n";

const char help[] =
    "\n"
    "build    writes a package: the launcher image (from LAUNCHER, or from the package\n"
    "         LAUNCHER already is), then the file and value groups in the order given,\n"
    "         then the tail record; --align N adds zero bytes up to a multiple of N and\n"
    "         --trailer appends a file's bytes behind the archive (never the marker text).\n"
    "         A PE launcher image is carried up to the end of its last section: a signed\n"
    "         launcher's certificate table is left out and its directory cleared.\n"
    "         A manifest names the same, one per line:\n"
    "           stub PATH [FILE-NAME]\n"
    "           file NAME FILE-NAME PATH\n"
    "           value NAME TEXT\n"
    "           align N\n"
    "           trailer PATH\n"
    "         Fields are separated by blanks; \"quoted\" fields may hold blanks and the\n"
    "         escapes \\\\ \\\" \\t \\r \\n \\xHH. Lines starting with # are comments;\n"
    "         relative paths are taken from the manifest's folder.\n"
    "list     every record the launcher reads, in file order, with its offset, length,\n"
    "         digest check, role and payload, and what lies behind the tail record:\n"
    "         alignment zeros, the certificate table signing appended, other bytes.\n"
    "verify   exit 0 when the launcher would take the archive as valid and extract\n"
    "         every file and a signed package's certificate directory describes the\n"
    "         table at the end of the file; says whether it is signed. Otherwise one\n"
    "         line saying why, and exit 1. The signature itself is checked by the\n"
    "         signing tool (osslsigncode verify, signtool verify). Warns (exit 0)\n"
    "         when executable32 names a file Windows does not start itself (.msi,\n"
    "         .bat ...): it would lose the parameters; tools/setup starts an .msi.\n"
    "extract  writes the packed files into FOLDER and prints the values.\n"
    "\n"
    "Exit codes: 0 done, 1 the package or an input is bad, 2 wrong usage.\n";

struct usage_error {
    std::string message;
};

std::string folder_of(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash == 0 ? 1 : slash);
}

int run_build(const std::vector<std::string>& args) {
    qvpack::build_plan plan;
    std::string output, manifest;
    bool items = false;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& option = args[i];
        const auto take = [&](size_t count) {
            if (i + count >= args.size()) throw usage_error{option + " needs " + std::to_string(count) + " argument(s)"};
            std::vector<std::string> values(args.begin() + long(i) + 1, args.begin() + long(i + count) + 1);
            i += count;
            return values;
        };
        if (option == "-o") output = take(1)[0];
        else if (option == "--manifest") manifest = take(1)[0];
        else if (option == "--stub") plan.stub_path = take(1)[0], items = true;
        else if (option == "--stub-file-name") plan.stub_file_name = take(1)[0], items = true;
        else if (option == "--file") {
            const auto v = take(3);
            plan.groups.push_back(qvpack::group{qvpack::group::file, v[0], v[1], v[2]});
            items = true;
        } else if (option == "--value") {
            const auto v = take(2);
            plan.groups.push_back(qvpack::group{qvpack::group::value, v[0], v[1], std::string()});
            items = true;
        } else if (option == "--align") {
            const std::string n = take(1)[0];
            char* rest = nullptr;
            const unsigned long value = std::strtoul(n.c_str(), &rest, 10);
            if (n.empty() || *rest != '\0' || value == 0 || value > 4096) throw usage_error{"--align takes 1 to 4096"};
            plan.alignment = uint32_t(value);
            items = true;
        } else if (option == "--trailer") plan.trailer_path = take(1)[0], items = true;
        else throw usage_error{"unknown option " + option};
    }
    if (output.empty()) throw usage_error{"build needs -o PACKAGE"};
    if (!manifest.empty()) {
        if (items) throw usage_error{"--manifest names everything; no other items go with it"};
        plan = qvpack::parse_manifest(archive::read_host_file(manifest), folder_of(manifest));
    } else if (plan.stub_path.empty()) {
        throw usage_error{"build needs --stub LAUNCHER or --manifest MANIFEST"};
    }
    return qvpack::build(plan, output, true);
}

int run(const std::vector<std::string>& args) {
    if (args.empty()) throw usage_error{"no command"};
    const std::string& command = args[0];
    const std::vector<std::string> rest(args.begin() + 1, args.end());
    if (command == "--help" || command == "-h") {
        std::cout << usage << help;
        return 0;
    }
    if (command == "--version") {
        std::cout << "qvpack " << QVPACK_VERSION << "\n";
        return 0;
    }
    if (command == "build") return run_build(rest);
    if (command == "list" || command == "verify") {
        if (rest.size() != 1) throw usage_error{command + " takes one PACKAGE"};
        if (command == "list") return qvpack::list(rest[0], std::cout);
        std::string reason;
        std::string warning;
        bool is_signed = false;
        const int code = qvpack::verify(rest[0], reason, &is_signed, &warning);
        if (code != 0) std::cerr << "qvpack: " << rest[0] << ": " << reason << "\n";
        else std::cout << rest[0] << (is_signed ? ": valid, signed\n" : ": valid, not signed\n");
        if (!warning.empty()) std::cerr << "qvpack: " << rest[0] << ": warning: " << warning << "\n";
        return code;
    }
    if (command == "extract") {
        if (rest.size() != 3 || rest[0] != "-C") throw usage_error{"extract takes -C FOLDER PACKAGE"};
        std::string reason;
        const int code = qvpack::extract(rest[2], rest[1], std::cout, reason, true);
        if (code != 0) std::cerr << "qvpack: " << rest[2] << ": " << reason << "\n";
        return code;
    }
    throw usage_error{"unknown command " + command};
}

}  // namespace

int main(int argc, char** argv) {
    try {
        return run(std::vector<std::string>(argv + 1, argv + argc));
    } catch (const usage_error& error) {
        std::cerr << "qvpack: " << error.message << " (qvpack --help tells more)\n";
        return 2;
    } catch (const archive::package_error& error) {
        std::cerr << "qvpack: " << error.message() << "\n";
        return 1;
    } catch (const std::bad_alloc&) {
        std::cerr << "qvpack: out of memory\n";
        return 1;
    }
}
