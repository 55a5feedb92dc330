// CParser and CToken.
//
// The walk of CheckForToken holds the token it is working on by pointer, never by a reference
// into the array's storage: a handler may call Add, whose growth of the array frees the old
// storage, and the walk still has to read the completed token's identifier after the handler
// has returned. Tokens themselves are never freed before the parser, so the pointer stays good.
// After a completion the walk returns at once and looks at no other token.
//
// ParseFile runs the same walk, with one shortcut that changes no result: while every counter
// is 0, a byte that is no token's first character leaves every counter at 0 and completes
// nothing, so the walk is skipped for it. The shortcut's knowledge (which bytes start a token,
// whether any counter is non-zero) lives in local variables of the scan and is rebuilt after
// every completion, since a handler may add tokens or feed characters. Ordinary text with
// keywords that start with rare characters then costs little more than reading it.
#include <talmoor.h>

#include <cstring>
#include <memory>
#include <new>

namespace {

// The array's storage, read without the index checks of GetAt (every index used is below
// GetSize()).
class TokenView {
public:
    explicit TokenView(const CTypedPtrArray<CPtrArray, CToken*>& tokens)
        : m_data(tokens.GetData()) {}
    CToken* operator[](INT_PTR i) const { return static_cast<CToken*>(m_data[i]); }

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
    TokenView tokens = Tokens(m_tokens);
    for (INT_PTR i = m_tokens.GetSize() - 1; i >= 0; --i)
        tokens[i]->m_progress = 0;
}

int CParser::ParseFile(const char* fileName) {
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
    bool starts[256];
    bool busy = false;
    FirstCharacters(m_tokens, starts);
    unsigned char ch;
    while (m_file.Read(&ch, 1) == 1) {
        if (!busy && !starts[ch])
            continue;
        CToken* t = Step(Tokens(m_tokens), m_tokens.GetSize(), ch, busy);
        if (t == nullptr)
            continue;
        Reset();
        if (t->m_callback != nullptr)
            t->m_callback(m_file.m_pStream != nullptr ? &m_file : nullptr);
        // The handler may have added tokens or moved counters.
        FirstCharacters(m_tokens, starts);
        busy = AnyCounterSet(m_tokens);
    }
    return 1;
}
