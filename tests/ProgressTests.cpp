#include "support/ChangeWatcher.h"
#include "support/MessageLoop.h"
#include "transfer/ProgressClass.h"

#include <gtest/gtest.h>

using testing_support::pumpUntil;
using testing_support::pumpUntilQuiet;

TEST (ProgressRounding, RoundsToWholePercentWithHalvesToEven)
{
    EXPECT_EQ (wholePercentProgress (0.0), 0.0);
    EXPECT_EQ (wholePercentProgress (0.125), 0.12);
    EXPECT_EQ (wholePercentProgress (0.375), 0.38);
    EXPECT_EQ (wholePercentProgress (0.005), 0.0);
    EXPECT_EQ (wholePercentProgress (0.5), 0.5);
    EXPECT_EQ (wholePercentProgress (0.994), 0.99);
}

TEST (ProgressRounding, ShowsAHundredPercentOnlyForTheWhole)
{
    EXPECT_EQ (wholePercentProgress (0.995), 0.99);
    EXPECT_EQ (wholePercentProgress (1355220.0 / 1355221.0), 0.99);
    EXPECT_EQ (wholePercentProgress (1.0), 1.0);

    // With the carried image's message lengths: 1.00 at the last message and not before.
    const double total = 1355221.0;
    EXPECT_EQ (wholePercentProgress ((total - 9.0) / total), 0.99);
    EXPECT_EQ (wholePercentProgress ((total - 6726.0) / total), 0.99);
}

TEST (ProgressBroadcaster, StoresTheRoundedValueAndBroadcastsOnlyOnAChange)
{
    ProgressClass progress;
    testing_support::ChangeWatcher listener (progress);

    progress.setProgress (0.125);
    EXPECT_EQ (progress.progress.load(), 0.12);
    ASSERT_TRUE (pumpUntil ([&] { return listener.count == 1; }));

    progress.setProgress (0.121); // the same whole percent
    pumpUntilQuiet();
    EXPECT_EQ (listener.count, 1);
    EXPECT_EQ (progress.progress.load(), 0.12);

    progress.setProgress (0.375);
    ASSERT_TRUE (pumpUntil ([&] { return listener.count == 2; }));
    EXPECT_EQ (progress.progress.load(), 0.38);
}

TEST (ProgressBroadcaster, StatusBroadcastsOnlyWhenItChanges)
{
    ProgressClass progress;
    testing_support::ChangeWatcher listener (progress);

    EXPECT_EQ (progress.getStatus(), juce::String());
    progress.setStatus ("Uploading firmware");
    ASSERT_TRUE (pumpUntil ([&] { return listener.count == 1; }));

    progress.setStatus ("Uploading firmware");
    pumpUntilQuiet();
    EXPECT_EQ (listener.count, 1);

    progress.setStatus ("Update completed");
    ASSERT_TRUE (pumpUntil ([&] { return listener.count == 2; }));
    EXPECT_EQ (progress.getStatus(), "Update completed");
}

TEST (ProgressBroadcaster, StoresValuesWithNoListener)
{
    ProgressClass progress;
    progress.setProgress (0.5);
    progress.setStatus ("Uploading firmware");
    EXPECT_EQ (progress.progress.load(), 0.5);
    EXPECT_EQ (progress.getStatus(), "Uploading firmware");
}
