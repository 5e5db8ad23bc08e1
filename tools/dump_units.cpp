// Prints the units of Office documents as the office and as the native readers hand them out,
// one line a unit, so that the two can be compared with diff:
//
//     dump_units office|native word|word-fast|excel|powerpoint FILE...
//
// Each line: place, row, column, the text and (after a tab) the shown value, control
// characters escaped. Exits 1 when a document cannot be read.
#include <cstdio>
#include <iostream>
#include <string>
#include <string_view>

#include "drivers/office/libreoffice.h"
#include "support/office_units.h"

namespace {

using namespace ferretta;

std::string escaped(std::string_view text) {
    std::string out;
    for (unsigned char c : text) {
        if (c == '\r') {
            out += "\\r";
        } else if (c == '\n') {
            out += "\\n";
        } else if (c == '\t') {
            out += "\\t";
        } else if (c == '\\') {
            out += "\\\\";
        } else if (c < 0x20 || c == 0x7F) {
            char buffer[8];
            std::snprintf(buffer, sizeof buffer, "\\x%02X", c);
            out += buffer;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
}

void print(const cache::Extract& extract) {
    for (std::size_t i = 0; i < extract.names.size(); ++i)
        std::cout << "sheet " << i + 1 << " " << escaped(extract.names[i]) << "\n";
    for (const auto& unit : extract.units) {
        std::cout << unit.place << "," << unit.row << "," << unit.column << " "
                  << escaped(unit.text);
        if (!unit.shown.empty())
            std::cout << "\t" << escaped(unit.shown);
        std::cout << "\n";
    }
    if (extract.count != 0)
        std::cout << "count " << extract.count << "\n";
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 4) {
        std::cerr << "usage: dump_units office|native word|word-fast|excel|powerpoint FILE...\n";
        return 2;
    }
    const std::string reader = argv[1];
    const std::string kindName = argv[2];
    documents::Kind kind = documents::Kind::WordNormal;
    if (kindName == "word-fast")
        kind = documents::Kind::WordFast;
    else if (kindName == "excel")
        kind = documents::Kind::Excel;
    else if (kindName == "powerpoint")
        kind = documents::Kind::PowerPoint;
    else if (kindName != "word")
        return 2;
    std::unique_ptr<platform::office::Automation> automation;
    int status = 0;
    for (int i = 3; i < argc; ++i) {
        if (argc > 4)
            std::cout << "== " << argv[i] << "\n";
        if (reader == "native") {
            documents::ReadResult result;
            const auto extract = test::nativeUnits(argv[i], kind, result);
            print(extract);
            if (result.status != documents::ReadStatus::Complete) {
                std::cout << "for the office: " << result.reason << "\n";
                status = 1;
            }
            continue;
        }
        if (!automation)
            automation = platform::office::makeLibreOfficeAutomation({});
        try {
            print(test::officeUnits(*automation, argv[i], kind));
        } catch (const Error& failure) {
            std::cout << "cannot open: " << failure.what() << "\n";
            status = 1;
        }
    }
    return status;
}
