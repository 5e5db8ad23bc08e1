// Every presentation of the corpus (tools/office_corpus/slide.py: LibreOffice's own documents,
// a PowerPoint-like package and LibreOffice's conversion of it, OpenDocument as another
// program writes it) read by the native reader and by the real LibreOffice as the PowerPoint
// searcher reads it: the same units, the same slide count. The corpus is made once per user
// and made again when its generator changes.
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/office/office_test_support.h"
#include "support/office_units.h"

namespace ferretta::test {
namespace {

namespace fs = std::filesystem;

std::string listed(const cache::Extract& extract) {
    std::ostringstream out;
    for (const auto& unit : extract.units)
        out << unit.place << " [" << unit.text << "]\n";
    out << "slides " << extract.count << "\n";
    return out.str();
}

// The corpus folder, made when missing or older than its generator; empty with `why` when a
// producer is missing (the generator exits 77, the shell 127 without python3).
fs::path slideCorpus(std::string& why) {
    const fs::path root = office::scratchRoot() / "slide-corpus";
    const fs::path tools = fs::path(FERRETTA_SOURCE_DIR) / "tools";
    const fs::path stamp = root / ".made";
    const auto fresh = [&] {
        std::error_code error;
        if (!fs::exists(stamp, error))
            return false;
        const auto made = fs::last_write_time(stamp, error);
        return made >= fs::last_write_time(tools / "office_corpus" / "slide.py", error) &&
               made >= fs::last_write_time(tools / "make_office_corpus.py", error);
    };
    fs::create_directories(office::scratchRoot());
    const int lock = ::open((office::scratchRoot() / ".slide-corpus.lock").c_str(),
                            O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (lock >= 0)
        ::flock(lock, LOCK_EX);
    if (!fresh()) {
        std::error_code error;
        fs::remove_all(root, error);
        const std::string command = "python3 '" + (tools / "make_office_corpus.py").string() +
                                    "' '" + root.string() + "' --kinds slide";
        const int status = std::system(command.c_str());
        if (WIFEXITED(status) && WEXITSTATUS(status) == 0) {
            std::ofstream(stamp) << "made\n";
        } else if (WIFEXITED(status) && (WEXITSTATUS(status) == 77 || WEXITSTATUS(status) == 127)) {
            why = "a producer of the corpus (python3, soffice) is missing";
        } else {
            why = "the corpus generator failed: " + command;
            ADD_FAILURE() << why;
        }
    }
    if (lock >= 0)
        ::close(lock);
    return why.empty() ? root : fs::path();
}

class SlideEquivalenceTest : public office::AutomationTest {};

TEST_F(SlideEquivalenceTest, everyPresentationReadsAsTheOfficeReadsIt) {
    std::string why;
    const fs::path corpus = slideCorpus(why);
    if (corpus.empty())
        GTEST_SKIP() << why;
    std::vector<fs::path> documents;
    for (const auto& entry : fs::directory_iterator(corpus)) {
        const std::string extension = entry.path().extension().string();
        if (extension == ".pptx" || extension == ".odp")
            documents.push_back(entry.path());
    }
    std::sort(documents.begin(), documents.end());
    ASSERT_GE(documents.size(), 5U) << "the corpus at " << corpus << " is incomplete";

    for (const fs::path& document : documents) {
        SCOPED_TRACE(document.filename().string());
        documents::ReadResult result;
        const cache::Extract native =
            nativeUnits(document.string(), documents::Kind::PowerPoint, result);
        EXPECT_EQ(result.status, documents::ReadStatus::Complete) << result.reason;
        const cache::Extract office =
            officeUnits(*m_automation, document.string(), documents::Kind::PowerPoint);
        EXPECT_GT(office.count, 0) << "the office read no slide";
        EXPECT_EQ(listed(native), listed(office));
    }
}

}  // namespace
}  // namespace ferretta::test
