// bench_tokens: throughput of Talmoor's CParser::ParseFile beside a plain getc loop.
//
//   bench_tokens [--quick] [--keep] [DIR]
//
// Writes a 64 MiB text file into DIR (default: the current directory): English-looking prose
// from a vocabulary of a few hundred words, common words far more often than rare ones, with
// punctuation and CR LF line ends. It then scans the file with ParseFile holding 1, 8 and 64
// registered tokens of two kinds:
//
//   - tokens that never start ("zq00xx", "zq01xx", ...: no byte of the text begins one), the
//     cheapest case for the recogniser;
//   - words taken from the text itself (the most frequent ones that do not contain each other),
//     so that tokens start and advance on most bytes and complete often (every 10 bytes or so);
//   - the rarest words of the text, which start and advance as often but complete far less
//     (every 170 bytes or so), so that the figure is less about the handler calls;
//
// and reads it with a getc loop that only sums the bytes: the baseline of byte-at-a-time reading
// through the C runtime's buffered stream. The runs take turns and each figure is the best of
// its runs (the least disturbed by other work on the machine), in MB/s (10^6 bytes of file per
// second of the thread's CPU time), with its ratio to the getc loop.
//
// The file is removed at the end; with --keep it stays, and the 64 frequent and the 64 rare
// words go to DIR/bench_tokens_words.txt and DIR/bench_tokens_rare_words.txt (one per line), for
// timing `dbpftool tokens` on the same text.
#include <talmoor.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include <time.h>

namespace {

long g_completions = 0;
void Count(CStdioFile*) {
    ++g_completions;
}

volatile unsigned g_sink;

// Roughly by frequency in English prose, most frequent first.
const char* const kVocabulary[] = {
    "the",     "of",         "and",        "to",         "a",           "in",        "is",
    "that",    "for",        "it",         "as",         "was",         "with",      "be",
    "by",      "on",         "not",        "he",         "this",        "are",       "or",
    "his",     "from",       "at",         "which",      "but",         "have",      "an",
    "had",     "they",       "you",        "were",       "their",       "one",       "all",
    "we",      "can",        "her",        "has",        "there",       "been",      "if",
    "more",    "when",       "will",       "would",      "who",         "so",        "no",
    "file",    "package",    "entry",      "index",      "resource",    "group",     "instance",
    "type",    "value",      "compressed", "table",      "header",      "offset",    "length",
    "version", "record",     "block",      "editor",     "game",        "object",    "string",
    "number",  "data",       "size",       "name",       "list",        "first",     "last",
    "other",   "new",        "some",       "time",       "could",       "them",      "than",
    "only",    "into",       "then",       "its",        "also",        "two",       "may",
    "these",   "any",        "most",       "after",      "where",       "over",      "such",
    "made",    "like",       "through",    "back",       "much",        "before",    "must",
    "well",    "between",    "each",       "under",      "never",       "same",      "another",
    "while",   "place",      "both",       "found",      "without",     "small",     "large",
    "around",  "during",     "given",      "known",      "general",     "system",    "program",
    "order",   "point",      "state",      "world",      "still",       "every",     "house",
    "light",   "water",      "story",      "night",      "money",       "month",     "right",
    "study",   "book",       "word",       "business",   "issue",       "side",      "kind",
    "head",    "service",    "friend",     "power",      "hour",        "line",      "end",
    "member",  "law",        "car",        "city",       "community",   "president", "team",
    "minute",  "idea",       "kid",        "body",       "information", "nothing",   "ago",
    "lead",    "social",     "understand", "whether",    "watch",       "together",  "follow",
    "parent",  "stop",       "face",       "anything",   "create",      "public",    "already",
    "speak",   "others",     "read",       "level",      "allow",       "add",       "office",
    "spend",   "door",       "health",     "person",     "art",         "sure",      "war",
    "history", "party",      "within",     "grow",       "result",      "open",      "change",
    "morning", "walk",       "reason",     "low",        "win",         "research",  "girl",
    "guy",     "early",      "food",       "moment",     "himself",     "air",       "teacher",
    "force",   "offer",      "enough",     "education",  "across",      "although",  "remember",
    "foot",    "second",     "boy",        "maybe",      "toward",      "able",      "age",
    "policy",  "everything", "love",       "process",    "music",       "including", "consider",
    "appear",  "actually",   "buy",        "probably",   "human",       "wait",      "serve",
    "market",  "die",        "send",       "expect",     "home",        "sense",     "build",
    "stay",    "fall",       "nation",     "plan",       "cut",         "college",   "interest",
    "death",   "course",     "someone",    "experience", "behind",      "reach",     "local",
    "kill",    "six",        "remain",     "effect",     "yeah",        "suggest",   "class",
    "control", "raise",      "care",       "perhaps",    "little",      "late",      "hard",
    "field",   "else",       "pass",       "former",     "sell",        "major",     "sometimes",
};
constexpr std::size_t kVocabularySize = sizeof kVocabulary / sizeof kVocabulary[0];

struct Random {
    std::uint32_t x = 2463534242u;
    std::uint32_t Next() {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        return x;
    }
};

// A word index with weight 1 / (rank + 8): a flattened Zipf law, so that the common words are
// everywhere and the rare ones still come up.
class WordPicker {
public:
    WordPicker() {
        double total = 0;
        for (std::size_t i = 0; i < kVocabularySize; ++i) {
            total += 1.0 / static_cast<double>(i + 8);
            m_cumulative.push_back(total);
        }
        for (double& c : m_cumulative)
            c /= total;
    }
    std::size_t Pick(Random& r) const {
        const double u = (r.Next() >> 8) / 16777216.0;
        std::size_t lo = 0;
        std::size_t hi = m_cumulative.size() - 1;
        while (lo < hi) {
            const std::size_t mid = (lo + hi) / 2;
            if (m_cumulative[mid] < u)
                lo = mid + 1;
            else
                hi = mid;
        }
        return lo;
    }

private:
    std::vector<double> m_cumulative;
};

bool WriteTextFile(const std::string& path, std::size_t size) {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (f == nullptr)
        return false;
    Random r;
    const WordPicker picker;
    std::string line;
    std::size_t written = 0;
    bool sentenceStart = true;
    while (written < size) {
        line.clear();
        while (line.size() < 68) {
            std::string word = kVocabulary[picker.Pick(r)];
            if (sentenceStart)
                word[0] = static_cast<char>(word[0] - 'a' + 'A');
            sentenceStart = false;
            line += word;
            const std::uint32_t p = r.Next() % 32;
            if (p == 0) {
                line += '.';
                sentenceStart = true;
            } else if (p == 1) {
                line += ',';
            }
            line += ' ';
        }
        line.back() = '\r';
        line += '\n';
        const std::size_t n = line.size() < size - written ? line.size() : size - written;
        if (std::fwrite(line.data(), 1, n, f) != n) {
            std::fclose(f);
            return false;
        }
        written += n;
    }
    return std::fclose(f) == 0;
}

// The 64 tokens that never start: "zq00xx" to "zq63xx".
std::vector<std::string> NeverStartingTokens() {
    std::vector<std::string> tokens;
    for (int i = 0; i < 64; ++i) {
        char text[8];
        std::snprintf(text, sizeof text, "zq%02dxx", i);
        tokens.push_back(text);
    }
    return tokens;
}

// The 64 most frequent (or rarest) words of the text, three letters or more, that do not
// contain each other: what the recogniser accepts, in that order of frequency.
std::vector<std::string> WordsOfTheText(bool rarest) {
    std::vector<std::string> words;
    CParser probe;
    for (std::size_t k = 0; k < kVocabularySize && words.size() < 64; ++k) {
        const std::size_t i = rarest ? kVocabularySize - 1 - k : k;
        if (std::strlen(kVocabulary[i]) >= 3 &&
            probe.Add(static_cast<int>(i + 1), kVocabulary[i], nullptr) == 1)
            words.push_back(kVocabulary[i]);
    }
    return words;
}

bool WriteWords(const std::string& path, const std::vector<std::string>& words) {
    std::FILE* f = std::fopen(path.c_str(), "w");
    if (f == nullptr)
        return false;
    for (const std::string& w : words)
        std::fprintf(f, "%s\n", w.c_str());
    return std::fclose(f) == 0;
}

// Thread CPU time: the machine is shared, and time spent waiting for it is not the reader's.
double Now() {
    timespec ts;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}
double Seconds(double start) {
    return Now() - start;
}

double GetcMBps(const std::string& path, std::size_t size) {
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (f == nullptr)
        return 0;
    const double start = Now();
    unsigned sum = 0;
    int c;
    while ((c = std::getc(f)) != EOF)
        sum += static_cast<unsigned>(c);
    const double s = Seconds(start);
    std::fclose(f);
    g_sink = g_sink + sum;
    return static_cast<double>(size) / s / 1e6;
}

double ParseMBps(CParser& parser, const std::string& path, std::size_t size) {
    const double start = Now();
    if (parser.ParseFile(path.c_str()) != 1)
        return 0;
    return static_cast<double>(size) / Seconds(start) / 1e6;
}

struct Case {
    std::string name;
    CParser parser;
    double best = 0;
    long found = 0;
};

} // namespace

int main(int argc, char** argv) {
    bool quick = false;
    bool keep = false;
    std::string dir = ".";
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--quick") == 0)
            quick = true;
        else if (std::strcmp(argv[i], "--keep") == 0)
            keep = true;
        else
            dir = argv[i];
    }
    const std::size_t size = std::size_t{64} << 20;
    const std::string path = dir + "/bench_tokens_input.txt";
    if (!WriteTextFile(path, size)) {
        std::fprintf(stderr, "bench_tokens: cannot write %s\n", path.c_str());
        return 1;
    }

    const std::vector<std::string> kinds[3] = {NeverStartingTokens(), WordsOfTheText(false),
                                               WordsOfTheText(true)};
    const char* const kindNames[3] = {"never starting", "words of the text", "rare words"};
    const int kCounts[] = {1, 8, 64};
    Case cases[9];
    for (int k = 0; k < 3; ++k) {
        for (int c = 0; c < 3; ++c) {
            Case& cs = cases[k * 3 + c];
            cs.name = std::string(kindNames[k]) + ", " + std::to_string(kCounts[c]);
            for (int i = 0; i < kCounts[c]; ++i) {
                if (cs.parser.Add(i + 1, kinds[k][static_cast<std::size_t>(i)].c_str(), Count) !=
                    1) {
                    std::fprintf(stderr, "bench_tokens: token %s refused\n",
                                 kinds[k][static_cast<std::size_t>(i)].c_str());
                    return 1;
                }
            }
        }
    }
    if (keep && (!WriteWords(dir + "/bench_tokens_words.txt", kinds[1]) ||
                 !WriteWords(dir + "/bench_tokens_rare_words.txt", kinds[2]))) {
        std::fprintf(stderr, "bench_tokens: cannot write the word lists into %s\n", dir.c_str());
        return 1;
    }

    const int rounds = quick ? 1 : 5;
    double best_getc = 0;
    for (int r = 0; r < rounds; ++r) {
        const double g = GetcMBps(path, size);
        best_getc = g > best_getc ? g : best_getc;
        for (Case& cs : cases) {
            g_completions = 0;
            const double m = ParseMBps(cs.parser, path, size);
            cs.best = m > cs.best ? m : cs.best;
            cs.found = g_completions;
        }
    }
    if (!keep)
        std::remove(path.c_str());

    std::printf("bench_tokens: 64 MiB text file, best of %d run(s), MB/s\n", rounds);
    std::printf("%-36s %10s %10s %12s\n", "reader", "MB/s", "vs getc", "completions");
    std::printf("%-36s %10.1f %10.2f %12s\n", "getc loop (baseline)", best_getc, 1.0, "-");
    for (const Case& cs : cases) {
        const std::string name = "ParseFile, " + cs.name;
        std::printf("%-36s %10.1f %10.2f %12ld\n", name.c_str(), cs.best,
                    best_getc > 0 ? cs.best / best_getc : 0.0, cs.found);
    }
    return 0;
}
