#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "platform/native_file_dialog.h"

namespace {

TEST(NativeFileDialog, FilterPatternsBecomeCaseBlindGlobs) {
    using Globs = std::vector<std::string>;
    EXPECT_EQ(platform::fileDialogGlobs("*.e57"), Globs{"*.[eE]57"});
    EXPECT_EQ(platform::fileDialogGlobs("*.las; *.laz"),
              (Globs{"*.[lL][aA][sS]", "*.[lL][aA][zZ]"}));
    EXPECT_EQ(platform::fileDialogGlobs("*.*"), Globs{"*"});
    EXPECT_EQ(platform::fileDialogGlobs(";;"), Globs{});
    EXPECT_EQ(platform::fileDialogGlobs(nullptr), Globs{});
}

TEST(NativeFileDialog, WithoutADisplayFailsAndClearsThePath) {
    unsetenv("DISPLAY");
    unsetenv("WAYLAND_DISPLAY");
    std::string path = "/previous/choice";
    const platform::FileDialogFilter filters[] = {{"E57 files", "*.e57"}};
    EXPECT_FALSE(platform::showNativeFileDialog(path, false, "Pick", filters, 1));
    EXPECT_TRUE(path.empty());
    path = "again";
    EXPECT_FALSE(platform::showNativeFileDialog(path, true, "Pick folder", nullptr, 0));
    EXPECT_TRUE(path.empty());
}

}  // namespace
