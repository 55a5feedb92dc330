// File classes of the platform class layer: CFile, CStdioFile, CFileException, and the
// message box.
//
// CStdioFile reads a file through the C runtime's buffered stream (FILE*). The stream is
// always opened in binary and the text mode is done here, so that both targets behave alike:
//
//   - a carriage return followed by a line feed is delivered as one line feed; a carriage
//     return on its own is delivered as it is;
//   - a byte 0x1A (Ctrl+Z) ends the data: Read delivers nothing from there on, however much
//     the file holds after it.
//
// GetPosition() is the byte offset in the file of the next byte that Read will deliver (a CR LF
// pair counts as the two bytes it occupies in the file), so a reader can tell where in the file
// a delivered byte came from.
//
// The class only reads; it is what the class libraries open their input with. A file object is
// used by one thread at a time. The object given to a caller (for example to a token handler)
// is the same stream the owner reads: whatever the caller reads is consumed for the owner too.
//
// Errors: Open reports failure through its result and the CFileException it is given. A read
// error throws a pointer to a new CFileException (catch CException* or CFileException*, then
// call Delete()).
#pragma once

#include <platform/afx_object.h>
#include <platform/afx_string.h>

#include <cstdio>

class AFX_PLATFORM_VISIBLE CFileException : public CException {
public:
    // Causes, as the platform's file layer names them.
    enum {
        none = 0,
        genericException,
        fileNotFound,
        badPath,
        tooManyOpenFiles,
        accessDenied,
        invalidFile,
        removeCurrentDir,
        directoryFull,
        badSeek,
        hardIO,
        sharingViolation,
        lockViolation,
        diskFull,
        endOfFile
    };

    explicit CFileException(int cause = none, LONG lOsError = -1,
                            const char* lpszFileName = nullptr)
        : CException(TRUE), m_cause(cause), m_lOsError(lOsError), m_strFileName(lpszFileName) {}
    ~CFileException() override;

    // Writes "<file name>: <description>" (or the description alone when no file name is
    // known) into lpszError, at most nMaxError bytes including the terminating zero; a longer
    // text is cut. The description is the operating system's text for m_lOsError (FormatMessage
    // on Windows, strerror elsewhere), or a short text for the cause when there is no OS error.
    // Returns FALSE, writing nothing, when lpszError is null or nMaxError is 0. *pnHelpContext,
    // when given, is set to 0.
    BOOL GetErrorMessage(char* lpszError, UINT nMaxError,
                         UINT* pnHelpContext = nullptr) const override;

    int m_cause;
    LONG m_lOsError;       // errno on POSIX, a Windows error code on Windows; -1 when unknown
    CString m_strFileName; // the name given to Open
};

// Throws a pointer to a new CFileException.
[[noreturn]] void AfxThrowFileException(int cause, LONG lOsError = -1,
                                        const char* lpszFileName = nullptr);

// Abstract file: the open flags and the operations the class libraries use.
class CFile : public CObject {
public:
    enum OpenFlags {
        modeRead = 0x0000,
        modeWrite = 0x0001,
        modeReadWrite = 0x0002,
        shareCompat = 0x0000,
        shareExclusive = 0x0010,
        shareDenyWrite = 0x0020,
        shareDenyRead = 0x0030,
        shareDenyNone = 0x0040,
        modeNoInherit = 0x0080,
        modeCreate = 0x1000,
        modeNoTruncate = 0x2000,
        typeText = 0x4000,
        typeBinary = 0x8000
    };

    ~CFile() override {}

    virtual BOOL Open(const char* lpszFileName, UINT nOpenFlags,
                      CFileException* pError = nullptr) = 0;
    virtual UINT Read(void* lpBuf, UINT nCount) = 0;
    virtual void Close() = 0;
    virtual ULONGLONG GetPosition() const = 0;
    virtual CString GetFilePath() const = 0;

protected:
    CFile() = default;
};

class CStdioFile : public CFile {
public:
    CStdioFile() : m_pStream(nullptr), m_bText(TRUE), m_nPosition(0) {}
    // Closes the file if it is still open.
    ~CStdioFile() override;

    // Opens an existing file for reading. nOpenFlags: modeRead (0) with a share mode
    // (shareCompat and shareExclusive allow no other opener on Windows; POSIX has no share
    // modes) and typeText (the default) or typeBinary. Relative names resolve against the
    // current directory. Elsewhere than on Windows the name is mapped as platform/posix_path.h
    // says: backslashes are slashes, the drive Z: is the root, and other drives and network
    // paths do not exist (badPath).
    //
    // Returns TRUE when the file is open. Returns FALSE and fills *pError (when given) with the
    // cause, the OS error and the name when: the name is null or empty (badPath), the file
    // cannot be opened (fileNotFound, badPath, accessDenied for a directory or missing rights,
    // tooManyOpenFiles, sharingViolation, ...), the flags ask for anything but reading
    // (genericException), or this object already has a file open (genericException; the open
    // file is left as it is).
    BOOL Open(const char* lpszFileName, UINT nOpenFlags, CFileException* pError = nullptr) override;

    // Reads up to nCount bytes into lpBuf; returns how many were read, fewer than nCount only
    // at the end of the data (0 there, and 0 on a closed file). Throws CFileException* (hardIO
    // or the mapped cause, with the OS error) on a read error.
    UINT Read(void* lpBuf, UINT nCount) override;

    // Reads one line into rString without its line feed. Returns FALSE (rString empty) when
    // the data has already ended, TRUE otherwise (also for an empty line and for a last line
    // without a line feed). Throws as Read does.
    BOOL ReadString(CString& rString);
    // Reads at most nMax - 1 bytes of one line into lpsz, keeping the line feed, and ends them
    // with a zero. Returns lpsz, or null when nothing was read because the data had ended (or
    // lpsz is null or nMax is 0). Throws as Read does.
    char* ReadString(char* lpsz, UINT nMax);
    // Reads one byte as Read does: the byte (0 to 255), or -1 at the end of the data and on a
    // closed file. Throws as Read does. Inline, so that a reader taking the data a byte at a
    // time pays no call per byte; it takes the bytes from the stream exactly as Read does, so
    // the two (and ReadString) can be mixed freely on one file.
    int ReadByte() { return m_pStream != nullptr ? GetByte() : -1; }

    // Closes the file; nothing happens when it is not open. The stream is only read, so a
    // failure of the close loses nothing and is not reported.
    void Close() override;

    // Byte offset in the file of the next byte Read delivers; 0 when no file is open.
    ULONGLONG GetPosition() const override;
    // The name given to the successful Open; empty when no file is open.
    CString GetFilePath() const override;

    // The stream; null when no file is open (this is what "open" means for this class).
    std::FILE* m_pStream;

private:
    // One byte with the text-mode rules applied, or -1 at the end of the data. The common byte
    // (not the end, not CR, not 0x1A) takes the short way; the rest goes to GetByteSlow with the
    // byte already taken.
    int GetByte() {
        const int c = GetcNoLock(m_pStream);
        if (c >= 0 && c != '\r' && c != 0x1A) {
            ++m_nPosition;
            return c;
        }
        return GetByteSlow(c);
    }
    int GetByteSlow(int c);
    // A file object, and so its stream, is used by one thread at a time: the byte reads skip
    // the stream's lock where the C runtime offers that.
    static int GetcNoLock(std::FILE* f) {
#ifdef _WIN32
        return std::getc(f);
#else
        return getc_unlocked(f);
#endif
    }
    [[noreturn]] void ThrowReadError() const;

    CString m_strFileName;
    BOOL m_bText;
    ULONGLONG m_nPosition; // raw bytes taken from the stream and not pushed back
};

// Message box. Buttons and results use the Windows values.
#ifndef _WIN32
#define MB_OK 0x00000000u
#define MB_ICONERROR 0x00000010u
#define IDOK 1
#endif

// Shows lpszText and returns the button chosen (IDOK for an OK box).
//
// A client executable decides how its libraries' message boxes appear by defining and exporting
// AfxMessageBoxHook (see below); every module of the process, each library included, finds it by
// name in the executable and calls it instead of the default. The default is the real message
// box on Windows and a line "<text>" on standard error elsewhere.
int AfxMessageBox(const char* lpszText, UINT nType = MB_OK, UINT nIDHelp = 0);

// The client's message box, looked up in the process's executable. To install one, define it in
// the executable:
//
//     extern "C" AFX_CLIENT_EXPORT int AfxMessageBoxHook(const char* lpszText, UINT nType,
//                                                        UINT nIDHelp) { ...; return IDOK; }
//
// On POSIX the executable must also export its symbols dynamically (CMake: ENABLE_EXPORTS, or
// the linker's -rdynamic). Declared here only so that the definition's signature is checked.
#if defined(_WIN32)
#define AFX_CLIENT_EXPORT __declspec(dllexport)
#else
#define AFX_CLIENT_EXPORT __attribute__((visibility("default")))
#endif
extern "C" AFX_CLIENT_EXPORT int AfxMessageBoxHook(const char* lpszText, UINT nType, UINT nIDHelp);
typedef int (*AFX_MESSAGE_BOX_HOOK)(const char* lpszText, UINT nType, UINT nIDHelp);
