// Our library's what() carries the whole diagnosis. The released library's is the fixed text
// "E57 exception", so this holds for our own build only.

#include <gtest/gtest.h>

#include <E57Exception.h>

TEST(E57Exception, WhatHoldsTheSentenceAndTheContext) {
    const e57::E57Exception e(e57::ErrorBadChecksum, "page=3");
    EXPECT_STREQ(e.what(), "checksum mismatch, file is corrupted (ErrorBadChecksum): page=3");
    EXPECT_STREQ(e57::E57Exception(e57::ErrorOpenFailed, "").what(),
                 "open() failed (ErrorOpenFailed)");
}
