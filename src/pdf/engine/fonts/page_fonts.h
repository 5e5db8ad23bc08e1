#pragma once
// The fonts and forms of the page being searched: from the name a content stream gives to Tf
// or Do, through the page's /Resources (inherited from the /Pages nodes above it) or a form's
// own, to how the font's strings are read (its /ToUnicode CMap, its /Encoding, the ordering of
// its CIDFont) and what the form shows.
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "pdf/engine/content_stream.h"
#include "pdf/engine/fonts/predefined_cmaps.h"
#include "pdf/engine/pdf_objects.h"
#include "pdf/engine/pdf_reader.h"

namespace ferretta::pdf {

class PageFonts final : public FontSource {
  public:
    // `cmaps` names the predefined CMaps of Type0 fonts; null knows none of them.
    PageFonts(PdfObjects& objects, PdfReader& reader, PredefinedCMaps* cmaps = &predefinedCMaps())
        : m_objects(objects), m_reader(reader), m_cmaps(cmaps) {}

    // Forgets the previous file.
    void reset();

    // Starts a page. `ancestors` are the /Pages nodes above it, the root first; nothing is read
    // until a font or form is asked for.
    void beginPage(ObjectRef page, std::span<const ObjectRef> ancestors);

    // The decoder of a font resource:
    //  - a /ToUnicode CMap that maps something is used by every font;
    //  - /Type0: codes cut by /Identity-H or -V (2 bytes), a predefined Japanese CMap by name,
    //    or an embedded CMap stream (usecmap to the predefined ones); an unknown encoding
    //    with a ToUnicode CMap is cut by that CMap's codespace. CIDs go through the CID table
    //    when the CIDFont's /Ordering is Japan1 or cannot be read;
    //  - other fonts: /Encoding as a name or a dictionary (/BaseEncoding, /Differences; the
    //    standard encoding when there is no base).
    // Null (the Default way) for a font with neither a usable encoding nor a ToUnicode CMap,
    // and whenever the name cannot be resolved (no resources, no such font, a broken or
    // looping reference, a damaged object). Each scope resolves a name once and each font
    // object of the file is read once. The reader is left where it was. Throws only what the
    // reader throws for a file that cannot be read (Error kinds other than Other).
    const FontDecoder* fontOf(int scope, std::string_view name) override;

    // A /Subtype /Form XObject with its decoded content; its scope is that of its own
    // /Resources, or the page's when it has none. Read once per page. Null for other
    // XObjects, unreadable ones, and past maxFormsPerPage. Throws as fontOf.
    const FormXObject* formOf(int scope, std::string_view name) override;

    // Limits against hostile files.
    static constexpr int maxReferenceHops = 8;
    static constexpr std::size_t maxFontsPerPage = 1024;
    static constexpr std::size_t maxFontsPerFile = 4096;
    // CMap entries parsed in one file, all CMaps together.
    static constexpr std::size_t maxCMapEntriesPerFile = 1'000'000;
    static constexpr std::size_t maxFormsPerPage = 1024;
    static constexpr std::size_t maxCMapBytes = std::size_t{16} << 20;
    static constexpr std::size_t maxWidthRanges = 65536;

  private:
    struct Scope {
        PdfValue resources;  // Kind::None: not read yet (page) or none
        bool loaded = false;
        std::unordered_map<std::string, PdfValue> fonts;
        std::unordered_map<std::string, PdfValue> xobjects;
        std::unordered_map<std::string, const FontDecoder*> decoders;  // by name
    };
    using DecoderPtr = std::shared_ptr<const FontDecoder>;

    Scope& scopeOf(int scope);
    void loadPageResources(Scope& scope);
    void loadScope(Scope& scope, const PdfValue& resources);
    DecoderPtr fontFromValue(const PdfValue& entry);
    DecoderPtr resolveFont(const PdfValue& font);
    void readSimpleEncoding(const PdfValue& font, FontDecoder& decoder, bool& usable);
    bool readEmbeddedType1Encoding(const PdfValue& font, FontDecoder& decoder);
    CMapPtr readCMapStream(const PdfValue& ref, bool withPredefined);
    CMapPtr parseCMapStream(const PdfValue& ref, bool withPredefined);
    std::unique_ptr<FormXObject> readForm(const PdfValue& entry);
    bool japan1Ordering(const PdfValue& cidFont);
    void readSimpleWidths(const PdfValue& font, bool type3, FontDecoder& decoder);
    void readCidWidths(const PdfValue& cidFont, FontDecoder& decoder);
    PdfValue resolve(const PdfValue& value);
    const PdfValue* resolvedEntry(const PdfValue& dict, std::string_view key, PdfValue& holder);

    PdfObjects& m_objects;
    PdfReader& m_reader;
    PredefinedCMaps* m_cmaps;

    ObjectRef m_page;
    std::vector<ObjectRef> m_ancestors;
    std::vector<Scope> m_scopes;             // [0] the page's
    std::vector<DecoderPtr> m_pageDecoders;  // those not kept by object (inline fonts)
    std::unordered_map<std::uint64_t, DecoderPtr> m_objectDecoders;           // by font object
    std::unordered_map<std::uint64_t, std::unique_ptr<FormXObject>> m_forms;  // this page's
    std::size_t m_resolvedOnPage = 0;
    std::unordered_map<std::uint64_t, CMapPtr> m_cmapsRead;  // by stream (and use)
    std::size_t m_cmapEntries = 0;
};

}  // namespace ferretta::pdf
