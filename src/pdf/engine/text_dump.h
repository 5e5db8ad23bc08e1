#pragma once
// The text the engine reads from a PDF, page by page: what `ferretta-cli --pdf-text` prints, the
// way pdftotext is used to see why a word is found or not.
#include <cstdio>
#include <functional>
#include <string>
#include <string_view>

#include "pdf/engine/fonts/cid_map.h"

namespace ferretta::pdf {

// Hands `write` the text of every page of the PDF at `path` (or of `bytes` when given, read as
// that file), in page order: each page's content streams' texts as the engine matches them
// (UTF-8), joined by line feeds, the page ended by a form feed (a form feed in the text
// itself is written as a blank). Answers true when the whole page
// tree was read; false when the file has no readable page tree or the walk stopped early (the
// pages read up to there are written). A file protected by a password has no pages. Throws
// ferretta::Error when the file cannot be opened or read. `enough`, when given, is asked after
// each page written: true ends the walk there (and the answer is false).
bool dumpPdfText(const std::string& path, const CidTable& cidTable,
                 const std::function<void(std::string_view)>& write,
                 const std::string_view* bytes = nullptr, const std::function<bool()>& enough = {});

// ferretta-cli --pdf-text FILE: loads AdobeCID.dat, writes the text of FILE to `out` and any
// message to `err`. Answers the exit status: 0 when every page was read, 1 when some could not
// be (what was read is written), 2 when the file or the character table cannot be read.
int printPdfText(const std::string& path, std::FILE* out, std::FILE* err);

}  // namespace ferretta::pdf
