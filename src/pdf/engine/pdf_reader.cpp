#include "pdf/engine/pdf_reader.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "platform/error.h"

namespace ferretta::pdf {

std::int64_t tokenToInt(std::string_view token, std::int64_t low, std::int64_t high) {
    std::size_t i = 0;
    bool negative = false;
    if (!token.empty() && (token[0] == '+' || token[0] == '-')) {
        negative = token[0] == '-';
        i = 1;
    }
    if (i >= token.size())
        throw Error(Error::Kind::Other, "not a number: " + std::string(token.substr(0, 32)));
    std::int64_t value = 0;
    for (; i < token.size(); ++i) {
        const char c = token[i];
        if (c < '0' || c > '9' || value > (INT64_MAX / 10 - 9)) {
            throw Error(Error::Kind::Other, "not a number: " + std::string(token.substr(0, 32)));
        }
        value = value * 10 + (c - '0');
    }
    if (negative)
        value = -value;
    if (value < low || value > high) {
        throw Error(Error::Kind::Other, "number out of range: " + std::string(token.substr(0, 32)));
    }
    return value;
}

std::int32_t tokenToInt32(std::string_view token) {
    return static_cast<std::int32_t>(tokenToInt(token, INT32_MIN, INT32_MAX));
}

bool isIntegerToken(std::string_view t) {
    if (t.empty() || t.size() > 11)
        return false;
    std::size_t i = (t[0] == '+' || t[0] == '-') ? 1 : 0;
    if (i >= t.size())
        return false;
    for (; i < t.size(); ++i) {
        if (t[i] < '0' || t[i] > '9')
            return false;
    }
    return true;
}

PdfReader::PdfReader() : m_window(windowSize) {}

PdfReader::~PdfReader() {
    close();
}

void PdfReader::open(const std::string& path) {
    close();
    m_fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (m_fd < 0)
        throw Error(Error::Kind::FileOpen, path + ": " + std::strerror(errno));
    struct stat info {};
    if (::fstat(m_fd, &info) != 0) {
        const int error = errno;
        close();
        throw Error(Error::Kind::FileOpen, path + ": " + std::strerror(error));
    }
    m_fileLength = S_ISREG(info.st_mode) ? static_cast<std::int64_t>(info.st_size) : 0;
    m_filePosition = 0;
    useFile();
}

void PdfReader::openMemory(std::string_view bytes) {
    close();
    m_fileBytes = bytes;
    m_fileInMemory = true;
    m_fileLength = static_cast<std::int64_t>(bytes.size());
    m_filePosition = 0;
    useFile();
}

void PdfReader::close() {
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
    m_fileBytes = {};
    m_fileInMemory = false;
    m_fileLength = 0;
    m_memory.reset();
    m_data = nullptr;
    m_length = m_index = 0;
    m_base = m_sourceLength = 0;
    if (m_window.size() != windowSize) {
        m_window.assign(windowSize, '\0');
        m_window.shrink_to_fit();
    }
}

void PdfReader::useMemory(std::shared_ptr<const std::string> data, std::size_t begin,
                          std::size_t end) {
    if (!m_memory)
        m_filePosition = p2tGetPosition();
    if (end > data->size())
        end = data->size();
    if (begin > end)
        begin = end;
    m_memory = std::move(data);
    m_memoryBegin = begin;
    m_memoryEnd = end;
    m_data = m_memory->data() + begin;
    m_length = end - begin;
    m_index = 0;
    m_base = 0;
    m_sourceLength = static_cast<std::int64_t>(m_length);
}

void PdfReader::useFile() {
    if (m_memory) {
        m_memory.reset();
    } else {
        m_filePosition = p2tGetPosition();
    }
    m_sourceLength = m_fileLength;
    if (m_fileInMemory) {
        // The whole file is the window.
        m_data = m_fileBytes.data();
        m_length = m_fileBytes.size();
        m_base = 0;
        m_index = static_cast<std::size_t>(
            std::clamp<std::int64_t>(m_filePosition, 0, static_cast<std::int64_t>(m_length)));
        return;
    }
    m_data = m_window.data();
    m_length = 0;
    m_index = 0;
    m_base = m_filePosition;
}

PdfReader::Position PdfReader::save() const {
    return Position{m_memory, m_memoryBegin, m_memoryEnd, p2tGetPosition()};
}

void PdfReader::restore(const Position& position) {
    if (position.memory) {
        if (position.memory != m_memory || position.memoryBegin != m_memoryBegin ||
            position.memoryEnd != m_memoryEnd) {
            useMemory(position.memory, position.memoryBegin, position.memoryEnd);
        }
    } else if (m_memory) {
        useFile();
    }
    setCursor(position.offset);
}

void PdfReader::setCursor(std::int64_t pos) {
    if (pos >= m_base && pos <= m_base + static_cast<std::int64_t>(m_length)) {
        m_index = static_cast<std::size_t>(pos - m_base);
        return;
    }
    if (m_memory || m_fileInMemory) {
        // Beyond the end of a memory source: stay at its end.
        m_index = m_length;
        return;
    }
    // Outside the window: the next read fills it from here.
    m_base = pos;
    m_length = 0;
    m_index = 0;
}

bool PdfReader::p2tSeek(std::int64_t& pos) {
    if (pos < 0 || pos >= m_sourceLength)
        return false;
    if (pos == 0 && !m_memory)
        pos = 1;
    if (pos >= m_sourceLength)
        return false;
    setCursor(pos);
    return true;
}

bool PdfReader::p2tSeekLast() {
    std::int64_t pos = m_sourceLength - 1;
    return p2tSeek(pos);
}

bool PdfReader::p2tSeekBack(std::int64_t& n) {
    std::int64_t target = p2tGetPosition() - n;
    if (target < 0)
        target = 0;
    n = target;
    return p2tSeek(n);
}

// Fills the window from the file so that it holds `wanted` bytes from `offset` (or up to the
// end of the file), starting a little before the offset so that a step back stays inside.
void PdfReader::fill(std::int64_t offset, std::size_t wanted) {
    const std::int64_t start = offset >= 16 ? offset - 16 : 0;
    const std::size_t size = std::max(windowSize, std::min(wanted, maxWindowSize) + 16);
    if (m_window.size() < size)
        m_window.resize(size);
    std::size_t got = 0;
    while (got < m_window.size()) {
        const ssize_t n = ::pread(m_fd, m_window.data() + got, m_window.size() - got,
                                  static_cast<off_t>(start + static_cast<std::int64_t>(got)));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            throw Error(Error::Kind::FileRead,
                        std::string("PDF read failed: ") + std::strerror(errno));
        }
        if (n == 0)
            break;
        got += static_cast<std::size_t>(n);
    }
    m_data = m_window.data();
    m_base = start;
    m_length = got;
    m_index = static_cast<std::size_t>(offset - start);
    if (m_index > m_length)
        m_index = m_length;
}

unsigned char PdfReader::slowGetByte() {
    const std::int64_t pos = p2tGetPosition();
    if (pos >= m_sourceLength || m_memory || m_fileInMemory)
        return 0;
    fill(pos, windowSize);
    if (m_index >= m_length)
        return 0;  // the file shrank under us
    return static_cast<unsigned char>(m_data[m_index++]);
}

std::string PdfReader::p2tGetBytes(std::int64_t count) {
    const std::int64_t pos = p2tGetPosition();
    if (count < 0)
        count = 0;
    if (count > m_sourceLength - pos)
        count = m_sourceLength - pos;
    if (count <= 0)
        return {};
    std::string out;
    const auto wanted = static_cast<std::size_t>(count);
    if (m_memory || m_fileInMemory) {
        out.assign(m_data + m_index, wanted);
        m_index += wanted;
        return out;
    }
    out.resize(wanted);
    std::size_t got = 0;
    // What the window holds already, then the rest straight from the file.
    const std::size_t inWindow = std::min(wanted, m_length - std::min(m_index, m_length));
    if (inWindow > 0) {
        std::memcpy(out.data(), m_data + m_index, inWindow);
        got = inWindow;
    }
    while (got < wanted) {
        const ssize_t n = ::pread(m_fd, out.data() + got, wanted - got,
                                  static_cast<off_t>(pos + static_cast<std::int64_t>(got)));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            throw Error(Error::Kind::FileRead,
                        std::string("PDF read failed: ") + std::strerror(errno));
        }
        if (n == 0)
            break;
        got += static_cast<std::size_t>(n);
    }
    out.resize(got);
    setCursor(pos + static_cast<std::int64_t>(got));
    return out;
}

// The bytes from the cursor to the end of the buffer, at least `wanted` of them when the
// source has them (the window is refilled from the cursor, and grows up to maxWindowSize).
std::string_view PdfReader::ahead(std::size_t wanted) {
    std::size_t left = m_length - std::min(m_index, m_length);
    const std::int64_t pos = p2tGetPosition();
    const auto inSource = static_cast<std::size_t>(std::max<std::int64_t>(0, m_sourceLength - pos));
    if (left < std::min(wanted, inSource) && !m_memory && !m_fileInMemory) {
        fill(pos, wanted);
        left = m_length - std::min(m_index, m_length);
    }
    left = std::min(left, inSource);  // a file grown under us is read to its old length
    return {m_data + m_index, left};
}

Token PdfReader::lex(Separators separators, std::string* strings) {
    if (--m_tokenBudget < 0)
        throw Error(Error::Kind::Other, "PDF token budget used up");
    const std::size_t stringsBefore = strings ? strings->size() : 0;
    std::size_t wanted = 256;
    for (;;) {
        const std::string_view view = ahead(wanted);
        Lexer lexer(view, separators);
        lexer.setStringLimit(maxStringBytes);
        Token token = lexer.next(strings);
        const std::int64_t after = p2tGetPosition() + static_cast<std::int64_t>(view.size());
        if (lexer.reachedEnd() && after < m_sourceLength && wanted < maxWindowSize &&
            view.size() < maxWindowSize) {
            // The token may go on past the window: read it again from a larger one.
            if (strings)
                strings->resize(stringsBefore);
            wanted = std::min(maxWindowSize, std::max(wanted, view.size()) * 8);
            continue;
        }
        m_index += lexer.position();
        m_token.assign(token.text.substr(0, maxTokenLength));
        token.text = m_token;
        return token;
    }
}

std::string_view PdfReader::p2tGetToken() {
    return lex(Separators::Design, nullptr).text;
}

Token PdfReader::nextToken(std::string* strings) {
    return lex(Separators::Iso, strings);
}

}  // namespace ferretta::pdf
