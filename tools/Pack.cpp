#include "tools/Pack.h"

#include "base/PendingOutput.h"
#include "base/Text.h"
#include "image/ImageFile.h"
#include "image/ImageTrailer.h"
#include "payload/EntryName.h"
#include "payload/ZipFormat.h"
#include "payload/ZipReader.h"
#include "payload/ZipWriter.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <map>
#include <ostream>
#include <set>

namespace fs = std::filesystem;

namespace pack {
namespace {

using base::Quoted;

constexpr const char* kUsage =
    "usage: pack archive --stub SFX.EXE --from DIR --out PAYLOAD.EXE [--no-completion-flag]\n"
    "       pack image   --program SETUP.EXE --payload PAYLOAD.EXE --label TEXT --out IMAGE.EXE\n"
    "       pack inspect IMAGE.EXE\n";

std::string Lower(std::string text) {
    for (char& c : text)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return text;
}

// Options of one command: "--name value" pairs and bare flags, each at most once.
struct Options {
    std::map<std::string, std::string> values;
    std::set<std::string> flags;
};

bool ParseOptions(const std::vector<std::string>& args, const std::set<std::string>& valueNames,
                  const std::set<std::string>& flagNames, Options& options, std::string& error) {
    for (std::size_t i = 1; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (flagNames.count(arg)) {
            options.flags.insert(arg);
        } else if (valueNames.count(arg)) {
            if (i + 1 == args.size()) {
                error = arg + " needs a value";
                return false;
            }
            if (!options.values.emplace(arg, args[++i]).second) {
                error = arg + " given twice";
                return false;
            }
        } else {
            error = "unknown argument " + Quoted(arg) + " for '" + args[0] + "'";
            return false;
        }
    }
    for (const std::string& name : valueNames) {
        if (!options.values.count(name)) {
            error = "'" + args[0] + "' needs " + name;
            return false;
        }
    }
    return true;
}

bool WriteArchive(const Options& options, std::string& error) {
    const std::string& folder = options.values.at("--from");
    const bool withFlag = !options.flags.count("--no-completion-flag");
    std::vector<std::string> names;
    std::string flagPath;
    if (!CollectFiles(folder, names, flagPath, error))
        return false;
    base::PendingOutput output(options.values.at("--out"));
    zip::Writer writer;
    bool written = writer.Create(output.path()) && writer.AppendStub(options.values.at("--stub"));
    for (std::size_t i = 0; written && i < names.size(); ++i)
        written = writer.AddFile(names[i], (fs::path(folder) / names[i]).string());
    if (written && withFlag)
        written = flagPath.empty() ? writer.AddBytes(kCompletionFlagName, kCompletionFlagContent)
                                   : writer.AddFile(kCompletionFlagName, flagPath);
    if (!written || !writer.Finish()) {
        error = writer.Error();
        return false;
    }
    return output.Commit(error);
}

bool WriteImage(const Options& options, std::string& error) {
    return image::WriteImage(options.values.at("--program"), options.values.at("--payload"),
                             options.values.at("--label"), options.values.at("--out"), error);
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
    default:
        return "other";
    }
}

int Inspect(const std::string& path, std::ostream& out, std::ostream& err) {
    image::ImageLayout layout;
    std::string error;
    if (!image::ReadImageLayout(path, layout, error)) {
        err << "pack: " << error << "\n";
        return 1;
    }
    out << "image:          " << path << "\n"
        << "image length:   " << layout.fileLength << "\n";
    if (layout.certificateTable.size > 0)
        out << "signature:      certificate table of " << layout.certificateTable.size
            << " bytes at offset " << layout.certificateTable.offset << "\n";
    else
        out << "signature:      none\n";
    out << "label:          \"" << layout.label << "\"\n";
    if (!layout.payloadFits) {
        out << "payload length: " << layout.payloadLength << "\n"
            << "trailer:        inconsistent (the payload length does not fit the image)\n";
        err << "pack: the trailer's payload length " << layout.payloadLength
            << " does not fit an image of " << layout.imageLength << " bytes"
            << (layout.certificateTable.size > 0 ? " in front of its certificate table (was it "
                                                   "signed before pack image aligned it?)"
                                                 : "")
            << "\n";
        return 1;
    }
    out << "payload offset: " << layout.payloadOffset << "\n"
        << "payload length: " << layout.payloadLength << "\n"
        << "program length: " << layout.payloadOffset << "\n"
        << "trailer:        consistent (program, payload and trailer fill the image"
        << (layout.certificateTable.size > 0 ? " in front of the certificate table)\n" : ")\n");
    zip::Reader reader;
    if (!reader.Open(path, layout.payloadOffset, layout.payloadOffset + layout.payloadLength)) {
        out << "archive:        none (" << reader.Error() << ")\n";
        return 0;
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
    if (!fs::is_directory(folder, code)) {
        error = "cannot read folder " + Quoted(folder) + ": " +
                (code ? code.message() : std::string("not a folder"));
        return false;
    }
    names.clear();
    completionFlagPath.clear();
    fs::recursive_directory_iterator walk(folder, code), end;
    for (; !code && walk != end; walk.increment(code)) {
        const fs::path& path = walk->path();
        const std::string name = path.lexically_relative(folder).generic_string();
        if (walk->is_directory(code)) {
            if (walk->is_symlink(code)) {
                error =
                    Quoted(path.string()) + " is a link to a folder, which pack does not follow";
                return false;
            }
            continue;
        }
        if (!walk->is_regular_file(code)) {
            error = Quoted(path.string()) + " is not a regular file";
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
            completionFlagPath = path.string();
            continue;
        }
        names.push_back(name);
    }
    if (code) {
        error = "cannot read folder " + Quoted(folder) + ": " + code.message();
        return false;
    }
    std::sort(names.begin(), names.end());
    // Windows file names ignore case: two such entries would overwrite one another.
    std::map<std::string, std::string> seen;
    for (const std::string& name : names) {
        auto [at, added] = seen.emplace(Lower(name), name);
        if (!added) {
            error = Quoted(at->second) + " and " + Quoted(name) + " differ only in case";
            return false;
        }
    }
    return true;
}

int Run(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    if (args.empty() || args[0] == "--help" || args[0] == "-h") {
        (args.empty() ? err : out) << kUsage;
        return args.empty() ? 2 : 0;
    }
    const std::string& command = args[0];
    Options options;
    std::string error;
    bool done = false;
    if (command == "archive") {
        done = ParseOptions(args, {"--stub", "--from", "--out"}, {"--no-completion-flag"}, options,
                            error) &&
               WriteArchive(options, error);
    } else if (command == "image") {
        done = ParseOptions(args, {"--program", "--payload", "--label", "--out"}, {}, options,
                            error) &&
               WriteImage(options, error);
    } else if (command == "inspect") {
        if (args.size() != 2) {
            err << "pack: 'inspect' needs exactly one image file\n";
            return 2;
        }
        return Inspect(args[1], out, err);
    } else {
        err << "pack: unknown command " << Quoted(command) << "\n" << kUsage;
        return 2;
    }
    if (!done) {
        err << "pack: " << error << "\n";
        return 1;
    }
    return 0;
}

} // namespace pack
