// ferretta-cli end to end: the program is run on folders made here.
#include <gtest/gtest.h>
#include <pty.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

#include "cli/cli_options.h"
#include "platform/cp932.h"
#include "support/temp_tree.h"
#include "support/wait.h"

namespace ferretta::cli {
namespace {

namespace fs = std::filesystem;

std::string quote(const std::string& text) {
    std::string out = "'";
    for (char c : text)
        out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

using test::readFile;

// Every "{D}" replaced by the data folder.
std::string expand(std::string text, const std::string& data) {
    for (std::size_t at; (at = text.find("{D}")) != std::string::npos;)
        text.replace(at, 3, data);
    return text;
}

struct CliRun {
    int status = -1;
    std::string out;
    std::string err;
};

class CliTest : public ::testing::Test {
  protected:
    std::string data() const { return tree.path("data"); }

    void write(const std::string& relative, const std::string& bytes) {
        tree.write("data/" + relative, bytes);
    }

    // Runs the program with the arguments ("{D}" is the data folder) from inside the data
    // folder, as "nobody" when asked and possible (nullopt when not).
    std::optional<CliRun> run(const std::string& arguments, bool unprivileged = false) {
        fs::create_directories(tree.root() / "home");
        fs::create_directories(tree.root() / "data");
        std::ofstream(tree.root() / "home" / "frtta.ini") << settingsText;
        std::string prefix;
        if (unprivileged && ::geteuid() == 0) {
            if (std::system("setpriv --reuid=65534 --regid=65534 --clear-groups true") != 0)
                return std::nullopt;
            prefix = "setpriv --reuid=65534 --regid=65534 --clear-groups ";
        }
        const std::string command =
            "cd " + quote(data()) + " && FERRETTA_HOME=" + quote(tree.path("home")) +
            " XDG_CACHE_HOME=" + quote(tree.path("cache")) +
            " FERRETTA_SOFFICE=/nonexistent/soffice timeout -k 5 60 " + prefix +
            FERRETTA_CLI_PATH " " + expand(arguments, quote(data())) + " >" +
            quote(tree.path("out")) + " 2>" + quote(tree.path("err"));
        const int status = std::system(command.c_str());
        return CliRun{WIFEXITED(status) ? WEXITSTATUS(status) : -1, readFile(tree.path("out")),
                      readFile(tree.path("err"))};
    }

    test::TempTree tree;
    // The settings file the program reads (the shipped defaults apply only without one).
    std::string settingsText = "[Search]\r\ntargetFileType1=True\r\ntextTags=TXT\r\n";
};

TEST_F(CliTest, SearchesAndWritesTheSavedFileLines) {
    write("a.txt", "bar foo\nfoo\n");
    write("k.txt", platform::utf8ToCp932("漢字列abc\r\n"));
    write("w.txt", platform::utf8ToCp932("全角ＡＢＣ\r\n"));
    write("readme.xt", "needle abc\n");
    write("readme.tx", "needle\n");
    write("needle.dat", "");
    write("sub.d/noextension", "needle\n");
    write("b.csv", "abc\n");
    write("sub/c.txt", "abc\n");
    write("m.txt", platform::utf8ToCp932("件名\r\n見積 A\r\n金額\r\n税\r\n備考\r\n見積 B\r\n"));
    // Hidden entries and files that are no text are left out unless asked for.
    write(".dot.txt", "abc\n");
    write(".hidden/h.txt", "abc\n");
    write("bin.txt", std::string("x\0y\nabc\n", 8));
    const std::string k = "\"k.txt\",\"漢字列abc\",\"{D}/k.txt\",\"1,7\"\n";
    const std::string wLine = "\"w.txt\",\"全角ＡＢＣ\",\"{D}/w.txt\",\"1,5\"";
    const std::string w = wLine + "\n";
    const std::string b = "\"b.csv\",\"abc\",\"{D}/b.csv\",\"1,1\"\n";
    const std::string xt = "\"readme.xt\",\"needle abc\",\"{D}/readme.xt\",\"1,8\"\n";
    const std::string c = "\"c.txt\",\"abc\",\"{D}/sub/c.txt\",\"1,1\"\n";
    const std::pair<const char*, std::string> cases[] = {
        // AND: the position of the first word.
        {"{D} '&& foo bar'", "\"a.txt\",\"bar foo\",\"{D}/a.txt\",\"1,5\"\n"},
        // Columns count Shift-JIS bytes; folded matches; the tail of a listed extension;
        // sub-folders.
        {"-j 3 {D} abc", b + k + xt + w + c},
        {"--jobs=1 --strict {D} abc", b + k + xt + c},
        {"--hidden --binary --strict {D} abc",
         "\".dot.txt\",\"abc\",\"{D}/.dot.txt\",\"1,1\"\n" + b +
             "\"bin.txt\",\"abc\",\"{D}/bin.txt\",\"2,1\"\n" + k + xt +
             "\"h.txt\",\"abc\",\"{D}/.hidden/h.txt\",\"1,1\"\n" + c},
        {"--text-tags=csv {D} abc", b},
        {"--no-subfolders {D} abc", b + k + xt + w},
        {"--regex {D} '^a.C$'", b + c},
        {"--name-only {D} needle",
         "\"needle.dat\",\"(ファイル名にヒット)\",\"{D}/needle.dat\",\"\"\n"},
        // A file without an extension below a folder with a dot, found from a relative path.
        {". needle",
         "\"needle.dat\",\"(ファイル名にヒット)\",\"./needle.dat\",\"\"\n"
         "\"readme.xt\",\"needle abc\",\"./readme.xt\",\"1,1\"\n"
         "\"noextension\",\"needle\",\"./sub.d/noextension\",\"1,1\"\n"},
    };
    // The context of each hit, decoded, as grep tools print it.
    const std::string m1 = "\"m.txt\",\"見積 A\",\"{D}/m.txt\",\"2,1\"\n";
    const std::string m2 = "\"m.txt\",\"見積 B\",\"{D}/m.txt\",\"6,1\"\n";
    const std::pair<const char*, std::string> contexts[] = {
        {"-C 1 {D} 見積", "m.txt-1-件名\n" + m1 + "m.txt-3-金額\n--\nm.txt-5-備考\n" + m2},
        {"--context=2 {D} 見積",
         "m.txt-1-件名\n" + m1 + "m.txt-3-金額\nm.txt-4-税\nm.txt-5-備考\n" + m2},
        {"-C0 {D} 見積", m1 + "--\n" + m2},
    };
    for (const auto& [arguments, expected] : contexts) {
        auto result = run(arguments);
        SCOPED_TRACE(arguments);
        EXPECT_EQ(result->out, expand(expected, data()));
    }
    EXPECT_EQ(run("--ansi -C 1 {D} 'A$' --regex")->out,
              platform::utf8ToCp932(expand(std::string("m.txt-1-件名\r\n") +
                                               "\"m.txt\",\"見積 A\",\"{D}/m.txt\",\"2,6\"" +
                                               "\r\nm.txt-3-金額\r\n",
                                           data())));
    for (const auto& [arguments, expected] : cases) {
        auto result = run(std::string("--text-tags='txt;csv;xt' ") + arguments);
        SCOPED_TRACE(arguments);
        EXPECT_EQ(result->status, 0) << result->err;
        EXPECT_EQ(result->out, expand(expected, data()));
    }
    // The lines of a saved results file.
    auto ansi = run("--ansi --strict {D} ＡＢＣ");
    EXPECT_EQ(ansi->out, platform::utf8ToCp932(expand(wLine, data())) + "\r\n");
    EXPECT_NE(ansi->err.find("ﾌｧｲﾙ(ｵﾌﾞｼﾞｪｸﾄ)検索し、1件ヒットしました。"), std::string::npos);
}

// The document cache sees a document rewritten in place (same size, same inode) with its old
// modification time put back, as touch -d, rsync --inplace -t or an editor that keeps times
// leave it.
TEST_F(CliTest, TheCacheSeesAnInPlaceEditWithItsOldTime) {
    settingsText =
        "[Search]\r\ntargetFileType13=True\r\npdfOwnEngine=0\r\npdfFilterPath=cp %1 %2\r\n";
    write("doc.pdf", "old alpha text\n");
    const fs::path doc = tree.root() / "data" / "doc.pdf";
    ASSERT_EQ(run("{D} alpha")->status, 0);
    ASSERT_NE(run("{D} alpha")->err.find("キャッシュから1ﾌｧｲﾙ"), std::string::npos);
    const auto time = fs::last_write_time(doc);
    std::fstream(doc, std::ios::in | std::ios::out | std::ios::binary) << "new gamma text\n";
    fs::last_write_time(doc, time);
    EXPECT_EQ(run("{D} gamma")->status, 0);
    EXPECT_EQ(run("{D} alpha")->status, 1);
}

TEST_F(CliTest, ExitStatus) {
    write("a.txt", "x\n");
    write("b.xls", std::string("\xD0\xCF\x11\xE0\0\0=\n[\x01\n", 11));
    write("empty.ini", "");
    const std::tuple<const char*, int, const char*> cases[] = {
        {"{D} nothing", 1, "0件ヒットしました"},
        {"{D}/nope x", 2, "検索フォルダが無効です"},
        {"--regex {D} '('", 2, "invalid regular expression"},
        {"{D} ''", 2, "検索文字列を入力してください"},
        {"{D} ' 　 '", 2, "検索文字列を入力してください"},
        // 漢 in CP932, as a terminal in that encoding sends it.
        {"{D} \"$(printf '\\212\\277')\"", 2, "search words are not UTF-8"},
        {"--bogus {D} x", 2, "unknown option"},
        {"--types=nonsense {D} x", 2, "unknown file type"},
        {"-j0 {D} x", 2, "-j needs a number of threads"},
        {"--jobs=65 {D} x", 2, "--jobs needs a number of threads"},
        {"--settings=/nonexistent.ini {D} x", 2, "settings file not found"},
        // Read as settings, these would switch every file type off without a word.
        {"--settings={D}/empty.ini {D} x", 2, "settings file holds no settings: "},
        {"--settings={D}/b.xls {D} x", 2, "settings file holds no settings: "},
        // Without an office the Excel file is told and skipped; the text file is searched.
        {"--types=excel,text {D} x", 2, "Excelに関する操作が行えませんでした"},
        {"--help", 0, ""},
    };
    for (const auto& [arguments, status, message] : cases) {
        auto result = run(arguments);
        EXPECT_EQ(result->status, status) << arguments;
        EXPECT_NE(result->err.find(message), std::string::npos) << arguments << ": " << result->err;
    }
    // The settings file is read (the other tests' settings show it) and never written.
    EXPECT_EQ(readFile(tree.root() / "home" / "frtta.ini"), settingsText);
}

// A PDF read only in part is named; the run goes on as for any file without hits.
TEST_F(CliTest, APdfReadInPartIsNamed) {
    settingsText = "[Search]\r\ntargetFileType13=True\r\npdfOwnEngine=1\r\n";
    write("cut.pdf", "%PDF-1.4\n1 0 obj\n<< /Type /Catalog /Pages 2 0 R");
    const auto result = run("--types=pdf {D} x");
    EXPECT_EQ(result->status, 1);
    EXPECT_NE(result->err.find(expand("partly read: {D}/cut.pdf: 壊れています", data())),
              std::string::npos)
        << result->err;
}

TEST_F(CliTest, UnreadableSettingsFolderAndFiles) {
    write("a.txt", "needle\n");
    write("secret.txt", "needle\n");
    write("closed/b.txt", "needle\n");
    write("settings.ini", "[Search]\r\n");
    for (const char* name : {"secret.txt", "closed", "settings.ini"})
        fs::permissions(tree.root() / "data" / name, fs::perms::none);
    auto skipped = run("{D} needle", true);
    if (!skipped)
        GTEST_SKIP() << "cannot run as an unprivileged user";
    EXPECT_EQ(skipped->status, 0);
    EXPECT_EQ(skipped->out, expand("\"a.txt\",\"needle\",\"{D}/a.txt\",\"1,1\"\n", data()));
    for (const char* skip : {"skipped: {D}/closed/: ", "skipped: {D}/secret.txt: "})
        EXPECT_NE(skipped->err.find(expand(skip, data())), std::string::npos) << skipped->err;
    EXPECT_NE(skipped->err.find("（読めないファイル2件）"), std::string::npos);

    auto settings = run("--settings={D}/settings.ini {D} needle", true);
    EXPECT_EQ(settings->status, 2);
    EXPECT_NE(settings->err.find("settings file cannot be read"), std::string::npos);
    auto folder = run("{D}/closed needle", true);
    EXPECT_EQ(folder->status, 2);
    EXPECT_NE(folder->err.find("検索フォルダが無効です"), std::string::npos);
    fs::permissions(tree.root() / "data" / "closed", fs::perms::owner_all);
}

// A name (or a line) with control characters cannot drive the terminal it is shown on: they
// arrive escaped as `ls -b` shows them. Written to a file, the line is the saved file's.
TEST_F(CliTest, ControlCharactersReachATerminalEscaped) {
    const std::string name = "a\x1B]0;owned\x07\xC2\x9B.txt";
    write(name, "needle\n");
    EXPECT_NE(run("{D} needle")->out.find("\"" + name + "\""), std::string::npos);

    const std::string command = "cd " + quote(data()) +
                                " && FERRETTA_HOME=" + quote(tree.path("home")) +
                                " exec " FERRETTA_CLI_PATH " . needle";
    int terminal = -1;
    const pid_t child = ::forkpty(&terminal, nullptr, nullptr, nullptr);
    ASSERT_GE(child, 0);
    if (child == 0) {
        ::execl("/bin/sh", "sh", "-c", command.c_str(), static_cast<char*>(nullptr));
        ::_exit(127);
    }
    std::string shown;
    char buffer[4096];
    for (ssize_t n; (n = ::read(terminal, buffer, sizeof buffer)) > 0;)
        shown.append(buffer, static_cast<std::size_t>(n));  // ends with EIO once it closes
    ::close(terminal);
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_NE(shown.find("\"a\\033]0;owned\\a\\302\\233.txt\""), std::string::npos) << shown;
    EXPECT_EQ(shown.find_first_of("\x1B\x07"), std::string::npos) << shown;
}

// A mail place that cannot be searched is told at once, never waited on: a FIFO (whose open
// would wait for a writer), an endless device, a missing file, a file nobody may read. A
// message of a Maildir that cannot be read is skipped and told.
TEST_F(CliTest, MailThatCannotBeReadIsTold) {
    const std::string told = "error: Outlookに接続できませんでした Outlookメール: ";
    fs::create_directories(tree.root() / "data");
    ASSERT_EQ(::mkfifo((tree.root() / "data" / "fifo").c_str(), 0600), 0);
    write("locked", "From a Mon Jan  5 09:01:00 2026\nSubject: alpha\n\n");
    write("md/cur/1.A.host:2,S", "Subject: alpha one\n\n");
    write("md/cur/2.B.host:2,S", "Subject: alpha two\n\n");
    for (const char* name : {"locked", "md/cur/2.B.host:2,S"})
        fs::permissions(tree.root() / "data" / name, fs::perms::none);
    const struct {
        std::string place;
        bool unprivileged;
        int status;
        std::string err;
    } cases[] = {
        {"{D}/fifo", false, 2,
         told + "メールボックスがファイルでもフォルダでもありません: {D}/fifo"},
        {"/dev/zero", false, 2,
         told + "メールボックスがファイルでもフォルダでもありません: /dev/zero"},
        {"{D}/missing", false, 2, told + "メールボックスがありません: {D}/missing"},
        {"{D}/locked", true, 2, told + "メールボックスを開けません: {D}/locked: Permission denied"},
        {"{D}/md", true, 0, "skipped: {D}/md/cur/2.B.host:2,S: Permission denied"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.place);
        settingsText =
            "[Search]\r\nTextCache=0\r\n[Outlook]\r\nInbox=" + expand(c.place, data()) + "\r\n";
        const auto result = run("--types=outlook-mail {D} alpha", c.unprivileged);
        if (!result)
            GTEST_SKIP() << "cannot run as an unprivileged user";
        EXPECT_EQ(result->status, c.status) << result->err;
        EXPECT_NE(result->err.find(expand(c.err, data())), std::string::npos) << result->err;
    }
}

// A run whose parent has gone and whose output nobody reads any more ends by itself.
TEST_F(CliTest, ARunNobodyWaitsForEnds) {
    const fs::path running = tree.root() / "running";
    settingsText =
        "[Search]\r\ntargetFileType13=True\r\npdfOwnEngine=0\r\npdfFilterPath=sh -c "
        "': > " +
        running.string() + "; sleep 60'\r\n";
    run("--types=text {D} x");  // writes the settings
    write("doc.pdf", "%PDF");
    const std::string command = "cd " + quote(data()) +
                                " && exec env FERRETTA_HOME=" + quote(tree.path("home")) +
                                " " FERRETTA_CLI_PATH + " --types=pdf . alpha 2>/dev/null";
    const fs::path pidFile = tree.root() / "pid";
    // The parent starts the program with its output into a pipe only the parent reads, and
    // ends while the program searches.
    const pid_t parent = ::fork();
    ASSERT_GE(parent, 0);
    if (parent == 0) {
        int out[2];
        if (::pipe(out) != 0)
            ::_exit(1);
        const pid_t child = ::fork();
        if (child == 0) {
            ::dup2(out[1], STDOUT_FILENO);
            ::close(out[0]);
            ::close(out[1]);
            ::execl("/bin/sh", "sh", "-c", command.c_str(), static_cast<char*>(nullptr));
            ::_exit(127);
        }
        std::ofstream(pidFile) << child;
        test::waitUntil([&] { return fs::exists(running); }, std::chrono::seconds(20));
        ::_exit(0);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(parent, &status, 0), parent);
    const pid_t cli = static_cast<pid_t>(std::stol("0" + readFile(pidFile)));
    ASSERT_GT(cli, 0);
    ASSERT_TRUE(fs::exists(running));
    const bool ended =
        test::waitUntil([&] { return test::processEnded(cli); }, std::chrono::seconds(10));
    if (!ended)
        ::kill(cli, SIGKILL);
    EXPECT_TRUE(ended);
}

// What the PDF engine reads, page by page with a form feed after each, as pdftotext prints it.
TEST_F(CliTest, PdfTextPrintsEveryPage) {
    const std::string pdf = quote(FERRETTA_TEST_DATA "/pdf/corpus/gs_en_aes128.pdf");
    const auto r = run("--pdf-text " + pdf);
    EXPECT_EQ(r->status, 0) << r->err;
    EXPECT_EQ(std::count(r->out.begin(), r->out.end(), '\f'), 3);
    EXPECT_EQ(r->out.back(), '\f');
    EXPECT_NE(r->out.find("lighthouse"), std::string::npos) << r->out;
    EXPECT_EQ(run("--pdf-text {D}/none.pdf")->status, 2);
    EXPECT_EQ(run("--pdf-text " + pdf + " extra")->status, 2);
}

TEST(CliOptions, Parse) {
    auto ok = parseCliOptions({"--strict", "--types=text,pdf", "--text-tags=txt;ｃｓｖ",
                               "--office-native=off", "dir", "q w"});
    ASSERT_TRUE(ok.options);
    EXPECT_TRUE(ok.options->strict);
    EXPECT_EQ(ok.options->folder, "dir");
    EXPECT_EQ(ok.options->query, "q w");
    app::Settings settings;
    applyCliOptions(*ok.options, settings);
    EXPECT_EQ(settings.textTags, "TXT;CSV");
    EXPECT_TRUE(settings.fileTypes.isTarget(app::FileType::Pdf));
    EXPECT_FALSE(settings.fileTypes.isTarget(app::FileType::Word));
    EXPECT_FALSE(settings.officeNative);
    EXPECT_FALSE(parseCliOptions({"--office-native=no", "a", "b"}).options);

    EXPECT_FALSE(parseCliOptions({"only-one"}).options || parseCliOptions({"a", "b", "c"}).options);
    for (auto [arguments, context] : std::vector<std::pair<std::vector<std::string_view>, int>>{
             {{"-C", "2", "d", "q"}, 2},
             {{"-C3", "d", "q"}, 3},
             {{"--context=0", "d", "q"}, 0},
             {{"-C", "x", "d", "q"}, -1},
             {{"--context=1001", "d", "q"}, -1}}) {
        auto parsed = parseCliOptions(arguments);
        EXPECT_EQ(parsed.options ? parsed.options->context.value_or(-2) : -1, context);
    }
    auto dashed = parseCliOptions({"--", "--strict", "q"});
    ASSERT_TRUE(dashed.options);
    EXPECT_EQ(dashed.options->folder, "--strict");
}

}  // namespace
}  // namespace ferretta::cli
