#include "tools/Pack.h"

#include "base/PendingOutput.h"
#include "base/Text.h"
#include "image/ImageFile.h"
#include "image/ImageTrailer.h"
#include "image/VersionResource.h"
#include "payload/EntryName.h"
#include "payload/NameEncoding.h"
#include "payload/SuiteContract.h"
#include "payload/ZipFormat.h"
#include "payload/ZipReader.h"
#include "payload/ZipWriter.h"
#include "tools/FileKind.h"
#include "tools/OutputCheck.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <map>
#include <ostream>
#include <set>

namespace fs = std::filesystem;

namespace pack {
namespace {

using base::BinaryFile;
using base::PathOf;
using base::Quoted;

// Paths and names are UTF-8 throughout, on Windows too (its own file names are UTF-16).
std::string Utf8Of(const fs::path& path) {
    const std::u8string text = path.generic_u8string();
    return std::string(text.begin(), text.end());
}

constexpr const char* kUsage =
    "usage: pack archive --stub SFX.EXE --from DIR --out PAYLOAD.EXE [--method METHOD] "
    "[--no-completion-flag] [--strict]\n"
    "       pack image   --program SETUP.EXE --payload PAYLOAD.EXE --label TEXT --out IMAGE.EXE\n"
    "                    [--version VERSION] [--publisher NAME]\n"
    "       pack inspect IMAGE.EXE\n"
    "       pack COMMAND --help\n";

constexpr const char* kOverview =
    "  archive  packs a suite folder into a payload: sfx.exe with a ZIP archive behind it\n"
    "  image    puts a payload and a label behind the setup program: the installer image\n"
    "  inspect  shows an installer image's layout, label and archive entries\n";
constexpr const char* kValueForms =
    "Options take their value as --option VALUE or --option=VALUE.\n";

// One command of the command line: its options, its usage and what it does.
struct Command {
    const char* name;
    std::vector<std::string> valueOptions, flagOptions;
    int positionals; // arguments that are not options
    const char* usage;
    const char* help;
    std::vector<std::string> optional; // value options that may be left out
    std::vector<std::string> oneOf;    // of these, at least one must be given
};

const Command kCommands[] = {
    {"archive",
     {"--stub", "--from", "--out", "--method"},
     {"--no-completion-flag", "--strict"},
     0,
     "usage: pack archive --stub SFX.EXE --from DIR --out PAYLOAD.EXE [--method METHOD] "
     "[--no-completion-flag] [--strict]\n",
     "Packs every file and empty folder under DIR, in a fixed order, behind the stub.\n"
     "  --stub SFX.EXE         the self-extracting stub, sfx.exe\n"
     "  --from DIR             the suite folder: the programs and component flags in its root\n"
     "  --out PAYLOAD.EXE      the payload to write\n"
     "  --method METHOD        deflate (the default; every ZIP tool reads it), lzma (smaller;\n"
     "                         7-Zip reads it, Info-ZIP's unzip does not) or store\n"
     "  --no-completion-flag   leaves out ZZZ/comp.flg, for test payloads only\n"
     "  --strict               takes warnings about the suite for errors\n",
     {},
     {}},
    {"image",
     {"--program", "--payload", "--label", "--out", "--version", "--publisher"},
     {},
     0,
     "usage: pack image --program SETUP.EXE --payload PAYLOAD.EXE --label TEXT --out IMAGE.EXE\n"
     "                  [--version VERSION] [--publisher NAME]\n",
     "Writes the installer image: program, padding, payload, label field, payload length.\n"
     "  --program SETUP.EXE    the setup program as built\n"
     "  --payload PAYLOAD.EXE  the payload that pack archive wrote\n"
     "  --label TEXT           shown in the window title: printable ASCII, at most 15 characters;\n"
     "                         v and the version when left out (one of the two is needed)\n"
     "  --out IMAGE.EXE        the image to write\n"
     "  --version VERSION      stamped into the program's version resource, e.g. 2.1.0: 1 to 4\n"
     "                         numbers from 0 to 65535 (the fixed file and product version,\n"
     "                         the ones left out 0) and the texts FileVersion and ProductVersion\n"
     "  --publisher NAME       stamped as CompanyName: the Publisher that Apps & Features shows\n"
     "                         (at most 63 characters; none when left out)\n",
     {"--label", "--version", "--publisher"},
     {"--label", "--version"}},
    {"inspect",
     {},
     {},
     1,
     "usage: pack inspect IMAGE.EXE\n",
     "Shows the layout, label, version, publisher and archive entries of an installer image;\n"
     "exits 0 only for one.\n",
     {},
     {}},
};

std::string Lower(std::string text) {
    for (char& c : text)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return text;
}

// Options of one command: "--name value" (or "--name=value") pairs and bare flags, each at
// most once, and the arguments that are not options.
struct Options {
    std::map<std::string, std::string> values;
    std::set<std::string> flags;
    std::vector<std::string> positionals;
};

// Optimal string alignment distance: insertions, deletions, substitutions and swaps of two
// neighbouring characters, each counting one.
std::size_t EditDistance(const std::string& a, const std::string& b) {
    std::vector<std::vector<std::size_t>> d(a.size() + 1, std::vector<std::size_t>(b.size() + 1));
    for (std::size_t i = 0; i <= a.size(); ++i)
        d[i][0] = i;
    for (std::size_t j = 0; j <= b.size(); ++j)
        d[0][j] = j;
    for (std::size_t i = 1; i <= a.size(); ++i) {
        for (std::size_t j = 1; j <= b.size(); ++j) {
            d[i][j] = std::min({d[i - 1][j] + 1, d[i][j - 1] + 1,
                                d[i - 1][j - 1] + (a[i - 1] == b[j - 1] ? 0 : 1)});
            if (i > 1 && j > 1 && a[i - 1] == b[j - 2] && a[i - 2] == b[j - 1])
                d[i][j] = std::min(d[i][j], d[i - 2][j - 2] + 1);
        }
    }
    return d[a.size()][b.size()];
}

// ": did you mean X?" for the known name closest to `name`, when it is a likely slip of the
// keyboard; else nothing.
std::string Suggestion(const std::string& name, const std::vector<std::string>& known) {
    const std::string* best = nullptr;
    std::size_t bestDistance = 3; // more edits than two look like another word
    for (const std::string& candidate : known) {
        const std::size_t distance = EditDistance(name, candidate);
        if (distance < bestDistance)
            best = &candidate, bestDistance = distance;
    }
    return best ? ": did you mean " + *best + "?" : std::string();
}

// The value options that may be left out and then take a value all the same.
const std::map<std::string, std::string> kDefaultValues = {{"--method", "deflate"}};

const std::map<std::string, zip::Compression> kMethods = {{"deflate", zip::Compression::Deflate},
                                                          {"lzma", zip::Compression::Lzma},
                                                          {"store", zip::Compression::Store}};

enum class Parsed { Ok, Help, Error };

Parsed ParseOptions(const Command& command, const std::vector<std::string>& args, Options& options,
                    std::string& error) {
    const auto has = [](const std::vector<std::string>& names, const std::string& name) {
        return std::find(names.begin(), names.end(), name) != names.end();
    };
    const std::string where = " for '" + std::string(command.name) + "'";
    for (std::size_t i = 1; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg == "--help" || arg == "-h")
            return Parsed::Help;
        if (arg.size() < 2 || arg[0] != '-') {
            if (static_cast<int>(options.positionals.size()) == command.positionals) {
                error = "unexpected argument " + Quoted(arg) + where;
                return Parsed::Error;
            }
            options.positionals.push_back(arg);
            continue;
        }
        const std::size_t equals = arg.find('=');
        const std::string name = arg.substr(0, equals);
        if (has(command.flagOptions, name)) {
            if (equals != std::string::npos) {
                error = name + " takes no value";
                return Parsed::Error;
            }
            options.flags.insert(name);
        } else if (has(command.valueOptions, name)) {
            if (equals == std::string::npos && i + 1 == args.size()) {
                error = name + " needs a value";
                return Parsed::Error;
            }
            const std::string value =
                equals == std::string::npos ? args[++i] : arg.substr(equals + 1);
            if (!options.values.emplace(name, value).second) {
                error = name + " given twice";
                return Parsed::Error;
            }
        } else {
            std::vector<std::string> known = command.valueOptions;
            known.insert(known.end(), command.flagOptions.begin(), command.flagOptions.end());
            known.push_back("--help");
            error = "unknown option " + Quoted(arg) + where + Suggestion(name, known);
            return Parsed::Error;
        }
    }
    for (const std::string& name : command.valueOptions) {
        if (const auto fallback = kDefaultValues.find(name); fallback != kDefaultValues.end())
            options.values.emplace(name, fallback->second);
        if (!options.values.count(name) && !has(command.optional, name)) {
            error = "'" + std::string(command.name) + "' needs " + name;
            return Parsed::Error;
        }
    }
    if (!command.oneOf.empty() &&
        std::none_of(command.oneOf.begin(), command.oneOf.end(),
                     [&options](const std::string& name) { return options.values.count(name); })) {
        error = "'" + std::string(command.name) + "' needs " + command.oneOf[0];
        for (std::size_t i = 1; i < command.oneOf.size(); ++i)
            error += (i + 1 == command.oneOf.size() ? " or " : ", ") + command.oneOf[i];
        return Parsed::Error;
    }
    if (static_cast<int>(options.positionals.size()) != command.positionals) {
        error = "'" + std::string(command.name) + "' needs exactly one image file";
        return Parsed::Error;
    }
    return Parsed::Ok;
}

int Fail(std::ostream& err, const std::string& error, int code = 1) {
    err << "pack: " << error << "\n";
    return code;
}

// A mistake in what the command line asks for, found beyond its syntax: one line, no usage.
int Refuse(std::ostream& err, const std::string& error) {
    return Fail(err, error, 2);
}

// The name an output is written under until it is complete (base::PendingOutput).
constexpr const char* kPendingSuffix = ".part";

std::string Written(const std::string& path, std::string_view what) {
    std::error_code code;
    const std::uintmax_t size = std::filesystem::file_size(PathOf(path), code);
    return "pack: wrote " + path + ": " + (code ? std::string("?") : std::to_string(size)) +
           " bytes, " + std::string(what) + "\n";
}

// "pellisar.flg, torvane.flg, dromlet.flg": the flags in the rows' order.
std::string ComponentFlagList() {
    std::string list;
    for (const suite::Component& component : suite::kComponents)
        list += (list.empty() ? "" : ", ") + std::string(component.flagFile);
    return list;
}

// What the setup would make of the suite's root: each flag needs its program, each program its
// flag (names compared without regard to case, as Windows compares them).
std::vector<std::string> SuiteWarnings(const std::vector<std::string>& names) {
    std::map<std::string, std::string> root; // lower case -> as written
    for (const std::string& name : names)
        if (name.find('/') == std::string::npos)
            root.emplace(Lower(name), name);
    const auto find = [&root](const char* name) {
        const auto at = root.find(Lower(name));
        return at == root.end() ? nullptr : &at->second;
    };
    if (std::none_of(suite::kComponents.begin(), suite::kComponents.end(),
                     [&find](const suite::Component& c) { return find(c.flagFile); }))
        return {"the folder's root holds none of the component flags " + ComponentFlagList() +
                ": the setup will create no shortcuts and report \"No components installed!\""};
    std::vector<std::string> warnings;
    for (const suite::Component& component : suite::kComponents) {
        const std::string* flag = find(component.flagFile);
        const std::string* program = find(component.executable);
        if (flag && !program)
            warnings.push_back(Quoted(*flag) + " has no " + Quoted(component.executable) +
                               " beside it: the setup would make shortcuts to a program that is "
                               "not there");
        if (program && !flag)
            warnings.push_back(Quoted(*program) + " has no " + Quoted(component.flagFile) +
                               " beside it: the setup would not count " + component.displayName +
                               " as installed and make no shortcut to it");
    }
    return warnings;
}

int WriteArchive(const Options& options, std::ostream& out, std::ostream& err) {
    const std::string& folder = options.values.at("--from");
    const std::string& stub = options.values.at("--stub");
    const std::string& outPath = options.values.at("--out");
    if (std::string refusal = CheckOutput(outPath, {{"--stub", stub}}, folder, kPendingSuffix);
        !refusal.empty())
        return Refuse(err, refusal);
    const bool withFlag = !options.flags.count("--no-completion-flag");
    const bool strict = options.flags.count("--strict");
    const auto method = kMethods.find(options.values.at("--method"));
    if (method == kMethods.end())
        return Fail(err, "unknown --method " + Quoted(options.values.at("--method")) +
                             ": deflate, lzma or store");
    const zip::Compression compression = method->second;
    std::string error, unused;
    if (error = CheckInput(InputRole::Stub, stub, unused); !error.empty())
        return Fail(err, error);
    std::vector<std::string> names;
    std::string flagPath;
    if (!CollectFiles(folder, names, flagPath, error))
        return Fail(err, error);
    const std::vector<std::string> warnings = SuiteWarnings(names);
    for (const std::string& warning : warnings)
        err << (strict ? "pack: " : "pack: warning: ") << warning << "\n";
    if (strict && !warnings.empty())
        return 1;
    base::PendingOutput output(outPath);
    zip::Writer writer;
    bool written = writer.Create(output.path()) && writer.AppendStub(stub);
    for (std::size_t i = 0; written && i < names.size(); ++i)
        written =
            zip::IsFolderName(names[i])
                ? writer.AddFolder(names[i])
                : writer.AddFile(names[i], Utf8Of(PathOf(folder) / PathOf(names[i])), compression);
    if (written && withFlag)
        written = flagPath.empty()
                      ? writer.AddBytes(suite::kCompletionFlagEntry, suite::kCompletionFlagContent,
                                        compression)
                      : writer.AddFile(suite::kCompletionFlagEntry, flagPath, compression);
    if (!written || !writer.Finish())
        return Fail(err, writer.Error());
    if (!output.Commit(error))
        return Fail(err, error);
    const std::size_t entries = names.size() + (withFlag ? 1 : 0);
    out << Written(outPath, std::to_string(entries) + (entries == 1 ? " entry" : " entries"));
    return 0;
}

// What `pack image` stamps into the program's version resource, checked before anything is
// written: the patches for the image's copy of the program, none when nothing is to be stamped.
int VersionPatches(const Options& options, const std::string& program,
                   std::vector<image::Patch>& patches, std::ostream& err) {
    const auto value = [&options](const char* name) {
        const auto found = options.values.find(name);
        return found == options.values.end() ? std::string() : found->second;
    };
    const std::string version = value("--version"), publisher = value("--publisher");
    if (version.empty() && publisher.empty())
        return 0;
    BinaryFile file;
    image::ProgramHeaders headers;
    const std::int64_t length = file.Open(program, "rb") ? file.Length() : -1;
    if (length < 0 || !image::ReadProgramHeaders(file, 0, length, headers))
        return Fail(err, "cannot read program " + Quoted(program));
    if (headers.certificateTable.size > 0)
        return Fail(err, "program " + Quoted(program) +
                             " is signed, and stamping its version would break the signature: "
                             "give the program unsigned, and sign the image that pack writes");
    const std::optional<image::VersionResource> resource = image::ReadVersionResource(file, length);
    if (!resource)
        return Fail(err, "program " + Quoted(program) + " has no version resource to stamp");
    std::string error;
    const int code =
        image::StampPatches(*resource, program, version,
                            image::ParseVersion(version).value_or(std::array<std::uint16_t, 4>{}),
                            publisher, patches, error);
    return code == 0 ? 0 : Fail(err, error, code);
}

int WriteImage(const Options& options, std::ostream& out, std::ostream& err) {
    const std::string& program = options.values.at("--program");
    const std::string& payload = options.values.at("--payload");
    const std::string& outPath = options.values.at("--out");
    if (std::string refusal = CheckOutput(outPath, {{"--program", program}, {"--payload", payload}},
                                          "", kPendingSuffix);
        !refusal.empty())
        return Refuse(err, refusal);
    const auto version = options.values.find("--version");
    if (version != options.values.end() && !image::ParseVersion(version->second))
        return Refuse(err, "--version " + Quoted(version->second) +
                               " is not a version: give 1 to 4 numbers from 0 to 65535 "
                               "separated by dots, e.g. 2.1.0");
    if (const auto publisher = options.values.find("--publisher");
        publisher != options.values.end())
        if (std::string why = image::CheckPublisher(publisher->second); !why.empty())
            return Refuse(err, why);
    const auto labelOption = options.values.find("--label");
    const std::string label =
        labelOption != options.values.end() ? labelOption->second : "v" + version->second;
    std::string error = image::CheckLabel(label), warning;
    if (!error.empty() && labelOption == options.values.end())
        return Refuse(err, "--version " + Quoted(version->second) + " makes the label " +
                               Quoted(label) + ", longer than 15 characters: give a --label");
    if (error.empty())
        error = CheckInput(InputRole::Program, program, warning);
    if (error.empty())
        error = CheckInput(InputRole::Payload, payload, warning);
    if (!error.empty())
        return Fail(err, error);
    std::vector<image::Patch> patches;
    if (const int code = VersionPatches(options, program, patches, err); code != 0)
        return code;
    base::PendingOutput output(outPath);
    if (!image::WriteImageParts(program, payload, label, output.path(), error) ||
        (!patches.empty() && !image::ApplyPatches(output.path(), patches, error)) ||
        !output.Commit(error))
        return Fail(err, error);
    if (!warning.empty())
        err << "pack: warning: " << warning << "\n";
    std::string what = "label " + label;
    if (version != options.values.end())
        what += ", version " + version->second;
    if (const auto publisher = options.values.find("--publisher");
        publisher != options.values.end())
        what += ", publisher " + Quoted(publisher->second);
    out << Written(outPath, what);
    return 0;
}

std::string Format(const char* format, auto... values) {
    char line[512];
    std::snprintf(line, sizeof line, format, values...);
    return line;
}

const char* MethodName(std::uint16_t method) {
    switch (method) {
    case zip::format::kMethodStored:
        return "stored";
    case zip::format::kMethodDeflated:
        return "deflate";
    case zip::format::kMethodLzma:
        return "lzma";
    default:
        return "other";
    }
}

// The version and publisher lines of `pack inspect`: what the version resource of the program,
// the first `programLength` bytes of the image, says.
std::string VersionLines(const std::string& path, std::int64_t programLength) {
    BinaryFile file;
    const std::optional<image::VersionResource> resource =
        file.Open(path, "rb") ? image::ReadVersionResource(file, programLength) : std::nullopt;
    if (!resource)
        return "version:        none\npublisher:      none\n";
    const auto dotted = [](const std::uint32_t(&parts)[2]) {
        return Format("%u.%u.%u.%u", parts[0] >> 16, parts[0] & 0xFFFF, parts[1] >> 16,
                      parts[1] & 0xFFFF);
    };
    const auto text = [&resource](const char16_t* key) {
        const image::VersionResource::Text* found = resource->Find(key);
        return found ? image::Utf8OfUtf16(found->value) : std::string();
    };
    const std::string fileText = text(image::kFileVersionKey),
                      productText = text(image::kProductVersionKey);
    const std::string company = text(image::kCompanyNameKey);
    return "version:        \"" + fileText + "\"" +
           (productText == fileText ? "" : ", product \"" + productText + "\"") +
           " (fixed file version " + dotted(resource->fileVersion) + ", product version " +
           dotted(resource->productVersion) + ")\n" +
           "publisher:      " + (company.empty() ? "none" : "\"" + company + "\"") + "\n";
}

int Inspect(const std::string& path, std::ostream& out, std::ostream& err) {
    FileFacts facts;
    std::string error;
    if (!Examine(path, facts, error))
        return Fail(err, error);
    if (facts.kind == FileKind::Payload)
        return Fail(err, Quoted(path) + " is a payload, not an image: `pack image` puts it "
                                        "behind the setup program");
    if (facts.kind != FileKind::Image)
        return Fail(err, Quoted(path) + " is not an installer image: it is " + Describe(facts));
    const image::ImageLayout& layout = facts.layout;
    out << "image:          " << path << "\n"
        << "image length:   " << layout.fileLength << "\n";
    if (layout.certificateTable.size > 0)
        out << "signature:      certificate table of " << layout.certificateTable.size
            << " bytes at offset " << layout.certificateTable.offset << "\n";
    else
        out << "signature:      none\n";
    out << "label:          \"" << layout.label << "\"\n"
        << VersionLines(path, layout.payloadOffset) << "payload offset: " << layout.payloadOffset
        << "\n"
        << "payload length: " << layout.payloadLength << "\n"
        << "program length: " << layout.payloadOffset
        << " (the program and the padding in front of the payload)\n"
        << "trailer:        consistent (program, payload and trailer fill the image"
        << (layout.certificateTable.size > 0 ? " in front of the certificate table)\n" : ")\n");
    zip::Reader reader;
    if (!reader.Open(path, layout.payloadOffset, layout.payloadOffset + layout.payloadLength)) {
        out << "archive:        none (" << reader.Error() << ")\n";
        return Fail(err, "the payload of " + Quoted(path) + " holds no ZIP archive");
    }
    const auto& entries = reader.Entries();
    out << "archive:        ZIP at payload offset " << reader.ArchiveOffset() << ", "
        << entries.size() << (entries.size() == 1 ? " entry" : " entries") << "\n";
    out << Format("  %-8s %10s %10s %-8s  %s\n", "method", "size", "packed", "crc32", "name");
    for (const zip::Entry& entry : entries)
        out << Format("  %-8s %10lu %10lu %08lx  %s\n", MethodName(entry.method),
                      static_cast<unsigned long>(entry.size),
                      static_cast<unsigned long>(entry.compressedSize),
                      static_cast<unsigned long>(entry.crc32), entry.name.c_str());
    return 0;
}

} // namespace

bool CollectFiles(const std::string& folder, std::vector<std::string>& names,
                  std::string& completionFlagPath, std::string& error) {
    std::error_code code;
    const fs::path root = PathOf(folder);
    if (!fs::is_directory(root, code)) {
        error = "cannot read folder " + Quoted(folder) + ": " +
                (code ? code.message() : std::string("not a folder"));
        return false;
    }
    names.clear();
    completionFlagPath.clear();
    fs::recursive_directory_iterator walk(root, code), end;
    for (; !code && walk != end; walk.increment(code)) {
        const fs::path& path = walk->path();
        std::string name = Utf8Of(path.lexically_relative(root));
        // The archive stores every name beyond ASCII as UTF-8 (general purpose bit 11).
        if (!zip::IsValidUtf8(name)) {
            error = Quoted(Utf8Of(path)) +
                    " has a name that is not valid UTF-8, the encoding a ZIP archive stores names "
                    "in: rename it";
            return false;
        }
        if (walk->is_directory(code)) {
            if (walk->is_symlink(code)) {
                error = Quoted(Utf8Of(path)) + " is a link to a folder, which pack does not follow";
                return false;
            }
            // A folder with something in it is made for its entries; an empty one needs its own.
            if (!fs::is_empty(path, code))
                continue;
            name += '/';
        } else if (!walk->is_regular_file(code)) {
            error = Quoted(Utf8Of(path)) + " is not a regular file";
            return false;
        }
        if (name.find('\\') != std::string::npos) {
            error = Quoted(name) + " holds a backslash, which Windows reads as a folder separator";
            return false;
        }
        if (std::string why = zip::UnsafeNameReason(name); !why.empty()) {
            error = Quoted(name) + " cannot be unpacked safely on Windows: " + why;
            return false;
        }
        if (zip::IsCompletionFlagName(name)) {
            if (!completionFlagPath.empty()) {
                error = folder + " holds the completion flag twice, in different case";
                return false;
            }
            completionFlagPath = Utf8Of(path);
            continue;
        }
        names.push_back(name);
    }
    if (code) {
        error = "cannot read folder " + Quoted(folder) + ": " + code.message();
        return false;
    }
    std::sort(names.begin(), names.end());
    // Windows file names ignore case, in every script: such entries would overwrite one another.
    if (const auto clash = zip::FindCaseClash(names)) {
        error = Quoted(clash->second) + " and " + Quoted(clash->first) + " differ only in case";
        return false;
    }
    return true;
}

int Run(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    if (args.empty()) {
        err << kUsage;
        return 2;
    }
    if (args[0] == "--help" || args[0] == "-h") {
        out << kUsage << kOverview << kValueForms;
        return 0;
    }
    const auto command = std::find_if(std::begin(kCommands), std::end(kCommands),
                                      [&args](const Command& c) { return args[0] == c.name; });
    if (command == std::end(kCommands)) {
        err << "pack: unknown command " << Quoted(args[0])
            << Suggestion(args[0], {"archive", "image", "inspect"}) << "\n"
            << kUsage;
        return 2;
    }
    Options options;
    std::string error;
    switch (ParseOptions(*command, args, options, error)) {
    case Parsed::Help:
        out << command->usage << command->help
            << (command->valueOptions.empty() ? "" : kValueForms);
        return 0;
    case Parsed::Error:
        err << "pack: " << error << "\n" << command->usage;
        return 2;
    case Parsed::Ok:
        break;
    }
    if (command->name == std::string("archive"))
        return WriteArchive(options, out, err);
    if (command->name == std::string("image"))
        return WriteImage(options, out, err);
    return Inspect(options.positionals[0], out, err);
}

} // namespace pack
