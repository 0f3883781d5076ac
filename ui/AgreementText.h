#pragma once

#include <string>

// The licence agreement shown read-only in the setup dialog, kept as six sections that are joined
// in order. Line breaks are CR-LF pairs only and every paragraph is one line, so the multi-line
// edit control does the wrapping. Each heading stands on a line of its own followed by an empty
// line. Sections 2 and 3 end in the middle of a paragraph that the next section continues.
extern const char* const kAgreementSections[6];

// The six sections joined in order: the text that goes into the agreement control.
std::string AgreementText();
