// CParser and CToken.
//
// The walk of CheckForToken holds the token it is working on by pointer, never by a reference
// into the array's storage: a handler may call Add, whose growth of the array frees the old
// storage, and the walk still has to read the completed token's identifier after the handler
// has returned. Tokens themselves are never freed before the parser, so the pointer stays good.
// After a completion the walk returns at once and looks at no other token.
//
// ParseFile gives the same results through the automaton of token_automaton.h, which turns the
// walk over every token into one table lookup per byte. While it runs, the counters live in the
// automaton's state and the tokens' m_progress fields are left behind; they are written back
// whenever anyone could look at them: before a handler is called (all 0, as a completion leaves
// them), when the scan ends, and when a read error leaves it. A parser's tokens are private, so
// only its members (Add, CheckForToken, Reset, ParseFile) change them or their counters; a
// handler that has called none of them (t_parserCalls tells) has changed nothing, and the scan
// goes on in the zero state. After one that has, the scan checks that the tokens are still those
// the automaton was built for (rebuilding it if not) and takes the counters from the tokens.
// Counters the automaton cannot describe, token sets too large for its memory cap, and inputs
// that keep overflowing the cap send the scan to the plain walk for the rest of the file.
//
// The automaton belongs to one ParseFile call: it is made when the scan starts, filled as the
// scan meets states, and freed when the scan returns or throws. So the library keeps no table
// of automata, no lock and no state shared between parsers or threads; a nested ParseFile from
// a handler has its own. The price is that every scan meets its states anew, which costs a
// plain walk per new transition, a small part of a file of any size.
//
// The file is read with CStdioFile::ReadByte, which takes the bytes straight from the stream's
// buffer exactly as Read does, so the position a handler sees and what it reads are those of a
// scan that reads one byte per Read call.
#include <talmoor.h>

#include "token_automaton.h"

#include <cstdint>
#include <cstring>
#include <memory>
#include <new>

using talmoor_internal::TokenAutomaton;

namespace {

// The array's storage, read without the index checks of GetAt (every index used is below
// GetSize()).
class TokenView {
public:
    explicit TokenView(const CTypedPtrArray<CPtrArray, CToken*>& tokens)
        : m_data(tokens.GetData()) {}
    CToken* operator[](INT_PTR i) const { return static_cast<CToken*>(m_data[i]); }
    void* const* Storage() const { return m_data; }

private:
    void* const* m_data;
};

TokenView Tokens(const CTypedPtrArray<CPtrArray, CToken*>& tokens) {
    return TokenView(tokens);
}

// One step of every counter for ch, from the last token to the first. Returns the token that
// ch completes (the walk stops there), or null; then busy tells whether any counter is non-zero.
CToken* Step(TokenView tokens, INT_PTR count, unsigned char ch, bool& busy) {
    busy = false;
    for (INT_PTR i = count - 1; i >= 0; --i) {
        CToken* t = tokens[i];
        // m_progress < length, so the expected character is never the terminating zero and a
        // zero byte in the input matches nothing.
        const unsigned char expected =
            static_cast<unsigned char>(t->m_tokenAsStr.GetString()[t->m_progress]);
        if (expected != ch) {
            t->m_progress = 0;
            continue;
        }
        if (++t->m_progress == t->m_tokenAsStr.GetLength())
            return t;
        busy = true;
    }
    return nullptr;
}

// Where Add's refusal reasons go: the debugger's log on Windows, nowhere elsewhere.
void ReportRefusal(const CString& reason) {
#ifdef _WIN32
    OutputDebugStringA(reason.GetString());
#else
    (void)reason;
#endif
}

// Closes the parser's file on every way out of a scan, exceptions included.
class ScanCloser {
public:
    explicit ScanCloser(CStdioFile& file) : m_file(file) {}
    ~ScanCloser() { m_file.Close(); }
    ScanCloser(const ScanCloser&) = delete;
    ScanCloser& operator=(const ScanCloser&) = delete;

private:
    CStdioFile& m_file;
};

// starts[c]: some token begins with the byte c.
void FirstCharacters(const CTypedPtrArray<CPtrArray, CToken*>& tokens, bool (&starts)[256]) {
    std::memset(starts, 0, sizeof starts);
    TokenView p = Tokens(tokens);
    for (INT_PTR i = tokens.GetSize() - 1; i >= 0; --i)
        starts[static_cast<unsigned char>(p[i]->m_tokenAsStr.GetString()[0])] = true;
}

bool AnyCounterSet(const CTypedPtrArray<CPtrArray, CToken*>& tokens) {
    TokenView p = Tokens(tokens);
    for (INT_PTR i = tokens.GetSize() - 1; i >= 0; --i) {
        if (p[i]->m_progress != 0)
            return true;
    }
    return false;
}

// A completed token's handler, called as CheckForToken calls it (the counters already
// cleared).
void CallHandler(const CToken* t, CStdioFile& file) {
    if (t->m_callback != nullptr)
        t->m_callback(file.m_pStream != nullptr ? &file : nullptr);
}

// The rest of a scan by the plain walk. While every counter is 0, a byte that is no token's
// first character leaves every counter at 0 and completes nothing, so the walk is skipped for
// it; what that shortcut knows is rebuilt after every handler, which may add tokens or feed
// characters.
void ScanPlain(CTypedPtrArray<CPtrArray, CToken*>& tokens, CStdioFile& file) {
    bool starts[256];
    FirstCharacters(tokens, starts);
    bool busy = AnyCounterSet(tokens);
    for (int c; (c = file.ReadByte()) >= 0;) {
        const unsigned char ch = static_cast<unsigned char>(c);
        if (!busy && !starts[ch])
            continue;
        CToken* t = Step(Tokens(tokens), tokens.GetSize(), ch, busy);
        if (t == nullptr)
            continue;
        for (INT_PTR i = tokens.GetSize() - 1; i >= 0; --i)
            Tokens(tokens)[i]->m_progress = 0;
        CallHandler(t, file);
        FirstCharacters(tokens, starts);
        busy = AnyCounterSet(tokens);
    }
}

// Calls of Add, CheckForToken, Reset and ParseFile on any parser of this thread. A scan reads it
// before and after a handler: when it has not moved, the handler changed nothing the scan
// depends on, since a parser's tokens are private and only its members change them. Counting
// every parser's calls rather than only this one's costs nothing and only sends the scan to
// look at its tokens again when it need not. Looking at the tokens after every handler instead
// (their number, and whether any counter is set) needs no counter but costs a pass over all
// tokens per completion: with many tokens that complete often, a third of the scan's speed.
// The counter is the thread's own and only counts; it is no state shared with anyone.
#ifdef __ELF__
__attribute__((tls_model("initial-exec")))
#endif
thread_local std::uint64_t t_parserCalls = 0;

// While the automaton holds the counters (its state in `row`), every way out of the scan loop
// writes them back into the tokens.
class CounterKeeper {
public:
    CounterKeeper(const TokenAutomaton& automaton, CTypedPtrArray<CPtrArray, CToken*>& tokens,
                  const std::uint32_t& row)
        : m_automaton(automaton), m_tokens(tokens), m_row(row) {}
    ~CounterKeeper() {
        if (m_held)
            m_automaton.Store(m_row, Tokens(m_tokens).Storage());
    }
    CounterKeeper(const CounterKeeper&) = delete;
    CounterKeeper& operator=(const CounterKeeper&) = delete;

    // The automaton holds the counters from now on, or no longer (the tokens hold them).
    void Hold() { m_held = true; }
    void Let() { m_held = false; }

private:
    const TokenAutomaton& m_automaton;
    CTypedPtrArray<CPtrArray, CToken*>& m_tokens;
    const std::uint32_t& m_row;
    bool m_held = false;
};

// A flush that comes after fewer bytes than this per state added since the last one means the
// input keeps meeting new states: the automaton costs more than it saves.
constexpr std::uint64_t kMinBytesPerState = 10;

// Scans the file through the automaton, every counter being 0. Returns true when the data has
// ended, false when the rest of the scan needs the plain walk (the counters are then in the
// tokens).
//
// While the automaton runs, the tokens' m_progress fields are not kept up to date; as long as
// `clean` is true they are all 0, which is what a handler must find, so a completion costs no
// pass over the tokens unless a handler has fed characters before.
bool ScanWithAutomaton(TokenAutomaton& a, CTypedPtrArray<CPtrArray, CToken*>& tokens,
                       CStdioFile& file) {
    using A = TokenAutomaton;
    if (!a.BuiltFor(Tokens(tokens).Storage(), static_cast<std::size_t>(tokens.GetSize())) &&
        !a.Build(Tokens(tokens).Storage(), static_cast<std::size_t>(tokens.GetSize())))
        return false;
    std::uint32_t row = 0;
    bool clean = true;
    CounterKeeper keeper(a, tokens, row);
    keeper.Hold();
    const std::uint8_t* classes = a.Classes();
    const std::uint32_t* table = a.Table();
    std::uint64_t flushes = a.Flushes();
    ULONGLONG markPosition = file.GetPosition();
    std::size_t markStates = a.States();
    for (;;) {
        const int c = file.ReadByte();
        if (c < 0)
            return true;
        std::uint32_t e = table[row + classes[c]];
        if (e < A::kCompletion) {
            row = e;
            continue;
        }
        if (e == A::kUnknown) {
            e = a.Step(row, static_cast<unsigned char>(c));
            table = a.Table();
            if (e == A::kNoState) {
                // Out of memory: the automaton is gone, the counters this byte led to are not.
                keeper.Let();
                a.StoreStepped(Tokens(tokens).Storage());
                return false;
            }
            if (a.Flushes() != flushes) {
                // A flush never comes with a completion: e is the next state's row.
                row = e;
                const std::uint64_t added = a.MaxStates() - markStates;
                const ULONGLONG position = file.GetPosition();
                if (position - markPosition < kMinBytesPerState * added)
                    return false;
                flushes = a.Flushes();
                markPosition = position;
                markStates = a.States();
            }
            if (e < A::kCompletion) {
                row = e;
                continue;
            }
        }
        // A completion: every counter is 0 now, which is row 0.
        const CToken* t = Tokens(tokens)[static_cast<INT_PTR>(e & ~A::kCompletion)];
        row = 0;
        if (t->m_callback == nullptr)
            continue;
        if (!clean) {
            a.Store(0, Tokens(tokens).Storage());
            clean = true;
        }
        keeper.Let();
        const std::uint64_t calls = t_parserCalls;
        CallHandler(t, file);
        keeper.Hold();
        if (t_parserCalls == calls)
            continue;
        // The handler called into a parser: it may have added tokens, fed characters or reset
        // (a scan it started has its own automaton and leaves this one alone).
        keeper.Let();
        void* const* storage = Tokens(tokens).Storage();
        const std::size_t count = static_cast<std::size_t>(tokens.GetSize());
        if (!a.BuiltFor(storage, count) && !a.Build(storage, count))
            return false;
        row = a.Find(storage);
        if (row == A::kNoState)
            return false;
        keeper.Hold();
        clean = row == 0;
        classes = a.Classes();
        table = a.Table();
        flushes = a.Flushes();
        markPosition = file.GetPosition();
        markStates = a.States();
    }
}

} // namespace

CToken::CToken(int tokenID, const char* tokenAsStr, void (*callback)(CStdioFile*))
    : m_tokenID(tokenID), m_progress(0), m_callback(callback), m_tokenAsStr(tokenAsStr) {}

CToken::~CToken() {}

CParser::CParser() {}

CParser::~CParser() {
    for (INT_PTR i = m_tokens.GetSize() - 1; i >= 0; --i)
        delete m_tokens.GetAt(i);
    m_tokens.SetSize(0, -1);
    // m_file, declared after m_tokens, is destroyed (and closed) first, then the array.
}

int CParser::Add(int tokenID, const char* tokenAsStr, void (*callback)(CStdioFile*)) {
    ++t_parserCalls;
    if (tokenAsStr == nullptr || tokenAsStr[0] == '\0')
        return 0;
    if (tokenID == 0)
        return 0;
    const CString text(tokenAsStr);
    for (INT_PTR i = m_tokens.GetSize() - 1; i >= 0; --i) {
        const CToken* t = m_tokens.GetAt(i);
        if (t->m_tokenID == tokenID) {
            CString reason;
            reason.Format("CParser::Add(...) error: tokenID '%d' already occupied.\n", tokenID);
            ReportRefusal(reason);
            return 0;
        }
        if (text.Find(t->m_tokenAsStr, 0) >= 0 || t->m_tokenAsStr.Find(text, 0) >= 0) {
            CString reason;
            reason.Format("CParser::Add(...) error: tokenAsStr \"%s\" matches an existing "
                          "token- substring or vice versa.\n",
                          text.GetString());
            ReportRefusal(reason);
            return 0;
        }
    }
    std::unique_ptr<CToken> token(new (std::nothrow) CToken(tokenID, text, callback));
    if (!token)
        AfxThrowMemoryException();
    m_tokens.SetAtGrow(m_tokens.GetSize(), token.get());
    token.release();
    return 1;
}

int CParser::CheckForToken(unsigned char ch) {
    ++t_parserCalls;
    bool busy;
    CToken* t = Step(Tokens(m_tokens), m_tokens.GetSize(), ch, busy);
    if (t == nullptr)
        return 0;
    Reset();
    if (t->m_callback != nullptr)
        t->m_callback(m_file.m_pStream != nullptr ? &m_file : nullptr);
    return t->m_tokenID;
}

void CParser::Reset() {
    ++t_parserCalls;
    TokenView tokens = Tokens(m_tokens);
    for (INT_PTR i = m_tokens.GetSize() - 1; i >= 0; --i)
        tokens[i]->m_progress = 0;
}

int CParser::ParseFile(const char* fileName) {
    ++t_parserCalls;
    CFileException error;
    if (!m_file.Open(fileName, 0, &error)) {
        char message[1024];
        if (!error.GetErrorMessage(message, sizeof message, nullptr))
            message[0] = '\0';
        AfxMessageBox(message, MB_OK, 0);
        return 0;
    }
    ScanCloser closer(m_file);
    Reset();
    // The scan's own automaton, empty until the scan builds it (a few hundred bytes here; its
    // states are on the heap).
    TokenAutomaton automaton;
    if (!ScanWithAutomaton(automaton, m_tokens, m_file))
        ScanPlain(m_tokens, m_file);
    return 1;
}
