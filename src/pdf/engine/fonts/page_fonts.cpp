#include "pdf/engine/fonts/page_fonts.h"

#include <algorithm>
#include <charconv>
#include <cmath>

#include "pdf/engine/engine_log.h"
#include "pdf/engine/fonts/simple_encoding.h"
#include "pdf/engine/lexer.h"
#include "platform/error.h"

namespace ferretta::pdf {
namespace {

std::uint64_t refKey(ObjectRef ref) {
    return (static_cast<std::uint64_t>(static_cast<std::uint32_t>(ref.objectNumber)) << 32) |
           static_cast<std::uint32_t>(ref.generation);
}

// A name value without its slash, escapes decoded; "" for anything else.
std::string nameOf(const PdfValue* value) {
    if (!value || value->kind != PdfValue::Kind::Name)
        return {};
    std::string name = decodeNameEscapes(value->text);
    return name.empty() || name[0] != '/' ? name : name.substr(1);
}

// A number value (integer or real); `fallback` for anything else.
double numberOf(const PdfValue& value, double fallback) {
    if (value.kind != PdfValue::Kind::Number)
        return fallback;
    const std::string_view text = value.text;
    const char* first = text.data() + (!text.empty() && text[0] == '+' ? 1 : 0);
    double number = 0;
    const auto [end, error] = std::from_chars(first, text.data() + text.size(), number);
    return error == std::errc() && end == text.data() + text.size() && std::isfinite(number)
               ? number
               : fallback;
}

// A glyph's text as the search words hold it: the Latin ligatures (U+FB00-FB06, the glyph
// names ff, fi, fl, ffi, ffl, longs_t, s_t) become their letters, so "files" finds "ﬁles".
void appendText(std::u32string_view text, std::string& out) {
    static constexpr std::string_view ligatures[] = {"ff", "fi", "fl", "ffi", "ffl", "st", "st"};
    for (const char32_t c : text) {
        if (c >= 0xFB00 && c <= 0xFB06)
            out += ligatures[c - 0xFB00];
        else
            appendUtf8(c, out);
    }
}

// Runs `read` with the reader put back afterwards; a damaged object (Error::Kind::Other)
// gives `fallback`, a file that cannot be read ends the search of it.
template <typename Result, typename Read>
Result guarded(PdfReader& reader, std::string_view what, Result fallback, Read&& read) {
    const PdfReader::Position saved = reader.save();
    Result result = fallback;
    try {
        result = read();
    } catch (const Error& failure) {
        if (failure.kind() != Error::Kind::Other)
            throw;
        trace("p2tFont", [&] { return std::string(what) + " unreadable: " + failure.what(); });
    }
    reader.restore(saved);
    return result;
}

}  // namespace

void PageFonts::reset() {
    beginPage({}, {});
    m_objectDecoders.clear();
    m_cmapsRead.clear();
    m_cmapEntries = 0;
}

void PageFonts::beginPage(ObjectRef page, std::span<const ObjectRef> ancestors) {
    m_page = page;
    m_ancestors.assign(ancestors.begin(), ancestors.end());
    m_scopes.clear();
    m_scopes.emplace_back();
    m_pageDecoders.clear();
    m_forms.clear();
    m_resolvedOnPage = 0;
}

PageFonts::Scope& PageFonts::scopeOf(int scope) {
    if (scope < 0 || static_cast<std::size_t>(scope) >= m_scopes.size())
        scope = 0;
    Scope& found = m_scopes[static_cast<std::size_t>(scope)];
    if (!found.loaded) {
        found.loaded = true;
        if (scope == 0) {
            loadPageResources(found);
        } else {
            loadScope(found, found.resources);
        }
    }
    return found;
}

const FontDecoder* PageFonts::fontOf(int scopeNumber, std::string_view name) {
    const std::string key(name);
    return guarded<const FontDecoder*>(
        m_reader, "font " + key, nullptr, [&]() -> const FontDecoder* {
            Scope& scope = scopeOf(scopeNumber);
            if (const auto known = scope.decoders.find(key); known != scope.decoders.end())
                return known->second;
            const auto entry = scope.fonts.find(key);
            if (entry == scope.fonts.end() || m_resolvedOnPage >= maxFontsPerPage)
                return nullptr;
            ++m_resolvedOnPage;
            // Remembered before it is read, so that a damaged font is not read again.
            scope.decoders.emplace(key, nullptr);
            const DecoderPtr decoder = fontFromValue(entry->second);
            scope.decoders[key] = decoder.get();
            trace("p2tFont", [&] {
                const char* kind = !decoder                                        ? " default"
                                   : decoder->kind == FontDecoder::Kind::Composite ? " composite"
                                                                                   : " simple";
                return "font " + key + kind +
                       (decoder && decoder->toUnicode ? " with ToUnicode" : "");
            });
            return decoder.get();
        });
}

PageFonts::DecoderPtr PageFonts::fontFromValue(const PdfValue& entry) {
    if (entry.kind != PdfValue::Kind::Ref) {
        DecoderPtr decoder = resolveFont(entry);
        if (decoder)
            m_pageDecoders.push_back(decoder);
        return decoder;
    }
    const std::uint64_t key = refKey(entry.ref);
    if (const auto known = m_objectDecoders.find(key); known != m_objectDecoders.end())
        return known->second;
    if (m_objectDecoders.size() < maxFontsPerFile)
        m_objectDecoders.emplace(key, nullptr);  // a font object that fails stays Default
    DecoderPtr decoder = resolveFont(resolve(entry));
    if (m_objectDecoders.size() <= maxFontsPerFile && m_objectDecoders.count(key)) {
        m_objectDecoders[key] = decoder;
    } else if (decoder) {
        m_pageDecoders.push_back(decoder);
    }
    return decoder;
}

// /Resources is inherited as a whole: the page's own, else that of the nearest /Pages node
// that has one. A /Resources that is there but cannot be read gives nothing.
void PageFonts::loadPageResources(Scope& scope) {
    std::vector<ObjectRef> chain{m_page};
    chain.insert(chain.end(), m_ancestors.rbegin(), m_ancestors.rend());
    for (const ObjectRef node : chain) {
        if (node.objectNumber < 0)
            continue;
        const PdfValue dict = m_objects.readObject(node.objectNumber, node.generation);
        if (dict.kind != PdfValue::Kind::Dict)
            continue;
        PdfValue holder;
        const PdfValue* resources = resolvedEntry(dict, "/Resources", holder);
        if (!resources)
            continue;
        loadScope(scope, *resources);
        return;
    }
}

void PageFonts::loadScope(Scope& scope, const PdfValue& resources) {
    if (resources.kind != PdfValue::Kind::Dict)
        return;
    const auto take = [&](std::string_view key, std::unordered_map<std::string, PdfValue>& into) {
        PdfValue holder;
        const PdfValue* dict = resolvedEntry(resources, key, holder);
        if (!dict || dict->kind != PdfValue::Kind::Dict)
            return;
        for (std::size_t i = 0; i < dict->keys.size(); ++i) {
            // The first of two equal keys counts, as with PdfValue::get.
            into.emplace(decodeNameEscapes(dict->keys[i]), dict->values[i]);
        }
    };
    take("/Font", scope.fonts);
    take("/XObject", scope.xobjects);
}

PageFonts::DecoderPtr PageFonts::resolveFont(const PdfValue& font) {
    if (font.kind != PdfValue::Kind::Dict)
        return nullptr;
    auto decoder = std::make_shared<FontDecoder>();
    if (const PdfValue* toUnicode = font.get("/ToUnicode")) {
        CMapPtr map = readCMapStream(*toUnicode, false);
        if (map && map->hasText())
            decoder->toUnicode = std::move(map);
    }
    PdfValue holder;
    const std::string subtype = nameOf(resolvedEntry(font, "/Subtype", holder));
    if (subtype != "Type0") {
        bool usable = decoder->toUnicode != nullptr;
        readSimpleEncoding(font, *decoder, usable);
        if (!usable)
            return nullptr;
        decoder->kind = FontDecoder::Kind::Simple;
        readSimpleWidths(font, subtype == "Type3", *decoder);
        return decoder;
    }
    decoder->kind = FontDecoder::Kind::Composite;
    PdfValue descendantsHolder;
    const PdfValue* descendants = resolvedEntry(font, "/DescendantFonts", descendantsHolder);
    const PdfValue cidFont =
        descendants && descendants->kind == PdfValue::Kind::Array && !descendants->items.empty()
            ? resolve(descendants->items.front())
            : PdfValue{};
    decoder->japan1 = japan1Ordering(cidFont);
    readCidWidths(cidFont, *decoder);
    bool cutKnown = false;
    if (const PdfValue* encoding = font.get("/Encoding")) {
        PdfValue resolved = resolve(*encoding);
        if (resolved.kind == PdfValue::Kind::Name) {
            const std::string name = nameOf(&resolved);
            if (name == "Identity-H" || name == "Identity-V") {
                cutKnown = true;
            } else if (m_cmaps) {
                decoder->encoding = m_cmaps->find(name);
                cutKnown = decoder->encoding != nullptr;
                if (!cutKnown)
                    trace("p2tFont", [&] { return "unknown CMap " + name; });
            }
        } else if (encoding->kind == PdfValue::Kind::Ref) {
            decoder->encoding = readCMapStream(*encoding, true);
            cutKnown = decoder->encoding && decoder->encoding->hasCids();
            if (!cutKnown)
                decoder->encoding = nullptr;
        }
    }
    if (!cutKnown) {
        // Without the font's own cut, a ToUnicode CMap's codespace is the best guess.
        if (!decoder->toUnicode || !decoder->toUnicode->hasCodespace())
            return nullptr;
        decoder->encoding = decoder->toUnicode;
        decoder->japan1 = false;
    }
    if (!decoder->toUnicode && !decoder->japan1)
        return nullptr;
    return decoder;
}

// /Encoding: a base encoding's name, or a dictionary of /BaseEncoding and /Differences. A font
// with an encoding of neither form (or none) keeps `usable` as it was.
void PageFonts::readSimpleEncoding(const PdfValue& font, FontDecoder& decoder, bool& usable) {
    PdfValue holder;
    const PdfValue* encoding = resolvedEntry(font, "/Encoding", holder);
    std::optional<BaseEncoding> base;
    const PdfValue* differences = nullptr;
    PdfValue differencesHolder;
    PdfValue baseHolder;
    if (encoding && encoding->kind == PdfValue::Kind::Name) {
        base = baseEncodingByName(nameOf(encoding));
        if (!base)
            return;
    } else if (encoding && encoding->kind == PdfValue::Kind::Dict) {
        base = baseEncodingByName(nameOf(resolvedEntry(*encoding, "/BaseEncoding", baseHolder)));
        differences = resolvedEntry(*encoding, "/Differences", differencesHolder);
        if (differences && differences->kind != PdfValue::Kind::Array)
            differences = nullptr;
        if (!base && !differences)
            return;
    } else if (!encoding && readEmbeddedType1Encoding(font, decoder)) {
        usable = true;
        return;
    } else if (!usable) {
        return;
    }
    usable = true;
    const auto& table = baseEncodingTable(base.value_or(BaseEncoding::Standard));
    for (std::size_t code = 0; code < 256; ++code) {
        decoder.codeText[code].clear();
        appendText(table[code], decoder.codeText[code]);
    }
    if (!differences)
        return;
    std::int64_t code = -1;
    for (const PdfValue& item : differences->items) {
        if (item.kind == PdfValue::Kind::Number) {
            code = item.asInt(-1);
            if (code > 255)
                code = -1;
        } else if (item.kind == PdfValue::Kind::Name && code >= 0 && code <= 255) {
            std::string& text = decoder.codeText[static_cast<std::size_t>(code)];
            text.clear();
            appendText(unicodeOfGlyphName(nameOf(&item)), text);
            ++code;
        }
    }
}

// A font without /Encoding whose embedded Type 1 program (/FontFile) declares its own: TeX's
// Computer Modern fonts, whose ligatures and dashes sit at codes no base encoding has.
bool PageFonts::readEmbeddedType1Encoding(const PdfValue& font, FontDecoder& decoder) {
    PdfValue descriptorHolder;
    const PdfValue* descriptor = resolvedEntry(font, "/FontDescriptor", descriptorHolder);
    const PdfValue* program = descriptor && descriptor->kind == PdfValue::Kind::Dict
                                  ? descriptor->get("/FontFile")
                                  : nullptr;
    if (!program || program->kind != PdfValue::Kind::Ref)
        return false;
    const PdfValue dict = m_objects.readObject(program->ref.objectNumber, program->ref.generation);
    if (dict.kind != PdfValue::Kind::Dict)
        return false;
    const std::optional<std::string> data = m_objects.readStreamData(dict, program->ref);
    const auto texts = data ? type1BuiltinEncoding(*data) : std::nullopt;
    if (!texts)
        return false;
    for (std::size_t code = 0; code < 256; ++code) {
        decoder.codeText[code].clear();
        appendText((*texts)[code], decoder.codeText[code]);
    }
    return true;
}

// A CMap stream (a ToUnicode or an embedded encoding); an embedded encoding may use a
// predefined CMap. Null when the stream cannot be read.
CMapPtr PageFonts::readCMapStream(const PdfValue& ref, bool withPredefined) {
    if (ref.kind != PdfValue::Kind::Ref)
        return nullptr;
    // One CMap stream is often shared by many fonts: it is parsed once per file.
    const std::uint64_t key = refKey(ref.ref) | (withPredefined ? std::uint64_t{1} << 63 : 0);
    if (const auto known = m_cmapsRead.find(key); known != m_cmapsRead.end())
        return known->second;
    CMapPtr map = parseCMapStream(ref, withPredefined);
    if (map) {
        m_cmapEntries += map->entryCount();
        if (m_cmapEntries > maxCMapEntriesPerFile) {
            trace("p2tFont", [] { return "CMapが多すぎるので読みません"; });
            map = nullptr;
        }
    }
    m_cmapsRead.emplace(key, map);
    return map;
}

CMapPtr PageFonts::parseCMapStream(const PdfValue& ref, bool withPredefined) {
    if (m_cmapEntries > maxCMapEntriesPerFile)
        return nullptr;
    const PdfValue dict = m_objects.readObject(ref.ref.objectNumber, ref.ref.generation);
    if (dict.kind != PdfValue::Kind::Dict)
        return nullptr;
    const std::optional<std::string> data = m_objects.readStreamData(dict, ref.ref);
    if (!data || data->size() > maxCMapBytes)
        return nullptr;
    CMapResolver parent;
    if (withPredefined && m_cmaps) {
        parent = [this](std::string_view name, int) { return m_cmaps->find(name); };
    }
    return CMap::parse(*data, parent);
}

// The ordering only rules a font out: a Type0 font whose CIDFont cannot be read is most likely
// one of Adobe-Japan1 written by a Japanese producer.
bool PageFonts::japan1Ordering(const PdfValue& cidFont) {
    if (cidFont.kind != PdfValue::Kind::Dict)
        return true;
    PdfValue infoHolder;
    const PdfValue* info = resolvedEntry(cidFont, "/CIDSystemInfo", infoHolder);
    if (!info || info->kind != PdfValue::Kind::Dict)
        return true;
    PdfValue orderingHolder;
    const PdfValue* ordering = resolvedEntry(*info, "/Ordering", orderingHolder);
    if (!ordering || ordering->kind != PdfValue::Kind::String)
        return true;
    return ordering->text == "Japan1";
}

// §9.6.2.1, §9.6.5 (Type 3: in glyph space, scaled by /FontMatrix): /Widths from /FirstChar,
// /MissingWidth of the font descriptor for the codes it leaves out. A font without /Widths
// (one of the standard 14) takes half an em per glyph: only OCR layers ask.
void PageFonts::readSimpleWidths(const PdfValue& font, bool type3, FontDecoder& decoder) {
    double scale = 1;
    if (type3) {
        PdfValue matrixHolder;
        const PdfValue* matrix = resolvedEntry(font, "/FontMatrix", matrixHolder);
        if (matrix && matrix->kind == PdfValue::Kind::Array && !matrix->items.empty())
            scale = std::clamp(numberOf(matrix->items[0], 0.001), -1.0, 1.0) * 1000;
    }
    PdfValue widthsHolder;
    const PdfValue* widths = resolvedEntry(font, "/Widths", widthsHolder);
    if (!widths || widths->kind != PdfValue::Kind::Array) {
        decoder.codeWidths.fill(500);
        return;
    }
    PdfValue descriptorHolder;
    const PdfValue* descriptor = resolvedEntry(font, "/FontDescriptor", descriptorHolder);
    double missing = 0;
    if (descriptor && descriptor->kind == PdfValue::Kind::Dict) {
        if (const PdfValue* value = descriptor->get("/MissingWidth"))
            missing = numberOf(*value, 0);
    }
    decoder.codeWidths.fill(static_cast<float>(missing * scale));
    const std::int64_t first = font.get("/FirstChar") ? font.get("/FirstChar")->asInt(0) : 0;
    for (std::size_t i = 0; i < widths->items.size(); ++i) {
        const std::int64_t code = first + static_cast<std::int64_t>(i);
        if (code >= 0 && code < 256)
            decoder.codeWidths[static_cast<std::size_t>(code)] =
                static_cast<float>(numberOf(widths->items[i], missing) * scale);
    }
}

// §9.7.4.3: /DW for every CID that /W leaves out; /W lists "c [w1 w2 ...]" and
// "c_first c_last w".
void PageFonts::readCidWidths(const PdfValue& cidFont, FontDecoder& decoder) {
    if (cidFont.kind != PdfValue::Kind::Dict)
        return;
    if (const PdfValue* dw = cidFont.get("/DW"))
        decoder.defaultWidth = static_cast<float>(numberOf(*dw, 1000));
    PdfValue widthsHolder;
    const PdfValue* w = resolvedEntry(cidFont, "/W", widthsHolder);
    if (!w || w->kind != PdfValue::Kind::Array)
        return;
    auto& ranges = decoder.cidWidths;
    const auto& items = w->items;
    for (std::size_t i = 0; i + 1 < items.size() && ranges.size() < maxWidthRanges;) {
        const std::int64_t first = items[i].asInt(-1);
        if (first < 0 || first > UINT32_MAX) {
            ++i;
            continue;
        }
        if (items[i + 1].kind == PdfValue::Kind::Array) {
            std::int64_t cid = first;
            for (const PdfValue& width : items[i + 1].items) {
                if (cid > UINT32_MAX || ranges.size() >= maxWidthRanges)
                    break;
                const auto c = static_cast<std::uint32_t>(cid++);
                ranges.push_back({c, c, static_cast<float>(numberOf(width, decoder.defaultWidth))});
            }
            i += 2;
        } else if (i + 2 < items.size()) {
            const std::int64_t last = items[i + 1].asInt(-1);
            if (last >= first && last <= UINT32_MAX) {
                ranges.push_back(
                    {static_cast<std::uint32_t>(first), static_cast<std::uint32_t>(last),
                     static_cast<float>(numberOf(items[i + 2], decoder.defaultWidth))});
            }
            i += 3;
        } else {
            break;
        }
    }
    // Sorted and without overlaps, the first entry for a CID winning.
    std::stable_sort(ranges.begin(), ranges.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    std::vector<FontDecoder::WidthRange> kept;
    for (const auto& range : ranges) {
        if (!kept.empty() && range.first <= kept.back().last) {
            if (range.last <= kept.back().last)
                continue;
            kept.push_back({kept.back().last + 1, range.last, range.width});
        } else {
            kept.push_back(range);
        }
    }
    ranges = std::move(kept);
}

const FormXObject* PageFonts::formOf(int scopeNumber, std::string_view name) {
    const std::string key(name);
    return guarded<const FormXObject*>(
        m_reader, "form " + key, nullptr, [&]() -> const FormXObject* {
            Scope& scope = scopeOf(scopeNumber);
            const auto found = scope.xobjects.find(key);
            if (found == scope.xobjects.end() || found->second.kind != PdfValue::Kind::Ref)
                return nullptr;
            // A copy: reading the form adds a scope, which may move the scopes.
            const PdfValue entry = found->second;
            const std::uint64_t id = refKey(entry.ref);
            if (const auto known = m_forms.find(id); known != m_forms.end())
                return known->second.get();
            if (m_forms.size() >= maxFormsPerPage)
                return nullptr;
            m_forms.emplace(id, nullptr);  // a form that fails is not read again
            std::unique_ptr<FormXObject> form = readForm(entry);
            if (!form)
                return nullptr;
            form->id = id;
            trace("p2tForm", [&] {
                return "form " + key + " bytes=" + std::to_string(form->content.size()) +
                       " scope=" + std::to_string(form->scope);
            });
            return (m_forms[id] = std::move(form)).get();
        });
}

std::unique_ptr<FormXObject> PageFonts::readForm(const PdfValue& entry) {
    const ObjectRef ref = entry.ref;
    PdfValue dict = m_objects.readObject(ref.objectNumber, ref.generation);
    if (dict.kind != PdfValue::Kind::Dict)
        return nullptr;
    const PdfValue* subtype = dict.get("/Subtype");
    if (subtype && subtype->kind == PdfValue::Kind::Ref) {
        const PdfValue resolved = resolve(*subtype);
        if (nameOf(&resolved) != "Form")
            return nullptr;
        // Resolving moved the reader: the dictionary is read again to stand before its data.
        dict = m_objects.readObject(ref.objectNumber, ref.generation);
    } else if (nameOf(subtype) != "Form") {
        return nullptr;
    }
    std::optional<std::string> data = m_objects.readStreamData(dict, ref);
    if (!data)
        return nullptr;
    auto form = std::make_unique<FormXObject>();
    form->content = std::move(*data);
    PdfValue holder;
    const PdfValue* resources = resolvedEntry(dict, "/Resources", holder);
    if (resources && resources->kind == PdfValue::Kind::Dict) {
        Scope scope;
        scope.resources = *resources;
        m_scopes.push_back(std::move(scope));
        form->scope = static_cast<int>(m_scopes.size() - 1);
    }
    return form;
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
