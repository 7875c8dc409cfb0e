// e2e_demo PHOTO FOLDER: the real program as a user would take it: PHOTO at
// half size with "Same for the rest" checked, at most 200 KB, and Save, then
// twelve larger photos made in FOLDER under "Saving copies". A picture of each of the three
// windows is left in FOLDER as BMP files. The program is TBM_EXE, as for the
// tests.
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>

#include "files.h"
#include "program.h"

namespace {

constexpr int kLarge = 12;

// "\DSC01842.jpg" and on, with `x` before the dot.
std::string LargeName(int i, const char* x) {
  return "\\DSC0" + std::to_string(1842 + i) + x + ".jpg";
}

}  // namespace

int main(int argc, char** argv) {
  using namespace e2e;
  if (argc != 3) {
    std::fprintf(stderr, "usage: e2e_demo PHOTO FOLDER\n");
    return 2;
  }
  const std::string photo = argv[1];
  const std::string folder = argv[2];
  try {
    // Large and many enough that "Saving copies" stays a while, on every
    // processor.
    std::string commandLine = "\"" + photo + "\"";
    const Bytes large = MakeJpeg(6000, 4000);
    for (int i = 0; i < kLarge; ++i) {
      const std::string name = LargeName(i, "");
      if (!WriteBytes(folder + name, large))
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
    // A limit typed, as the picture shows it, then Save: the quality found
    // within it (the ceiling, for this small photo), and Save again.
    if (!SetControlText(quality.Window(), kAtMostKb, "200"))
      throw Unexpected("cannot type the limit");
    if (!CaptureWindow(quality.Window(), folder + "\\output-quality.bmp")) {
      throw Unexpected("cannot capture " + std::string(kQualityTitle));
    }
    QualityDialog found = quality.Retry("90");
    std::printf("%s: %s, quality %s, %s in, %s out as %s\n", kQualityTitle,
                found.Resolution().c_str(), found.Quality().c_str(), found.InputSize().c_str(),
                found.OutputSize().c_str(), found.NewName().c_str());
    found.Save();

    const HWND batch = program.Await(kBatchTitle);
    // Its bar moves as long as the program runs: taken once it has drawn.
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    if (!CaptureWindow(batch, folder + "\\saving-copies.bmp", false))
      throw Unexpected("cannot capture " + std::string(kBatchTitle));

    const DWORD code = program.ExitCode();
    if (code != 0)
      throw Unexpected("the program ended with exit code " + std::to_string(code));
    for (int i = 0; i < kLarge; ++i) {
      if (!Exists(folder + LargeName(i, "X")))
        throw Unexpected(folder + LargeName(i, "X") + " was not written");
    }
  } catch (const std::exception& error) {
    std::fprintf(stderr, "e2e_demo: %s\n", error.what());
    return 1;
  }
  return 0;
}
