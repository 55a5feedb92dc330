// dbpftool: command-line access to the libraries of the suite.
//
// The command line is declared here, once, with CLI11: every command and option, its help text
// and the one-line usage shown when the command line is wrong. The commands themselves
// (cmd_*.cpp) receive parsed values. Conventions, the same for every command:
//   --help (-h)     help of the tool or of the command on stdout, exit 0
//   --version       the suite's version on stdout, exit 0
//   --              ends the options: what follows is positional even if it starts with "-"
//   a usage error   (unknown option, missing or extra argument) one line
//                   "usage: dbpftool COMMAND ARGS" on stderr, exit 2
#include "commands.h"
#include "file_io.h"

#include <CLI/CLI.hpp>

#include <cstdio>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#ifndef DBPF_VERSION
#error "DBPF_VERSION must be defined by the build"
#endif

namespace dbpftool {

int Fail(const std::string& what, const std::string& reason) {
    std::fprintf(stderr, "dbpftool: %s: %s\n", what.c_str(), reason.c_str());
    return 1;
}

namespace {

const char kToolUsage[] = "COMMAND [OPTIONS] [ARGS...]  (dbpftool --help lists the commands)";
const char kVersion[] = "dbpftool (DBPF suite) " DBPF_VERSION;

// Everything a command line can hold; each command reads its own part.
struct Parsed {
    std::string first, second; // the named positional arguments, in order
    Args rest;                 // a trailing list (files, tokens)
    Args extra;                // arguments beyond what the command takes
    std::optional<std::string> partial;
    bool best = false; // compress --best
#ifdef DBPF_TOOL_PATH
    PathOptions path;
#endif
#ifdef DBPF_TOOL_VERSION
    bool json = false;
#endif
#ifdef DBPF_TOOL_IMAGE
    ImageOptions image;
#endif
#ifdef DBPF_TOOL_PACKAGE
    PackageOptions package;
#endif
};

class Cli {
public:
    Cli()
        : app_("Command-line access to the DBPF suite: the package entry codec, MD5 digests, "
               "paths, tokens, version resources, images and whole package files.",
               "dbpftool") {
        app_.set_version_flag("--version", kVersion, "Print the suite's version and exit");
        app_.set_help_flag("-h,--help", "Print this help and exit");
        app_.require_subcommand(1); // also keeps a file named like a command a file
        app_.formatter(MakeFormatter());
        Declare();
        // CLI11 honours "--" in a command only while one of its positional arguments still
        // needs a value; otherwise the rest goes back to the tool and fails. A hidden last
        // positional that always wants one keeps "--" working anywhere; whatever lands in it is
        // one argument too many.
        for (auto& action : actions_) {
            action.first->add_option("EXTRA", p_.extra)->expected(1, -1)->group("");
        }
        std::string footer = "Usage of each command:\n";
        for (const auto& line : synopsis_) {
            footer += "  dbpftool " + line + "\n";
        }
        footer += "\nEvery command answers --help. A failure is one line on standard error naming "
                  "the file and the reason, with exit status 1; a usage error exits with 2. "
                  "Output files appear complete or not at all.";
        app_.footer(footer);
    }

    int Run(int argc, char** argv) {
        try {
            app_.parse(argc, argv);
        } catch (const CLI::CallForHelp&) {
            std::fputs(app_.help().c_str(), stdout);
            return 0;
        } catch (const CLI::CallForAllHelp&) {
            std::fputs(app_.help("", CLI::AppFormatMode::All).c_str(), stdout);
            return 0;
        } catch (const CLI::CallForVersion&) {
            std::printf("%s\n", kVersion);
            return 0;
        } catch (const CLI::ParseError&) {
            std::fprintf(stderr, "usage: dbpftool %s\n", UsageOfSelected().c_str());
            return 2;
        }
        CLI::App* leaf = Selected();
        if (!p_.extra.empty()) {
            std::fprintf(stderr, "usage: dbpftool %s\n", UsageOfSelected().c_str());
            return 2;
        }
        const auto run = actions_.find(leaf);
        if (run == actions_.end()) {
            std::fprintf(stderr, "usage: dbpftool %s\n", UsageOfSelected().c_str());
            return 2;
        }
        return run->second();
    }

private:
    static std::shared_ptr<CLI::Formatter> MakeFormatter() {
        auto f = std::make_shared<CLI::Formatter>();
        f->column_width(26);
        f->label("SUBCOMMAND", "COMMAND");
        f->label("SUBCOMMANDS", "COMMANDS");
        f->label("Positionals", "Arguments");
        return f;
    }

    // The deepest command that the parse reached (the tool itself when none).
    CLI::App* Selected() {
        CLI::App* app = &app_;
        for (;;) {
            const std::vector<CLI::App*> subs = app->get_subcommands();
            if (subs.empty()) {
                return app;
            }
            app = subs.front();
        }
    }

    std::string UsageOfSelected() {
        const auto it = usage_.find(Selected());
        return it != usage_.end() ? it->second : kToolUsage;
    }

    // A command: `name` under `parent`, its one-line usage (after "dbpftool "), what it does,
    // and what runs it.
    CLI::App* Command(CLI::App* parent, const std::string& name, const std::string& usage,
                      const std::string& summary, std::function<int()> run) {
        CLI::App* sub = parent->add_subcommand(name, summary);
        sub->formatter(MakeFormatter());
        sub->group("Commands");
        usage_[sub] = usage;
        synopsis_.push_back(usage);
        if (run) {
            actions_[sub] = std::move(run);
        }
        return sub;
    }

    // A group of commands (`package`): needs one of its commands.
    CLI::App* Group(const std::string& name, const std::string& usage, const std::string& summary) {
        CLI::App* sub = app_.add_subcommand(name, summary);
        sub->formatter(MakeFormatter());
        sub->group("Commands");
        sub->require_subcommand(1);
        usage_[sub] = usage;
        return sub;
    }

    void Declare();

    CLI::App app_;
    Parsed p_;
    std::map<CLI::App*, std::string> usage_;
    std::map<CLI::App*, std::function<int()>> actions_;
    std::vector<std::string> synopsis_;
};

// The named positional arguments of a command: one or two, each required.
void One(CLI::App* c, std::string& into, const char* name, const char* what) {
    c->add_option(name, into, what)->type_name("")->required();
}
void Two(CLI::App* c, Parsed& p, const char* name1, const char* what1, const char* name2,
         const char* what2) {
    c->add_option(name1, p.first, what1)->type_name("")->required();
    c->add_option(name2, p.second, what2)->type_name("")->required();
}

void Cli::Declare() {
    [[maybe_unused]] Parsed& p = p_;
    [[maybe_unused]] CLI::App* root = &app_;
#ifdef DBPF_TOOL_CODEC
    {
        CLI::App* c =
            Command(root, "compress", "compress [--best] IN OUT",
                    "Compress IN (14 to 16777215 bytes) into the package entry OUT", [&p] {
                        return RunCompress({p.first, p.second}, p.best);
                    });
        c->add_flag(
            "--best", p.best,
            "search harder for a smaller entry (slower; any reader of the format reads it)");
        Two(c, p, "IN", "file to compress", "OUT", "compressed entry to write");

        c = Command(root, "decompress", "decompress [--partial N] IN OUT",
                    "Expand the package entry IN into OUT", [&p] {
                        return RunDecompress({p.first, p.second}, p.partial);
                    });
        c->add_option("--partial", p.partial,
                      "expand only the first N bytes (the entry may be cut short)")
            ->type_name("N");
        Two(c, p, "IN", "compressed entry", "OUT", "file to write");

        c = Command(root, "info", "info IN",
                    "Show the header and the commands of the package entry IN",
                    [&p] { return RunInfo({p.first}); });
        One(c, p.first, "IN", "compressed entry");

        c = Command(root, "demo", "demo [DIR]",
                    "Compress, expand and verify every sample file in DIR (default: samples)",
                    [&p] { return RunDemo(p.rest); });
        c->add_option("DIR", p.rest, "directory of sample files")->type_name("")->expected(0, 1);
    }
#endif
#ifdef DBPF_TOOL_MD5
    {
        CLI::App* c = Command(root, "md5", "md5 FILE...",
                              "Print MD5 digests in the format of md5sum ('-' is standard input)",
                              [&p] { return RunMd5(p.rest); });
        c->add_option("FILE", p.rest, "files to digest")->type_name("")->required();
    }
#endif
#ifdef DBPF_TOOL_PATH
    {
        CLI::App* c = Command(
            root, "path", "path [--dir] [--args] [--json] [--stat [--base DIR]] (TEXT | --self)",
            "Split a path or command line (--self: this tool's own) into its parts; --stat adds "
            "what the file system says about it",
            [&p] { return RunPath(p.rest, p.path); });
        CLI::Option* dir = c->add_flag("--dir", p.path.dir, "split TEXT as a directory");
        CLI::Option* args =
            c->add_flag("--args", p.path.args, "split TEXT as a command line (path, arguments)");
        c->add_flag("--json", p.path.json, "print one JSON object");
        CLI::Option* stat =
            c->add_flag("--stat", p.path.stat, "add what the file system says about the path");
        c->add_option("--base", p.path.base, "with --stat: absolute and relative forms against DIR")
            ->type_name("DIR")
            ->needs(stat);
        CLI::Option* text =
            c->add_option("TEXT", p.rest, "path or command line")->type_name("")->expected(0, 1);
        CLI::Option* self = c->add_flag("--self", p.path.self, "split this tool's own command line")
                                ->excludes(text)
                                ->excludes(dir)
                                ->excludes(args);
        c->callback([text, self] {
            if (text->count() == 0 && self->count() == 0) {
                throw CLI::RequiredError("TEXT");
            }
        });
    }
#endif
#ifdef DBPF_TOOL_TOKENS
    {
        CLI::App* c = Command(root, "tokens", "tokens FILE TOKEN...",
                              "Report every token completed while scanning FILE (tokens take the "
                              "escapes \\n \\r \\t \\\\ \\xHH)",
                              [&p] {
                                  Args all{p.first};
                                  all.insert(all.end(), p.rest.begin(), p.rest.end());
                                  return RunTokens(all);
                              });
        One(c, p.first, "FILE", "file to scan");
        c->add_option("TOKEN", p.rest, "tokens, registered in this order")
            ->type_name("")
            ->required();
    }
#endif
#ifdef DBPF_TOOL_VERSION
    {
        CLI::App* c = Command(root, "version", "version [--json] FILE",
                              "Show the version resource of a module",
                              [&p] { return RunVersion({p.first}, p.json); });
        c->add_flag("--json", p.json, "print one JSON object");
        One(c, p.first, "FILE", "module (.exe, .dll)");
    }
#endif
#ifdef DBPF_TOOL_IMAGE
    {
        CLI::App* c =
            Command(root, "image", "image (FILE | MODULE --resource NAME|#ID TYPE|#ID) [--png OUT]",
                    "Load an image from a file or a module resource; print its size and format",
                    [&p] { return RunImage({p.first}, p.image); });
        c->add_option("--resource", p.image.resource,
                      "load resource NAME of TYPE from MODULE (#n: integer id)")
            ->type_name("NAME TYPE")
            ->expected(2);
        c->add_option("--png", p.image.png, "write the pixels as an RGBA PNG (POSIX builds)")
            ->type_name("OUT");
        One(c, p.first, "FILE", "image file, or module with --resource");
    }
#endif
#ifdef DBPF_TOOL_PACKAGE
    {
        PackageOptions& o = p.package;
        CLI::App* g = Group("package", "package (list|extract|verify|pack|recompress) ...",
                            "Read, check, unpack and write whole DBPF package files");
        auto jobs = [&o](CLI::App* c) {
            c->add_option("--jobs,-j", o.jobs, "threads to use (default: one per processor)")
                ->type_name("N")
                ->check(CLI::Range(1u, 256u));
        };
        auto quiet = [&o](CLI::App* c) {
            c->add_flag("--quiet,-q", o.quiet, "no progress on a terminal");
        };
        const auto both = [&p] { return Args{p.first, p.second}; };
        CLI::App* c = Command(g, "list", "package list [--json] PKG",
                              "One line per index record of PKG (--json: one array of objects)",
                              [&p] { return RunPackageList({p.first}, p.package); });
        c->add_flag("--json", o.json, "print one JSON array");
        quiet(c);
        One(c, p.first, "PKG", "package file");

        c = Command(g, "extract", "package extract [--jobs N] [--raw] [--quiet] PKG DIR",
                    "Write every entry of PKG into DIR as TTTTTTTT-GGGGGGGG-IIIIIIIIIIIIIIII.bin "
                    "(-RRRRRRRR before .bin with a resource id), expanded unless --raw",
                    [&p, both] { return RunPackageExtract(both(), p.package); });
        jobs(c);
        c->add_flag("--raw", o.raw, "write compressed entries as stored");
        quiet(c);
        Two(c, p, "PKG", "package file", "DIR", "output directory (made if absent)");

        c = Command(g, "verify", "package verify [--jobs N] [--md5] [--quiet] PKG",
                    "Check that every record of PKG lies inside the file, every compressed entry "
                    "expands to its stated size and the directory record agrees",
                    [&p] { return RunPackageVerify({p.first}, p.package); });
        jobs(c);
        c->add_flag("--md5", o.md5, "print the MD5 digest of each expanded entry");
        quiet(c);
        One(c, p.first, "PKG", "package file");

        c = Command(g, "pack",
                    "package pack [--format 1.1|2.0] [--jobs N] [--store|--best] [--quiet] DIR OUT",
                    "Make the package OUT from the files of DIR named as extract writes them",
                    [&p, both] { return RunPackagePack(both(), p.package); });
        c->add_option("--format", o.format, "package version (default 1.1)")
            ->type_name("1.1|2.0")
            ->check(CLI::IsMember({"1.1", "2.0"}));
        jobs(c);
        CLI::Option* store = c->add_flag("--store", o.store, "store every entry uncompressed");
        c->add_flag("--best", o.best, "compress with the smaller-output compressor (slower)")
            ->excludes(store);
        quiet(c);
        Two(c, p, "DIR", "directory of entry files", "OUT", "package file to write");

        c = Command(g, "recompress", "package recompress [--jobs N] [--quiet] IN OUT",
                    "Write IN again as OUT with every compressed entry compressed anew, verified "
                    "before OUT is written",
                    [&p, both] { return RunPackageRecompress(both(), p.package); });
        jobs(c);
        quiet(c);
        Two(c, p, "IN", "package file", "OUT", "package file to write");
    }
#endif
}

} // namespace
} // namespace dbpftool

int main(int argc, char** argv) {
    dbpftool::RemoveTemporaryFilesOnSignals();
    dbpftool::Cli cli;
    return cli.Run(argc, argv);
}
