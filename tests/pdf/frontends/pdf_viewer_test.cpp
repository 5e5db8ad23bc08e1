#include "pdf/frontends/pdf_viewer.h"

#include <gtest/gtest.h>

#include <stdlib.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "support/temp_tree.h"
#include "support/wait.h"

namespace ferretta::pdf {
namespace {

namespace fs = std::filesystem;
using Words = std::vector<std::string>;

// How each viewer takes the page is checked with the viewers themselves below; here the edges.
TEST(ViewerCommandTest, PagesAndPathsAtTheEdges) {
    struct Case {
        PdfViewerKind kind;
        const char* path;
        std::int32_t page;
        Words argv;
    };
    const Case cases[] = {
        {PdfViewerKind::None, "/d/a.pdf", 7, {}},
        // No page below the first; a path is never taken for an option.
        {PdfViewerKind::Evince, "/d/a.pdf", 0, {"/v", "--page-index=1", "/d/a.pdf"}},
        {PdfViewerKind::Zathura, "-x.pdf", 2, {"/v", "-P", "2", "./-x.pdf"}},
        {PdfViewerKind::MuPdf, "/d/a.pdf", 2147483647, {"/v", "/d/a.pdf", "2147483647"}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(viewerCommand(c.kind, "/v", c.path, c.page), c.argv) << c.path << " " << c.page;
    }
}

// Temporary folders of fake viewers: shell scripts that write their arguments to a file.
class PdfViewerTest : public ::testing::Test {
  protected:
    void SetUp() override {
        const char* path = std::getenv("PATH");
        m_oldPath = path ? path : "";
    }
    void TearDown() override {
        ::setenv("PATH", m_oldPath.c_str(), 1);
        initPDFValues();
    }

    // A fake viewer in the folder `bin`; it records its arguments, then "END", using shell
    // built-ins only (the PATH holds nothing else).
    void addViewer(const std::string& bin, const std::string& name, bool executable = true) {
        fs::create_directories(m_dir / bin);
        const fs::path script = m_dir / bin / name;
        std::ofstream(script) << "#!/bin/sh\nfor a in \"$@\"; do printf '%s\\n' \"$a\"; done > '"
                              << (m_dir / "args").string() << "'\nprintf 'END\\n' >> '"
                              << (m_dir / "args").string() << "'\n";
        fs::permissions(script, executable ? fs::perms::owner_all : fs::perms::owner_read);
    }

    // The recorded arguments of the viewer started last (without the END mark).
    Words recordedArguments() {
        Words words;
        const auto ended = [&] {
            std::ifstream in(m_dir / "args");
            words.clear();
            for (std::string line; std::getline(in, line);)
                words.push_back(line);
            return !words.empty() && words.back() == "END";
        };
        if (!test::waitUntil(ended, std::chrono::seconds(10)))
            return {"(nothing started)"};
        words.pop_back();
        fs::remove(m_dir / "args");
        return words;
    }

    test::TempTree m_tree;
    fs::path m_dir = m_tree.root();
    std::string m_oldPath;
};

TEST_F(PdfViewerTest, FindsExecutablesOnThePath) {
    addViewer("a", "evince", false);
    addViewer("b", "evince");
    addViewer("b", "okular");
    fs::create_directories(m_dir / "c" / "zathura");  // a folder is no program
    const std::string a = (m_dir / "a").string(), b = (m_dir / "b").string();
    const std::string c = (m_dir / "c").string();
    EXPECT_EQ(findOnPath("evince", a + ":" + b), b + "/evince");
    EXPECT_EQ(findOnPath("okular", b + "/:" + a), b + "/okular");
    EXPECT_EQ(findOnPath("zathura", c + ":" + a), "");
    EXPECT_EQ(findOnPath("b/evince", m_dir.string()), "");
    EXPECT_EQ(findOnPath("", b), "");
    EXPECT_EQ(findOnPath("evince", ""), "");  // the current folder, which has none
}

TEST_F(PdfViewerTest, ChoosesTheFirstViewerThatOpensAtAPage) {
    struct Case {
        Words programs;
        const char* expectedProgram;  // nullptr: nothing can open a PDF
        bool isAcrobatFound;
        Words expectedArguments;
    };
    const Case cases[] = {
        {{"xdg-open", "okular", "evince"}, "evince", true, {"--page-index=12", "/d/a b.pdf"}},
        {{"xdg-open", "zathura", "okular"}, "okular", true, {"-p", "12", "/d/a b.pdf"}},
        {{"mupdf", "zathura"}, "zathura", true, {"-P", "12", "/d/a b.pdf"}},
        {{"mupdf", "xdg-open"}, "mupdf", true, {"/d/a b.pdf", "12"}},
        {{"xdg-open"}, "xdg-open", false, {"/d/a b.pdf"}},
        {{}, nullptr, false, {}},
    };
    int n = 0;
    for (const Case& c : cases) {
        const std::string bin = "bin" + std::to_string(n++);
        fs::create_directories(m_dir / bin);
        for (const std::string& program : c.programs)
            addViewer(bin, program);
        ::setenv("PATH", (m_dir / bin).c_str(), 1);
        PdfViewer viewer;
        viewer.initPDFValues();
        EXPECT_EQ(viewer.isFullAcrobat(), c.isAcrobatFound) << bin;
        EXPECT_EQ(viewer.acrobatExePath(),
                  c.expectedProgram ? (m_dir / bin / c.expectedProgram).string() : "");
        EXPECT_EQ(viewer.openPDFFile("/d/a b.pdf", 12), c.expectedProgram != nullptr);
        if (c.expectedProgram) {
            EXPECT_EQ(recordedArguments(), c.expectedArguments) << bin;
        }
    }
}

TEST_F(PdfViewerTest, OpensAHitAtItsPageAndANameHitAtTheFirst) {
    addViewer("bin", "evince");
    ::setenv("PATH", (m_dir / "bin").c_str(), 1);
    initPDFValues();
    app::Hit hit{app::FileType::Pdf, "a.pdf", "text", "/d/a.pdf", "3"};
    EXPECT_TRUE(pdfViewer().openHit(hit));
    EXPECT_EQ(recordedArguments(), (Words{"--page-index=3", "/d/a.pdf"}));
    hit = {app::FileType::Pdf, "a.pdf", "(ファイル名にヒット)", "/d/a.pdf", ""};
    EXPECT_TRUE(pdfViewer().openHit(hit));
    EXPECT_EQ(recordedArguments(), (Words{"--page-index=1", "/d/a.pdf"}));

    // The viewer gone after it was found: the open fails quietly.
    fs::remove(m_dir / "bin" / "evince");
    EXPECT_FALSE(pdfViewer().openHit(hit));
    EXPECT_TRUE(pdfViewer().isAcrobatFound());
}

}  // namespace
}  // namespace ferretta::pdf
