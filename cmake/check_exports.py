#!/usr/bin/env python3
"""Checks a library's export table against its public header.

    check_exports.py --library FILE --header HEADER --api MACRO [--target TRIPLE]
                     [--include DIR]... [--define NAME[=VALUE]]... [--clang CLANG]
                     [--table nm|objdump] [--tool PATH] [--allow-file FILE]

The header is the manual of the library, so it is also the list of what must be exported:
clang parses it as a client would (for the build's target) and names, mangled, every function,
variable and member that the header marks with the library's export macro, directly or through
its class. Members defined inline in the header are left out (the client compiles them itself),
and so are members whose own visibility attribute hides them.

1. Every such name must be in the export table (for constructors and destructors, one of the
   variants the compiler may emit stands for the declaration).
2. On ELF builds (--table nm) nothing else may be exported, except the vtables and type
   information of exported classes and the platform classes that the libraries export on
   purpose, listed once in --allow-file (one regular expression per line, # comments).
   A PE export table is not checked for extras: a dllexport class exports its inline members
   and compiler-generated helpers too, and the import library decides nothing else.

Exits 0 when both hold; otherwise prints the missing and unexpected names and exits 1.
"""
import argparse
import json
import os
import re
import subprocess
import sys


def parse_args():
    p = argparse.ArgumentParser()
    p.add_argument("--library", required=True)
    p.add_argument("--header", required=True)
    p.add_argument("--api", required=True, help="export macro of the library, e.g. CORVANE_API")
    p.add_argument("--target", default="")
    p.add_argument("--include", action="append", default=[])
    p.add_argument("--cxx-include", action="append", default=[],
                   help="C++ library headers of the build's compiler (used instead of clang's own)")
    p.add_argument("--define", action="append", default=[])
    p.add_argument("--clang", default="clang++")
    p.add_argument("--table", choices=["nm", "objdump"], required=True)
    p.add_argument("--tool", required=True, help="nm or objdump of the build")
    p.add_argument("--allow-file", default="")
    p.add_argument("--allow", action="append", default=[],
                   help="regular expression of further names this library exports on purpose")
    p.add_argument("--def", dest="def_file", default="",
                   help="module-definition file that must list exactly the header's C exports")
    return p.parse_args()


def def_file_names(path):
    names, in_exports = [], False
    with open(path) as f:
        for line in f:
            line = line.split(";", 1)[0].strip()
            if not line:
                continue
            if line.upper() == "EXPORTS":
                in_exports = True
            elif in_exports:
                names.append(line.split()[0])
    return names


def header_declarations(args):
    """(mangled name, kind, class name) of everything the header exports."""
    cmd = [args.clang, "-x", "c++", "-std=c++17", "-fsyntax-only", "-Wno-pragma-once-outside-header",
           "-Xclang", "-ast-dump=json"]
    if args.target:
        cmd.append("--target=" + args.target)
    if args.cxx_include:
        cmd.append("-nostdinc++")
        for d in args.cxx_include:
            cmd += ["-isystem", d]
    cmd += ["-I" + d for d in args.include] + ["-D" + d for d in args.define] + [args.header]
    out = subprocess.run(cmd, check=True, capture_output=True, text=True).stdout
    root = json.loads(out)
    with open(args.header, "rb") as f:
        header_text = f.read()

    def spelled_in_header(node, word):
        # The attribute's own text, where it was written in the public header (through its macro).
        rng = node.get("range", {})
        begin = rng.get("begin", {}).get("spellingLoc", rng.get("begin", {}))
        end = rng.get("end", {}).get("spellingLoc", rng.get("end", {}))
        if "offset" not in begin or "offset" not in end:
            return False
        return word in header_text[begin["offset"]:end["offset"] + end.get("tokLen", 0)]

    def exported(node):
        for a in node.get("inner", []):
            kind = a.get("kind", "")
            if kind in ("DLLImportAttr", "DLLExportAttr"):
                return True
            if kind == "VisibilityAttr" and not spelled_in_header(a, b"hidden"):
                return True
        return False

    def hidden(node):
        return any(a.get("kind") == "VisibilityAttr" and spelled_in_header(a, b"hidden")
                   for a in node.get("inner", []))

    def defined_inline(node):
        return any(c.get("kind") == "CompoundStmt" for c in node.get("inner", []))

    found = []
    classes = []
    member_kinds = ("CXXMethodDecl", "CXXConstructorDecl", "CXXDestructorDecl",
                    "CXXConversionDecl", "VarDecl")

    # 32-bit Windows puts an underscore before every symbol; the export table names them without.
    global_prefix = "_" if args.target.startswith("i686") else ""

    def walk(node, cls_exported, cls_name):
        kind = node.get("kind")
        if kind == "CXXRecordDecl" and node.get("completeDefinition"):
            name = node.get("name", "")
            # A nested class shares its enclosing class's visibility on ELF; on Windows it is
            # exported only when marked itself (members may be marked one by one).
            inherits = cls_exported and args.table == "nm"
            exp = inherits or exported(node)
            if exp and name:
                classes.append(name)
            for c in node.get("inner", []):
                walk(c, exp, name)
            return
        if kind in member_kinds + ("FunctionDecl",) and "mangledName" in node:
            if (cls_exported or exported(node)) and not node.get("isImplicit") \
                    and not defined_inline(node) and not hidden(node) \
                    and node.get("explicitlyDeleted") is not True and node.get("mangledName"):
                name = node["mangledName"]
                if global_prefix and name.startswith(global_prefix):
                    name = name[len(global_prefix):]
                found.append((name, kind, cls_name))
            return
        if kind in ("LinkageSpecDecl", "TranslationUnitDecl", "NamespaceDecl"):
            for c in node.get("inner", []):
                walk(c, cls_exported, cls_name)

    # The JSON names a location's file only where it differs from the location printed before,
    # so the file of each top-level declaration is tracked through the dump in order.
    current = [""]

    def track(value):
        if isinstance(value, dict):
            if "file" in value:
                current[0] = value["file"]
            for k, v in value.items():
                if k != "includedFrom":  # names the including file, not this location's
                    track(v)
        elif isinstance(value, list):
            for v in value:
                track(v)

    header = os.path.realpath(args.header)
    for top in root.get("inner", []):
        loc = top.get("loc", {})
        track(loc.get("spellingLoc", loc))
        in_header = current[0] and os.path.realpath(current[0]) == header
        # Only what the public header itself declares; the platform headers it includes are
        # checked through the allow list.
        if in_header and top.get("kind") in ("CXXRecordDecl", "FunctionDecl", "VarDecl",
                                             "LinkageSpecDecl", "NamespaceDecl"):
            walk(top, False, "")
        track(top)
    return found, classes


def export_table(args):
    if args.table == "objdump":
        out = subprocess.run([args.tool, "-p", args.library], check=True, capture_output=True,
                             text=True).stdout
        names, in_table = [], False
        for line in out.splitlines():
            if "[Ordinal/Name Pointer] Table" in line:
                in_table = True
            elif in_table:
                m = re.match(r"^\s*\[\s*\d+\]\s+(\S+)", line)
                if m:
                    names.append(m.group(1))
                elif line.strip():
                    in_table = False
        return names
    out = subprocess.run([args.tool, "-D", "--defined-only", args.library], check=True,
                         capture_output=True, text=True).stdout
    names = []
    for line in out.splitlines():
        m = re.match(r"^[0-9a-fA-F]+\s+[A-Za-z]\s+([^ @]+)", line)
        if m:
            names.append(m.group(1))
    return names


def variants(mangled):
    """Constructor and destructor names the compiler may emit for one declaration."""
    m = re.search(r"([CD])([0-2])(E|I)", mangled)
    if not m or not re.search(r"[0-9][A-Za-z_]+[CD][0-2]E", mangled):
        return {mangled}
    letter = m.group(1)
    return {mangled[:m.start(2)] + d + mangled[m.end(2):] for d in "012"} if letter == "D" \
        else {mangled[:m.start(2)] + d + mangled[m.end(2):] for d in "12"}


def main():
    args = parse_args()
    decls, classes = header_declarations(args)
    table = export_table(args)
    if not decls:
        print(f"{args.header}: no exported declarations found (is {args.api} the export macro?)")
        return 1
    present = set(table)
    missing = [d for d in decls if not (variants(d[0]) & present)]

    unexpected = []
    if args.table == "nm":
        allowed = set()
        for d in decls:
            allowed |= variants(d[0])
        patterns = []
        for c in classes:
            n = f"{len(c)}{c}"
            patterns.append(re.compile(rf"_ZT[VIS](N\d+\w+)?{n}"))  # vtable, typeinfo, its name
            patterns.append(re.compile(rf"_ZTVN\d+\w+{n}E|_ZT[IS]N\d+\w+{n}E"))
        patterns += [re.compile(a) for a in args.allow]
        if args.allow_file:
            with open(args.allow_file) as f:
                for line in f:
                    line = line.split("#", 1)[0].strip()
                    if line:
                        patterns.append(re.compile(line))
        for name in table:
            if name in allowed or re.match(r"^__(odr_asan|asan|ubsan|tsan|sanitizer)", name):
                continue
            if any(p.fullmatch(name) for p in patterns):
                continue
            unexpected.append(name)

    def_problems = []
    if args.def_file:
        listed = def_file_names(args.def_file)
        c_names = [d[0] for d in decls if not d[2] and not d[0].startswith("_Z")]
        for n in c_names:
            if n not in listed:
                def_problems.append(f"{n} is a C export of the header but not in {args.def_file}")
        for n in listed:
            if n not in c_names:
                def_problems.append(f"{n} is in {args.def_file} but not a C export of the header")
            elif n not in present:
                def_problems.append(f"{n} is in {args.def_file} but not in the export table")

    print(f"{args.library}: {len(decls)} declarations of {args.header}, {len(table)} exports")
    for p in def_problems:
        print("  " + p)
    for name, kind, cls in missing:
        print(f"  missing from the export table: {name} ({kind}{' of ' + cls if cls else ''})")
    for name in unexpected:
        print(f"  exported but not declared by the header: {name}")
    return 1 if missing or unexpected or def_problems else 0


if __name__ == "__main__":
    sys.exit(main())
