// reelforge's command line: the source it fills in (a desktop opening a file with the dialog),
// what it refuses, and --help and --version answered without any display.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "common/project_version.h"
#include "converter/front/command_line.h"
#include "converter/front/cwin_edit.h"
#include "converter/front/reelpack_app.h"
#include "front_test_support.h"
#include "tests/support/external_tools.h"
#include "tests/support/scratch_folder.h"

namespace reel {
namespace {

using test::Control;
using test::ScratchFolder;

TEST(ReelforgeCommandLine, FillsInTheSourceOrRefusesTheCommandLine) {
  const ScratchFolder folder("reelforge-args");
  folder.WriteFile("clip.avi", "RIFF");
  folder.WriteFile("-odd.MJ", "");
  const std::string notUtf8 = "\xff\xfe.avi";  // a name the locale cannot decode keeps its bytes
  folder.WriteFile(notUtf8, "");
  struct Case {
    std::vector<std::string> arguments;
    std::optional<ErrorKind> refused;
    std::string source;  // expected source path; empty: none filled in
    int32_t sourceKind = 0;
  };
  const std::vector<Case> cases = {
      {{}, std::nullopt, ""},
      {{folder.File("clip.avi")}, std::nullopt, folder.File("clip.avi")},
      {{"--", folder.File("-odd.MJ")}, std::nullopt, folder.File("-odd.MJ"), 1},
      {{folder.File(notUtf8)}, std::nullopt, folder.File(notUtf8)},
      {{folder.File("clip.avi"), folder.File("clip.avi")}, ErrorKind::kUsage, ""},
      {{"--quality=60"}, ErrorKind::kUsage, ""},
      {{folder.File("missing.avi")}, ErrorKind::kNotFound, ""},
      {{folder.Path().string()}, ErrorKind::kNotThisFormat, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.arguments.empty() ? std::string("(none)") : c.arguments.back());
    test::WatchedDialog dialog;
    const Status filled = FillInSource(dialog, c.arguments);
    ASSERT_EQ(filled.ok(), !c.refused);
    if (c.refused) {
      EXPECT_EQ(filled.kind(), *c.refused);
      EXPECT_NE(filled.error().message.find(c.arguments.back()), std::string::npos) << filled.error().message;
    }
    EXPECT_EQ(dialog.Settings().sourcePath, c.source);
    EXPECT_EQ(dialog.Settings().sourceKind, c.sourceKind);
    EXPECT_EQ(Control<CWinEdit>(dialog, kIdSourcePath)->text().isEmpty(), c.source.empty());
  }
}

TEST(ReelforgeCommandLine, HelpAndVersionComeFirstUnlessAfterTheEndOfOptions) {
  using Arguments = std::vector<std::string>;
  EXPECT_EQ(RequestedAction(Arguments{}), DialogAction::kRun);
  EXPECT_EQ(RequestedAction(Arguments{"clip.avi", "-h"}), DialogAction::kHelp);
  EXPECT_EQ(RequestedAction(Arguments{"--bogus", "--version", "--help"}), DialogAction::kVersion);
  EXPECT_EQ(RequestedAction(Arguments{"--", "--help"}), DialogAction::kRun);
}

// The program itself: --help and --version with no display at all, a missing source refused.
TEST(ReelforgeProgram, AnswersHelpAndVersionWithoutADisplayAndRefusesAMissingSource) {
  const std::string program = test::ShellQuoted(std::string_view(REEL_DIALOG));
  const std::string noDisplay = "env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM ";
  const test::CommandResult help = test::RunCommand(noDisplay + program + " --help");
  EXPECT_EQ(help.status, 0) << help.output;
  EXPECT_EQ(help.output.rfind("Usage: reelforge [SOURCE]\n", 0), 0u) << help.output;
  const test::CommandResult version = test::RunCommand(noDisplay + program + " --version");
  EXPECT_EQ(version.status, 0);
  EXPECT_EQ(version.output, "reelforge " + std::string(kProjectVersion) + "\n");
  const test::CommandResult missing = test::RunCommand("QT_QPA_PLATFORM=offscreen " + program + " /nowhere/clip.avi");
  EXPECT_EQ(missing.status, CReelpackApp::kExitUsage);
  EXPECT_NE(missing.output.find("/nowhere/clip.avi: no such file"), std::string::npos) << missing.output;
}

}  // namespace
}  // namespace reel
