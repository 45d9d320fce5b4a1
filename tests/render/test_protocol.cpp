// The protocol between the rendering library and its companion: what one end encodes the other
// decodes to the same, anything else is refused whole; and the real companion refuses a
// request of another version. Also the temporary names the library gives the files it names.
#include "render/common/outputnames.h"
#include "render/common/protocol.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <ostream>
#include <string>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace pxraster {

// Failures show the wire form rather than the bytes of the objects.
void PrintTo(const Request& request, std::ostream* out) {
    *out << encodeRequest(request);
}
void PrintTo(const Report& report, std::ostream* out) {
    *out << encodeReport(report);
}

} // namespace pxraster

namespace {

using namespace std::string_literals;
using pxraster::Report;
using pxraster::Request;

// Bytes a path may hold that a line-based or C-string encoding would trip over.
std::string everyByte() {
    std::string bytes;
    for (int c = 0; c < 256; ++c)
        bytes += static_cast<char>(c);
    return bytes;
}

// The request's fields as the wire carries them, written independently of the encoder.
std::string fields(const std::vector<std::string>& values) {
    std::string out;
    for (const std::string& value : values)
        out += std::to_string(value.size()) + ":" + value;
    return out;
}

// The fields of a valid request; cases replace one of them.
std::vector<std::string> goodFields() {
    return {std::to_string(pxraster::kProtocolVersion),
            "/in/a.pdf",
            "/out/a.png",
            "1",
            "pw",
            "100",
            "100",
            "24",
            "5",
            "85",
            "0",
            "1",
            "1",
            "3"};
}

Request goodRequest() {
    Request r;
    r.pdfPath = "/in/a.pdf";
    r.targetPath = "/out/a.png";
    r.password = "pw";
    r.hasPassword = true;
    r.xDpi = r.yDpi = 100;
    r.bitsPerPixel = 24;
    r.tiffCompression = 5;
    r.jpegQuality = 85;
    r.allInOne = 1;
    r.firstPage = 1;
    r.lastPage = 3;
    return r;
}

TEST(Protocol, RequestsRoundTripWithAnyBytes) {
    EXPECT_EQ(pxraster::encodeRequest(goodRequest()), fields(goodFields()));

    std::vector<Request> cases;
    cases.push_back(goodRequest());
    Request odd = goodRequest();
    odd.pdfPath = "/in/line\nbreak\0nul\xff:12:" + everyByte();
    odd.targetPath = "3:x" + everyByte() + ".tiff";
    odd.password = "\0\n\xff"s;
    cases.push_back(odd);
    Request none = goodRequest();
    none.hasPassword = false;
    none.password.clear();
    none.firstPage = INT32_MIN; // the library passes the caller's range on unclamped
    none.lastPage = INT32_MAX;
    none.tiffCompression = -1;
    cases.push_back(none);
    Request empty = goodRequest();
    empty.hasPassword = true;
    empty.password.clear(); // an empty password is still a password
    cases.push_back(empty);

    for (const Request& r : cases) {
        SCOPED_TRACE(r.pdfPath.substr(0, 16));
        Request back;
        ASSERT_TRUE(pxraster::decodeRequest(pxraster::encodeRequest(r), back));
        EXPECT_EQ(back, r);
    }
}

TEST(Protocol, MalformedRequestsAreRefusedWhole) {
    struct Case {
        const char* what;
        size_t field; // which of goodFields() is replaced
        std::string value;
    };
    const Case replaced[] = {
        {"an earlier version", 0, "1"},
        {"a later version", 0, std::to_string(pxraster::kProtocolVersion + 1)},
        {"version 0", 0, "0"},
        {"version with a leading zero", 0, "01"},
        {"version not a number", 0, "v1"},
        {"flag neither 0 nor 1", 3, "2"},
        {"empty flag", 3, ""},
        {"number not numeric", 5, "1x"},
        {"number with a plus", 5, "+100"},
        {"number with a blank", 5, " 100"},
        {"number with a leading zero", 5, "0100"},
        {"negative zero", 12, "-0"},
        {"empty number", 5, ""},
        {"number above int32", 13, "2147483648"},
        {"number below int32", 12, "-2147483649"},
        {"overlong number", 13, "99999999999999999999"},
    };
    std::vector<std::pair<std::string, std::string>> cases;
    for (const Case& c : replaced) {
        std::vector<std::string> values = goodFields();
        values[c.field] = c.value;
        cases.emplace_back(c.what, fields(values));
    }
    const std::string good = fields(goodFields());
    std::vector<std::string> unversioned = goodFields();
    unversioned.erase(unversioned.begin());
    cases.emplace_back("without a version", fields(unversioned));
    cases.emplace_back("empty", "");
    cases.emplace_back("trailing bytes", good + "x");
    cases.emplace_back("an extra field", good + "1:1");
    cases.emplace_back("last field cut short", good.substr(0, good.size() - 1));
    cases.emplace_back("cut inside a length prefix", fields({goodFields()[0], "/in/a.pdf"}) + "1");
    cases.emplace_back("length without its colon", "1");
    // The path field written by hand, the version before it and the other fields after it.
    const std::vector<std::string> all = goodFields();
    const std::string version = fields({all[0]});
    const std::string afterPath = fields({all.begin() + 2, all.end()});
    cases.emplace_back("length beyond the input", version + "99:/in/a.pdf");
    cases.emplace_back("length not numeric", version + "x:/in/a.pdf" + afterPath);
    cases.emplace_back("length with a leading zero", version + "09:/in/a.pdf" + afterPath);
    cases.emplace_back("length of ten digits", version + "1000000000:/in/a.pdf" + afterPath);
    cases.emplace_back("empty length", version + ":/in/a.pdf" + afterPath);

    Request check;
    ASSERT_TRUE(pxraster::decodeRequest(version + "9:/in/a.pdf" + afterPath, check));
    for (const auto& [what, text] : cases) {
        SCOPED_TRACE(what);
        Request r = goodRequest();
        r.pdfPath = "untouched";
        const Request before = r;
        EXPECT_FALSE(pxraster::decodeRequest(text, r));
        EXPECT_EQ(r, before);
    }
}

TEST(Protocol, ReportsHaveOneLineEachAndRoundTrip) {
    struct Case {
        Report report;
        std::string line;
    };
    const Case cases[] = {
        {Report::pages(12), "P 12\n"},
        {Report::range(12, 3, 5), "R 12 3 5\n"},
        {Report::range(INT32_MAX, 1, INT32_MAX), "R 2147483647 1 2147483647\n"},
        {Report::busy(4), "B 4\n"},
        {Report::busy(4, 3, 10), "B 4 3 10\n"},
        {Report::busy(4, 10, 10), "B 4 10 10\n"},
        {Report::done(7), "D 7\n"},
        {Report::openFile(0), "O 0\n"}, // the multi-page TIFF
        {Report::openFile(12), "O 12\n"},
        {Report::keepFile(12), "K 12\n"},
        {Report::finished(0), "X 0\n"},
        {Report::finished(ENOMEM), "X " + std::to_string(ENOMEM) + "\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line);
        EXPECT_EQ(pxraster::encodeReport(c.report), c.line);
        Report back;
        ASSERT_TRUE(pxraster::decodeReport(c.line, back));
        EXPECT_EQ(back, c.report);
    }
}

TEST(Protocol, AnswersRoundTripAndAnythingElseIsRefused) {
    for (const int32_t error : {0, ENOENT, EACCES, INT32_MAX}) {
        int32_t back = -1;
        ASSERT_TRUE(pxraster::decodeAnswer(pxraster::encodeAnswer(error), back));
        EXPECT_EQ(back, error);
    }
    for (const std::string& bad : {""s, "A\n"s, "A \n"s, "A 0"s, "A -1\n"s, "A 01\n"s, "A 0 \n"s,
                                   "X 0\n"s, "A 2147483648\n"s}) {
        SCOPED_TRACE(bad);
        int32_t back = -1;
        EXPECT_FALSE(pxraster::decodeAnswer(bad, back));
        EXPECT_EQ(back, -1);
    }
}

TEST(Protocol, MalformedReportsAreRefusedWhole) {
    const std::string lines[] = {
        "",
        "\n",
        "X 0",        // no line end
        "X 0\nX 0\n", // two lines
        "X 0\r\n",
        "Q 1\n",
        "DD 1\n",
        "D\n",
        "D \n",
        "D 1 \n",
        "D  1\n",
        "D\t1\n",
        "D x\n",
        "D 1x\n",
        "D -1\n",
        "D +1\n",
        "D 01\n",
        "D 0\n", // pages count from 1
        "D 2147483648\n",
        "D 99999999999999999999\n",
        "P 0\n",
        "P 3 1\n",
        "R 3 1\n",
        "R 3 1 2 3\n",
        "R 3 0 1\n",
        "R 3 2 1\n", // ends before it starts
        "R 3 1 4\n", // beyond the document
        "B 0\n",
        "B 1 2\n",
        "B 1 0 0\n",
        "B 1 3 2\n", // more bands done than there are
        "B 1 1 1 1\n",
        "X\n",
        "X -5\n",
        "X 5 5\n",
        "T 2f\n", // temporary names, no longer told
        "O\n",
        "O -1\n",
        "O 1 2\n",
        "K\n",
        "K x\n",
        "D " + std::string(pxraster::kMaxReportBytes, '1') + "\n",
    };
    for (const std::string& line : lines) {
        SCOPED_TRACE(line.substr(0, 32));
        Report r = Report::busy(9, 1, 2);
        EXPECT_FALSE(pxraster::decodeReport(line, r));
        EXPECT_EQ(r, Report::busy(9, 1, 2));
    }
}

// Runs the companion with `request` on its channel; returns its exit code and its lines.
int runCompanion(const std::string& request, std::vector<std::string>& lines) {
    int pair[2];
    if (socketpair(AF_UNIX, SOCK_STREAM, 0, pair) != 0)
        return -1;
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(pair[1], pxraster::kChannelFd);
        execl(PXRENDER_PATH, "pxrender", nullptr);
        _exit(127);
    }
    ::close(pair[1]);
    const bool sent =
        ::write(pair[0], request.data(), request.size()) == static_cast<ssize_t>(request.size());
    shutdown(pair[0], SHUT_WR);
    std::string received;
    char buffer[4096];
    for (ssize_t n; (n = ::read(pair[0], buffer, sizeof buffer)) > 0;)
        received.append(buffer, static_cast<size_t>(n));
    ::close(pair[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    for (size_t start = 0, end; (end = received.find('\n', start)) != std::string::npos;
         start = end + 1)
        lines.push_back(received.substr(start, end + 1 - start));
    if (!sent)
        return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

// The companion answers each framed request of its version in turn and ends with the channel;
// a request of another version or a broken frame ends it without an answer. These come without
// the PDF's descriptor, which the library always sends: each is refused with EBADF.
TEST(Protocol, CompanionAnswersEachRequestOfItsVersion) {
    const Request r = goodRequest();
    const std::string current = pxraster::encodeRequest(r);
    ASSERT_EQ(current.substr(0, 2), "1:");
    const std::string other = "1:" + std::to_string(pxraster::kProtocolVersion + 1) +
                              current.substr(2 + std::to_string(pxraster::kProtocolVersion).size());
    const auto frame = [](const std::string& body) {
        return std::to_string(body.size()) + ":" + body;
    };
    struct Case {
        const char* what;
        std::string stream;
        int exitCode;
        size_t answers;
    };
    const Case cases[] = {
        {"one request", pxraster::frameRequest(r), 0, 1},
        {"three requests in one stream", frame(current) + frame(current) + frame(current), 0, 3},
        {"another version", frame(other), 2, 0},
        {"no version", frame(current.substr(3)), 2, 0},
        {"unframed", current, 2, 0},
        {"a request, then a cut frame", frame(current) + "400:1:", 2, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<std::string> lines;
        EXPECT_EQ(runCompanion(c.stream, lines), c.exitCode);
        ASSERT_EQ(lines.size(), c.answers);
        for (const std::string& line : lines) {
            Report result;
            ASSERT_TRUE(pxraster::decodeReport(line, result));
            EXPECT_EQ(result, Report::finished(EBADF));
        }
    }
}

TEST(Protocol, FramedRequestsAreTakenOneByOne) {
    Request second = goodRequest();
    second.pdfPath = everyByte();
    const std::string stream =
        pxraster::frameRequest(goodRequest()) + pxraster::frameRequest(second);
    // Fed a byte at a time, the frames come out whole and in order.
    std::string buffer;
    std::vector<Request> taken;
    for (char c : stream) {
        buffer += c;
        Request r;
        const pxraster::Framing f = pxraster::takeRequest(buffer, r);
        ASSERT_NE(f, pxraster::Framing::Garbled) << buffer.size();
        if (f == pxraster::Framing::Complete)
            taken.push_back(r);
    }
    EXPECT_EQ(taken, (std::vector<Request>{goodRequest(), second}));
    EXPECT_TRUE(buffer.empty());
    for (const std::string& bad : {"x:"s, "1234567890"s, "2000000:"s, "3:abc"s}) {
        SCOPED_TRACE(bad);
        std::string b = bad;
        Request r;
        EXPECT_EQ(pxraster::takeRequest(b, r), pxraster::Framing::Garbled);
    }
}

// Whatever the final name, up to the longest a file system takes: the temporary name fits, keeps
// as much of the final name as fits in whole characters, and ends in 12 random hex digits.
TEST(OutputNames, TemporaryNamesFitWhateverTheFinalName) {
    const std::string folder = "/tmp/";
    constexpr size_t kAdded = 20; // ".~", "." and the digits, ".part"
    for (const std::string& character : {"a"s, "\xc3\xa4"s, "\xe2\x82\xac"s}) {
        for (size_t length = 1; length <= NAME_MAX; ++length) {
            std::string name;
            while (name.size() + character.size() <= length)
                name += character;
            SCOPED_TRACE(std::to_string(name.size()) + " bytes of " + character);
            const std::string temporary = pxraster::temporaryName(folder + name);
            ASSERT_EQ(temporary.rfind(folder + ".~", 0), 0u) << temporary;
            const std::string own = temporary.substr(folder.size());
            ASSERT_LE(own.size(), size_t{NAME_MAX});
            ASSERT_GE(own.size(), kAdded);
            const std::string kept = own.substr(2, own.size() - kAdded);
            const std::string digits = own.substr(own.size() - 17, 12);
            EXPECT_EQ(name.rfind(kept, 0), 0u) << "not the start of the final name: " << kept;
            EXPECT_EQ(kept.size(), std::min(name.size(), (NAME_MAX - kAdded) / character.size() *
                                                             character.size()));
            EXPECT_EQ(own.substr(own.size() - 18, 1) + own.substr(own.size() - 5), "..part");
            EXPECT_EQ(digits.find_first_not_of("0123456789abcdef"), std::string::npos) << own;
        }
    }
    EXPECT_NE(pxraster::temporaryName("/tmp/a.png"), pxraster::temporaryName("/tmp/a.png"));
}

} // namespace
