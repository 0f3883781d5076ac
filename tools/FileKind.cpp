#include "tools/FileKind.h"

#include "base/Text.h"
#include "image/ProgramResources.h"
#include "payload/EntryName.h"
#include "payload/ZipReader.h"

#include <cerrno>
#include <cstring>

namespace pack {
namespace {

using base::Quoted;

// What the setup program's resources hold (res/setup.rc): its dialog, IDD_SETUP, with this
// caption. Nothing is added to the program to be recognised by.
constexpr std::uint32_t kSetupDialogId = 102;
constexpr std::u16string_view kSetupDialogCaption = u"Torvane Software Suite Setup";
constexpr std::uint32_t kMaxDialogTemplateSize = 64 * 1024;

bool IsSetupProgram(base::BinaryFile& file, std::int64_t length,
                    const image::ProgramHeaders& headers) {
    if (headers.subsystem != image::kSubsystemWindowsGui ||
        (headers.machine != image::kMachineI386 && headers.machine != image::kMachineAmd64))
        return false;
    const std::optional<image::ResourceData> dialog =
        image::FindResource(file, 0, length, headers, image::kResourceTypeDialog, kSetupDialogId);
    if (!dialog || dialog->size > kMaxDialogTemplateSize)
        return false;
    std::string bytes(dialog->size, '\0');
    if (!file.Seek(dialog->offset) || !file.ReadExact(bytes.data(), bytes.size()))
        return false;
    return image::DialogCaption(bytes) == kSetupDialogCaption;
}

} // namespace

bool Examine(const std::string& path, FileFacts& facts, std::string& error) {
    facts = FileFacts{};
    base::BinaryFile file;
    errno = 0;
    if (!file.Open(path, "rb")) {
        error = "cannot open " + Quoted(path) + ": " + std::strerror(errno);
        return false;
    }
    const std::int64_t length = file.Length();
    if (length < 0) {
        error = "cannot read " + Quoted(path);
        return false;
    }
    if (length == 0) {
        facts.kind = FileKind::Empty;
        return true;
    }
    image::ProgramHeaders headers;
    const bool program = image::ReadProgramHeaders(file, 0, length, headers);
    const bool setup = program && IsSetupProgram(file, length, headers);
    std::string ignored;
    if (image::ReadImageLayout(file, facts.layout, ignored) && facts.layout.trailerFits) {
        facts.kind = setup ? FileKind::Image : FileKind::ImageOfOtherProgram;
        return true;
    }
    const image::DataDirectory& table = headers.certificateTable;
    if (program && table.size > 0 && facts.layout.certificateTable.size == 0) {
        facts.kind = FileKind::SignedThenChanged;
        facts.tableUnaligned = std::int64_t{table.address} + table.size == length;
        return true;
    }
    zip::Reader reader;
    if (reader.Open(path)) {
        if (!program) {
            facts.kind = reader.ArchiveOffset() == 0 ? FileKind::ZipArchive : FileKind::NotAProgram;
            return true;
        }
        if (reader.ArchiveOffset() >= headers.end) {
            facts.kind = setup ? FileKind::SetupWithArchive : FileKind::Payload;
            facts.completionFlag =
                zip::CompletionFlagIndex(reader.Entries()) != reader.Entries().size();
            return true;
        }
    }
    facts.kind = !program ? FileKind::NotAProgram
                 : setup  ? FileKind::SetupProgram
                          : FileKind::Program;
    return true;
}

std::string Describe(const FileFacts& facts) {
    switch (facts.kind) {
    case FileKind::Empty:
        return "empty";
    case FileKind::NotAProgram:
        return "neither a Windows program nor a ZIP archive";
    case FileKind::ZipArchive:
        return "a ZIP archive without a stub";
    case FileKind::Program:
        return "a Windows program other than the setup program, with no ZIP archive behind it";
    case FileKind::SetupProgram:
        return "the setup program";
    case FileKind::Payload:
        return "a payload (a Windows program with a ZIP archive behind it)";
    case FileKind::SetupWithArchive:
        return "the setup program with a ZIP archive behind it";
    case FileKind::Image:
        return "an installer image";
    case FileKind::ImageOfOtherProgram:
        return "a program other than the setup program with a payload and a trailer behind it";
    case FileKind::SignedThenChanged:
        return facts.tableUnaligned
                   ? "a signed program whose certificate table is not 8-byte aligned (was it "
                     "signed before pack image aligned it?)"
                   : "a signed program whose certificate table does not end the file (were "
                     "bytes appended after signing?)";
    }
    return "unknown";
}

std::string CheckInput(InputRole role, const std::string& path, std::string& warning) {
    FileFacts facts;
    std::string error;
    if (!Examine(path, facts, error))
        return error;
    const FileKind wanted = role == InputRole::Stub      ? FileKind::Program
                            : role == InputRole::Program ? FileKind::SetupProgram
                                                         : FileKind::Payload;
    const char* name = role == InputRole::Stub      ? "stub "
                       : role == InputRole::Program ? "program "
                                                    : "payload ";
    if (facts.kind == wanted) {
        if (role == InputRole::Payload && !facts.completionFlag)
            warning = std::string(name) + Quoted(path) +
                      " holds no completion flag ZZZ/comp.flg: the setup will wait 20 seconds "
                      "for it in vain";
        return {};
    }
    const bool swapped = (role == InputRole::Program && facts.kind == FileKind::Payload) ||
                         (role == InputRole::Payload && facts.kind == FileKind::SetupProgram);
    const char* hint = swapped                      ? "were --program and --payload swapped?"
                       : role == InputRole::Stub    ? "give sfx.exe"
                       : role == InputRole::Program ? "give setup.exe as built"
                       : facts.kind == FileKind::SetupWithArchive
                           ? "run `pack archive` again with sfx.exe as --stub"
                       : facts.kind == FileKind::Image
                           ? "give the payload that `pack archive` wrote"
                           : "run `pack archive` first";
    return std::string(name) + Quoted(path) + " is " + Describe(facts) + ": " + hint;
}

} // namespace pack
