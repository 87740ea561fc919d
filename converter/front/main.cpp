// reelforge: the converter's dialog.
#include "converter/front/reelpack_app.h"

int main(int argc, char** argv) {
  reel::CReelpackApp app(argc, argv);
  return app.Run();
}
