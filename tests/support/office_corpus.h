#pragma once
// The Office corpus of tools/make_office_corpus.py for one kind ("word", "sheet", "slide"),
// made once per user under the office tests' scratch folder (with a lock, so that parallel test
// programs make it once) and made again when its generator changes.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include <gtest/gtest.h>

#include "drivers/office/office_test_support.h"

namespace ferretta::test {

// The corpus folder of the kind; empty with `why` when a producer is missing (the generator
// exits 77, the shell 127 without python3). A generator that fails otherwise fails the test.
inline std::filesystem::path officeCorpus(const std::string& kind, std::string& why) {
    namespace fs = std::filesystem;
    const fs::path root = office::scratchRoot() / (kind + "-corpus");
    const fs::path tools = fs::path(FERRETTA_SOURCE_DIR) / "tools";
    const fs::path stamp = root / ".made";
    const auto fresh = [&] {
        std::error_code error;
        const auto made = fs::last_write_time(stamp, error);
        return !error &&
               made >= fs::last_write_time(tools / "office_corpus" / (kind + ".py"), error) &&
               made >= fs::last_write_time(tools / "make_office_corpus.py", error);
    };
    fs::create_directories(office::scratchRoot());
    const int lock = ::open((office::scratchRoot() / ("." + kind + "-corpus.lock")).c_str(),
                            O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (lock >= 0)
        ::flock(lock, LOCK_EX);
    if (!fresh()) {
        std::error_code error;
        fs::remove_all(root, error);
        // The system's interpreter when there is one: apt installs the producers' modules
        // (python3-docx, python3-openpyxl) for it, and a python3 earlier on PATH (pyenv, a
        // virtual environment) would lack them and skip the test.
        const char* const python =
            ::access("/usr/bin/python3", X_OK) == 0 ? "/usr/bin/python3" : "python3";
        const std::string command = std::string(python) + " '" +
                                    (tools / "make_office_corpus.py").string() + "' '" +
                                    root.string() + "' --kinds " + kind;
        const int status = std::system(command.c_str());
        const int code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        if (code == 0) {
            std::ofstream(stamp) << "made\n";
        } else if (code == 77 || code == 127) {
            why = "a producer of the " + kind + " corpus (python3, soffice, ...) is missing";
        } else {
            why = "the corpus generator failed: " + command;
            ADD_FAILURE() << why;
        }
    }
    if (lock >= 0)
        ::close(lock);
    return why.empty() ? root : fs::path();
}

}  // namespace ferretta::test
