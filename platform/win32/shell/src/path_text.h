// The text operations behind the POSIX stand-ins PathCanonicalizeA and PathRelativePathToA.
// Built on every target: the POSIX build wraps them under the Windows names, and the Windows
// tests hold them to the same expectations as the real functions.
#pragma once

namespace path_text {

// Removes the "." and ".." components of path into out (MAX_PATH bytes). Returns false, with
// out empty, for a null argument or a result of MAX_PATH characters or more.
bool Canonicalize(char* out, const char* path);

// The path from the directory (or, without isDir, the directory of the file) from to the
// path to, into out (MAX_PATH bytes). Returns false, with out empty, when the two share no
// root (other drive, other share, relative paths without a common first component), when
// either is empty, or when the result would not fit.
bool RelativePathTo(char* out, const char* from, bool fromIsDir, const char* to, bool toIsDir);

} // namespace path_text
