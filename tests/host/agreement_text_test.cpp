#include "ui/AgreementText.h"

#include <gtest/gtest.h>

#include <array>
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace {

constexpr std::string_view kCrLf = "\r\n";
constexpr std::string_view kEmptyLine = "\r\n\r\n";

// The headings in the order the dialog shows them; heading i belongs to section i.
const std::array<std::string_view, 6> kHeadings = {
    "END-USER LICENSE AGREEMENT FOR TORVANE",
    "LICENSE TERMS",
    "OTHER LIMITATIONS",
    "GOVERNING LAW",
    "PROPRIETARY RIGHTS",
    "DISCLAIMER OF WARRANTY",
};

std::vector<std::string> SplitLines(std::string_view text) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    for (std::size_t end; (end = text.find(kCrLf, start)) != std::string_view::npos;
         start = end + kCrLf.size())
        lines.emplace_back(text.substr(start, end - start));
    lines.emplace_back(text.substr(start));
    return lines;
}

bool IsLineBreak(char c) {
    return c == '\r' || c == '\n';
}

// A heading on a line of its own, with an empty line on either side.
std::string HeadingBlock(std::string_view heading) {
    return std::string(kEmptyLine) + std::string(heading) + std::string(kEmptyLine);
}

} // namespace

TEST(AgreementText, IsTheSectionsJoinedInTableOrder) {
    std::string joined;
    for (const char* section : kAgreementSections) {
        ASSERT_NE(section, nullptr);
        EXPECT_NE(section[0], '\0');
        joined += section;
    }
    EXPECT_EQ(AgreementText(), joined);
}

TEST(AgreementText, HoldsOnlyPrintableAsciiAndCrLfPairs) {
    const std::string text = AgreementText();
    for (std::size_t i = 0; i < text.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if (c == '\r') {
            ASSERT_TRUE(i + 1 < text.size() && text[i + 1] == '\n') << "bare CR at " << i;
        } else if (c == '\n') {
            ASSERT_TRUE(i > 0 && text[i - 1] == '\r') << "bare LF at " << i;
        } else {
            ASSERT_TRUE(c >= 0x20 && c < 0x7F) << "byte " << int(c) << " at " << i;
        }
    }
}

TEST(AgreementText, StartsWithTwoLineBreaksAndEndsWithItsLastSentence) {
    const std::string text = AgreementText();
    EXPECT_TRUE(text.starts_with(std::string(kEmptyLine) + std::string(kHeadings[0]) +
                                 std::string(kEmptyLine)));
    ASSERT_FALSE(text.empty());
    EXPECT_FALSE(IsLineBreak(text.back()));
    EXPECT_EQ(text.back(), '.');
}

TEST(AgreementText, HeadingsStandAloneInOrderBetweenEmptyLines) {
    const std::vector<std::string> lines = SplitLines(AgreementText());
    std::vector<std::size_t> headingLines;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        for (std::string_view heading : kHeadings) {
            if (lines[i] == heading)
                headingLines.push_back(i);
        }
    }
    ASSERT_EQ(headingLines.size(), kHeadings.size());
    for (std::size_t h = 0; h < kHeadings.size(); ++h) {
        const std::size_t at = headingLines[h];
        EXPECT_EQ(lines[at], kHeadings[h]) << "heading " << h << " out of order";
        ASSERT_GE(at, 1u);
        ASSERT_LT(at + 2, lines.size());
        EXPECT_EQ(lines[at - 1], "") << kHeadings[h];
        EXPECT_EQ(lines[at + 1], "") << kHeadings[h];
        EXPECT_NE(lines[at + 2], "") << kHeadings[h] << " is followed by more than one empty line";
    }
}

TEST(AgreementText, ParagraphsAreSeparatedBySingleEmptyLines) {
    const std::string text = AgreementText();
    // The text opens with one empty line before the title; nowhere are there two in a row.
    EXPECT_EQ(text.find("\r\n\r\n\r\n"), std::string::npos);
    for (const std::string& line : SplitLines(text)) {
        if (line.empty())
            continue;
        EXPECT_NE(line.front(), ' ') << line.substr(0, 60);
        EXPECT_EQ(line.find("  "), std::string::npos) << line.substr(0, 60);
    }
}

TEST(AgreementSections, EachHoldsItsOwnHeadingAndNoOther) {
    for (std::size_t s = 0; s < kHeadings.size(); ++s) {
        const std::string section = std::string(kEmptyLine) + kAgreementSections[s];
        for (std::size_t h = 0; h < kHeadings.size(); ++h) {
            const bool holds = section.find(HeadingBlock(kHeadings[h])) != std::string::npos;
            EXPECT_EQ(holds, h == s) << "section " << s + 1 << ", heading " << kHeadings[h];
        }
    }
}

TEST(AgreementSections, BoundariesFallWhereParagraphsAndTopicsEnd) {
    const std::string_view s1 = kAgreementSections[0];
    const std::string_view s2 = kAgreementSections[1];
    const std::string_view s3 = kAgreementSections[2];
    const std::string_view s4 = kAgreementSections[3];
    const std::string_view s5 = kAgreementSections[4];
    const std::string_view s6 = kAgreementSections[5];
    const std::string topicEnd = " " + std::string(kEmptyLine);

    // Section 1: the title, then a topic that ends with a space and an empty line.
    EXPECT_TRUE(s1.starts_with(std::string(kEmptyLine) + std::string(kHeadings[0])));
    EXPECT_TRUE(s1.ends_with(topicEnd));
    EXPECT_FALSE(s1.ends_with(std::string(kCrLf) + topicEnd));

    // Sections 2 and 3 stop in mid-paragraph after a space; the next section carries on the
    // same line, so it must not open with a space or a line break.
    for (std::string_view section : {s2, s3}) {
        ASSERT_GE(section.size(), 2u);
        EXPECT_EQ(section.back(), ' ');
        EXPECT_FALSE(IsLineBreak(section[section.size() - 2]));
        EXPECT_NE(section[section.size() - 2], ' ');
    }
    for (std::string_view continuation : {s3, s4}) {
        ASSERT_FALSE(continuation.empty());
        EXPECT_NE(continuation.front(), ' ');
        EXPECT_FALSE(IsLineBreak(continuation.front()));
    }

    // Sections 2, 5 and 6 open with their heading.
    EXPECT_TRUE(s2.starts_with(std::string(kHeadings[1]) + std::string(kEmptyLine)));
    EXPECT_TRUE(s5.starts_with(std::string(kHeadings[4]) + std::string(kEmptyLine)));
    EXPECT_TRUE(s6.starts_with(std::string(kHeadings[5]) + std::string(kEmptyLine)));

    // Sections 4 and 5 end a topic with an empty line; section 6 ends the text with no break.
    EXPECT_TRUE(s4.ends_with(kEmptyLine));
    EXPECT_TRUE(s5.ends_with(kEmptyLine));
    ASSERT_FALSE(s6.empty());
    EXPECT_FALSE(IsLineBreak(s6.back()));
}
