#include "drivers/pim/html_text.h"

#include <libxml/HTMLparser.h>
#include <libxml/tree.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <mutex>
#include <vector>

namespace ferretta::platform::pim {

namespace {

bool nameIs(const xmlNode* node, const char* name) {
    return node->name && xmlStrcasecmp(node->name, reinterpret_cast<const xmlChar*>(name)) == 0;
}

bool nameIn(const xmlNode* node, std::initializer_list<const char*> names) {
    return std::any_of(names.begin(), names.end(), [&](const char* n) { return nameIs(node, n); });
}

bool isSkipped(const xmlNode* node) {
    return nameIn(node, {"head", "script", "style", "template", "title"});
}

bool isBlock(const xmlNode* node) {
    return nameIn(node, {"p",      "div",        "li",       "ul",     "ol",     "tr",
                         "table",  "h1",         "h2",       "h3",     "h4",     "h5",
                         "h6",     "blockquote", "pre",      "hr",     "dd",     "dt",
                         "dl",     "section",    "article",  "header", "footer", "address",
                         "center", "form",       "fieldset", "nav",    "aside",  "main",
                         "figure", "figcaption", "caption",  "thead",  "tbody",  "tfoot"});
}

// Collects text with the collapsing rules of a browser.
class TextSink {
  public:
    void text(std::string_view content, bool preformatted) {
        for (std::size_t i = 0; i < content.size(); ++i) {
            const char c = content[i];
            // A no-break space (C2 A0) reads as a blank.
            const bool nbsp = c == '\xC2' && i + 1 < content.size() && content[i + 1] == '\xA0';
            if (preformatted && (c == '\n' || c == '\r')) {
                if (c == '\r' && i + 1 < content.size() && content[i + 1] == '\n')
                    ++i;
                hardBreak();
                continue;
            }
            if (nbsp || c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f') {
                if (nbsp)
                    ++i;
                if (preformatted)
                    m_line += ' ';
                else
                    m_pendingBlank = !m_line.empty();
                continue;
            }
            if (m_pendingBlank)
                m_line += ' ';
            m_pendingBlank = false;
            m_line += c;
        }
    }
    // <br>: always a new line.
    void hardBreak() {
        m_out += m_line;
        m_out += '\n';
        m_line.clear();
        m_pendingBlank = false;
    }
    // A block's edge: a new line unless the line is empty already.
    void softBreak() {
        if (!m_line.empty())
            hardBreak();
        m_pendingBlank = false;
    }
    void cellSeparator() { m_pendingBlank = !m_line.empty(); }
    std::string finish() {
        softBreak();
        while (!m_out.empty() && m_out.back() == '\n')
            m_out.pop_back();
        return std::move(m_out);
    }

  private:
    std::string m_out;
    std::string m_line;
    bool m_pendingBlank = false;
};

void initialiseParser() {
    static std::once_flag once;
    std::call_once(once, [] { xmlInitParser(); });
}

}  // namespace

std::string htmlToText(std::string_view utf8Html) {
    if (utf8Html.empty() || utf8Html.size() > static_cast<std::size_t>(INT_MAX))
        return {};
    initialiseParser();
    htmlDocPtr document = htmlReadMemory(
        utf8Html.data(), static_cast<int>(utf8Html.size()), nullptr, "UTF-8",
        HTML_PARSE_RECOVER | HTML_PARSE_NOERROR | HTML_PARSE_NOWARNING | HTML_PARSE_NONET);
    if (!document)
        return {};
    TextSink sink;
    // Walked without recursion: a hostile mail may nest elements as deep as the parser allows.
    struct Frame {
        xmlNode* node;
        bool leaving;
        bool preformatted;
    };
    std::vector<Frame> stack;
    if (xmlNode* root = xmlDocGetRootElement(document))
        stack.push_back({root, false, false});
    while (!stack.empty()) {
        const Frame frame = stack.back();
        stack.pop_back();
        xmlNode* node = frame.node;
        if (frame.leaving) {
            if (isBlock(node))
                sink.softBreak();
            continue;
        }
        if (node->type == XML_TEXT_NODE || node->type == XML_CDATA_SECTION_NODE) {
            if (node->content)
                sink.text(reinterpret_cast<const char*>(node->content), frame.preformatted);
            continue;
        }
        if (node->type != XML_ELEMENT_NODE || isSkipped(node))
            continue;
        if (nameIs(node, "br")) {
            sink.hardBreak();
            continue;
        }
        if (nameIn(node, {"td", "th"}))
            sink.cellSeparator();
        if (isBlock(node))
            sink.softBreak();
        const bool preformatted = frame.preformatted || nameIn(node, {"pre", "textarea"});
        stack.push_back({node, true, preformatted});
        std::vector<xmlNode*> children;
        for (xmlNode* child = node->children; child; child = child->next)
            children.push_back(child);
        for (auto it = children.rbegin(); it != children.rend(); ++it)
            stack.push_back({*it, false, preformatted});
    }
    xmlFreeDoc(document);
    return sink.finish();
}

std::string sniffHtmlCharset(std::string_view html) {
    std::string head(html.substr(0, 4096));
    std::transform(head.begin(), head.end(), head.begin(), [](char c) {
        return static_cast<char>(c >= 'A' && c <= 'Z' ? c + ('a' - 'A') : c);
    });
    for (std::size_t at = head.find("<meta"); at != std::string::npos;
         at = head.find("<meta", at + 5)) {
        const std::size_t end = head.find('>', at);
        const std::string_view tag = std::string_view(head).substr(
            at, end == std::string::npos ? std::string::npos : end - at);
        const std::size_t charset = tag.find("charset=");
        if (charset == std::string_view::npos)
            continue;
        std::size_t begin = charset + 8;
        while (begin < tag.size() && (tag[begin] == '"' || tag[begin] == '\'' || tag[begin] == ' '))
            ++begin;
        std::size_t stop = begin;
        while (stop < tag.size() && tag[stop] != '"' && tag[stop] != '\'' && tag[stop] != ';' &&
               tag[stop] != ' ' && tag[stop] != '/')
            ++stop;
        return std::string(tag.substr(begin, stop - begin));
    }
    return {};
}

}  // namespace ferretta::platform::pim
