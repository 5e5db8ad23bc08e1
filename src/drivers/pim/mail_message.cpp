#include "drivers/pim/mail_message.h"

#include <gmime/gmime.h>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <vector>

#include "drivers/pim/html_text.h"
#include "drivers/pim/mail_charsets.h"
#include "drivers/pim/text_file.h"

namespace ferretta::platform::pim {

namespace {

constexpr std::size_t kBodyLimit = 16u << 20;
constexpr std::int64_t kInMemoryMessage = 1 << 20;

struct GObjectUnref {
    void operator()(gpointer object) const {
        if (object)
            g_object_unref(object);
    }
};
template <class T>
using GPtr = std::unique_ptr<T, GObjectUnref>;

void initialiseGMime() {
    static std::once_flag once;
    std::call_once(once, [] { g_mime_init(); });
}

GMimeParserOptions* parserOptions() {
    // Made once and never changed: GMime only reads it.
    static GMimeParserOptions* options = [] {
        GMimeParserOptions* made = g_mime_parser_options_new();
        g_mime_parser_options_set_address_compliance_mode(made, GMIME_RFC_COMPLIANCE_LOOSE);
        g_mime_parser_options_set_parameter_compliance_mode(made, GMIME_RFC_COMPLIANCE_LOOSE);
        g_mime_parser_options_set_rfc2047_compliance_mode(made, GMIME_RFC_COMPLIANCE_LOOSE);
        return made;
    }();
    return options;
}

// The raw (undecoded, folded) values of every header of that name, in order.
std::vector<std::string> rawHeaders(GMimeObject* object, const char* name) {
    std::vector<std::string> values;
    GMimeHeaderList* headers = g_mime_object_get_header_list(object);
    const int count = g_mime_header_list_get_count(headers);
    for (int i = 0; i < count; ++i) {
        GMimeHeader* header = g_mime_header_list_get_header_at(headers, i);
        const char* headerName = g_mime_header_get_name(header);
        const char* value = g_mime_header_get_raw_value(header);
        if (headerName && value && g_ascii_strcasecmp(headerName, name) == 0)
            values.emplace_back(value);
    }
    return values;
}

std::string firstRawHeader(GMimeObject* object, const char* name) {
    auto values = rawHeaders(object, name);
    return values.empty() ? std::string() : std::move(values.front());
}

std::string trimmed(std::string_view text) {
    const auto begin = text.find_first_not_of(" \t\r\n");
    if (begin == std::string_view::npos)
        return {};
    const auto end = text.find_last_not_of(" \t\r\n");
    return std::string(text.substr(begin, end - begin + 1));
}

void appendJoined(std::string& list, std::string_view entry, std::string_view separator) {
    if (entry.empty())
        return;
    if (!list.empty())
        list += separator;
    list += entry;
}

void appendAddresses(InternetAddressList* list, std::string& out) {
    const int count = internet_address_list_length(list);
    for (int i = 0; i < count; ++i) {
        InternetAddress* address = internet_address_list_get_address(list, i);
        if (INTERNET_ADDRESS_IS_GROUP(address)) {
            appendAddresses(internet_address_group_get_members(INTERNET_ADDRESS_GROUP(address)),
                            out);
            continue;
        }
        const char* name = internet_address_get_name(address);
        std::string shown = name ? trimmed(name) : std::string();
        if (shown.empty() && INTERNET_ADDRESS_IS_MAILBOX(address)) {
            const char* mailbox =
                internet_address_mailbox_get_addr(INTERNET_ADDRESS_MAILBOX(address));
            shown = mailbox ? mailbox : "";
        }
        appendJoined(out, shown, "; ");
    }
}

// Display forms of the mailboxes of every header of that name.
std::string addressDisplay(GMimeObject* message, const char* name, bool firstOnly) {
    std::string out;
    for (const auto& raw : rawHeaders(message, name)) {
        const std::string prepared = decodeAddressHeader(raw);
        GPtr<InternetAddressList> list(
            internet_address_list_parse(parserOptions(), prepared.c_str()));
        if (list)
            appendAddresses(list.get(), out);
        if (firstOnly && !out.empty())
            return out.substr(0, out.find("; "));
    }
    return out;
}

// Thunderbird's five standard tags by their keys; other keys starting with '$' are flags.
std::string thunderbirdTag(std::string_view key) {
    static constexpr std::pair<std::string_view, std::string_view> labels[] = {
        {"$label1", "Important"},
        {"$label2", "Work"},
        {"$label3", "Personal"},
        {"$label4", "To Do"},
        {"$label5", "Later"}};
    for (const auto& [label, name] : labels) {
        if (g_ascii_strcasecmp(std::string(key).c_str(), std::string(label).c_str()) == 0)
            return std::string(name);
    }
    if (key.starts_with('$') || key == "junk" || key == "nonjunk")
        return {};
    return std::string(key);
}

std::string categoriesOf(GMimeObject* message) {
    std::string out;
    for (const auto& raw : rawHeaders(message, "Keywords")) {
        const std::string decoded = decodeHeaderText(raw);
        std::size_t start = 0;
        while (start <= decoded.size()) {
            const std::size_t comma = decoded.find(',', start);
            const std::size_t stop = comma == std::string::npos ? decoded.size() : comma;
            appendJoined(out, trimmed(std::string_view(decoded).substr(start, stop - start)), ", ");
            start = stop + 1;
        }
    }
    for (const auto& raw : rawHeaders(message, "X-Mozilla-Keys")) {
        const std::string decoded = decodeHeaderText(raw);
        std::size_t start = 0;
        while (start < decoded.size()) {
            const std::size_t blank = decoded.find_first_of(" \t", start);
            const std::size_t stop = blank == std::string::npos ? decoded.size() : blank;
            const std::string tag =
                thunderbirdTag(std::string_view(decoded).substr(start, stop - start));
            if (!tag.empty() && (", " + out + ", ").find(", " + tag + ", ") == std::string::npos)
                appendJoined(out, tag, ", ");
            start = stop + 1;
        }
    }
    return out;
}

// The transfer-decoded bytes of a part, at most `limit` of them.
std::string partBytes(GMimePart* part, std::size_t limit) {
    GMimeDataWrapper* content = g_mime_part_get_content(part);
    if (!content)
        return {};
    GMimeStream* raw = g_mime_data_wrapper_get_stream(content);
    if (!raw)
        return {};
    g_mime_stream_reset(raw);
    GPtr<GMimeStream> filtered(g_mime_stream_filter_new(raw));
    const GMimeContentEncoding encoding = g_mime_data_wrapper_get_encoding(content);
    if (encoding == GMIME_CONTENT_ENCODING_BASE64 ||
        encoding == GMIME_CONTENT_ENCODING_QUOTEDPRINTABLE ||
        encoding == GMIME_CONTENT_ENCODING_UUENCODE) {
        GPtr<GMimeFilter> decoder(g_mime_filter_basic_new(encoding, FALSE));
        g_mime_stream_filter_add(GMIME_STREAM_FILTER(filtered.get()), decoder.get());
    }
    std::string bytes;
    char buffer[16384];
    while (bytes.size() < limit) {
        const ssize_t n = g_mime_stream_read(filtered.get(), buffer, sizeof buffer);
        if (n <= 0)
            break;
        bytes.append(buffer, static_cast<std::size_t>(n));
    }
    if (bytes.size() > limit)
        bytes.resize(limit);
    return bytes;
}

bool isAttachment(GMimeObject* object) {
    GMimeContentDisposition* disposition = g_mime_object_get_content_disposition(object);
    if (disposition && g_mime_content_disposition_is_attachment(disposition))
        return true;
    // A named part that does not call itself inline is a file, not the message's text.
    const bool inlineDeclared =
        disposition && g_ascii_strcasecmp(g_mime_content_disposition_get_disposition(disposition),
                                          GMIME_DISPOSITION_INLINE) == 0;
    return !inlineDeclared && GMIME_IS_PART(object) &&
           g_mime_part_get_filename(GMIME_PART(object)) != nullptr;
}

// The inline text parts of the message, plain or HTML ones, depth first; attached messages are
// not entered. A multipart without a boundary, whose parts cannot be told apart (the parser
// keeps its whole content as the prologue), counts as one plain text part.
void collectTextParts(GMimeObject* object, bool html, std::vector<GMimeObject*>& parts, int depth) {
    if (!object || depth > 64)
        return;
    if (GMIME_IS_MULTIPART(object)) {
        if (g_mime_object_get_content_type_parameter(object, "boundary") == nullptr) {
            if (!html)
                parts.push_back(object);
            return;
        }
        GMimeMultipart* multipart = GMIME_MULTIPART(object);
        const int count = g_mime_multipart_get_count(multipart);
        for (int i = 0; i < count; ++i)
            collectTextParts(g_mime_multipart_get_part(multipart, i), html, parts, depth + 1);
        return;
    }
    if (!GMIME_IS_PART(object) || isAttachment(object))
        return;
    GMimeContentType* type = g_mime_object_get_content_type(object);
    if (!type || g_mime_content_type_is_type(type, "text", html ? "html" : "plain"))
        parts.push_back(object);
}

// The bytes of a text part, or the whole content of a multipart without a boundary.
std::string textBytes(GMimeObject* object, std::size_t limit) {
    if (GMIME_IS_PART(object))
        return partBytes(GMIME_PART(object), limit);
    const char* prologue = g_mime_multipart_get_prologue(GMIME_MULTIPART(object));
    return prologue ? std::string(prologue, std::min(std::strlen(prologue), limit)) : std::string();
}

std::string bodyOf(GMimeMessage* message) {
    GMimeObject* top = g_mime_message_get_mime_part(message);
    std::vector<GMimeObject*> parts;
    collectTextParts(top, false, parts, 0);
    const bool html = parts.empty();
    if (html)
        collectTextParts(top, true, parts, 0);
    std::string body;
    for (GMimeObject* part : parts) {
        if (body.size() >= kBodyLimit)
            break;
        const std::string bytes = textBytes(part, kBodyLimit - body.size());
        const char* declared = g_mime_object_get_content_type_parameter(part, "charset");
        std::string text;
        if (html) {
            const std::string charset = declared ? std::string(declared) : sniffHtmlCharset(bytes);
            text = htmlToText(decodeCharset(bytes, charset));
        } else {
            text = decodeCharset(bytes, declared ? declared : "");
        }
        if (!body.empty() && !text.empty())
            body += '\n';
        body += text;
    }
    return body;
}

// A stream over [start, end) of a file that gives up (reads fail) once `stopped` says so: the
// parser and the part readers read through it and its substreams, so a stop request ends the
// reading of a large message at the next block.
struct StoppableStream {
    GMimeStream parent;
    int fd;
    const std::function<bool()>* stopped;
};
struct StoppableStreamClass {
    GMimeStreamClass parent;
};

GType stoppableStreamType();

StoppableStream* asStoppable(GMimeStream* stream) {
    return reinterpret_cast<StoppableStream*>(stream);
}

GMimeStream* newStoppableStream(int fd, const std::function<bool()>* stopped, gint64 start,
                                gint64 end) {
    auto* stream = static_cast<StoppableStream*>(g_object_new(stoppableStreamType(), nullptr));
    stream->fd = fd;
    stream->stopped = stopped;
    g_mime_stream_construct(&stream->parent, start, end);
    return &stream->parent;
}

ssize_t stoppableRead(GMimeStream* stream, char* buffer, size_t length) {
    const StoppableStream* self = asStoppable(stream);
    if (*self->stopped && (*self->stopped)()) {
        errno = ECANCELED;
        return -1;
    }
    if (stream->position >= stream->bound_end)
        return 0;
    length = static_cast<size_t>(
        std::min<gint64>(stream->bound_end - stream->position, static_cast<gint64>(length)));
    ssize_t n = 0;
    do {
        n = ::pread(self->fd, buffer, length, stream->position);
    } while (n < 0 && errno == EINTR);
    if (n > 0)
        stream->position += n;
    return n;
}

ssize_t stoppableWrite(GMimeStream*, const char*, size_t) {
    errno = EBADF;
    return -1;
}

int stoppableNothing(GMimeStream*) {
    return 0;
}

gboolean stoppableEos(GMimeStream* stream) {
    return stream->position >= stream->bound_end;
}

int stoppableReset(GMimeStream* stream) {
    stream->position = stream->bound_start;
    return 0;
}

gint64 stoppableSeek(GMimeStream* stream, gint64 offset, GMimeSeekWhence whence) {
    gint64 to = offset;
    if (whence == GMIME_STREAM_SEEK_CUR)
        to = stream->position + offset;
    else if (whence == GMIME_STREAM_SEEK_END)
        to = stream->bound_end + offset;
    if (to < stream->bound_start || to > stream->bound_end) {
        errno = EINVAL;
        return -1;
    }
    stream->position = to;
    return to;
}

gint64 stoppableTell(GMimeStream* stream) {
    return stream->position;
}

gint64 stoppableLength(GMimeStream* stream) {
    return stream->bound_end - stream->bound_start;
}

GMimeStream* stoppableSubstream(GMimeStream* stream, gint64 start, gint64 end) {
    const StoppableStream* self = asStoppable(stream);
    return newStoppableStream(self->fd, self->stopped, start, end);
}

void stoppableClassInit(gpointer klass, gpointer /*data*/) {
    auto* stream = static_cast<GMimeStreamClass*>(klass);
    stream->read = stoppableRead;
    stream->write = stoppableWrite;
    stream->flush = stoppableNothing;
    stream->close = stoppableNothing;
    stream->eos = stoppableEos;
    stream->reset = stoppableReset;
    stream->seek = stoppableSeek;
    stream->tell = stoppableTell;
    stream->length = stoppableLength;
    stream->substream = stoppableSubstream;
}

GType stoppableStreamType() {
    static const GType type = g_type_register_static_simple(
        GMIME_TYPE_STREAM, "FerrettaStoppableStream", sizeof(StoppableStreamClass),
        stoppableClassInit, sizeof(StoppableStream), nullptr, GTypeFlags(0));
    return type;
}

std::optional<MailMessage> readFromStream(GMimeStream* stream) {
    GPtr<GMimeParser> parser(g_mime_parser_new_with_stream(stream));
    g_mime_parser_set_format(parser.get(), GMIME_FORMAT_MESSAGE);
    g_mime_parser_set_persist_stream(parser.get(), TRUE);
    GPtr<GMimeMessage> message(g_mime_parser_construct_message(parser.get(), parserOptions()));
    if (!message)
        return std::nullopt;
    GMimeObject* object = GMIME_OBJECT(message.get());
    MailMessage mail;
    mail.subject = decodeHeaderText(trimmed(firstRawHeader(object, "Subject")));
    mail.senderName = addressDisplay(object, "From", true);
    mail.to = addressDisplay(object, "To", false);
    mail.cc = addressDisplay(object, "Cc", false);
    mail.categories = categoriesOf(object);
    std::string messageId = trimmed(firstRawHeader(object, "Message-ID"));
    if (messageId.size() >= 2 && messageId.front() == '<' && messageId.back() == '>')
        messageId = messageId.substr(1, messageId.size() - 2);
    mail.messageId = std::move(messageId);
    mail.headDigest =
        digestOf(firstRawHeader(object, "Date") + '\n' + firstRawHeader(object, "From") + '\n' +
                 firstRawHeader(object, "Subject"));
    mail.body = bodyOf(message.get());
    return mail;
}

// Skips an mbox "From " line at the start.
std::int64_t skipFromLine(std::string_view head) {
    if (!head.starts_with("From "))
        return 0;
    const std::size_t end = head.find('\n');
    return end == std::string_view::npos ? static_cast<std::int64_t>(head.size())
                                         : static_cast<std::int64_t>(end + 1);
}

}  // namespace

std::optional<MailMessage> readMailMessage(std::string_view bytes) {
    initialiseGMime();
    bytes.remove_prefix(static_cast<std::size_t>(skipFromLine(bytes.substr(0, 4096))));
    GPtr<GMimeStream> stream(g_mime_stream_mem_new_with_buffer(bytes.data(), bytes.size()));
    return readFromStream(stream.get());
}

std::optional<MailMessage> readMailMessage(int fd, std::int64_t begin, std::int64_t end,
                                           const std::function<bool()>& stopped) {
    initialiseGMime();
    if (end < 0) {
        struct stat status {};
        end = ::fstat(fd, &status) == 0 ? status.st_size : begin;
    }
    // A message of ordinary size is read at once and parsed in memory, sparing the parser a
    // system call per block; a large one is parsed from the file, so that its attachments are
    // never loaded.
    if (end - begin <= kInMemoryMessage) {
        const auto size = static_cast<std::size_t>(std::max<std::int64_t>(end - begin, 0));
        auto* data = static_cast<guint8*>(g_malloc(size + 1));
        std::size_t done = 0;
        while (done < size) {
            const ssize_t n =
                ::pread(fd, data + done, size - done, begin + static_cast<std::int64_t>(done));
            if (n <= 0)
                break;
            done += static_cast<std::size_t>(n);
        }
        const auto skip = static_cast<std::size_t>(skipFromLine(std::string_view(
            reinterpret_cast<const char*>(data), std::min<std::size_t>(done, 4096))));
        std::memmove(data, data + skip, done - skip);
        GPtr<GMimeStream> stream(
            g_mime_stream_mem_new_with_byte_array(g_byte_array_new_take(data, done - skip)));
        return readFromStream(stream.get());
    }
    char head[4096];
    const ssize_t n = ::pread(fd, head, sizeof head, begin);
    if (n > 0)
        begin += skipFromLine(std::string_view(head, static_cast<std::size_t>(n)));
    static const std::function<bool()> never;
    GPtr<GMimeStream> stream(newStoppableStream(fd, stopped ? &stopped : &never, begin, end));
    auto mail = readFromStream(stream.get());
    if (stopped && stopped())
        return std::nullopt;
    return mail;
}

std::string unescapeMboxFromLines(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    std::size_t lineStart = 0;
    while (lineStart <= text.size()) {
        const std::size_t newline = text.find('\n', lineStart);
        const std::size_t lineEnd = newline == std::string_view::npos ? text.size() : newline + 1;
        std::string_view line = text.substr(lineStart, lineEnd - lineStart);
        const std::size_t quotes = line.find_first_not_of('>');
        if (quotes != std::string_view::npos && quotes > 0 &&
            line.substr(quotes).starts_with("From "))
            line.remove_prefix(1);
        out += line;
        if (newline == std::string_view::npos)
            break;
        lineStart = lineEnd;
    }
    return out;
}

}  // namespace ferretta::platform::pim
