// dbpftool path: shows how Corvane splits a path or a command line.
//
//   dbpftool path [--dir] [--args] [--json] TEXT
//   dbpftool path [--json] --self
//   either with [--stat [--base DIR]]
//
// --dir splits TEXT as a directory, --args as a command line (program path and arguments);
// --self splits this tool's own command line. The output lists every part, the flags, and
// the argument list with the rebuilt argument text; --json prints the same as one object.
// --stat adds what the file system says of the rebuilt path: whether the file and its location
// exist, the short and long forms, the volume label, the size and the three times (local
// time); with --base DIR also the absolute form (of a relative path) and the relative form
// (of any other) against DIR.
#include "commands.h"

#include <corvane.h>

#include <cstdio>
#include <string>
#include <vector>

namespace dbpftool {

namespace {

std::string S(const CString& s) {
    return std::string(static_cast<const char*>(s));
}

// The switch character of argument nIndex: it shows only in the argument text rebuilt from a
// list that holds that argument alone. Bare values (no name) have none.
std::string SwitchOf(CPath& path, int nIndex) {
    if (path.GetArgument(nIndex, TRUE).IsEmpty())
        return "";
    CPath one;
    one = path;
    for (int i = one.GetArgCount() - 1; i >= 0; --i) {
        if (i != nIndex)
            one.RemoveArgument(i);
    }
    // An edit empties the argument text, so the next request rebuilds it from the list.
    one.AddSetArgument("dbpftoolprobe", "");
    one.RemoveArgument(one.GetArgCount() - 1);
    CString text = one.GetArgument(-1, FALSE);
    return text.IsEmpty() ? "" : std::string(1, text[0]);
}

struct Argument {
    std::string sw, name, value;
};

// A time of the file, or empty when it cannot be read or is no calendar time.
std::string FileTime(CPath& p, DWORD dwWhich) {
    CTime time;
    try {
        if (!p.GetFileTime(time, dwWhich))
            return "";
    } catch (CException* e) {
        e->Delete();
        return "";
    }
    return S(time.Format("%Y-%m-%d %H:%M:%S"));
}

struct Stat {
    bool fileExists = false, locationExists = false, haveBase = false, sizeKnown = false;
    std::string absolute, relative, shortForm, longForm, label, created, accessed, written;
    long long size = 0;
};

Stat DescribeFileSystem(CPath& p, const std::string* base) {
    Stat st;
    st.fileExists = p.ExistFile() != 0;
    st.locationExists = p.ExistLocation() != 0;
    if (base) {
        st.haveBase = true;
        st.absolute = S(p.GetAbsolutePath(base->c_str()));
        st.relative = S(p.GetRelativePath(base->c_str()));
    }
    st.shortForm = S(p.GetShortPath());
    st.longForm = S(p.GetLongPath());
    st.label = S(p.GetDriveLabel(FALSE));
    __int64 nSize = 0;
    st.sizeKnown = p.GetFileSize(nSize) != 0;
    st.size = nSize;
    st.created = FileTime(p, 0);
    st.accessed = FileTime(p, 1);
    st.written = FileTime(p, 2);
    return st;
}

struct Report {
    std::string input, drive, directory, title, extension, location, path, argumentText;
    std::vector<std::string> components;
    bool relative, local, file;
    std::vector<Argument> arguments;
    bool haveStat = false;
    Stat stat;
};

Report Describe(CPath& p) {
    Report r;
    r.input = S(p.GetPath(FALSE, TRUE));
    r.drive = S(p.GetDrive());
    r.directory = S(p.GetDir(-1));
    for (int i = 0; i < p.GetDirCount(); ++i)
        r.components.push_back(S(p.GetDir(i)));
    r.title = S(p.GetFileTitle());
    r.extension = S(p.GetExtension());
    r.location = S(p.GetLocation());
    r.path = S(p.GetPath(FALSE, FALSE));
    r.relative = p.IsRelativePath() != 0;
    r.local = p.IsLocalPath() != 0;
    r.file = p.IsFilePath() != 0;
    for (int i = 0; i < p.GetArgCount(); ++i)
        r.arguments.push_back(
            {SwitchOf(p, i), S(p.GetArgument(i, TRUE)), S(p.GetArgument(i, FALSE))});
    r.argumentText = S(p.GetArgument(-1, FALSE));
    return r;
}

// JSON string: UTF-8 sequences pass through; other bytes (the text is in the ANSI code page,
// which need not be UTF-8) and control characters are written as \u00XX.
std::string Json(const std::string& s) {
    std::string out = "\"";
    std::size_t i = 0;
    while (i < s.size()) {
        unsigned char c = static_cast<unsigned char>(s[i]);
        std::size_t len = c < 0x80         ? 1
                          : (c >> 5) == 6  ? 2
                          : (c >> 4) == 14 ? 3
                          : (c >> 3) == 30 ? 4
                                           : 0;
        bool valid = len > 1 && i + len <= s.size();
        for (std::size_t k = 1; valid && k < len; ++k)
            valid = (static_cast<unsigned char>(s[i + k]) >> 6) == 2;
        if (valid) {
            out.append(s, i, len);
            i += len;
            continue;
        }
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c < 0x20 || c >= 0x7F) {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\u%04x", c);
            out += buf;
        } else {
            out += static_cast<char>(c);
        }
        ++i;
    }
    return out + "\"";
}

void PrintJson(const Report& r) {
    std::string out = "{";
    out += "\"input\":" + Json(r.input);
    out += ",\"drive\":" + Json(r.drive);
    out += ",\"directory\":" + Json(r.directory);
    out += ",\"components\":[";
    for (std::size_t i = 0; i < r.components.size(); ++i)
        out += (i ? "," : "") + Json(r.components[i]);
    out += "],\"title\":" + Json(r.title);
    out += ",\"extension\":" + Json(r.extension);
    out += ",\"location\":" + Json(r.location);
    out += ",\"path\":" + Json(r.path);
    out += std::string(",\"relative\":") + (r.relative ? "true" : "false");
    out += std::string(",\"local\":") + (r.local ? "true" : "false");
    out += std::string(",\"file\":") + (r.file ? "true" : "false");
    out += ",\"arguments\":[";
    for (std::size_t i = 0; i < r.arguments.size(); ++i) {
        const Argument& a = r.arguments[i];
        out += (i ? "," : "") + std::string("{\"switch\":") + Json(a.sw) +
               ",\"name\":" + Json(a.name) + ",\"value\":" + Json(a.value) + "}";
    }
    out += "],\"argumentText\":" + Json(r.argumentText);
    if (r.haveStat) {
        const Stat& st = r.stat;
        auto orNull = [](const std::string& v) {
            return v.empty() ? std::string("null") : Json(v);
        };
        out += std::string(",\"stat\":{\"fileExists\":") + (st.fileExists ? "true" : "false");
        out += std::string(",\"locationExists\":") + (st.locationExists ? "true" : "false");
        if (st.haveBase) {
            out += ",\"absolute\":" + Json(st.absolute);
            out += ",\"relative\":" + Json(st.relative);
        }
        out += ",\"short\":" + Json(st.shortForm);
        out += ",\"long\":" + Json(st.longForm);
        out += ",\"label\":" + Json(st.label);
        out += ",\"size\":" + (st.sizeKnown ? std::to_string(st.size) : std::string("null"));
        out += ",\"created\":" + orNull(st.created);
        out += ",\"accessed\":" + orNull(st.accessed);
        out += ",\"written\":" + orNull(st.written) + "}";
    }
    out += "}\n";
    std::fputs(out.c_str(), stdout);
}

void PrintText(const Report& r) {
    auto line = [](const char* label, const std::string& value) {
        std::printf("%-15s %s\n", label, value.c_str());
    };
    line("input:", r.input);
    line("drive:", r.drive);
    line("directory:", r.directory);
    line("components:", std::to_string(r.components.size()));
    for (std::size_t i = 0; i < r.components.size(); ++i)
        std::printf("  [%zu] %s\n", i, r.components[i].c_str());
    line("title:", r.title);
    line("extension:", r.extension);
    line("location:", r.location);
    line("path:", r.path);
    line("relative:", r.relative ? "yes" : "no");
    line("local:", r.local ? "yes" : "no");
    line("file:", r.file ? "yes" : "no");
    line("arguments:", std::to_string(r.arguments.size()));
    for (std::size_t i = 0; i < r.arguments.size(); ++i) {
        const Argument& a = r.arguments[i];
        std::printf("  [%zu] switch '%s' name '%s' value '%s'\n", i, a.sw.c_str(), a.name.c_str(),
                    a.value.c_str());
    }
    line("argument text:", r.argumentText);
    if (!r.haveStat)
        return;
    const Stat& st = r.stat;
    auto orNone = [](const std::string& v) { return v.empty() ? std::string("-") : v; };
    line("file exists:", st.fileExists ? "yes" : "no");
    line("location found:", st.locationExists ? "yes" : "no");
    if (st.haveBase) {
        line("absolute form:", st.absolute);
        line("relative form:", st.relative);
    }
    line("short form:", st.shortForm);
    line("long form:", st.longForm);
    line("drive label:", st.label);
    line("size:", st.sizeKnown ? std::to_string(st.size) : "-");
    line("created:", orNone(st.created));
    line("accessed:", orNone(st.accessed));
    line("written:", orNone(st.written));
}

} // namespace

int RunPath(const Args& args, const PathOptions& options) {
    // The command line (main.cpp) has checked the combinations: TEXT or --self, not both;
    // --dir and --args only with TEXT; --base only with --stat.
    const bool self = options.self, dir = options.dir, withArgs = options.args;
    const bool json = options.json, stat = options.stat, haveBase = options.base.has_value();
    const std::string text = args.empty() ? std::string() : args[0];
    const std::string base = options.base.value_or("");

    CPath path;
    if (self)
        path.SetPath(static_cast<DWORD>(0));
    else
        path.SetPath(text.c_str(), dir ? TRUE : FALSE, withArgs ? TRUE : FALSE);
    if (!self && !text.empty() && path.GetPath(FALSE, TRUE).IsEmpty())
        return Fail(text.substr(0, 40) + (text.size() > 40 ? "..." : ""),
                    "text too long to split (a path holds at most 259 characters, each part 255)");

    Report r = Describe(path);
    if (stat) {
        r.haveStat = true;
        r.stat = DescribeFileSystem(path, haveBase ? &base : nullptr);
    }
    if (json)
        PrintJson(r);
    else
        PrintText(r);
    return 0;
}

} // namespace dbpftool
