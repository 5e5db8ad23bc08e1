// The native Word reader against the real office: every document of the corpus that
// tools/make_office_corpus.py makes (LibreOffice's .odt and .docx, python-docx's .docx) read
// both ways, in both modes, with identical units. A document named "...-office-..." holds a
// construct left to the office ("-office-docx-": as .docx only): in normal mode the native
// reader must decline it; in fast mode (which reads no shapes) it may read it, then with the
// office's units.

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "drivers/office/office_test_support.h"
#include "support/office_corpus.h"
#include "support/office_units.h"

namespace ferretta::test {
namespace {

namespace fs = std::filesystem;

// The .docx and .odt documents of the corpus, in name order; empty with `why` when a producer
// is missing.
std::vector<fs::path> wordCorpus(std::string& why) {
    std::vector<fs::path> documents;
    const fs::path folder = officeCorpus("word", why);
    if (folder.empty())
        return documents;
    for (const auto& entry : fs::directory_iterator(folder)) {
        const std::string extension = entry.path().extension().string();
        if (extension == ".docx" || extension == ".odt")
            documents.push_back(entry.path());
    }
    std::sort(documents.begin(), documents.end());
    return documents;
}

class WordEquivalenceTest : public office::AutomationTest {
  protected:
    void TearDown() override {
        if (m_word)
            m_word->quit();
        m_word.reset();
        AutomationTest::TearDown();
    }

    // The office's units, all documents read through one Word.
    cache::Extract officeRead(const fs::path& path, documents::Kind kind) {
        try {
            if (!m_word)
                m_word = m_automation->createWord(platform::office::Purpose::Search);
            return officeWordUnits(*m_word, path.string(), kind);
        } catch (const Error& failure) {
            ADD_FAILURE() << "the office could not read " << path << ": " << failure.what();
            return {};
        }
    }

    std::unique_ptr<platform::office::WordApplication> m_word;
};

std::string describe(const cache::Extract& extract) {
    std::string out;
    for (const auto& unit : extract.units)
        out += std::to_string(unit.place) + " [" + unit.text + "]\n";
    return out;
}

TEST_F(WordEquivalenceTest, NativeUnitsAreTheOfficesInBothModes) {
    std::string why;
    const auto corpus = wordCorpus(why);
    if (corpus.empty())
        GTEST_SKIP() << why;
    int native = 0;
    for (const fs::path& path : corpus) {
        const std::string name = path.filename().string();
        const bool forOffice = name.find("-office-docx-") != std::string::npos
                                   ? path.extension() == ".docx"
                                   : name.find("-office-") != std::string::npos;
        for (const auto kind : {documents::Kind::WordNormal, documents::Kind::WordFast}) {
            SCOPED_TRACE(path.filename().string() +
                         (kind == documents::Kind::WordFast ? " (fast)" : " (normal)"));
            documents::ReadResult result;
            const cache::Extract mine = nativeUnits(path.string(), kind, result);
            if (forOffice && (kind == documents::Kind::WordNormal ||
                              result.status == documents::ReadStatus::ForOffice)) {
                EXPECT_EQ(result.status, documents::ReadStatus::ForOffice);
                EXPECT_TRUE(mine.units.empty());
                continue;
            }
            ASSERT_EQ(result.status, documents::ReadStatus::Complete) << result.reason;
            ++native;
            const cache::Extract theirs = officeRead(path, kind);
            EXPECT_EQ(mine.units, theirs.units) << "native:\n"
                                                << describe(mine) << "office:\n"
                                                << describe(theirs);
        }
    }
    EXPECT_GT(native, 0);
}

}  // namespace
}  // namespace ferretta::test
