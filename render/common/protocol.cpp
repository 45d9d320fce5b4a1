#include "render/common/protocol.h"

#include <limits>
#include <utility>
#include <vector>

namespace pxraster {

namespace {

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

// Decimal digits as written by std::to_string: no sign, no leading zero, at most `maxValue`.
bool parseDigits(std::string_view text, uint64_t maxValue, uint64_t& value) {
    if (text.empty() || text.size() > 10 || (text[0] == '0' && text.size() > 1))
        return false;
    uint64_t n = 0;
    for (char c : text) {
        if (!isDigit(c))
            return false;
        n = n * 10 + static_cast<uint64_t>(c - '0');
    }
    if (n > maxValue)
        return false;
    value = n;
    return true;
}

bool parseUnsigned(std::string_view text, int32_t& value) {
    uint64_t n = 0;
    if (!parseDigits(text, std::numeric_limits<int32_t>::max(), n))
        return false;
    value = static_cast<int32_t>(n);
    return true;
}

bool parseSigned(std::string_view text, int32_t& value) {
    if (text.empty() || text[0] != '-')
        return parseUnsigned(text, value);
    uint64_t n = 0;
    const uint64_t magnitude = uint64_t{1} << 31;
    if (!parseDigits(text.substr(1), magnitude, n) || n == 0)
        return false; // "-0" is never written
    value = static_cast<int32_t>(-static_cast<int64_t>(n));
    return true;
}

// Reads "<length>:<bytes>" fields off the front of the input.
class FieldReader {
public:
    explicit FieldReader(std::string_view in) : in_(in) {}

    bool text(std::string& value) {
        const size_t colon = in_.find(':');
        uint64_t length = 0;
        // Nine digits: a field is never near a gigabyte, and the sum below cannot overflow.
        if (colon == std::string_view::npos || colon > 9 ||
            !parseDigits(in_.substr(0, colon), 999999999, length) ||
            in_.size() - colon - 1 < length)
            return false;
        value.assign(in_.substr(colon + 1, length));
        in_.remove_prefix(colon + 1 + length);
        return true;
    }
    bool number(int32_t& value) {
        std::string field;
        return text(field) && parseSigned(field, value);
    }
    bool atEnd() const { return in_.empty(); }

private:
    std::string_view in_;
};

// The blank-separated words after the kind letter; false when a blank is doubled or trails.
bool splitWords(std::string_view body, std::vector<std::string_view>& words) {
    while (!body.empty()) {
        if (body[0] != ' ')
            return false;
        body.remove_prefix(1);
        const size_t blank = body.find(' ');
        const std::string_view word = body.substr(0, blank);
        if (word.empty())
            return false;
        words.push_back(word);
        body.remove_prefix(word.size());
    }
    return true;
}

bool parseNumbers(const std::vector<std::string_view>& words,
                  std::initializer_list<int32_t*> values) {
    if (words.size() != values.size())
        return false;
    size_t i = 0;
    for (int32_t* value : values)
        if (!parseUnsigned(words[i++], *value))
            return false;
    return true;
}

} // namespace

std::string encodeRequest(const Request& r) {
    std::string out;
    auto field = [&out](const std::string& value) {
        out += std::to_string(value.size());
        out += ':';
        out += value;
    };
    field(std::to_string(kProtocolVersion));
    field(r.pdfPath);
    field(r.targetPath);
    field(r.hasPassword ? "1" : "0");
    field(r.password);
    for (int32_t n : {r.xDpi, r.yDpi, r.bitsPerPixel, r.tiffCompression, r.jpegQuality, r.grayscale,
                      r.allInOne, r.firstPage, r.lastPage})
        field(std::to_string(n));
    return out;
}

bool decodeRequest(std::string_view in, Request& request) {
    FieldReader fields(in);
    int32_t version = 0;
    if (!fields.number(version) || version != kProtocolVersion)
        return false;
    Request r;
    std::string flag;
    if (!fields.text(r.pdfPath) || !fields.text(r.targetPath) || !fields.text(flag) ||
        !fields.text(r.password))
        return false;
    if (flag != "0" && flag != "1")
        return false;
    r.hasPassword = flag == "1";
    for (int32_t* n : {&r.xDpi, &r.yDpi, &r.bitsPerPixel, &r.tiffCompression, &r.jpegQuality,
                       &r.grayscale, &r.allInOne, &r.firstPage, &r.lastPage})
        if (!fields.number(*n))
            return false;
    if (!fields.atEnd())
        return false;
    request = std::move(r);
    return true;
}

std::string frameRequest(const Request& request) {
    const std::string body = encodeRequest(request);
    return std::to_string(body.size()) + ':' + body;
}

Framing takeRequest(std::string& buffer, Request& request) {
    const size_t colon = buffer.find(':');
    if (colon == std::string::npos)
        return buffer.size() > 9 ? Framing::Garbled : Framing::Incomplete;
    uint64_t length = 0;
    // A request is a few paths long; a megabyte is far beyond any real one.
    if (colon > 9 || !parseDigits(std::string_view(buffer).substr(0, colon), 1u << 20, length))
        return Framing::Garbled;
    if (buffer.size() - colon - 1 < length)
        return Framing::Incomplete;
    Request r;
    if (!decodeRequest(std::string_view(buffer).substr(colon + 1, length), r))
        return Framing::Garbled;
    buffer.erase(0, colon + 1 + length);
    request = std::move(r);
    return Framing::Complete;
}

Report Report::pages(int32_t pageCount) {
    Report r;
    r.kind = ReportKind::Pages;
    r.pageCount = pageCount;
    return r;
}

Report Report::range(int32_t pageCount, int32_t first, int32_t last) {
    Report r;
    r.kind = ReportKind::Range;
    r.pageCount = pageCount;
    r.first = first;
    r.last = last;
    return r;
}

Report Report::busy(int32_t page, int32_t bandsDone, int32_t bandCount) {
    Report r;
    r.kind = ReportKind::Busy;
    r.page = page;
    r.bandsDone = bandsDone;
    r.bandCount = bandCount;
    return r;
}

Report Report::done(int32_t page) {
    Report r;
    r.kind = ReportKind::Done;
    r.page = page;
    return r;
}

Report Report::openFile(int32_t page) {
    Report r;
    r.kind = ReportKind::OpenFile;
    r.page = page;
    return r;
}

Report Report::keepFile(int32_t page) {
    Report r;
    r.kind = ReportKind::KeepFile;
    r.page = page;
    return r;
}

Report Report::finished(int32_t result) {
    Report r;
    r.kind = ReportKind::Result;
    r.result = result;
    return r;
}

std::string encodeReport(const Report& report) {
    std::string line(1, static_cast<char>(report.kind));
    auto number = [&line](int32_t n) {
        line += ' ';
        line += std::to_string(n);
    };
    switch (report.kind) {
    case ReportKind::Pages:
        number(report.pageCount);
        break;
    case ReportKind::Range:
        number(report.pageCount);
        number(report.first);
        number(report.last);
        break;
    case ReportKind::Busy:
        number(report.page);
        if (report.bandCount > 0) {
            number(report.bandsDone);
            number(report.bandCount);
        }
        break;
    case ReportKind::Done:
    case ReportKind::OpenFile:
    case ReportKind::KeepFile:
        number(report.page);
        break;
    case ReportKind::Result:
        number(report.result);
        break;
    }
    line += '\n';
    return line;
}

bool decodeReport(std::string_view line, Report& report) {
    if (line.size() < 2 || line.size() > kMaxReportBytes || line.back() != '\n')
        return false;
    line.remove_suffix(1);
    if (line.find('\n') != std::string_view::npos)
        return false;
    std::vector<std::string_view> words;
    if (!splitWords(line.substr(1), words))
        return false;
    Report r;
    switch (line[0]) {
    case 'P':
        r.kind = ReportKind::Pages;
        if (!parseNumbers(words, {&r.pageCount}) || r.pageCount < 1)
            return false;
        break;
    case 'R':
        r.kind = ReportKind::Range;
        if (!parseNumbers(words, {&r.pageCount, &r.first, &r.last}) || r.first < 1 ||
            r.first > r.last || r.last > r.pageCount)
            return false;
        break;
    case 'B':
        r.kind = ReportKind::Busy;
        if (words.size() == 1) {
            if (!parseNumbers(words, {&r.page}))
                return false;
        } else if (!parseNumbers(words, {&r.page, &r.bandsDone, &r.bandCount}) || r.bandCount < 1 ||
                   r.bandsDone > r.bandCount) {
            return false;
        }
        if (r.page < 1)
            return false;
        break;
    case 'D':
        r.kind = ReportKind::Done;
        if (!parseNumbers(words, {&r.page}) || r.page < 1)
            return false;
        break;
    case 'O':
    case 'K':
        r.kind = static_cast<ReportKind>(line[0]);
        if (!parseNumbers(words, {&r.page}))
            return false;
        break;
    case 'X':
        r.kind = ReportKind::Result;
        if (!parseNumbers(words, {&r.result}))
            return false;
        break;
    default:
        return false;
    }
    report = std::move(r);
    return true;
}

std::string encodeAnswer(int32_t error) {
    return "A " + std::to_string(error) + "\n";
}

bool decodeAnswer(std::string_view line, int32_t& error) {
    if (line.size() < 4 || line.substr(0, 2) != "A " || line.back() != '\n')
        return false;
    int32_t value = 0;
    if (!parseUnsigned(line.substr(2, line.size() - 3), value))
        return false;
    error = value;
    return true;
}

} // namespace pxraster
