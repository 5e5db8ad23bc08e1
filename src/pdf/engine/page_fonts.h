#pragma once
// The fonts of the page being searched: from the name a content stream gives to Tf, through the
// page's /Resources (inherited from the /Pages nodes above it), to how the font's strings are
// read. Only what that needs is read: /Subtype, /Encoding and the CIDFont's /Ordering.
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "pdf/engine/content_stream.h"
#include "pdf/engine/pdf_objects.h"
#include "pdf/engine/pdf_reader.h"

namespace ferretta::pdf {

class PageFonts final : public FontSource {
  public:
    PageFonts(PdfObjects& objects, PdfReader& reader) : m_objects(objects), m_reader(reader) {}

    // Forgets the previous file.
    void reset();

    // Starts a page. `ancestors` are the /Pages nodes above it, the root first; nothing is read
    // until a font is asked for.
    void beginPage(ObjectRef page, std::span<const ObjectRef> ancestors);

    // TwoByteCids for a /Type0 font with /Encoding /Identity-H or /Identity-V whose CIDFont's
    // /CIDSystemInfo /Ordering is Japan1 or cannot be read; Default for every other font and
    // whenever the name cannot be resolved (no resources, no such font, a broken or looping
    // reference, a damaged object). Each page reads its /Font dictionary once and each font
    // object of the file is resolved once. The reader is left where it was. Throws only what
    // the reader throws for a file that cannot be read (Error kinds other than Other).
    FontCoding codingOf(std::string_view fontName) override;

    // Limits against hostile files.
    static constexpr int maxReferenceHops = 8;
    static constexpr std::size_t maxFontsPerPage = 1024;
    static constexpr std::size_t maxFontsPerFile = 65536;

  private:
    void loadFontDictionary();
    FontCoding resolveFont(const PdfValue& font);
    PdfValue resolve(const PdfValue& value);
    const PdfValue* resolvedEntry(const PdfValue& dict, std::string_view key, PdfValue& holder);

    PdfObjects& m_objects;
    PdfReader& m_reader;

    ObjectRef m_page;
    std::vector<ObjectRef> m_ancestors;
    bool m_loaded = false;  // m_fontEntries holds this page's /Font dictionary
    std::unordered_map<std::string, PdfValue> m_fontEntries;
    std::unordered_map<std::string, FontCoding> m_pageCodings;      // by resource name
    std::unordered_map<std::uint64_t, FontCoding> m_objectCodings;  // by font object
    std::size_t m_resolvedOnPage = 0;
};

}  // namespace ferretta::pdf
