// CPath's argument list and CPath::CArgument.
//
// The argument text and the list are two forms of the same arguments. The list is parsed from
// the text on first demand (FillArgArray); every edit of the list empties the text, which a
// text request rebuilds from the list. The grammar, token by token (only blanks and double
// quotes end a token):
//
//   /a 1 /b "x y" z   (/,a,1) (/,b,x y) and the bare value z
//   -x                (-,x) without value
//   /long-name v      (-,longname,v): switch characters anywhere leave the name, a dash wins
//   a"p q" d          bare values "p q" and d: text before an opening quote is dropped
//   /a "" /b          (/,a) (/,b): an empty quoted value is no value
//   /a "open text     (/,a): an unterminated quote ends the parse
//   -                 one argument with empty name and value
#include <corvane.h>

CPath::CArgument::CArgument() : m_chSwitch('/') {}

CPath::CArgument::CArgument(const CArgument& src)
    : m_chSwitch(src.m_chSwitch), m_strName(src.m_strName), m_strValue(src.m_strValue) {}

CPath::CArgument& CPath::CArgument::operator=(const CArgument& src) {
    m_chSwitch = src.m_chSwitch;
    m_strName = src.m_strName;
    m_strValue = src.m_strValue;
    return *this;
}

CPath::CArgument::~CArgument() {}

void CPath::CArgument::SetName(CString strName) {
    m_strName = strName;
    if (m_strName.Remove('/') > 0)
        m_chSwitch = '/';
    if (m_strName.Remove('-') > 0)
        m_chSwitch = '-';
    m_strName.Remove(' ');
}

CString CPath::CArgument::GetText() {
    CString strText;
    if (!m_strName.IsEmpty())
        strText.Format(" %c%s", m_chSwitch, static_cast<const char*>(m_strName));
    if (!m_strValue.IsEmpty()) {
        // Only a blank calls for quotes; quotes inside a value are written as they are.
        if (m_strValue.Find(' ') >= 0)
            strText += " \"" + m_strValue + "\"";
        else
            strText += " " + m_strValue;
    }
    return strText;
}

int CPath::GetArgCount() {
    FillArgArray();
    return static_cast<int>(m_aArg.GetSize());
}

CString CPath::GetArgument(int nIndex, int bName) {
    if (nIndex < 0) {
        if (!m_strArgs.IsEmpty())
            return m_strArgs;
        CString strArgs;
        for (INT_PTR i = 0; i < m_aArg.GetSize(); ++i)
            strArgs += m_aArg[i].GetText();
        strArgs.TrimLeft();
        m_strArgs = strArgs;
        return m_strArgs;
    }
    FillArgArray();
    if (nIndex >= m_aArg.GetSize())
        return m_strEmpty;
    return bName ? m_aArg[nIndex].m_strName : m_aArg[nIndex].m_strValue;
}

void CPath::SetArguments(const char* lpszArgs) {
    m_aArg.RemoveAll();
    m_strArgs = lpszArgs;
}

void CPath::AddSetArgument(const char* lpszName, const char* lpszValue) {
    int nIndex = FindArgument(lpszName);
    if (nIndex >= 0) {
        m_aArg[nIndex].m_strValue = lpszValue;
    } else {
        CArgument arg;
        arg.SetName(lpszName);
        arg.m_strValue = lpszValue;
        m_aArg.Add(arg);
    }
    m_strArgs.Empty();
}

void CPath::RemoveArgument(int nIndex) {
    // Parse first, so that an argument can be removed right after the text was set.
    FillArgArray();
    if (nIndex < 0 || nIndex >= m_aArg.GetSize())
        return;
    m_aArg.RemoveAt(nIndex);
    m_strArgs.Empty();
}

int CPath::FindArgument(const char* lpszName) {
    FillArgArray();
    CArgument wanted;
    wanted.SetName(lpszName);
    if (wanted.m_strName.IsEmpty())
        return -1;
    for (INT_PTR i = 0; i < m_aArg.GetSize(); ++i) {
        if (m_aArg[i].m_strName.CompareNoCase(wanted.m_strName) == 0)
            return static_cast<int>(i);
    }
    return -1;
}

void CPath::FillArgArray() {
    if (m_strArgs.IsEmpty() || m_aArg.GetSize() > 0)
        return;

    CString strWork = m_strArgs;
    strWork.TrimLeft();
    strWork.TrimRight();
    strWork += ' '; // every token ends with a blank

    CArgument arg;
    // Completing an argument normalises its name, appends a copy and starts the next one
    // (which keeps the switch character).
    auto complete = [this, &arg]() {
        arg.SetName(arg.m_strName);
        m_aArg.Add(arg);
        arg.m_strName.Empty();
        arg.m_strValue.Empty();
    };

    int nPos = strWork.FindOneOf(" \"");
    while (nPos >= 0) {
        if (strWork[nPos] == '"') {
            int nClose = strWork.Find('"', nPos + 1);
            if (nClose < 0)
                break; // unterminated: the rest is dropped
            arg.m_strValue = strWork.Mid(nPos + 1, nClose - nPos - 1);
            strWork = strWork.Mid(nPos); // text before the opening quote is dropped
            nPos = nClose - nPos;
        } else {
            CString strToken = strWork.Left(nPos);
            if (!strToken.IsEmpty() && (strToken[0] == '/' || strToken[0] == '-')) {
                if (!arg.m_strName.IsEmpty())
                    complete(); // a switch followed by a switch has no value
                arg.m_strName = strToken;
            } else {
                arg.m_strValue = strToken;
            }
        }
        if (!arg.m_strValue.IsEmpty())
            complete();
        strWork = strWork.Mid(nPos + 1);
        strWork.TrimLeft();
        nPos = strWork.FindOneOf(" \"");
    }
    if (!arg.m_strName.IsEmpty())
        complete();
}
