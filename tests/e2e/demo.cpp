// e2e_demo PHOTO FOLDER: one photo through the real program as a user would
// take it, half size and Save, with a picture of each dialog left in FOLDER
// as BMP files. The program is TBM_EXE, as for the tests.
#include <cstdio>

#include "files.h"
#include "program.h"

int main(int argc, char** argv) {
  using namespace e2e;
  if (argc != 3) {
    std::fprintf(stderr, "usage: e2e_demo PHOTO FOLDER\n");
    return 2;
  }
  const std::string photo = argv[1];
  const std::string folder = argv[2];
  try {
    Program program("\"" + photo + "\"");
    SizeDialog size = program.AwaitSize();
    size.Choose(kHalf);
    if (!CaptureWindow(size.Window(), folder + "\\output-size.bmp")) {
      throw Unexpected("cannot capture " + std::string(kSizeTitle));
    }
    size.Ok();
    QualityDialog quality = program.AwaitQuality();
    if (!CaptureWindow(quality.Window(), folder + "\\output-quality.bmp")) {
      throw Unexpected("cannot capture " + std::string(kQualityTitle));
    }
    const std::string newName = quality.NewName();
    std::printf("%s: %s, quality %s, %s in, %s out as %s\n", kQualityTitle,
                quality.Resolution().c_str(), quality.Quality().c_str(),
                quality.InputSize().c_str(), quality.OutputSize().c_str(), newName.c_str());
    quality.Save();
    const DWORD code = program.ExitCode();
    if (code != 0)
      throw Unexpected("the program ended with exit code " + std::to_string(code));
    const std::string output = photo.substr(0, photo.find_last_of('\\') + 1) + newName;
    if (!Exists(output))
      throw Unexpected(output + " was not written");
  } catch (const std::exception& error) {
    std::fprintf(stderr, "e2e_demo: %s\n", error.what());
    return 1;
  }
  return 0;
}
