// fuzz_tokens: random token sets and random input through CParser::Add, CheckForToken, Reset
// and ParseFile, each result checked against a plain model.
//
// Input: byte 0: bits 0-2 the number of tokens less one, bit 3 "0xFF means Reset", bits 4-6
// what handlers do during the scan (below). Then per token: a byte whose low 4 bits less 7 give
// the identifier (0, negatives and repeats happen), whose bit 4 says "has a handler", whose bits
// 5-7 are the text length less one, then the text (a zero byte in it ends the text, as for any
// C string). The rest is the input.
//
// First pass: the input is fed one byte at a time through CheckForToken (0xFF resets when bit 3
// says so). Second pass: a second parser with the same tokens scans the input as a file with
// ParseFile (text mode: CR LF is one LF, 0x1A ends the data); each handler call is checked, in
// order, with the file position it sees. During the scan a handler (not one called from a
// handler) does what bits 4-6 say: bit 4 adds a token (the first token's text with its first
// byte dropped, identifier 9), bit 5 feeds the first byte of the first token's text through
// CheckForToken, bit 6 reads one byte from the file. Afterwards the input is fed once more
// through CheckForToken, which shows the partial matches the scan left behind.
//
// The model keeps, instead of counters, the input seen since the counters were last all 0 and
// works each token's counter out from that text whenever it needs it. The library is built here
// with an automaton of a few kilobytes, so that its flushes and its fall back to the plain walk
// are fuzzed too.
#include <talmoor.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

#include <unistd.h>

namespace {

struct ModelToken {
    int id;
    std::string text;
    bool handler;
};

struct Model {
    std::vector<ModelToken> tokens;
    std::string since; // input since every counter was last 0

    bool Add(int id, const std::string& text, bool handler) {
        if (text.empty() || id == 0)
            return false;
        for (const ModelToken& t : tokens) {
            if (t.id == id || t.text.find(text) != std::string::npos ||
                text.find(t.text) != std::string::npos)
                return false;
        }
        tokens.push_back({id, text, handler});
        return true;
    }

    // The counter of t after `input`: a match moves it on, anything else drops it to 0.
    static std::size_t Counter(const std::string& text, const std::string& input) {
        std::size_t n = 0;
        for (char c : input)
            n = text[n] == c ? n + 1 : 0;
        return n;
    }

    // Which token ch completes (0 for none), and whether that token has a handler.
    int Feed(unsigned char ch, bool& handler) {
        const char c = static_cast<char>(ch);
        int completed = 0;
        int completions = 0;
        for (const ModelToken& t : tokens) {
            std::size_t n = Counter(t.text, since);
            if (n + 1 == t.text.size() && t.text[n] == c) {
                completed = t.id;
                handler = t.handler;
                ++completions;
            }
        }
        if (completions > 1) { // no token contains another, so this cannot happen
            std::fprintf(stderr, "model: %d tokens completed at once\n", completions);
            std::abort();
        }
        if (completed != 0) {
            since.clear();
            return completed;
        }
        since += c;
        bool any = false;
        for (const ModelToken& t : tokens)
            any = any || Counter(t.text, since) != 0;
        if (!any)
            since.clear();
        return 0;
    }
};

int g_handlerCalls = 0;
bool g_handlerGotFile = false;
void Handler(CStdioFile* pFile) {
    ++g_handlerCalls;
    g_handlerGotFile = g_handlerGotFile || pFile != nullptr;
}

void Check(bool ok, const char* what, std::size_t at) {
    if (!ok) {
        std::fprintf(stderr, "mismatch: %s at input byte %zu\n", what, at);
        std::abort();
    }
}

// The scan pass. Handler<K> is the handler of the model's token K.
struct Event {
    std::size_t token;
    long long position;
    bool operator==(const Event& o) const { return token == o.token && position == o.position; }
};

struct ScanState {
    CParser* parser = nullptr;
    unsigned actions = 0; // bits 4-6 of the header, shifted down
    std::string addText;
    unsigned char feedByte = 0;
    std::size_t accepted = 0; // tokens the parser holds: the index of the next one's handler
    int depth = 0;
    std::vector<Event> events;
    std::vector<int> results; // of Add, nested CheckForToken and Read, in order
};
ScanState g_scan;

void Act(CStdioFile* pFile);

template <std::size_t K> void ScanHandler(CStdioFile* pFile) {
    g_scan.events.push_back(
        {K, pFile != nullptr ? static_cast<long long>(pFile->GetPosition()) : -1});
    Act(pFile);
}
template <std::size_t... K>
constexpr std::array<void (*)(CStdioFile*), sizeof...(K)> MakeHandlers(std::index_sequence<K...>) {
    return {{&ScanHandler<K>...}};
}
constexpr auto kScanHandlers = MakeHandlers(std::make_index_sequence<16>());

// Adds a token to the scanning parser, with the handler of its index among the accepted ones.
int AddToScanner(int id, const char* text, bool handler) {
    const int got =
        g_scan.parser->Add(id, text, handler ? kScanHandlers[g_scan.accepted] : nullptr);
    if (got == 1)
        ++g_scan.accepted;
    return got;
}

void Act(CStdioFile* pFile) {
    if (g_scan.depth > 0)
        return;
    ++g_scan.depth;
    if (g_scan.actions & 1)
        g_scan.results.push_back(AddToScanner(9, g_scan.addText.c_str(), true));
    if (g_scan.actions & 2)
        g_scan.results.push_back(g_scan.parser->CheckForToken(g_scan.feedByte));
    if ((g_scan.actions & 4) && pFile != nullptr) {
        unsigned char c;
        g_scan.results.push_back(pFile->Read(&c, 1) == 1 ? c : -1);
    }
    --g_scan.depth;
}

std::size_t IndexOf(const Model& model, int id) {
    for (std::size_t k = 0; k < model.tokens.size(); ++k) {
        if (model.tokens[k].id == id)
            return k;
    }
    std::abort();
}

// The model's scan: the expected events and results.
void ModelScan(Model& model, const std::string& raw, unsigned actions, const std::string& addText,
               unsigned char feedByte, std::vector<Event>& events, std::vector<int>& results) {
    std::string bytes;
    std::vector<long long> ends; // file offset after each delivered byte
    for (std::size_t i = 0; i < raw.size() && raw[i] != '\x1a'; ++i) {
        if (raw[i] == '\r' && i + 1 < raw.size() && raw[i + 1] == '\n')
            ++i;
        bytes += raw[i];
        ends.push_back(static_cast<long long>(i + 1));
    }
    model.since.clear();
    for (std::size_t next = 0; next < bytes.size();) {
        bool handler = false;
        const int id = model.Feed(static_cast<unsigned char>(bytes[next++]), handler);
        if (id == 0 || !handler)
            continue;
        const long long position = ends[next - 1];
        events.push_back({IndexOf(model, id), position});
        if (actions & 1)
            results.push_back(model.Add(9, addText, true) ? 1 : 0);
        if (actions & 2) {
            bool nestedHandler = false;
            const int nested = model.Feed(feedByte, nestedHandler);
            if (nested != 0 && nestedHandler)
                events.push_back({IndexOf(model, nested), position});
            results.push_back(nested);
        }
        if (actions & 4)
            results.push_back(next < bytes.size() ? static_cast<unsigned char>(bytes[next++]) : -1);
    }
}

// The file the scan pass writes and reads: in memory (/dev/shm) where there is such a place,
// since a disk file costs most of a run's time.
std::string ScanPath() {
    const char* dir = std::getenv("TMPDIR");
    std::string base = dir != nullptr && dir[0] != '\0' ? dir : "/tmp";
    if (access("/dev/shm", W_OK) == 0)
        base = "/dev/shm";
    return base + "/fuzz_tokens_" + std::to_string(static_cast<long>(getpid())) + ".txt";
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1)
        return 0;
    std::size_t pos = 0;
    const std::uint8_t header = data[pos++];
    const int count = (header & 7) + 1;
    const bool resetByte = (header & 8) != 0;
    const unsigned actions = (header >> 4) & 7;

    struct Added {
        int id;
        std::string raw;
        bool handler;
    };
    std::vector<Added> added;
    CParser parser;
    Model model;
    for (int i = 0; i < count && pos < size; ++i) {
        const std::uint8_t b = data[pos++];
        const int id = (b & 15) - 7;
        const bool handler = (b & 16) != 0;
        std::size_t len = static_cast<std::size_t>(b >> 5) + 1;
        if (len > size - pos)
            len = size - pos;
        std::string raw(reinterpret_cast<const char*>(data + pos), len);
        pos += len;
        const std::string text = raw.substr(0, raw.find('\0'));
        const int got = parser.Add(id, raw.c_str(), handler ? Handler : nullptr);
        Check(got == (model.Add(id, text, handler) ? 1 : 0), "Add", pos);
        added.push_back({id, raw, handler});
    }
    const std::size_t inputStart = pos;
    for (; pos < size; ++pos) {
        const unsigned char ch = data[pos];
        if (resetByte && ch == 0xFF) {
            parser.Reset();
            model.since.clear();
            continue;
        }
        g_handlerCalls = 0;
        bool handler = false;
        const int expected = model.Feed(ch, handler);
        Check(parser.CheckForToken(ch) == expected, "CheckForToken", pos);
        Check(g_handlerCalls == (expected != 0 && handler ? 1 : 0), "handler calls", pos);
    }
    Check(!g_handlerGotFile, "handler got a file outside ParseFile", size);

    // The scan pass.
    const std::string input(reinterpret_cast<const char*>(data + inputStart), size - inputStart);
    static const std::string path = ScanPath();
    {
        std::FILE* f = std::fopen(path.c_str(), "wb");
        if (f == nullptr)
            return 0;
        const bool written = std::fwrite(input.data(), 1, input.size(), f) == input.size();
        if (std::fclose(f) != 0 || !written)
            return 0;
    }
    CParser scanner;
    Model scanModel;
    g_scan = ScanState();
    g_scan.parser = &scanner;
    for (const Added& a : added) {
        const std::string text = a.raw.substr(0, a.raw.find('\0'));
        Check(AddToScanner(a.id, a.raw.c_str(), a.handler) ==
                  (scanModel.Add(a.id, text, a.handler) ? 1 : 0),
              "Add before the scan", inputStart);
    }
    g_scan.actions = actions;
    g_scan.addText = input.substr(0, 3);
    g_scan.addText = g_scan.addText.substr(0, g_scan.addText.find('\0'));
    g_scan.feedByte =
        scanModel.tokens.empty() ? 'a' : static_cast<unsigned char>(scanModel.tokens[0].text[0]);
    std::vector<Event> expectedEvents;
    std::vector<int> expectedResults;
    ModelScan(scanModel, input, actions, g_scan.addText, g_scan.feedByte, expectedEvents,
              expectedResults);
    Check(scanner.ParseFile(path.c_str()) == 1, "ParseFile", size);
    Check(g_scan.events == expectedEvents, "handler calls of the scan", size);
    Check(g_scan.results == expectedResults, "what handlers did during the scan", size);

    // What the scan left behind, fed through CheckForToken (handlers only record now).
    g_scan.actions = 0;
    for (std::size_t i = 0; i < input.size(); ++i) {
        bool handler = false;
        const int expected = scanModel.Feed(static_cast<unsigned char>(input[i]), handler);
        Check(scanner.CheckForToken(static_cast<unsigned char>(input[i])) == expected,
              "CheckForToken after the scan", inputStart + i);
    }
    return 0;
}
