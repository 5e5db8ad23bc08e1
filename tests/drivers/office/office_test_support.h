#pragma once
// Shared by the LibreOffice tests: whether an office is installed, the committed flat-XML
// fixtures converted to the Office formats (once per user, cached under the temporary folder),
// the office processes this test program started, and a fixture holding one automation.
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "drivers/office/libreoffice.h"
#include "platform/error.h"

// Under the leak checker: the UNO runtime keeps its type descriptions (which refer to each
// other) to the end of the process on purpose.
extern "C" const char* __lsan_default_suppressions() {
    return "leak:libuno_cppu.so\nleak:libuno_sal.so\nleak:libuno_cppuhelpergcc3.so\n";
}

namespace ferretta::test::office {

namespace fs = std::filesystem;

inline bool haveSoffice() {
    return fs::exists("/usr/lib/libreoffice/program/soffice") &&
           fs::exists("/usr/lib/libreoffice/program/soffice.bin");
}

inline fs::path fixture(const std::string& name) {
    return fs::path(FERRETTA_TEST_DATA) / "office" / name;
}

inline fs::path scratchRoot() {
    return fs::temp_directory_path() / ("ferretta-office-test-" + std::to_string(::getuid()));
}

// The fixture `source` (a .fodt, .fods or .fodp) saved by soffice as `extension`; empty when
// the conversion failed. Conversions are cached and redone when the source is newer; a lock
// keeps parallel test programs from converting at the same time.
inline fs::path converted(const std::string& source, const std::string& extension) {
    const fs::path cache = scratchRoot() / "fixtures";
    fs::create_directories(cache);
    const fs::path input = fixture(source);
    const fs::path output = cache / (input.stem().string() + "." + extension);
    const auto fresh = [&] {
        std::error_code error;
        return fs::exists(output, error) && fs::file_size(output, error) > 0 &&
               fs::last_write_time(output, error) >= fs::last_write_time(input, error);
    };
    if (fresh())
        return output;
    const int lock = ::open((cache / ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (lock >= 0)
        ::flock(lock, LOCK_EX);
    if (!fresh()) {
        const std::string command =
            "soffice -env:UserInstallation=file://" + (cache / "profile").string() +
            " --headless --norestore --convert-to " + extension + " --outdir '" + cache.string() +
            "' '" + input.string() + "' >/dev/null 2>&1";
        if (std::system(command.c_str()) != 0)
            fs::remove(output);
    }
    if (lock >= 0)
        ::close(lock);
    return fresh() ? output : fs::path();
}

// The pids of this program's offices (launcher and office both), optionally only those whose
// pipe name contains `kind` ("search" or "open"): the processes whose command line names it.
// Read from /proc, so no shell of ours (whose command line would hold the pattern) is counted.
inline std::vector<pid_t> ourOfficePids(const std::string& kind = "") {
    const std::regex pattern("ferretta_lo_" + std::to_string(::getpid()) + "_[0-9]+_" + kind);
    std::vector<pid_t> pids;
    std::error_code error;
    for (const auto& entry : fs::directory_iterator("/proc", error)) {
        const std::string name = entry.path().filename().string();
        if (name.find_first_not_of("0123456789") != std::string::npos)
            continue;
        std::string commandLine;
        std::getline(std::ifstream(entry.path() / "cmdline", std::ios::binary), commandLine, '\n');
        std::replace(commandLine.begin(), commandLine.end(), '\0', ' ');
        const auto pid = static_cast<pid_t>(std::stol(name));
        if (pid != ::getpid() && std::regex_search(commandLine, pattern))
            pids.push_back(pid);
    }
    return pids;
}

// Whether one of the processes is the office itself (not only its launcher).
inline bool hasOfficeProcess(const std::vector<pid_t>& pids) {
    return std::any_of(pids.begin(), pids.end(), [](pid_t pid) {
        std::string name;
        std::getline(std::ifstream("/proc/" + std::to_string(pid) + "/comm"), name);
        return name == "soffice.bin";
    });
}

// Waits up to `seconds` for every office of ours to be gone.
inline bool noOfficeLeft(int seconds = 10) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    while (!ourOfficePids().empty()) {
        if (std::chrono::steady_clock::now() > until)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return true;
}

// A configuration with a profile of this program's own, so that parallel test programs do not
// share one (a profile made before is copied, which is faster than making a new one).
inline platform::office::LibreOfficeConfig testConfig(int callTimeoutMs = 60000) {
    platform::office::LibreOfficeConfig config;
    const fs::path base = scratchRoot() / "profile-template";
    config.profileRoot = scratchRoot() / ("run-" + std::to_string(::getpid()));
    std::error_code error;
    fs::remove_all(config.profileRoot, error);
    if (fs::exists(base / "search")) {
        fs::create_directories(config.profileRoot);
        fs::copy(base, config.profileRoot, fs::copy_options::recursive, error);
    }
    config.callTimeoutMs = callTimeoutMs;
    config.startTimeoutMs = 60000;
    config.logFile = scratchRoot() / "office.log";
    return config;
}

// Keeps the first complete profile as the template for later runs; removes this run's.
inline void keepProfileTemplate(const platform::office::LibreOfficeConfig& config) {
    const fs::path base = scratchRoot() / "profile-template";
    std::error_code error;
    if (!fs::exists(base / "search") && fs::exists(config.profileRoot / "search" / "user")) {
        fs::copy(config.profileRoot, base, fs::copy_options::recursive, error);
    }
    fs::remove_all(config.profileRoot, error);
}

// The code of the automation failure the call throws; a failure of the test when it throws
// nothing or something else.
inline long automationCode(const std::function<void()>& call) {
    try {
        call();
    } catch (const Error& error) {
        EXPECT_EQ(error.kind(), Error::Kind::Automation) << error.what();
        EXPECT_NE(error.code(), 0);
        return error.code();
    }
    ADD_FAILURE() << "no Error was thrown";
    return 0;
}

// One automation with a profile of its own, for each test; skipped without LibreOffice. At the
// end no office of the test may be left.
class AutomationTest : public ::testing::Test {
  protected:
    void SetUp() override {
#ifndef FERRETTA_HAVE_LIBREOFFICE
        GTEST_SKIP() << "built without LibreOffice";
#endif
        if (!haveSoffice())
            GTEST_SKIP() << "LibreOffice is not installed";
        m_config = testConfig(callTimeoutMs());
        m_automation = platform::office::makeLibreOfficeAutomation(m_config);
    }
    void TearDown() override {
        if (!m_automation)
            return;
        m_automation.reset();
        EXPECT_TRUE(noOfficeLeft()) << "an office outlived the automation";
        keepProfileTemplate(m_config);
    }
    virtual int callTimeoutMs() const {
        return 60000;
    }

    platform::office::LibreOfficeConfig m_config;
    std::unique_ptr<platform::office::Automation> m_automation;
};

}  // namespace ferretta::test::office
