// The text operations behind the POSIX stand-ins PathCanonicalizeA and PathRelativePathToA.
// Built on every target: the POSIX build wraps them under the Windows names, and the Windows
// tests compare them with the real functions (see path_text.cpp for the rules).
#pragma once

namespace path_text {

// The shell's canonical form of path ("." and ".." components applied by its rules) into out
// (MAX_PATH bytes). Returns false, with out empty, for a null argument or a path of MAX_PATH
// characters or more.
bool Canonicalize(char* out, const char* path);

// The path from the directory from (or, without fromIsDir, from the directory of the file
// from) to the path to, into out (MAX_PATH bytes). Returns false, with out empty, when the two
// share no common prefix (other drive, other server, relative texts without a common first
// component), when either is null or MAX_PATH characters or longer, or when the result would
// not fit.
bool RelativePathTo(char* out, const char* from, bool fromIsDir, const char* to, bool toIsDir);

} // namespace path_text
