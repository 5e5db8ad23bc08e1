#pragma once
// How much one Office document may cost the reader. Every document may be hostile: a zip bomb,
// an XML file that nests without end, an archive of a million entries. A document over a bound
// is not read natively (the caller hands it to the office, which has bounds of its own).
#include <cstddef>
#include <cstdint>

namespace ferretta::documents {

struct ReadLimits {
    // Entries in the archive's central directory.
    std::size_t maxEntries = 20'000;
    // Inflated bytes of one entry, and of all entries read from one document.
    std::uint64_t maxEntryBytes = std::uint64_t{1} << 30;
    std::uint64_t maxDocumentBytes = std::uint64_t{2} << 30;
    // Inflated bytes per compressed byte of an entry larger than ratioFloor. XML compresses
    // well (a sheet of repeated cells 100:1 and more); a bomb reaches 1000:1.
    std::uint64_t maxRatio = 400;
    std::uint64_t ratioFloor = std::uint64_t{16} << 20;
    // Bytes of one entry held in memory at once (the parts read whole: shared strings, styles,
    // a Word body).
    std::size_t maxBufferedBytes = std::size_t{256} << 20;
    // Element nesting of one XML part.
    std::size_t maxDepth = 512;
    // Bytes of text handed out for one document before the reader gives up on it.
    std::uint64_t maxTextBytes = std::uint64_t{512} << 20;
    // Workbook cells handed out for one document: a few bytes of repeated rows and columns in
    // an OpenDocument sheet can stand for millions of cells.
    std::uint64_t maxCells = 20'000'000;
    // Every XML part through expat alone, without the hand-rolled scanner of the common forms
    // in front of it (the fuzz targets compare the two).
    bool expatOnly = false;
};

}  // namespace ferretta::documents
