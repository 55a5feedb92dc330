// Talmoor: recognition of registered tokens in a stream of 8-bit characters.
//
// A token is a fixed, non-empty text with a non-zero identifier and an optional handler. The
// parser either scans a whole text file itself (ParseFile) or is fed characters by its caller
// (CheckForToken). When a character completes a token, the parser calls that token's handler
// and then reports the token's identifier.
//
// Recognition is a set of independent prefix counters, one per token: a character equal to a
// token's next expected character advances its counter; any other character drops it to 0
// without trying the character as a new start. The tokens are compared from the last
// registered to the first, and the first completion ends the walk for that character and
// clears every counter. So, with the token "ab", the input "aab" finds nothing; with the token
// "aa", the input "aaaa" finds it twice; with "xy" and "yz", the input "xyz" finds only "xy".
// Since no token text contains another (Add refuses that), one character completes at most one
// token.
//
// Handlers receive the parser's open file during ParseFile and null when the caller feeds the
// characters. Whatever a handler reads from the file (the value after a keyword, the rest of a
// line) is consumed and not scanned; the scan goes on after the handler's last read.
//
// A parser is used by one thread at a time. Handlers run on that thread, inside CheckForToken.
// A handler may call Add, Reset, CheckForToken and ParseFile on the parser that called it (see
// each member); it must not destroy the parser.
#pragma once

#include <platform/afx.h>

#if defined(_WIN32)
#ifdef TALMOOR_BUILD
#define TALMOOR_API __declspec(dllexport)
#else
#define TALMOOR_API __declspec(dllimport)
#endif
#else
#define TALMOOR_API __attribute__((visibility("default")))
#endif

// One registered token. Created only by CParser::Add, owned and deleted by that parser.
class CToken {
public:
    virtual ~CToken();

    int m_tokenID;                         // never 0; unique within its parser
    int m_progress;                        // leading characters matched; < the text's length
    void (*m_callback)(CStdioFile* pFile); // handler; may be null
    CString m_tokenAsStr;                  // the token text; never empty

private:
    friend class CParser;
    CToken(int tokenID, const char* tokenAsStr, void (*callback)(CStdioFile*));
    CToken(const CToken&) = delete;
    CToken& operator=(const CToken&) = delete;
};

class TALMOOR_API CParser {
public:
    // No tokens; file closed.
    CParser();
    // Deletes every token and closes the file if it is still open.
    virtual ~CParser();

    // Registers a token: tokenID, a private copy of tokenAsStr (up to its first zero byte) and
    // callback (null for none). Returns 1 when registered. Returns 0 and changes nothing when
    // tokenAsStr is null or empty, tokenID is 0, tokenID is already taken, or the text contains
    // a registered token's text or is contained in one (equal texts included; case matters).
    // The existing tokens are checked from the last registered to the first and the first one
    // in conflict decides the reason; the reason goes only to the debugger's log (Windows) and
    // is otherwise dropped. Texts may hold any byte from 1 to 255.
    // Called from a handler, the new token takes part from the next character on.
    int Add(int tokenID, const char* tokenAsStr, void (*callback)(CStdioFile*));

    // Feeds one character. Returns the identifier of the token this character completes, after
    // its handler has returned, or 0 when it completes none. A zero byte matches no token and
    // so breaks every partial match. The handler is called once per completion with the
    // parser's file while ParseFile has it open and with null otherwise. An exception thrown by
    // the handler passes to the caller, with every counter already cleared.
    // Called from a handler, it works on the counters as they are at that moment (all cleared
    // by the completion that called the handler, unless the handler changed them since).
    int CheckForToken(unsigned char ch);

    // Clears every token's partial match. Tokens stay registered.
    void Reset();

    // Opens fileName (read only, text mode: CR LF read as LF, a 0x1A byte ends the data),
    // clears every partial match and feeds the file's bytes to CheckForToken until the data
    // ends, then closes the file. Returns 1 when the file was opened and scanned to its end.
    //
    // When the file cannot be opened, shows the file layer's description of the failure in a
    // message box (AfxMessageBox) and returns 0; partial matches are left as they were. A read
    // error throws CFileException* (the caller owns it and calls Delete()). When a read error
    // or a handler's exception leaves ParseFile, the file is closed first.
    //
    // Partial matches are not cleared at the end: a token begun by the last bytes of the file
    // can be completed by later CheckForToken calls. Called from a handler during a scan, it
    // cannot open the file (the parser's file is in use): message box and 0, and the outer
    // scan goes on.
    //
    // The scan finds exactly what feeding the bytes to CheckForToken finds, but runs the
    // recogniser as a table of the counters' joint states, built as the scan meets them, so
    // that a byte costs about the same however many tokens there are. The table belongs to the
    // one call: it is made as the scan starts and freed when ParseFile returns or throws (a
    // nested ParseFile has its own). It takes at most about 8 MiB, and an input that keeps
    // filling it is scanned token by token instead. Parsers on different threads may scan at
    // the same time; they share nothing.
    int ParseFile(const char* fileName);

private:
    CParser(const CParser&) = delete;
    CParser& operator=(const CParser&) = delete;

    CTypedPtrArray<CPtrArray, CToken*> m_tokens; // registration order; the parser owns them
    CStdioFile m_file;                           // open only while ParseFile runs
};
