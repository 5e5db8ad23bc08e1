#include "pdf/engine/page_fonts.h"

#include <optional>

#include "pdf/engine/engine_log.h"
#include "platform/error.h"

namespace ferretta::pdf {
namespace {

std::uint64_t refKey(ObjectRef ref) {
    return (static_cast<std::uint64_t>(static_cast<std::uint32_t>(ref.objectNumber)) << 32) |
           static_cast<std::uint32_t>(ref.generation);
}

int hexDigit(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// The bytes of a string value; a hex string's odd last digit counts as followed by 0.
std::string stringBytes(const PdfValue& value) {
    if (!value.hexString)
        return value.text;
    std::string bytes;
    int high = -1;
    for (char c : value.text) {
        const int digit = hexDigit(c);
        if (digit < 0)
            continue;
        if (high < 0) {
            high = digit;
        } else {
            bytes.push_back(static_cast<char>(high * 16 + digit));
            high = -1;
        }
    }
    if (high >= 0)
        bytes.push_back(static_cast<char>(high * 16));
    return bytes;
}

bool isName(const PdfValue* value, std::string_view name) {
    return value && value->kind == PdfValue::Kind::Name && decodeNameEscapes(value->text) == name;
}

}  // namespace

void PageFonts::reset() {
    beginPage({}, {});
    m_objectCodings.clear();
}

void PageFonts::beginPage(ObjectRef page, std::span<const ObjectRef> ancestors) {
    m_page = page;
    m_ancestors.assign(ancestors.begin(), ancestors.end());
    m_loaded = false;
    m_fontEntries.clear();
    m_pageCodings.clear();
    m_resolvedOnPage = 0;
}

FontCoding PageFonts::codingOf(std::string_view fontName) {
    std::string name(fontName);
    if (const auto known = m_pageCodings.find(name); known != m_pageCodings.end())
        return known->second;
    const PdfReader::Position saved = m_reader.save();
    FontCoding coding = FontCoding::Default;
    std::optional<std::uint64_t> resolving;
    try {
        if (!m_loaded) {
            m_loaded = true;
            loadFontDictionary();
        }
        const auto entry = m_fontEntries.find(name);
        if (entry != m_fontEntries.end() && m_resolvedOnPage < maxFontsPerPage) {
            ++m_resolvedOnPage;
            if (entry->second.kind == PdfValue::Kind::Ref) {
                const std::uint64_t key = refKey(entry->second.ref);
                if (const auto known = m_objectCodings.find(key); known != m_objectCodings.end()) {
                    coding = known->second;
                } else {
                    resolving = key;
                    coding = resolveFont(resolve(entry->second));
                    if (m_objectCodings.size() < maxFontsPerFile)
                        m_objectCodings.emplace(key, coding);
                }
            } else {
                coding = resolveFont(entry->second);
            }
            trace("p2tFont", [&] {
                return "font " + name +
                       (coding == FontCoding::TwoByteCids ? " 2-byte CIDs" : " default");
            });
            m_pageCodings.emplace(std::move(name), coding);
        }
    } catch (const Error& failure) {
        // A damaged resource or font object leaves its strings to the default reading; only a
        // file that cannot be read at all ends the search of it.
        if (failure.kind() != Error::Kind::Other)
            throw;
        trace("p2tFont", [&] { return "font " + name + " unreadable: " + failure.what(); });
        coding = FontCoding::Default;
        if (resolving && m_objectCodings.size() < maxFontsPerFile)
            m_objectCodings.emplace(*resolving, coding);
        if (m_pageCodings.size() < maxFontsPerPage)
            m_pageCodings.emplace(std::move(name), coding);
    }
    m_reader.restore(saved);
    return coding;
}

// /Resources is inherited as a whole: the page's own, else that of the nearest /Pages node
// that has one. A /Resources that is there but cannot be read gives no fonts.
void PageFonts::loadFontDictionary() {
    std::vector<ObjectRef> chain{m_page};
    chain.insert(chain.end(), m_ancestors.rbegin(), m_ancestors.rend());
    for (const ObjectRef node : chain) {
        if (node.objectNumber < 0)
            continue;
        const PdfValue dict = m_objects.readObject(node.objectNumber, node.generation);
        if (dict.kind != PdfValue::Kind::Dict)
            continue;
        PdfValue resourcesHolder;
        const PdfValue* resources = resolvedEntry(dict, "/Resources", resourcesHolder);
        if (!resources)
            continue;
        if (resources->kind != PdfValue::Kind::Dict)
            return;
        PdfValue fontsHolder;
        const PdfValue* fonts = resolvedEntry(*resources, "/Font", fontsHolder);
        if (!fonts || fonts->kind != PdfValue::Kind::Dict)
            return;
        for (std::size_t i = 0; i < fonts->keys.size(); ++i) {
            // The first of two equal keys counts, as with PdfValue::get.
            m_fontEntries.emplace(decodeNameEscapes(fonts->keys[i]), fonts->values[i]);
        }
        return;
    }
}

FontCoding PageFonts::resolveFont(const PdfValue& font) {
    if (font.kind != PdfValue::Kind::Dict)
        return FontCoding::Default;
    PdfValue holder;
    if (!isName(resolvedEntry(font, "/Subtype", holder), "/Type0"))
        return FontCoding::Default;
    const PdfValue* encoding = resolvedEntry(font, "/Encoding", holder);
    if (!isName(encoding, "/Identity-H") && !isName(encoding, "/Identity-V"))
        return FontCoding::Default;
    // The ordering only rules a font out: a Type0 font with Identity-H whose CIDFont cannot be
    // read is most likely one of Adobe-Japan1 written by a Japanese producer.
    PdfValue descendantsHolder;
    const PdfValue* descendants = resolvedEntry(font, "/DescendantFonts", descendantsHolder);
    if (!descendants || descendants->kind != PdfValue::Kind::Array || descendants->items.empty())
        return FontCoding::TwoByteCids;
    const PdfValue cidFont = resolve(descendants->items.front());
    if (cidFont.kind != PdfValue::Kind::Dict)
        return FontCoding::TwoByteCids;
    PdfValue infoHolder;
    const PdfValue* info = resolvedEntry(cidFont, "/CIDSystemInfo", infoHolder);
    if (!info || info->kind != PdfValue::Kind::Dict)
        return FontCoding::TwoByteCids;
    PdfValue orderingHolder;
    const PdfValue* ordering = resolvedEntry(*info, "/Ordering", orderingHolder);
    if (!ordering || ordering->kind != PdfValue::Kind::String)
        return FontCoding::TwoByteCids;
    return stringBytes(*ordering) == "Japan1" ? FontCoding::TwoByteCids : FontCoding::Default;
}

// A reference followed to its object, through at most maxReferenceHops references (so a loop
// ends); a Kind::None value when an object cannot be reached.
PdfValue PageFonts::resolve(const PdfValue& value) {
    if (value.kind != PdfValue::Kind::Ref)
        return value;
    ObjectRef ref = value.ref;
    for (int hop = 0; hop < maxReferenceHops; ++hop) {
        PdfValue target = m_objects.readObject(ref.objectNumber, ref.generation);
        if (target.kind != PdfValue::Kind::Ref)
            return target;
        ref = target.ref;
    }
    return {};
}

// The value of a dictionary key with a reference resolved (into `holder`); null when the key
// is missing.
const PdfValue* PageFonts::resolvedEntry(const PdfValue& dict, std::string_view key,
                                         PdfValue& holder) {
    const PdfValue* value = dict.get(key);
    if (!value || value->kind != PdfValue::Kind::Ref)
        return value;
    holder = resolve(*value);
    return &holder;
}

}  // namespace ferretta::pdf
