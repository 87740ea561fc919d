// reelforge: the converter's dialog. --help and --version are answered before Qt starts, so they
// need no display.
#include <iostream>
#include <string>
#include <vector>

#include "common/project_version.h"
#include "converter/front/command_line.h"
#include "converter/front/reelpack_app.h"

int main(int argc, char** argv) {
  const std::vector<std::string> arguments(argv + (argc > 0 ? 1 : 0), argv + argc);
  switch (reel::RequestedAction(arguments)) {
    case reel::DialogAction::kHelp:
      std::cout << reel::DialogUsageText();
      return 0;
    case reel::DialogAction::kVersion:
      std::cout << "reelforge " << reel::kProjectVersion << std::endl;
      return 0;
    case reel::DialogAction::kRun:
      break;
  }
  reel::CReelpackApp app(argc, argv);
  return app.Run();
}
