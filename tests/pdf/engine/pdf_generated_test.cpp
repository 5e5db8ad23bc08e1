// The engine over generated PDFs. Each file combines a cross-reference layout (damaged or not),
// a page tree, a content filter and, for every content stream, one of the fonts Japanese
// documents use, and knows the text of every stream: searched for the word each stream starts
// with, every stream must be one hit on its own page holding exactly its text, and the text
// dump must agree.
#include <gtest/gtest.h>

#include <map>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include "pdf/engine/pdf_engine.h"
#include "pdf/engine/pdf_test_support.h"
#include "pdf/engine/text_dump.h"
#include "platform/cp932.h"
#include "platform/unicode.h"
#include "support/recording_host.h"
#include "support/test_context.h"

namespace ferretta::pdf {
namespace {

enum class Layout { Table, Stream, ObjectStream, Hybrid, Update, Count };
enum class Packing { Plain, Flate, HexFlate, FlatePng, Lzw, Count };
// Named: a simple font whose codes name the pool's characters (by Differences, by the encoding
// of its Type 1 program, or by a ToUnicode CMap of a Type 3 font). Rksj: 90ms-RKSJ-H, -V, or
// an embedded CMap using -H.
enum class Font { WinAnsi, Identity, ToUnicode, Named, UniJis, Rksj, Count };

const char* const kLayoutNames[] = {"table", "stream", "object stream", "hybrid", "update"};
const char* const kPackingNames[] = {"plain", "flate", "hex+flate", "flate+png", "lzw"};

using Random = std::mt19937;
std::size_t pick(Random& random, std::size_t n) {
    return random() % n;
}

// What each font can show. The test CID table knows あ (843), い (845) and the blank (1) only;
// the pool of the fonts that name their characters holds runs of consecutive code points (for
// bfrange's base form), characters past U+FFFF and a ligature.
const std::vector<std::string> kWinAnsi = {"a", "Z", "0", " ", "(", ")", "\\", "-"};
const std::vector<std::string> kCids = {"あ", "い", " "};
const std::vector<std::string> kPool = {"あ", "ぃ", "い", "検", "索", "𠀋", "𠀌",
                                        "ｱ",  "Ａ", "fi", "😀",  "ア", "イ"};

std::u32string codePoints(const std::string& text) {
    std::u32string out;
    const std::u16string units = platform::utf8ToUtf16(text);
    for (std::size_t k = 0; k < units.size(); ++k) {
        const bool pair = units[k] >= 0xD800 && units[k] < 0xDC00 && k + 1 < units.size();
        out += pair ? 0x10000 + ((units[k] - 0xD800) << 10) + (units[k + 1] - 0xDC00) : units[k];
        k += pair ? 1 : 0;
    }
    return out;
}

std::string hex(unsigned value, int bytes) {
    char text[16];
    std::snprintf(text, sizeof text, "%0*X", 2 * bytes, value);
    return text;
}

// A string operand: hexadecimal, or literal with escapes (octal ones always three digits).
std::string operand(Random& random, std::string_view bytes, bool hexAllowed) {
    if (hexAllowed && pick(random, 2) == 0)
        return "<" + test::hexOf(bytes);
    std::string out = "(";
    for (const char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '(' || c == ')' || c == '\\') {
            out += {'\\', c};
        } else if (byte < 0x20 || byte == 0x7F || pick(random, 4) == 0) {
            char octal[8];
            std::snprintf(octal, sizeof octal, "\\%03o", byte);
            out += octal;
        } else {
            out += c;
        }
    }
    return out + ")";
}

struct Generated {
    std::string bytes;
    std::vector<std::string> hits;  // "page:text" for every content stream, in page order
    std::string dump;               // the text dump: streams joined by LF, pages ended by FF
    int pages = 0;
};

class Generator {
  public:
    explicit Generator(unsigned seed) : m_random(seed) {}

    Generated make(Layout layout, Packing packing, bool damaged) {
        Generated out;
        addFonts();
        out.pages = 1 + static_cast<int>(pick(m_random, 4));
        const bool inherited = pick(m_random, 2) == 0;
        const int resources = add("<< /Font << " + m_fontNames + " >> >>");
        // Pages hang from the root or from a node of their own under it, which passes the
        // root's resources on.
        const bool nested = out.pages > 1 && pick(m_random, 2) == 0;
        const int node = nested ? reserve() : 2;
        std::string rootKids, nodeKids;
        std::map<int, std::size_t> streamHits;  // content stream object: its hit
        for (int page = 1; page <= out.pages; ++page) {
            const int pageObject = reserve();
            std::string contents;
            // A page without contents is an empty page.
            const std::size_t streams =
                page > 1 && pick(m_random, 6) == 0 ? 0 : 1 + pick(m_random, 2);
            for (std::size_t s = 0; s < streams; ++s) {
                std::string text;
                const int stream = contentStream(packing, text);
                streamHits[stream] = out.hits.size();
                contents += ref(stream);
                out.hits.push_back(std::to_string(page) + ":" + text);
            }
            if (streams > 1 || pick(m_random, 2) == 0)
                contents = "[" + contents + "]";
            if (streams == 0)
                contents.clear();
            const int parent = nested && page > 1 ? node : 2;
            (parent == 2 ? rootKids : nodeKids) += ref(pageObject);
            set(pageObject, "<< /Type /Page /Parent " + ref(parent) +
                                (inherited ? "" : "/Resources " + ref(resources)) +
                                (contents.empty() ? "" : "/Contents " + contents) + ">>");
        }
        if (nested) {
            rootKids += ref(node);
            set(node, "<< /Type /Pages /Parent 2 0 R /Kids [" + nodeKids + "] /Count " +
                          std::to_string(out.pages - 1) + " >>");
        }
        set(1, "<< /Type /Catalog /Pages 2 0 R >>");
        set(2, "<< /Type /Pages /Kids [" + rootKids + "] /Count " + std::to_string(out.pages) +
                   (inherited ? " /Resources " + ref(resources) : "") + " >>");
        if (layout == Layout::Stream || layout == Layout::ObjectStream ||
            layout == Layout::Hybrid) {
            out.bytes = withXrefStream(layout);
        } else {
            out.bytes = withXrefTable();
        }
        if (layout == Layout::Update) {
            // A second revision replaces one stream; its section lists that object alone,
            // numbered from it.
            const auto changed =
                std::next(streamHits.begin(), static_cast<long>(pick(m_random, streamHits.size())));
            std::string text;
            const std::string body = m_objects.at(contentStream(packing, text)).body;
            const std::size_t at = out.bytes.size();
            out.bytes += std::to_string(changed->first) + " 0 obj\n" + body + "\nendobj\n";
            const std::size_t xref = out.bytes.size();
            out.bytes += "xref\n" + std::to_string(changed->first) + " 1\n" + row(at, 'n') +
                         "trailer\n<< /Size " + std::to_string(m_next) + " /Root 1 0 R /Prev " +
                         std::to_string(m_xrefAt) + " >>\nstartxref\n" + std::to_string(xref) +
                         "\n%%EOF\n";
            std::string& hit = out.hits[changed->second];
            hit = hit.substr(0, hit.find(':') + 1) + text;
        }
        // Some writers end the file right after startxref's offset.
        if (pick(m_random, 4) == 0)
            out.bytes.resize(out.bytes.rfind("\n%%EOF"));
        if (damaged) {
            // Only the repair scan finds the objects: the table cut off, or startxref pointing
            // into the header. Of an updated object, the later one counts.
            if (layout == Layout::Table && pick(m_random, 2) == 0)
                out.bytes.resize(m_xrefAt);
            else {
                const std::size_t at = out.bytes.rfind("startxref\n") + 10;
                out.bytes.replace(at, out.bytes.find('\n', at) - at, "1");
            }
        }
        for (int page = 1; page <= out.pages; ++page) {
            std::string text;
            for (const std::string& hit : out.hits) {
                const std::size_t colon = hit.find(':');
                if (hit.substr(0, colon) == std::to_string(page))
                    text += (text.empty() ? "" : "\n") + hit.substr(colon + 1);
            }
            out.dump += text + "\f";
        }
        return out;
    }

  private:
    struct Object {
        std::string body;
        bool stream = false;
    };

    int reserve() { return m_next++; }
    void set(int number, std::string body, bool stream = false) {
        m_objects[number] = {std::move(body), stream};
    }
    int add(std::string body, bool stream = false) {
        const int number = reserve();
        set(number, std::move(body), stream);
        return number;
    }
    static std::string ref(int number) { return std::to_string(number) + " 0 R "; }
    static std::string row(std::size_t offset, char kind, int generation = 0) {
        char text[32];
        std::snprintf(text, sizeof text, "%010zu %05d %c \n", offset, generation, kind);
        return text;
    }
    int addStream(const std::string& data, const std::string& entries = "") {
        return add("<< /Length " + std::to_string(data.size()) + " " + entries + " >>\nstream\n" +
                       data + "\nendstream",
                   true);
    }

    // One font of each kind, /F0 to /F5, and /M for the word every stream starts with.
    void addFonts() {
        const std::string japan1 = "<< /Registry (Adobe) /Ordering (Japan1) /Supplement 6 >>";
        const auto type0 = [&](const std::string& encoding, const std::string& ordering,
                               const std::string& extra) {
            const std::string descendant = "<< /Type /Font /Subtype /CIDFontType" +
                                           std::to_string(2 * pick(m_random, 2)) +
                                           " /CIDSystemInfo " + ordering + " >>";
            return "<< /Type /Font /Subtype /Type0 /Encoding " + encoding + " /DescendantFonts [" +
                   (pick(m_random, 2) == 0 ? descendant : ref(add(descendant))) + "]" + extra +
                   " >>";
        };
        const std::string winAnsi =
            "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica /Encoding /WinAnsiEncoding >>";
        m_fontNames = "/M " + ref(add(winAnsi));

        // A Japan1 font may map some codes itself; the others go through the CID table.
        m_identityBlank = pick(m_random, 2) == 0 ? " " : "\u3000";
        const std::string identityExtra =
            m_identityBlank == " " ? ""
                                   : " /ToUnicode " + ref(addStream("begincmap 1 beginbfchar "
                                                                    "<0001> <3000> endbfchar"));
        m_namedFirst = 1 + static_cast<unsigned>(pick(m_random, 100));
        std::string names, program;
        for (std::size_t k = 0; k < kPool.size(); ++k) {
            std::string name;
            for (const char32_t c : codePoints(kPool[k]))
                name +=
                    std::string(name.empty() ? "" : "_") + (c > 0xFFFF ? "u" : "uni") + hex(c, 2);
            names += "/" + name + " ";
            program += "dup " + std::to_string(m_namedFirst + k) + " /" + name + " put\n";
        }
        program =
            "%!PS-AdobeFont-1.0: X\n/Encoding 256 array\n0 1 255 {1 index exch /.notdef "
            "put} for\n" +
            program + "readonly def\n";
        const std::string named[] = {
            "<< /Subtype /TrueType /Encoding << /BaseEncoding /WinAnsiEncoding /Differences [" +
                std::to_string(m_namedFirst) + " " + names + "] >> >>",
            "<< /Subtype /Type1 /FontDescriptor << /FontFile " +
                ref(addStream(program + "currentfile eexec\n",
                              "/Length1 " + std::to_string(program.size()))) +
                ">> >>",
            "<< /Subtype /Type3 /ToUnicode " + ref(toUnicode(m_namedFirst, 1)) + ">>"};
        m_rksjVariant = pick(m_random, 3);
        const std::string rksj[] = {
            "/90ms-RKSJ-H", "/90ms-RKSJ-V",
            ref(addStream("/90ms-RKSJ-H usecmap begincidchar <A1> 845 endcidchar"))};
        m_toUnicodeFirst =
            static_cast<unsigned>(0x0100 * (1 + pick(m_random, 0x7F)) + pick(m_random, 0x40));
        const std::string fonts[] = {
            winAnsi,
            type0(pick(m_random, 2) == 0 ? "/Identity-H" : "/Identity-V", japan1, identityExtra),
            type0("/Identity-H", "<< /Registry (Adobe) /Ordering (Identity) >>",
                  " /ToUnicode " + ref(toUnicode(m_toUnicodeFirst, 2))),
            named[pick(m_random, 3)],
            type0("/UniJIS-UCS2-H", japan1, ""),
            type0(rksj[m_rksjVariant], japan1, "")};
        for (int k = 0; k < static_cast<int>(Font::Count); ++k)
            m_fontNames += "/F" + std::to_string(k) + " " + ref(add(fonts[k]));
    }

    // A ToUnicode CMap for the pool's characters under codes of `bytes` bytes from `first`,
    // written as a random mix of bfchar, bfrange with a base (over consecutive code points)
    // and bfrange with an array, compressed or not.
    int toUnicode(unsigned first, int bytes) {
        std::vector<std::string> chars, ranges;
        for (std::size_t k = 0; k < kPool.size();) {
            const std::size_t length =
                std::min<std::size_t>(1 + pick(m_random, 3), kPool.size() - k);
            const unsigned code = first + static_cast<unsigned>(k);
            bool consecutive = true;
            for (std::size_t j = k + 1; j < k + length; ++j) {
                const std::u32string a = codePoints(kPool[j - 1]), b = codePoints(kPool[j]);
                consecutive = consecutive && a.size() == 1 && b.size() == 1 && b[0] == a[0] + 1;
            }
            const auto target = [&](std::size_t j) {
                std::string text = "<";
                for (const char16_t unit : platform::utf8ToUtf16(kPool[j]))
                    text += hex(unit, 2);
                return text + ">";
            };
            const std::string span = "<" + hex(code, bytes) + "> <" +
                                     hex(code + static_cast<unsigned>(length) - 1, bytes) + "> ";
            if (length == 1 && pick(m_random, 2) == 0) {
                chars.push_back("<" + hex(code, bytes) + "> " + target(k));
            } else if (consecutive && pick(m_random, 2) == 0) {
                ranges.push_back(span + target(k));
            } else {
                std::string array = "[";
                for (std::size_t j = k; j < k + length; ++j)
                    array += target(j) + " ";
                ranges.push_back(span + array + "]");
            }
            k += length;
        }
        std::string cmap =
            "/CIDInit /ProcSet findresource begin 12 dict begin begincmap\n"
            "1 begincodespacerange <" +
            hex(0, bytes) + "> <" + hex(bytes == 1 ? 0xFF : 0xFFFF, bytes) +
            "> endcodespacerange\n";
        const auto section = [&](const std::vector<std::string>& lines, const std::string& name) {
            if (lines.empty())
                return;
            cmap += std::to_string(lines.size()) + " begin" + name + "\n";
            for (const std::string& line : lines)
                cmap += line + "\n";
            cmap += "end" + name + "\n";
        };
        section(chars, "bfchar");
        section(ranges, "bfrange");
        cmap += "endcmap CMapName currentdict /CMap defineresource pop end end";
        return pick(m_random, 2) == 0 ? addStream(cmap)
                                      : addStream(test::deflate(cmap), "/Filter /FlateDecode");
    }

    static std::size_t alphabetSize(Font font) {
        return font == Font::WinAnsi                            ? kWinAnsi.size()
               : font == Font::ToUnicode || font == Font::Named ? kPool.size()
               : font == Font::Rksj                             ? 2
                                                                : kCids.size();
    }

    // The text a font shows for a character of its alphabet, and the bytes it shows it by.
    std::string textOf(Font font, std::size_t index) const {
        if (font == Font::WinAnsi)
            return kWinAnsi[index];
        if (font == Font::ToUnicode || font == Font::Named)
            return kPool[index];
        return font == Font::Identity && kCids[index] == " " ? m_identityBlank : kCids[index];
    }
    std::string codeOf(Font font, std::size_t index) const {
        const auto twoBytes = [](unsigned code) {
            return std::string{static_cast<char>(code >> 8), static_cast<char>(code & 0xFF)};
        };
        const std::string& cid = kCids[std::min(index, kCids.size() - 1)];
        switch (font) {
            case Font::Identity:
                return twoBytes(cid == "あ" ? 843 : cid == "い" ? 845 : 1);
            case Font::ToUnicode:
                return twoBytes(m_toUnicodeFirst + static_cast<unsigned>(index));
            case Font::Named:
                return std::string(1, static_cast<char>(m_namedFirst + index));
            case Font::UniJis:
                return twoBytes(platform::utf8ToUtf16(cid)[0]);
            case Font::Rksj:
                return m_rksjVariant == 2 && cid == "い" ? "\xA1" : platform::utf8ToCp932(cid);
            default:
                return kWinAnsi[index];
        }
    }

    // A stream that shows "mark" and then, in one of the fonts, a few characters in pieces by
    // Tj, ', " or one TJ array; `text` is what it shows.
    int contentStream(Packing packing, std::string& text) {
        const auto font = static_cast<Font>(pick(m_random, static_cast<int>(Font::Count)));
        text = "mark";
        std::vector<std::string> pieces(1);
        for (std::size_t k = 0, n = 1 + pick(m_random, 6); k < n; ++k) {
            const std::size_t index = pick(m_random, alphabetSize(font));
            text += textOf(font, index);
            if (k > 0 && pick(m_random, 3) == 0)
                pieces.emplace_back();
            pieces.back() += codeOf(font, index);
        }
        const bool composite = font != Font::WinAnsi && font != Font::Named;
        std::string data =
            "BT /M 12 Tf (mark) Tj /F" + std::to_string(static_cast<int>(font)) + " 12 Tf\n";
        if (pick(m_random, 2) == 0) {
            data += "[";
            for (const std::string& piece : pieces)
                data += operand(m_random, piece, composite) + " -50 ";
            data += "] TJ\n";
        } else {
            const char* const operators[] = {" Tj\n", " '\n", " \"\n"};
            for (const std::string& piece : pieces) {
                const std::size_t op = pick(m_random, 3);
                data +=
                    (op == 2 ? "1 2 " : "") + operand(m_random, piece, composite) + operators[op];
            }
        }
        data += "ET";
        switch (packing) {
            case Packing::Flate:
                return addStream(test::deflate(data), "/Filter /FlateDecode");
            case Packing::HexFlate:
                return addStream(test::hexOf(test::deflate(data)),
                                 "/Filter [/ASCIIHexDecode /FlateDecode]");
            case Packing::FlatePng: {
                const std::size_t columns = 1 + pick(m_random, 16);
                data.resize((data.size() + columns - 1) / columns * columns, ' ');
                return addStream(test::deflate(test::pngEncode(data, columns, 1, m_random())),
                                 "/Filter /FlateDecode /DecodeParms << /Predictor 12 /Columns " +
                                     std::to_string(columns) + " >>");
            }
            case Packing::Lzw:
                return addStream(test::lzwEncode(data, 1), "/Filter /LZWDecode");
            default:
                return addStream(data);
        }
    }

    // A classic table, cut into subsections at random.
    std::string withXrefTable() {
        std::string out = "%PDF-1.4\n";
        std::map<int, std::size_t> offsets;
        for (const auto& [number, object] : m_objects) {
            offsets[number] = out.size();
            out += std::to_string(number) + " 0 obj\n" + object.body + "\nendobj\n";
        }
        m_xrefAt = out.size();
        out += "xref\n";
        for (int first = 0; first < m_next;) {
            const int count = std::min(m_next - first, 1 + static_cast<int>(pick(m_random, 5)));
            out += std::to_string(first) + " " + std::to_string(count) + "\n";
            for (int n = first; n < first + count; ++n) {
                const bool used = offsets.count(n) > 0;
                out += row(used ? offsets[n] : 0, used ? 'n' : 'f', n == 0 ? 65535 : 0);
            }
            first += count;
        }
        out += "trailer\n<< /Size " + std::to_string(m_next) + " /Root 1 0 R >>\nstartxref\n" +
               std::to_string(m_xrefAt) + "\n%%EOF\n";
        return out;
    }

    // A cross-reference stream, compressed, with PNG rows or not. In the object stream layouts
    // every object that is no stream goes into one object stream; a hybrid file adds a table
    // of the other objects that points at the stream with /XRefStm.
    std::string withXrefStream(Layout layout) {
        const bool packed = layout != Layout::Stream;
        std::string out = "%PDF-1.5\n";
        struct Entry {
            int type;
            std::size_t field, index;
        };
        std::map<int, Entry> entries;
        std::string header, members;
        std::size_t count = 0;
        const int objectStream = m_next, xrefStream = m_next + 1;
        for (const auto& [number, object] : m_objects) {
            if (packed && !object.stream) {
                header += std::to_string(number) + " " + std::to_string(members.size()) + " ";
                members += object.body + "\n";
                entries[number] = {2, static_cast<std::size_t>(objectStream), count++};
                continue;
            }
            entries[number] = {1, out.size(), 0};
            out += std::to_string(number) + " 0 obj\n" + object.body + "\nendobj\n";
        }
        if (packed) {
            const std::string data = test::deflate(header + members);
            entries[objectStream] = {1, out.size(), 0};
            out += std::to_string(objectStream) + " 0 obj\n<< /Type /ObjStm /N " +
                   std::to_string(count) + " /First " + std::to_string(header.size()) +
                   " /Filter /FlateDecode /Length " + std::to_string(data.size()) +
                   " >>\nstream\n" + data + "\nendstream\nendobj\n";
        }
        const std::size_t at = out.size();
        entries[xrefStream] = {1, at, 0};
        std::string rows;
        for (int n = 0; n <= xrefStream; ++n) {
            const auto found = entries.find(n);
            const Entry entry = found == entries.end() ? Entry{0, 0, 0} : found->second;
            rows += static_cast<char>(entry.type);
            for (int shift = 24; shift >= 0; shift -= 8)
                rows += static_cast<char>((entry.field >> shift) & 0xFF);
            rows += {static_cast<char>(entry.index >> 8), static_cast<char>(entry.index & 0xFF)};
        }
        const bool png = pick(m_random, 2) == 0;
        const std::string data =
            test::deflate(png ? test::pngEncode(rows, 7, 1, m_random()) : rows);
        out += std::to_string(xrefStream) + " 0 obj\n<< /Type /XRef /Size " +
               std::to_string(xrefStream + 1) + " /W [1 4 2] /Root 1 0 R /Filter /FlateDecode " +
               (png ? "/DecodeParms << /Predictor 12 /Columns 7 >> " : "") + "/Length " +
               std::to_string(data.size()) + " >>\nstream\n" + data + "\nendstream\nendobj\n";
        if (layout != Layout::Hybrid)
            return out + "startxref\n" + std::to_string(at) + "\n%%EOF\n";
        const std::size_t table = out.size();
        out += "xref\n0 1\n" + row(0, 'f', 65535);
        for (const auto& [number, entry] : entries) {
            if (entry.type == 1)
                out += std::to_string(number) + " 1\n" + row(entry.field, 'n');
        }
        return out + "trailer\n<< /Size " + std::to_string(xrefStream + 1) +
               " /Root 1 0 R /XRefStm " + std::to_string(at) + " >>\nstartxref\n" +
               std::to_string(table) + "\n%%EOF\n";
    }

    Random m_random;
    std::map<int, Object> m_objects;
    int m_next = 3;  // 1 and 2: the catalog and the root of the page tree
    std::string m_fontNames, m_identityBlank;
    unsigned m_toUnicodeFirst = 0, m_namedFirst = 0;
    std::size_t m_rksjVariant = 0, m_xrefAt = 0;
};

TEST(GeneratedPdfs, EveryStreamIsOneHitOnItsPageWithItsText) {
    for (unsigned seed = 0; seed < 150; ++seed) {
        const auto layout = static_cast<Layout>(seed % 5);
        const auto packing = static_cast<Packing>(seed / 5 % 5);
        const bool damaged = seed / 25 % 3 == 2;
        const Generated pdf = Generator(seed).make(layout, packing, damaged);
        SCOPED_TRACE("seed " + std::to_string(seed) + ": " + kLayoutNames[seed % 5] + ", " +
                     kPackingNames[seed / 5 % 5] + (damaged ? ", damaged" : ""));

        test::RecordingHost host;
        search::Matcher matcher(false, false);
        matcher.targetStrsSplit("mark");
        search::SearchFlags flags;
        PdfEngine engine(test::contextOf(host, matcher, flags), test::testCidTable());
        EXPECT_TRUE(engine.p2tMain("/d/gen.pdf", pdf.bytes));
        std::vector<std::string> hits;
        for (const auto& row : host.rows) {
            hits.push_back(row.position + ":" + row.content);
            EXPECT_EQ(std::tie(row.fileType, row.name, row.location),
                      std::make_tuple(app::FileType::Pdf, "gen.pdf", "/d/gen.pdf"));
        }
        EXPECT_EQ(hits, pdf.hits);
        const std::string total = std::to_string(pdf.pages);
        EXPECT_EQ(host.progressTexts.size(), static_cast<std::size_t>(pdf.pages));
        EXPECT_EQ(host.progressTexts.back(), "検索中...gen.pdf(" + total + "/" + total + ")");

        std::string dump;
        const std::string_view bytes(pdf.bytes);
        EXPECT_TRUE(dumpPdfText(
            "gen.pdf", test::testCidTable(), [&](std::string_view page) { dump += page; }, &bytes));
        EXPECT_EQ(dump, pdf.dump);
        if (HasFailure())
            return;
    }
}

}  // namespace
}  // namespace ferretta::pdf
