// Corvane: CPath, one Windows path or one whole command line in decomposed form.
//
// An object holds the text last given to it, split into drive (C:), directory (\dir\sub\,
// always with its trailing backslash and backslashes only), file title, extension and, for a
// command line, the argument text. Getters return new CString copies; a missing part is an
// empty string. The directory components and the argument list are built from the split on
// first demand, so even the getters change the object: an object is used by one thread at a
// time. Distinct objects are independent; the library keeps no state of its own.
//
//   text                               drive  directory        title     ext   relative
//   C:\dir\sub\file.txt                C:     \dir\sub\        file      txt   0
//   C:/dir/file.tar.gz                 C:     \dir\            file.tar  gz    0
//   \\server\share\dir\f.txt                  \\server\share\dir\  f     txt   0
//   rel\x.txt                                 rel\             x         txt   1
//   C:rel\x.txt                        C:     rel\             x         txt   1
//   file.txt                                                   file      txt   0
//   .profile                                  (no title, so no extension either)
//   "C:\Program Files\app.exe" /a 1    split as a command line: C:, \Program Files\, app,
//                                      exe, argument text "/a 1"
//
// Texts are 8-bit, in the ANSI code page. A text longer than 259 characters, or one whose
// directory, file title or extension (with its dot) would be longer than 255, is refused: the
// object is left as after a split of an empty text.
//
// Arguments follow the Windows style: a switch starts with / or -, a switch may take the
// next token that is not a switch as its value, a value with blanks stands in double quotes.
// Only blanks and double quotes end a token. Names are stored without their switch
// characters and blanks; /x, -x and X name the same argument (lookups ignore case).
//
// Failures are not reported: missing parts give empty strings, an index out of range gives an
// empty string or no change. Allocation failure throws the class layer's memory exception
// (CMemoryException*).
#pragma once

#include <platform/afx.h>

// <windows.h> without WIN32_LEAN_AND_MEAN brings the common-dialog macro GetFileTitle, which
// would rename the member below to GetFileTitleA. The class is declared with the macro out of
// the way, and GetFileTitleA forwards for clients that include the dialogs after this header.
#if defined(_WIN32)
#include <windows.h>
#ifdef GetFileTitle
#undef GetFileTitle
#endif
#endif

#if defined(_WIN32)
#ifdef CORVANE_BUILD
#define CORVANE_API __declspec(dllexport)
#else
#define CORVANE_API __declspec(dllimport)
#endif
#else
#define CORVANE_API __attribute__((visibility("default")))
#endif

// Members that stay inside the library although their class is exported.
#if defined(_WIN32)
#define CORVANE_INTERNAL
#else
#define CORVANE_INTERNAL __attribute__((visibility("hidden")))
#endif

class CORVANE_API CPath {
public:
    // One argument of a command line: switch character, name and value.
    class CArgument {
    public:
        CORVANE_API CArgument();
        CORVANE_API CArgument(const CArgument& src);
        CORVANE_API CArgument& operator=(const CArgument& src);
        CORVANE_API virtual ~CArgument();

        // Stores strName without its switch characters and blanks. A / in it makes the switch
        // character /, a - anywhere in it makes it - (a dash wins over a slash); without
        // either the switch character stays as it was. "/long-name" gives name "longname"
        // with switch -.
        CORVANE_INTERNAL void SetName(CString strName);
        // Text form: " /name" when there is a name, then " value", or " \"value\"" when the
        // value holds a blank. A bare value without name gives " value".
        CORVANE_INTERNAL CString GetText();

        char m_chSwitch;    // '/' or '-'; a new argument has '/'
        CString m_strName;  // empty for a bare value
        CString m_strValue; // empty for a switch without value
    };

    // Empty object: every part empty, not relative.
    CPath();
    // SetPath(lpszPath, bDirectory, bArgs).
    CPath(const char* lpszPath, int bDirectory, int bArgs);
    // SetPath(dwSource).
    explicit CPath(DWORD dwSource);
    virtual ~CPath();

    CPath(const CPath&) = delete; // copy by assignment only

    // Replaces the content by the split of lpszPath (null is the empty text). Every part of
    // an earlier split is dropped first. bDirectory nonzero: the whole text names a directory,
    // whose last component goes into the directory part whole (C:\a\b.d gives \a\b.d\) and
    // the title stays empty. bArgs nonzero: the text is a command line; what follows the first
    // blank outside double quotes is the argument text, and one pair of double quotes around
    // the program path is removed.
    void SetPath(const char* lpszPath, int bDirectory, int bArgs);
    // 0: the process's command line (as a command line). 1: the executable's file name.
    // Any other value: nothing changes. A name that cannot be read whole leaves the object as
    // after a split of an empty text.
    void SetPath(DWORD dwSource);

    // SetPath(lpszPath, 0, 0).
    const CPath& operator=(const char* lpszPath);
    // Copies src's parts and lists (not its conversion text). Assigning an object to itself
    // changes nothing.
    const CPath& operator=(CPath& src);

    // GetPath(0, 0), valid until the next conversion on this object or its end.
    operator const char*();

    // bInput 0: the rebuilt path GetLocation() + GetFileName(), without quotes or arguments.
    // bInput nonzero: the text last given to SetPath, as given. With bArgs, a blank and the
    // argument text GetArgument(-1, 0) follow when that text is not empty; arguments that the
    // given text held are not repeated (its program part is used instead).
    CString GetPath(int bArgs, int bInput);
    CString GetDrive();
    // Number of directory components: C:\dir\sub\ has 2 (dir, sub), \\server\share\dir\ has 3
    // (server, share, dir), \tools\bin\ has 2, rel\x\ has 2.
    int GetDirCount();
    // nIndex < 0: the directory part (\dir\sub\). Otherwise component nIndex, or empty when
    // there is none.
    CString GetDir(int nIndex);
    // Drive followed by directory: C:\dir\sub\.
    CString GetLocation();
    CString GetFileTitle();
#if defined(_WIN32)
    CString GetFileTitleA() { return GetFileTitle(); }
#endif
    // Title followed by GetExtension(): file.txt.
    CString GetFileName();
    // "." and the extension name, or empty.
    CString GetExtension();
    // Extension without its dot.
    CString GetExtName();
    // 1 for a drive and a directory that is not relative (C:\x, C:).
    BOOL IsLocalPath();
    // 1 when the directory part the split found is non-empty and does not start with a
    // backslash (rel\x.txt, C:rel\x.txt).
    BOOL IsRelativePath();
    // 1 when there is a file title.
    BOOL IsFilePath();

    // Copy of lpszPath with one separator appended unless it is empty or already ends with
    // \ or /; bSlash nonzero appends /, else \.
    static CString AddBackSlash(const char* lpszPath, int bSlash);
    // Copy of lpszPath without its last character when that is \ or / (one only).
    static CString RemoveBackSlash(const char* lpszPath);

    // File-system queries. They work on the rebuilt path GetPath(0, 0) (or GetLocation()),
    // never on the given text, and do not change the split. On POSIX, Windows paths are taken
    // as the platform layer takes them: backslashes are slashes, Z: is the root, a path without
    // drive is used as it is, other drives and network paths do not exist.

    // 1 when the file exists; 0 without asking when there is no file title.
    BOOL ExistFile();
    // 1 when the location (drive and directory) exists.
    BOOL ExistLocation();
    // For a relative path: lpszBase (a directory, \ or / as separator) joined with the path,
    // . and .. removed: rel\x.txt against C:\base gives C:\base\rel\x.txt, ..\x.txt gives
    // C:\x.txt. Empty for a path that is not relative, an empty base, or a result of 260
    // characters or more.
    CString GetAbsolutePath(const char* lpszBase);
    // For a path that is not relative: its form relative to the directory lpszBase, without a
    // leading .\ (C:\a\b\c.txt against C:\a gives b\c.txt, C:\x\y.txt gives ..\x\y.txt).
    // Components compare without regard to case. Empty for a relative path, an empty base,
    // paths without common root (other drives) or a result that does not fit 260 bytes.
    CString GetRelativePath(const char* lpszBase);
    // The platform's short (8.3) form of the path; empty when it has none (a missing path).
    // POSIX has no 8.3 names: the path itself when it exists.
    CString GetShortPath();
    // The platform's long form of the path; empty when it has none (a missing path).
    CString GetLongPath();
    // Label of the volume that holds the path, kept until the next split once found non-empty
    // (an empty answer is asked again at the next call). The volume asked is the drive's root
    // (C:\), the share of a network path (\\server\share\), or the current root (\) for a
    // rooted path without drive. bServerName nonzero: for a network path, or a path without
    // drive and directory, the first directory component (the server name) is the label and
    // nothing is asked. Empty for a relative path, and when the volume has no label or the
    // query fails.
    CString GetDriveLabel(int bServerName);
    // Size of the file in bytes into nSize; returns 1, or 0 with nSize 0 when the file cannot
    // be opened for reading (missing, a directory, or held open for writing on Windows).
    int GetFileSize(__int64& nSize);
    // A time of the file, as local time, into time: dwWhich 0 the creation time, 2 the last
    // write time, any other value the last access time. Returns 1, or 0 with the zero time
    // when the file cannot be opened. Raises COleException* (E_INVALIDARG) for a file time
    // that is no calendar time (before 1970 or after 3000); see platform/afx_time.h.
    int GetFileTime(CTime& time, DWORD dwWhich);

    // Number of arguments (the argument text is parsed on first demand).
    int GetArgCount();
    // nIndex < 0: the argument text; when the list was edited it is rebuilt from the list
    // ("/a 2 /b \"x y\""). Otherwise the name (bName nonzero) or value of argument nIndex, or
    // empty when there is none.
    CString GetArgument(int nIndex, int bName);
    // Replaces the argument text by lpszArgs and drops the list; parsed on demand.
    void SetArguments(const char* lpszArgs);
    // Gives the first argument named lpszName the value lpszValue, or appends a new argument
    // /lpszName with that value. A name that is empty without its switch characters is never
    // found, so such a call appends a bare value.
    void AddSetArgument(const char* lpszName, const char* lpszValue);
    // Removes argument nIndex (later ones move down); nothing for an index out of range.
    void RemoveArgument(int nIndex);
    // Index of the first argument whose name equals lpszName (without switch characters and
    // blanks, ignoring case), or -1.
    int FindArgument(const char* lpszName);

private:
    void FillDirArray();
    void FillArgArray();
    // Zeroes m_FileInfo and fills it from the file named by GetPath(0, 0), opened for
    // reading; 1 on success, 0 on failure (the record then stays zero).
    int FillFileInfoStruct();

    CString m_strEmpty;      // stays empty: the empty result of getters
    CString m_strPath;       // the text last given to SetPath
    CString m_strDrive;      // C: or empty
    CString m_strDriveLabel; // volume label cache
    CStringArray m_aDir;     // directory components, built on demand
    CString m_strDir;        // \dir\sub\ (backslashes only)
    CString m_strFileTitle;
    CString m_strExtName;                               // without dot
    CString m_strArgs;                                  // argument text
    CArray<CPath::CArgument, CPath::CArgument&> m_aArg; // argument list, built on demand
    BOOL m_bRelative;
    BY_HANDLE_FILE_INFORMATION m_FileInfo; // file information record
    CString m_strCast;                     // text behind the last const char* conversion
};
