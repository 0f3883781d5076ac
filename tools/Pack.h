// pack: builds payloads (the self-extracting stub with a ZIP archive behind it) and installer
// images (setup program, payload, label, length), and inspects images.
//
//   pack archive --stub SFX.EXE --from DIR --out PAYLOAD.EXE [--method METHOD]
//                [--no-completion-flag] [--strict]
//   pack image   --program SETUP.EXE --payload PAYLOAD.EXE --label TEXT --out IMAGE.EXE
//                [--version VERSION] [--publisher NAME]
//   pack inspect IMAGE.EXE
//   pack COMMAND --help
//
// `image` needs --label or --version: the label defaults to "v" and the version. --version
// (1 to 4 dotted numbers up to 65535) and --publisher are stamped into the image's copy of the
// program's version resource (image/VersionResource.h): the fixed file and product version, and
// FileVersion, ProductVersion and CompanyName, in the room res/setup.rc leaves for them.
//
// Each input is checked for what it is before anything is written (tools/FileKind.h); what is
// amiss but allowed is a line starting "pack: warning: ", and `archive --strict` takes such
// lines about the suite for errors. An --out that is an input under any name, lies inside
// --from or is a folder is refused (tools/OutputCheck.h). A command that writes says so in one
// line on `out`: "pack: wrote OUT: SIZE bytes, N entries" (archive) or "..., label L[, version
// V][, publisher 'P']" (image).
#pragma once

#include <iosfwd>
#include <string>
#include <vector>

namespace pack {

// Runs one command; `args` leaves out the program name. Errors go to `err` as one line
// starting with "pack: " (a mistake in the command line's syntax adds the command's usage); the
// result is the process exit code: 0 done, 1 failed, 2 a mistake on the command line (also an
// --out refused, or a --version or --publisher that cannot be stamped). A command that fails
// leaves no output file behind.
int Run(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

// The files and empty folders under `folder` as the archive holds them: '/'-separated relative
// paths in byte-wise order, a folder's ending in '/', the completion flag left out. False, with
// `error` set, for anything that cannot be packed (a name that could not be unpacked safely on
// Windows, names that differ only in case, a special file). `completionFlagPath` receives the
// folder's own completion flag, if any.
bool CollectFiles(const std::string& folder, std::vector<std::string>& names,
                  std::string& completionFlagPath, std::string& error);

} // namespace pack
