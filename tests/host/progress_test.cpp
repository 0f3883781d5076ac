// The progress bar's arithmetic during the copy and the unpacking, and which looks for the
// completion flag count.
#include "ProgressReading.h"
#include "install/Progress.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

namespace {

std::vector<int> PositionsOfWholeCopy(progress::CopyProgress& progress, std::int64_t total,
                                      std::int64_t block) {
    std::vector<int> positions;
    for (std::int64_t done = 0; done < total; done += block) {
        const std::int64_t next = std::min(total, done + block);
        progress.Advance(done, next, [&](int position) { positions.push_back(position); });
    }
    return positions;
}

TEST(CopyProgress, BlocksSendTheSamePositionsAsAByteLoop) {
    // The shipped payload: 6,474,993 bytes, copied with its 20 trailer bytes.
    const std::int64_t payload = 6474993, total = payload + 20;
    progress::CopyProgress progress(payload);
    EXPECT_EQ(progress.RangeMaximum(), 6323);

    std::vector<int> expected;
    for (std::int64_t counter = 1; counter <= total; ++counter)
        if (counter % 10000 == 0)
            expected.push_back(static_cast<int>(counter / 1024));
    ASSERT_EQ(expected.size(), 647u);
    EXPECT_EQ(expected.back(), 6318);

    for (std::int64_t block : {1, 4096, 10000, 65536, 1 << 20}) {
        progress::CopyProgress fresh(payload);
        EXPECT_EQ(PositionsOfWholeCopy(fresh, total, block), expected) << "block " << block;
    }
}

TEST(CopyProgress, SmallPayloadsNeverMoveTheBar) {
    progress::CopyProgress progress(9980);
    EXPECT_EQ(progress.RangeMaximum(), 9);
    EXPECT_TRUE(PositionsOfWholeCopy(progress, 9980 + 20, 65536).size() == 1u);
    progress::CopyProgress smaller(9979);
    EXPECT_TRUE(PositionsOfWholeCopy(smaller, 9979 + 20, 65536).empty());
}

TEST(CopyProgress, LargePayloadsScaleTheRangeIntoSixteenBits) {
    const std::int64_t limit = std::int64_t{0xFFFF} * 1024 + 1023; // the largest KiB range
    EXPECT_EQ(progress::CopyProgress(limit).UnitBytes(), 1024);
    EXPECT_EQ(progress::CopyProgress(limit).RangeMaximum(), 0xFFFF);
    for (std::int64_t payload :
         {limit + 1, std::int64_t{256} << 20, std::int64_t{1} << 30, std::int64_t{0x7FFFFFFF}}) {
        progress::CopyProgress progress(payload);
        EXPECT_EQ(progress.UnitBytes() % 1024, 0);
        EXPECT_LE(progress.RangeMaximum(), 0xFFFF) << payload;
        EXPECT_GT(progress.RangeMaximum(), 0x7FFF) << payload; // still fills the bar finely
        std::vector<int> positions = PositionsOfWholeCopy(progress, payload + 20, 1 << 20);
        ASSERT_FALSE(positions.empty());
        EXPECT_LE(positions.back(), progress.RangeMaximum() + 1);
        // The last mark passed lies less than one step before the end.
        const int stepUnits =
            static_cast<int>(progress::CopyProgress::kStepBytes / progress.UnitBytes());
        EXPECT_GE(positions.back(), progress.RangeMaximum() - stepUnits - 1);
        EXPECT_TRUE(std::is_sorted(positions.begin(), positions.end()));
        EXPECT_EQ(std::adjacent_find(positions.begin(), positions.end()), positions.end());
    }
}

TEST(UnpackProgress, FillsTheCopysRangeEvenlyAndNeverMovesBack) {
    // The shipped payload's range, 6323, for an archive of 10,000 KiB.
    progress::UnpackProgress bar(6323);
    EXPECT_EQ(bar.Advance(Reading(10000, 0)), std::nullopt); // the bar stands at 0 already
    EXPECT_EQ(bar.Advance(Reading(10000, 2500)), 1580);
    EXPECT_EQ(bar.Advance(Reading(10000, 2500)), std::nullopt); // shown already
    EXPECT_EQ(bar.Advance(Reading(10000, 2501)), 1581);
    EXPECT_EQ(bar.Advance(Reading(10000, 1000)), std::nullopt); // never back
    EXPECT_EQ(bar.Advance(Reading(10000, 5000)), 3161);
    EXPECT_EQ(bar.Advance(Reading(10000, 10000)), 6323);
    EXPECT_EQ(bar.Advance(Reading(10000, 10000)), std::nullopt);

    // A short bar: more written, but still the position it shows.
    progress::UnpackProgress shortBar(100);
    EXPECT_EQ(shortBar.Advance(Reading(10000, 150)), 1);
    EXPECT_EQ(shortBar.Advance(Reading(10000, 199)), std::nullopt);
    EXPECT_EQ(shortBar.Advance(Reading(10000, 200)), 2);

    // The full 16-bit range and the largest counts do not overflow.
    progress::UnpackProgress full(0xFFFF);
    EXPECT_EQ(full.Advance(Reading(0xFFFFFFFFu, 0x80000000u)), 0x7FFF);
    EXPECT_EQ(full.Advance(Reading(0xFFFFFFFFu, 0xFFFFFFFFu)), 0xFFFF);
}

TEST(UnpackProgress, ReadingsThatMakeNoSenseAreIgnoredOrClamped) {
    progress::UnpackProgress bar(1000);
    EXPECT_EQ(bar.Advance(Reading(0, 0)), std::nullopt);        // no total
    EXPECT_EQ(bar.Advance(Reading(0, 500)), std::nullopt);      // no total, something written
    EXPECT_EQ(bar.Advance(Reading(100, 50, 0)), std::nullopt);  // not filled in yet
    EXPECT_EQ(bar.Advance(Reading(100, 50, 12)), std::nullopt); // another layout
    EXPECT_EQ(bar.Advance(Reading(100, 50, 1048)), std::nullopt);
    EXPECT_EQ(bar.Advance(Reading(100, 50)), 500);
    EXPECT_EQ(bar.Advance(Reading(100, 0xFFFFFFFFu)), 1000); // more than the total: full
    EXPECT_EQ(bar.Advance(Reading(50, 40)), std::nullopt);   // a changed total cannot go back

    // A bar without a range (a payload under 1 KiB) never moves.
    progress::UnpackProgress none(0);
    EXPECT_EQ(none.Advance(Reading(100, 100)), std::nullopt);
}

TEST(UnpackProgress, ArchiveCountsRoundUpToWholeKiBWithinThirtyTwoBits) {
    EXPECT_EQ(unpack::KiBRoundedUp(1024), 1u);
    EXPECT_EQ(unpack::KiBRoundedUp(1025), 2u);
    EXPECT_EQ(unpack::KiBRoundedUp(std::uint64_t{65535} * 0xFFFFFFFF), 0xFFFFFFFFu);
    EXPECT_EQ(unpack::ProgressBlockName(4242), "Local\\TorvaneUnpack-4242");
}

TEST(LookCounter, OnlyLooksWithoutProgressCountForAnArchiveThatPublishes) {
    progress::LookCounter looks;
    // Nothing published (any other archive, or ours before it has filled the block in): every
    // look counts.
    EXPECT_TRUE(looks.Counts(Reading(0, 0, 0)));
    EXPECT_TRUE(looks.Counts(Reading(100, 50, 12)));
    EXPECT_TRUE(looks.Counts(Reading(100, 0)));           // filled in, nothing written yet
    EXPECT_FALSE(looks.Counts(Reading(100, 1)));          // a KiB more
    EXPECT_TRUE(looks.Counts(Reading(100, 1)));           // no progress since the look before
    EXPECT_FALSE(looks.Counts(Reading(100, 1, 2092, 1))); // an empty file: one entry more
    EXPECT_TRUE(looks.Counts(Reading(100, 1, 2092, 1)));
    EXPECT_FALSE(looks.Counts(Reading(100, 0, 2092, 1))); // changed, whichever way
    EXPECT_TRUE(looks.Counts(Reading(100, 0, 0, 5)));     // no longer a block of ours
}

} // namespace
