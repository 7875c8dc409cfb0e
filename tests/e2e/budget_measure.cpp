// Not a test but a measurement: how many photos the rest of a batch converts
// at once in the shipped 32-bit program, by its memory budget. The budget is
// three quarters of the smaller of the address space and the commit charge
// free when the rest starts (platform_win.cpp); each photo reserves what
// Conversion::MemoryNeed says. The address space is measured in the
// program's own process, while "Output Quality" shows for the codec's sample
// photo: by then the program has its windows and holds next to nothing of a
// photo, as when the rest starts, its first photo's blocks gone. What can be
// reserved there is reserved, piece by piece, from this process, then given
// back. scripts/measure-budget runs it against the 32-bit build and writes
// the table it builds (TBM_BUDGET_TABLE) into bench/budget-win32.md.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>

#include "convert/conversion.h"
#include "e2e_test.h"

namespace e2e {
namespace {

double MiB(uint64_t bytes) {
  return static_cast<double>(bytes) / (1 << 20);
}

struct AddressSpace {
  uint64_t total = 0;
  uint64_t largest = 0;
  int pieces = 0;
};

constexpr SIZE_T kGranularity = 64 * 1024;

// The largest piece `process` can reserve now, to the allocation
// granularity: the pixels of a large photo need one piece.
SIZE_T LargestPiece(HANDLE process) {
  SIZE_T fits = 0;
  SIZE_T failed = SIZE_T{1} << 32;
  while (failed - fits > kGranularity) {
    const SIZE_T size = (fits + failed) / 2 / kGranularity * kGranularity;
    if (void* at = VirtualAllocEx(process, nullptr, size, MEM_RESERVE, PAGE_NOACCESS)) {
      VirtualFreeEx(process, at, 0, MEM_RELEASE);
      fits = size;
    } else {
      failed = size;
    }
  }
  return fits;
}

// Everything `process` can still reserve: the largest piece, then pieces of
// halving size down to the allocation granularity, all given back at the
// end.
AddressSpace Reservable(HANDLE process) {
  AddressSpace space;
  std::vector<void*> taken;
  for (SIZE_T size = LargestPiece(process); size >= kGranularity;) {
    void* at = VirtualAllocEx(process, nullptr, size, MEM_RESERVE, PAGE_NOACCESS);
    if (at == nullptr) {
      size /= 2;
      continue;
    }
    taken.push_back(at);
    space.total += size;
    space.largest = std::max<uint64_t>(space.largest, size);
  }
  for (void* at : taken)
    VirtualFreeEx(process, at, 0, MEM_RELEASE);
  space.pieces = static_cast<int>(taken.size());
  return space;
}

// What the program reserves for a photo, from its headers, as the rest does.
uint64_t MemoryNeed(const Bytes& photo, SizeChoice size) {
  Conversion conversion;
  if (!conversion.PrepareInput(photo.size()))
    return 0;
  std::memcpy(conversion.Input().data(), photo.data(), photo.size());
  return conversion.ReadHeader() ? conversion.MemoryNeed(size) : 0;
}

struct Photo {
  const char* name;
  int width;
  int height;
};
// As in memory_measure.cpp, so that the two tables speak of the same photos.
constexpr Photo kPhotos[] = {{"24 MP", 5664, 4248}, {"200 MP", 16320, 12240}};

using Budget = E2eTest;

TEST_F(Budget, OfTheRestOfABatch) {
  const Bytes sample = Sample("testorig.jpg");
  Program program(Quoted(Put("a.jpg", sample)) + " " + Quoted(Put("b.jpg", sample)));
  SizeDialog sizes = program.AwaitSize();
  sizes.Choose(kFull);
  sizes.Ok();
  QualityDialog quality = program.AwaitQuality();
  const AddressSpace space = Reservable(program.Proc().Handle());
  // The program still works once it has its address space back.
  quality.CheckSameForRest();
  quality.Save();
  EXPECT_EQ(program.ExitCode(), 0u);
  EXPECT_TRUE(IsOutput(Path("bX.jpg"), kSampleWidth, kSampleHeight, 90));
  ASSERT_GT(space.total, uint64_t{1} << 30) << "the program's address space was not measured";

  MEMORYSTATUSEX memory{};
  memory.dwLength = sizeof memory;
  ASSERT_TRUE(GlobalMemoryStatusEx(&memory));
  SYSTEM_INFO system{};
  GetSystemInfo(&system);
  const uint64_t budget = std::min<uint64_t>(space.total, memory.ullAvailPageFile) / 4 * 3;
  // As RestOfBatchLimits: a worker per processor, as many as 64 MiB pieces
  // of the budget allow.
  const uint64_t workers =
      std::min<uint64_t>(system.dwNumberOfProcessors, std::max<uint64_t>(1, budget >> 26));

  char text[600];
  std::string table;
  std::snprintf(text, sizeof text,
                "- address space the program can still reserve: %.0f MiB, in %d pieces, the "
                "largest %.0f MiB\n- commit charge free (`ullAvailPageFile`): %.0f MiB\n- budget: "
                "3/4 of the smaller, %.0f MiB\n- workers: %u processors here, so %llu\n\n",
                MiB(space.total), space.pieces, MiB(space.largest), MiB(memory.ullAvailPageFile),
                MiB(budget), static_cast<unsigned>(system.dwNumberOfProcessors),
                static_cast<unsigned long long>(workers));
  table += text;
  table +=
      "| photo | size | `MemoryNeed` | photos the budget admits at once | of them converting at "
      "once here |\n|---|---|---:|---:|---:|\n";
  for (const Photo& photo : kPhotos) {
    const Bytes bytes = BigPhoto(photo.width, photo.height, false);
    for (const SizeChoice size : {SIZE_FULL, SIZE_HALF}) {
      const uint64_t need = MemoryNeed(bytes, size);
      ASSERT_GT(need, 0u) << photo.name;
      // A photo that does not fit beside others still goes, alone.
      const uint64_t admitted = std::max<uint64_t>(1, budget / need);
      std::snprintf(text, sizeof text, "| %s, %d x %d, %.1f MB | %s | %.0f MiB | %llu | %llu |\n",
                    photo.name, photo.width, photo.height, static_cast<double>(bytes.size()) / 1e6,
                    size == SIZE_FULL ? "full" : "half", MiB(need),
                    static_cast<unsigned long long>(admitted),
                    static_cast<unsigned long long>(std::min(admitted, workers)));
      table += text;
    }
  }
  std::printf("%s", table.c_str());
  const std::string path = Env("TBM_BUDGET_TABLE");
  if (!path.empty()) {
    ASSERT_TRUE(WriteBytes(path, Bytes(table.begin(), table.end()))) << "cannot write " << path;
  }
}

}  // namespace
}  // namespace e2e
