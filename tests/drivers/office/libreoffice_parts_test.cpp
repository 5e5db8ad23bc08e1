// What the search says is missing when an Office application cannot start: the office first,
// then the part for the file type, each with its Debian package.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "drivers/office/libreoffice.h"
#include "support/temp_tree.h"

namespace ferretta::platform::office {
namespace {

TEST(LibreOfficePartsTest, NamesTheMissingPackage) {
    const struct {
        std::vector<const char*> installed;
        Application application;
        const char* missing;  // the package named, or empty
    } cases[] = {
        {{}, Application::Word, "libreoffice-core"},
        {{"soffice.bin"}, Application::Word, "libreoffice-writer"},
        {{"soffice.bin", "libswlo.so"}, Application::Word, ""},
        {{"soffice.bin", "libswlo.so"}, Application::Excel, "libreoffice-calc"},
        {{"soffice.bin", "libsclo.so"}, Application::Excel, ""},
        {{"soffice.bin", "libsclo.so"}, Application::PowerPoint, "libreoffice-impress"},
        {{"soffice.bin", "libslideshowlo.so"}, Application::PowerPoint, ""},
    };
    for (const auto& c : cases) {
        const test::TempTree folder;
        for (const char* file : c.installed)
            folder.write(file, "x");
        const std::string text = missingLibreOfficePart(c.application, folder.root());
        const std::string expected =
            *c.missing ? std::string("がインストールされていません (パッケージ ") + c.missing + ")"
                       : "";
        EXPECT_EQ(text.substr(text.empty() ? 0 : text.find("が")), expected) << c.missing;
    }
}

}  // namespace
}  // namespace ferretta::platform::office
