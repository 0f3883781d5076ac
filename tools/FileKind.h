// What a file given to pack is: the setup program, a payload, an installer image, a bare ZIP
// archive... Recognised by content, never by name, so that each command can say what it was
// given instead of what it needs.
#pragma once

#include "image/ImageFile.h"

#include <string>

namespace pack {

enum class FileKind {
    Empty,
    NotAProgram,         // neither a Windows program nor a ZIP archive
    ZipArchive,          // a ZIP archive with no program in front of it
    Program,             // a Windows program other than the setup, nothing behind it
    SetupProgram,        // the setup program, as built
    Payload,             // a Windows program (not the setup) with a ZIP archive behind it
    SetupWithArchive,    // the setup program with a ZIP archive behind it
    Image,               // an installer image: the setup program, a payload, a trailer that fits
    ImageOfOtherProgram, // a trailer that fits behind a program other than the setup
    SignedThenChanged,   // a signed program whose certificate table does not end it aligned
};

struct FileFacts {
    FileKind kind = FileKind::Empty;
    image::ImageLayout layout;   // for an image
    bool completionFlag = false; // for a payload: its archive holds ZZZ/comp.flg
    bool tableUnaligned = false; // for a signed program: the table ends the file, unaligned
};

// Examines the file at `path`. False, with `error` set, only when it cannot be read.
bool Examine(const std::string& path, FileFacts& facts, std::string& error);

// What the file is, to follow "is": "a ZIP archive without a stub".
std::string Describe(const FileFacts& facts);

// What each input of a command must be.
enum class InputRole { Stub, Program, Payload };

// Empty when the file at `path` is what `role` needs; else one sentence naming the file, what it
// is instead, and what to do. `warning` receives what is amiss but allowed.
std::string CheckInput(InputRole role, const std::string& path, std::string& warning);

} // namespace pack
