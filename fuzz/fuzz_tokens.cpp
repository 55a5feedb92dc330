// fuzz_tokens: random token sets and random input through CParser::Add, CheckForToken and
// Reset, each result checked against a plain model.
//
// Input: byte 0: bits 0-2 the number of tokens less one, bit 3 "0xFF means Reset". Then per
// token: a byte whose low 4 bits less 7 give the identifier (0, negatives and repeats happen),
// whose bit 4 says "has a handler", whose bits 5-7 are the text length less one, then the text
// (a zero byte in it ends the text, as for any C string). The rest is fed one byte at a time.
//
// The model keeps, instead of counters, the input seen since the counters were last all 0 and
// works each token's counter out from that text whenever it needs it.
#include <talmoor.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

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

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1)
        return 0;
    std::size_t pos = 0;
    const std::uint8_t header = data[pos++];
    const int count = (header & 7) + 1;
    const bool resetByte = (header & 8) != 0;

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
    }
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
    return 0;
}
