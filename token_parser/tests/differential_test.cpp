// ParseFile against the plain recogniser on generated token sets, files and handlers.
//
// The plain recogniser below is the algorithm of the interface written out directly: one
// counter per token, walked from the last token to the first for every byte. ParseFile runs an
// automaton instead (built lazily during each scan, flushed when full); every scan here must
// give the same handler calls, in the same order, with the same file positions, as the plain
// one, and leave the same partial matches behind (fed afterwards through CheckForToken on both).
//
// The token sets share prefixes, repeat characters, hold tokens that contain others (refused,
// on both sides alike), line ends and a byte of 0x80 or above. The files hold CR LF pairs, lone
// CRs, zero bytes and now and then a 0x1A, which ends the data. Handlers record their calls and
// may add tokens, feed characters, reset, read from the file or throw; what a handler does runs
// on both sides, so a difference in any of it shows.
//
// This file is built twice: against the library, and against a build of the same sources whose
// automaton has a memory cap of a few kilobytes, so that flushes, the fall back to the plain
// walk and token sets too large for the automaton all happen here.
#include <talmoor.h>

#include <dbpf_test_support.h>

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <random>
#include <string>
#include <utility>
#include <vector>

namespace {

// What a token's handler does besides recording its call.
enum class Action { None, Record, AddToken, Feed, Reset, Read, FeedThenReset, Throw };

struct TokenSpec {
    int id;
    std::string text;
    Action action; // None: the token has no handler
    int arg;       // Feed: which text; Read: how many bytes
};

struct Scenario {
    std::vector<TokenSpec> initial;
    std::vector<TokenSpec> extra; // added, in order, by AddToken handlers
    std::vector<std::string> feeds;
    std::vector<std::string> files; // scanned one after the other
    std::string probe;              // fed after each scan
};

// Everything either side does that a caller or a handler can see.
using Log = std::vector<std::string>;

constexpr int kMaxSlots = 24;

// One side of the comparison: the library's parser or the plain one.
class Side {
public:
    virtual ~Side() = default;
    virtual int Add(int id, const std::string& text, int slot) = 0;
    virtual int Feed(unsigned char ch) = 0;
    virtual void Reset() = 0;
    // Reads up to n bytes from the file a handler was given.
    virtual std::string Read(int n) = 0;

    const Scenario* scenario = nullptr;
    Log log;
    int depth = 0;
    std::size_t nextExtra = 0;

    // A handler call for the token in `slot` (initial tokens first, then the extra ones).
    void Handle(int slot, bool hasFile, long long position) {
        const TokenSpec& token = SpecOf(slot);
        log.push_back("call " + std::to_string(token.id) + (hasFile ? " file at " : " no file ") +
                      std::to_string(position));
        // Handlers called from a handler's own feeding only record, so that nothing recurses.
        if (depth > 0)
            return;
        ++depth;
        struct Leave {
            int& d;
            ~Leave() { --d; }
        } leave{depth};
        switch (token.action) {
        case Action::None:
        case Action::Record:
            break;
        case Action::AddToken:
            if (nextExtra < scenario->extra.size()) {
                const std::size_t k = nextExtra++;
                const TokenSpec& add = scenario->extra[k];
                log.push_back("add " +
                              std::to_string(Add(add.id, add.text,
                                                 static_cast<int>(scenario->initial.size() + k))));
            }
            break;
        case Action::Feed:
        case Action::FeedThenReset: {
            std::string results = "fed";
            for (unsigned char ch : scenario->feeds[static_cast<std::size_t>(token.arg)])
                results += " " + std::to_string(Feed(ch));
            log.push_back(results);
            if (token.action == Action::FeedThenReset)
                Reset();
            break;
        }
        case Action::Reset:
            Reset();
            break;
        case Action::Read:
            if (hasFile)
                log.push_back("read <" + Read(token.arg) + ">");
            break;
        case Action::Throw:
            throw 42;
        }
    }

    const TokenSpec& SpecOf(int slot) const {
        const std::size_t s = static_cast<std::size_t>(slot);
        return s < scenario->initial.size() ? scenario->initial[s]
                                            : scenario->extra[s - scenario->initial.size()];
    }
};

// ---------------------------------------------------------------------------------------------
// The plain recogniser, with a file model that applies the text mode as CStdioFile does.

class PlainSide : public Side {
public:
    int Add(int id, const std::string& text, int slot) override {
        if (text.empty() || id == 0)
            return 0;
        for (std::size_t i = m_tokens.size(); i-- > 0;) {
            if (m_tokens[i].id == id)
                return 0;
            if (text.find(m_tokens[i].text) != std::string::npos ||
                m_tokens[i].text.find(text) != std::string::npos)
                return 0;
        }
        m_tokens.push_back({id, text, 0, slot});
        return 1;
    }

    int Feed(unsigned char ch) override {
        for (std::size_t i = m_tokens.size(); i-- > 0;) {
            Token& t = m_tokens[i];
            if (static_cast<unsigned char>(t.text[static_cast<std::size_t>(t.progress)]) != ch) {
                t.progress = 0;
                continue;
            }
            if (++t.progress < static_cast<int>(t.text.size()))
                continue;
            Reset();
            if (SpecOf(t.slot).action != Action::None)
                Handle(t.slot, m_scanning, m_scanning ? Position() : -1);
            return m_tokens[i].id; // a handler may have added tokens and moved the vector
        }
        return 0;
    }

    void Reset() override {
        for (std::size_t i = m_tokens.size(); i-- > 0;)
            m_tokens[i].progress = 0;
    }

    std::string Read(int n) override {
        std::string out;
        while (n-- > 0 && m_next < m_bytes.size())
            out += m_bytes[m_next++];
        return out;
    }

    void ParseFile(const std::string& raw) {
        // Text mode: CR LF is one LF; 0x1A ends the data. m_ends[i]: the file offset after the
        // i-th byte delivered.
        m_bytes.clear();
        m_ends.clear();
        for (std::size_t i = 0; i < raw.size() && raw[i] != '\x1a'; ++i) {
            if (raw[i] == '\r' && i + 1 < raw.size() && raw[i + 1] == '\n')
                ++i;
            m_bytes += raw[i];
            m_ends.push_back(static_cast<long long>(i + 1));
        }
        m_next = 0;
        m_scanning = true;
        struct Done {
            bool& scanning;
            ~Done() { scanning = false; }
        } done{m_scanning};
        Reset();
        while (m_next < m_bytes.size())
            Feed(static_cast<unsigned char>(m_bytes[m_next++]));
    }

private:
    struct Token {
        int id;
        std::string text;
        int progress;
        int slot;
    };
    long long Position() const { return m_next == 0 ? 0 : m_ends[m_next - 1]; }

    std::vector<Token> m_tokens;
    std::string m_bytes;
    std::vector<long long> m_ends;
    std::size_t m_next = 0;
    bool m_scanning = false;
};

// ---------------------------------------------------------------------------------------------
// The library's parser.

class LibrarySide;
LibrarySide* g_library = nullptr;
CStdioFile* g_file = nullptr; // what the current handler was given

class LibrarySide : public Side {
public:
    int Add(int id, const std::string& text, int slot) override;
    int Feed(unsigned char ch) override { return parser.CheckForToken(ch); }
    void Reset() override { parser.Reset(); }
    std::string Read(int n) override {
        std::string out(static_cast<std::size_t>(n), '\0');
        out.resize(g_file->Read(&out[0], static_cast<UINT>(n)));
        return out;
    }

    CParser parser;
};

template <int Slot> void Handler(CStdioFile* pFile) {
    CStdioFile* outer = g_file;
    g_file = pFile;
    struct Restore {
        CStdioFile* f;
        ~Restore() { g_file = f; }
    } restore{outer};
    g_library->Handle(Slot, pFile != nullptr,
                      pFile != nullptr ? static_cast<long long>(pFile->GetPosition()) : -1);
}

template <std::size_t... N>
constexpr std::array<void (*)(CStdioFile*), sizeof...(N)> MakeHandlers(std::index_sequence<N...>) {
    return {{&Handler<static_cast<int>(N)>...}};
}
constexpr auto kHandlers = MakeHandlers(std::make_index_sequence<kMaxSlots>());

int LibrarySide::Add(int id, const std::string& text, int slot) {
    const bool handled = SpecOf(slot).action != Action::None;
    return parser.Add(id, text.c_str(),
                      handled ? kHandlers[static_cast<std::size_t>(slot)] : nullptr);
}

// ---------------------------------------------------------------------------------------------
// Generation

class Generator {
public:
    explicit Generator(std::uint32_t seed) : m_rng(seed) {}

    Scenario Make() {
        Scenario s;
        const int alphabet = 2 + Below(5); // "ab", "abc", ... "abc\r\n\xE9"
        std::vector<std::string> texts;
        for (int n = 1 + Below(12); n > 0; --n)
            s.initial.push_back(Token(texts, alphabet));
        for (int n = Below(5); n > 0; --n)
            s.extra.push_back(Token(texts, alphabet));
        for (int n = 1 + Below(3); n > 0; --n)
            s.feeds.push_back(Text(1 + Below(4), alphabet));
        for (TokenSpec& t : s.initial)
            Fix(t, s);
        for (TokenSpec& t : s.extra)
            Fix(t, s);
        for (int n = 1 + Below(3); n > 0; --n)
            s.files.push_back(File(alphabet));
        s.probe = Text(Below(12), alphabet);
        return s;
    }

private:
    int Below(int n) { return static_cast<int>(m_rng() % static_cast<std::uint32_t>(n)); }

    char Char(int alphabet) {
        static const char kChars[] = {'a', 'b', 'c', '\r', '\n', '\xE9'};
        return kChars[Below(alphabet)];
    }

    std::string Text(int length, int alphabet) {
        std::string t;
        while (length-- > 0)
            t += Char(alphabet);
        return t;
    }

    TokenSpec Token(std::vector<std::string>& texts, int alphabet) {
        std::string text;
        const int kind = Below(10);
        if (kind < 3 && !texts.empty()) {
            // A shared prefix (or the whole text: a token containing another, refused).
            const std::string& base =
                texts[static_cast<std::size_t>(Below(static_cast<int>(texts.size())))];
            text =
                base.substr(0, static_cast<std::size_t>(Below(static_cast<int>(base.size())) + 1)) +
                Text(Below(3), alphabet);
        } else if (kind == 3) {
            text = std::string(static_cast<std::size_t>(2 + Below(4)), Char(alphabet));
        } else {
            text = Text(1 + Below(6), alphabet);
        }
        texts.push_back(text);
        static const Action kActions[] = {
            Action::None,   Action::None,     Action::Record,        Action::Record, Action::Record,
            Action::Record, Action::AddToken, Action::Feed,          Action::Feed,   Action::Reset,
            Action::Read,   Action::Read,     Action::FeedThenReset,
        };
        Action action = kActions[Below(static_cast<int>(sizeof kActions / sizeof kActions[0]))];
        if (Below(300) == 0)
            action = Action::Throw;
        // Identifiers from a small range, so that some are taken; 0 is refused.
        return {Below(19) - 3, text, action, 0};
    }

    void Fix(TokenSpec& t, const Scenario& s) {
        if (t.action == Action::Feed || t.action == Action::FeedThenReset)
            t.arg = Below(static_cast<int>(s.feeds.size()));
        else if (t.action == Action::Read)
            t.arg = 1 + Below(6);
    }

    std::string File(int alphabet) {
        std::string f;
        for (int n = Below(4) == 0 ? Below(30) : Below(3000); n > 0; --n) {
            const int k = Below(100);
            if (k == 0)
                f += '\0';
            else if (k == 1 && Below(8) == 0)
                f += '\x1a';
            else if (k < 5)
                f += "\r\n";
            else if (k < 8)
                f += 'x';
            else
                f += Char(alphabet);
        }
        return f;
    }

    std::mt19937 m_rng;
};

// Runs the scenario on one side; the result is everything that side showed.
template <class ScanFn> Log RunScenario(Side& side, const Scenario& s, ScanFn scan) {
    side.scenario = &s;
    for (std::size_t i = 0; i < s.initial.size(); ++i)
        side.log.push_back("add " + std::to_string(side.Add(s.initial[i].id, s.initial[i].text,
                                                            static_cast<int>(i))));
    for (const std::string& file : s.files) {
        try {
            side.log.push_back("scan " + std::to_string(scan(file)));
        } catch (int e) {
            side.log.push_back("threw " + std::to_string(e));
        }
        std::string results = "probe";
        try {
            for (unsigned char ch : s.probe)
                results += " " + std::to_string(side.Feed(ch));
        } catch (int e) {
            results += " threw " + std::to_string(e);
        }
        side.log.push_back(results);
    }
    return side.log;
}

// The build with the small automaton names its suite apart, so that both runs are listed.
#ifndef TALMOOR_DIFFERENTIAL_SUITE
#define TALMOOR_DIFFERENTIAL_SUITE ParseFileDifferential
#endif

TEST(TALMOOR_DIFFERENTIAL_SUITE, MatchesThePlainRecogniser) {
    dbpf_test::TempDir dir("talmoor_diff_");
    const std::string path = dir.Text("input.txt");
    Generator generate(20261208);
    for (int round = 0; round < 1500; ++round) {
        const Scenario s = generate.Make();
        SCOPED_TRACE("round " + std::to_string(round));

        PlainSide plain;
        const Log expected = RunScenario(plain, s, [&plain](const std::string& file) {
            plain.ParseFile(file);
            return 1;
        });

        LibrarySide library;
        g_library = &library;
        const Log got = RunScenario(library, s, [&library, &path](const std::string& file) {
            if (!dbpf_test::WriteBytes(path, file))
                return -1;
            return library.parser.ParseFile(path.c_str());
        });
        g_library = nullptr;

        ASSERT_EQ(got, expected);
    }
}

} // namespace
