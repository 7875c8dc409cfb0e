// e2e_demo PHOTO FOLDER: the real program as a user would take it: PHOTO at
// half size with "Same for the rest" checked and Save, then four larger
// photos made in FOLDER under "Saving copies". A picture of each of the three
// windows is left in FOLDER as BMP files. The program is TBM_EXE, as for the
// tests.
#include <chrono>
#include <cstdio>
#include <thread>

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
    // Large enough that "Saving copies" stays a while.
    std::string commandLine = "\"" + photo + "\"";
    for (const char* name :
         {"\\DSC01842.jpg", "\\DSC01843.jpg", "\\DSC01844.jpg", "\\DSC01845.jpg"}) {
      if (!WriteBytes(folder + name, MakeJpeg(6000, 4000)))
        throw Unexpected("cannot write " + folder + name);
      commandLine += " \"" + folder + name + "\"";
    }
    Program program(commandLine);
    SizeDialog size = program.AwaitSize();
    size.Choose(kHalf);
    if (!CaptureWindow(size.Window(), folder + "\\output-size.bmp")) {
      throw Unexpected("cannot capture " + std::string(kSizeTitle));
    }
    size.Ok();
    QualityDialog quality = program.AwaitQuality();
    quality.CheckSameForRest();
    if (!CaptureWindow(quality.Window(), folder + "\\output-quality.bmp")) {
      throw Unexpected("cannot capture " + std::string(kQualityTitle));
    }
    std::printf("%s: %s, quality %s, %s in, %s out as %s\n", kQualityTitle,
                quality.Resolution().c_str(), quality.Quality().c_str(),
                quality.InputSize().c_str(), quality.OutputSize().c_str(),
                quality.NewName().c_str());
    quality.Save();

    const HWND batch = program.Await(kBatchTitle);
    // Its bar moves as long as the program runs: taken once it has drawn.
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    if (!CaptureWindow(batch, folder + "\\saving-copies.bmp", false))
      throw Unexpected("cannot capture " + std::string(kBatchTitle));

    const DWORD code = program.ExitCode();
    if (code != 0)
      throw Unexpected("the program ended with exit code " + std::to_string(code));
    for (const char* name :
         {"\\DSC01842X.jpg", "\\DSC01843X.jpg", "\\DSC01844X.jpg", "\\DSC01845X.jpg"}) {
      if (!Exists(folder + name))
        throw Unexpected(folder + name + " was not written");
    }
  } catch (const std::exception& error) {
    std::fprintf(stderr, "e2e_demo: %s\n", error.what());
    return 1;
  }
  return 0;
}
