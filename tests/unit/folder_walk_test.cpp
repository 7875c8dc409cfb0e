// A folder's photos: which files, in which order, and how the walk ends.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "batch/folder_walk.h"

namespace {

bool Cp932LeadBytes(uint8_t byte) {
  return (byte >= 0x81 && byte <= 0x9F) || (byte >= 0xE0 && byte <= 0xFC);
}
const std::string kSo = "\x83\x5C";  // ソ, whose second byte is a backslash's
const std::string kA = "\x83\x41";   // ア and ヂ: second bytes those of A and a
const std::string kDi = "\x83\x61";

FolderEntry File(std::string name, bool hidden = false, bool link = false) {
  return {std::move(name), false, hidden, link};
}
FolderEntry Dir(std::string name, bool hidden = false, bool link = false) {
  return {std::move(name), true, hidden, link};
}

// Folders by path; one missing from the map cannot be listed.
using Tree = std::map<std::string, std::vector<FolderEntry>>;

class FakeLister final : public FolderLister {
 public:
  explicit FakeLister(Tree tree, size_t stopAt = 0) : tree_(std::move(tree)), stopAt_(stopAt) {}
  uint32_t List(const std::string& folder, std::vector<FolderEntry>& entries) override {
    const auto found = tree_.find(folder);
    if (found == tree_.end())
      return 3;  // ERROR_PATH_NOT_FOUND
    entries.insert(entries.end(), found->second.begin(), found->second.end());
    return 0;
  }
  bool Listed(size_t folders, size_t photos) override {
    calls.emplace_back(folders, photos);
    return calls.size() != stopAt_;
  }
  std::vector<std::pair<size_t, size_t>> calls;

 private:
  Tree tree_;
  size_t stopAt_;
};

struct WalkCase {
  const char* what;
  std::string top;
  Tree tree;
  std::vector<std::string> photos;
  LeadByteRule rule = NoLeadBytes;
};

TEST(FolderWalk, FindsThePhotosInExplorersOrder) {
  const WalkCase cases[] = {
      {"own files in logical order, then each subfolder's, depth first",
       "C:\\p",
       {{"C:\\p", {Dir("b"), File("10.jpg"), Dir("a10"), File("9.jpg"), Dir("a9"), File("2.jpg")}},
        {"C:\\p\\a9", {Dir("z"), File("y.jpg")}},
        {"C:\\p\\a9\\z", {File("x.jpg")}},
        {"C:\\p\\a10", {File("w.jpg")}},
        {"C:\\p\\b", {File("v.jpg")}}},
       {"C:\\p\\2.jpg", "C:\\p\\9.jpg", "C:\\p\\10.jpg", "C:\\p\\a9\\y.jpg", "C:\\p\\a9\\z\\x.jpg",
        "C:\\p\\a10\\w.jpg", "C:\\p\\b\\v.jpg"}},
      {"copies beside their originals left out",
       "C:\\p",
       {{"C:\\p",
         {File("aX.jpg"), File("a.jpg"), File("aXX.jpg"), File("bX.jpg"), File("bXX.jpg"),
          File("c.jpg"), File("cXX.jpg"), File("d.b.jpg"), File("dX.b.jpg"), File("d.bX.jpg"),
          File("E.JPG"), File("ex.jpg"), File("f.jpeg", true), File("fX.jpeg")}}},
       {"C:\\p\\a.jpg", "C:\\p\\bX.jpg", "C:\\p\\c.jpg", "C:\\p\\cXX.jpg", "C:\\p\\d.b.jpg",
        "C:\\p\\d.bX.jpg", "C:\\p\\E.JPG"}},
      {"an X-name beside no JPEG file of that name stays a photo",
       "C:\\p",
       {{"C:\\p", {Dir("a.jpg"), File("aX.jpg"), File("b.png"), File("bX.jpg"), File("c")}},
        {"C:\\p\\a.jpg", {}}},
       {"C:\\p\\aX.jpg", "C:\\p\\bX.jpg"}},
      {"JPEG extensions in any case, nothing else",
       "C:\\p",
       {{"C:\\p",
         {File("a.JPG"), File("b.Jpeg"), File("c.jpe"), File("d.JFIF"), File("e.jpg.png"),
          File("f.png"), File("g.jpgx"), File("jpg"), File("h.jp"), File(".jpg")}}},
       {"C:\\p\\.jpg", "C:\\p\\a.JPG", "C:\\p\\b.Jpeg", "C:\\p\\c.jpe", "C:\\p\\d.JFIF"}},
      {"hidden or system files and folders, links to folders and unlistable ones passed over",
       "C:\\p",
       {{"C:\\p",
         {File("a.jpg", true), Dir("h", true), Dir("l", false, true), Dir("gone"), Dir("ok"),
          File("b.jpg", false, true)}},
        {"C:\\p\\h", {File("c.jpg")}},
        {"C:\\p\\l", {File("d.jpg")}},
        {"C:\\p\\ok", {File("e.jpg")}}},
       {"C:\\p\\b.jpg", "C:\\p\\ok\\e.jpg"}},
      {"an empty folder", "C:\\p", {{"C:\\p", {}}}, {}},
      {"only other files and empty folders",
       "C:\\p",
       {{"C:\\p", {File("a.txt"), Dir("s")}}, {"C:\\p\\s", {File("b.png")}}},
       {}},
      {"a drive's root joined without a second separator",
       "C:\\",
       {{"C:\\", {File("a.jpg"), Dir("s")}}, {"C:\\s", {File("b.jpg")}}},
       {"C:\\a.jpg", "C:\\s\\b.jpg"}},
      {"double-byte names: a folder ending in 0x5C, second bytes not folded",
       "C:\\" + kSo,
       {{"C:\\" + kSo,
         {File(kA + ".jpg"), File(kDi + "X.jpg"), File(kSo + ".jpg"), File(kSo + "X.jpg"),
          Dir(kSo)}},
        {"C:\\" + kSo + "\\" + kSo, {File("a.jpg")}}},
       {"C:\\" + kSo + "\\" + kA + ".jpg", "C:\\" + kSo + "\\" + kSo + ".jpg",
        "C:\\" + kSo + "\\" + kDi + "X.jpg", "C:\\" + kSo + "\\" + kSo + "\\a.jpg"},
       Cp932LeadBytes},
  };
  for (const auto& c : cases) {
    FakeLister lister(c.tree);
    const FolderPhotos found = FindPhotos(lister, c.top, c.rule);
    EXPECT_EQ(found.error, 0u) << c.what;
    EXPECT_FALSE(found.stopped) << c.what;
    EXPECT_EQ(found.photos, c.photos) << c.what;
  }
}

TEST(FolderWalk, ReportsEachFolderAndStopsWhenAsked) {
  const Tree tree = {{"C:\\p", {File("a.jpg"), File("b.jpg"), Dir("s"), Dir("t"), Dir("u")}},
                     {"C:\\p\\s", {File("c.jpg")}},
                     {"C:\\p\\u", {File("d.jpg")}}};  // t cannot be listed
  FakeLister whole(tree);
  EXPECT_EQ(FindPhotos(whole, "C:\\p").photos.size(), 4u);
  const std::vector<std::pair<size_t, size_t>> calls = {{1, 2}, {2, 3}, {3, 3}, {4, 4}};
  EXPECT_EQ(whole.calls, calls);

  FakeLister stopping(tree, 2);
  const FolderPhotos found = FindPhotos(stopping, "C:\\p");
  EXPECT_TRUE(found.stopped);
  EXPECT_EQ(found.photos,
            (std::vector<std::string>{"C:\\p\\a.jpg", "C:\\p\\b.jpg", "C:\\p\\s\\c.jpg"}));
  EXPECT_EQ(stopping.calls.size(), 2u);
}

TEST(FolderWalk, ATopFolderThatCannotBeListedIsAnError) {
  FakeLister lister({{"C:\\other", {File("a.jpg")}}});
  const FolderPhotos found = FindPhotos(lister, "C:\\p");
  EXPECT_EQ(found.error, 3u);
  EXPECT_TRUE(found.photos.empty());
  EXPECT_TRUE(lister.calls.empty());
}

// Each folder holds one subfolder "d", down to `depth` levels, and the deepest
// a photo. Generated, as a map of 20,000 ever longer paths would be large.
class DeepLister final : public FolderLister {
 public:
  explicit DeepLister(size_t depth) : depth_(depth) {}
  uint32_t List(const std::string& folder, std::vector<FolderEntry>& entries) override {
    entries.push_back(folder.size() < 4 + 2 * depth_ ? Dir("d") : File("a.jpg"));
    return 0;
  }
  bool Listed(size_t, size_t) override { return true; }

 private:
  size_t depth_;
};

// Deeper than a recursive walk could go on the Windows program's 1 MiB stack.
TEST(FolderWalk, WalksADeepTreeWithoutRecursion) {
  const size_t depth = 20000;
  DeepLister lister(depth);
  const FolderPhotos found = FindPhotos(lister, "D:\\t");
  ASSERT_EQ(found.photos.size(), 1u);
  EXPECT_EQ(found.photos[0].size(), 4 + 2 * depth + 6);
  EXPECT_TRUE(found.photos[0].ends_with("\\d\\a.jpg"));
}

// Names in Explorer's order: Microsoft's example for StrCmpLogicalW first.
const std::vector<std::string> kOrdered = {
    "", "2string", "3string", "20string", "st2ring", "st3ring", "st20ring", "string2", "string3",
    "string20",
    // Numbers of any length, leading zeros; ties in value ordered by bytes.
    "x0", "x000", "x00000000000000000000000001", "x01", "x1", "x7", "x08", "x9", "x10",
    "x18446744073709551615", "x18446744073709551616", "x99999999999999999999999",
    "x100000000000000000000000",
    // Letters without case; ties in case ordered by bytes.
    "Y.JPG", "Y.jpg", "y.jpg", "y1.jpg", "Y2.JPG", "y10.jpg",
    // Punctuation by byte value, lower case first: '_' before the letters.
    "z z", "z-z", "z.z", "z0", "Z_", "za", "z~",
    // Other bytes by value, after ASCII.
    "\xC3\x89", "\xC3\xA9"};

TEST(LogicalNameLess, OrdersNamesAsExplorerDoes) {
  for (size_t i = 0; i < kOrdered.size(); ++i) {
    for (size_t j = 0; j < kOrdered.size(); ++j) {
      EXPECT_EQ(LogicalNameLess(kOrdered[i], kOrdered[j]), i < j)
          << '"' << kOrdered[i] << "\" vs \"" << kOrdered[j] << '"';
    }
  }
}

TEST(LogicalNameLess, SortsAShuffledList) {
  std::mt19937 random(20240601);
  for (int round = 0; round < 20; ++round) {
    std::vector<std::string> names = kOrdered;
    std::shuffle(names.begin(), names.end(), random);
    std::sort(names.begin(), names.end(),
              [](const std::string& a, const std::string& b) { return LogicalNameLess(a, b); });
    EXPECT_EQ(names, kOrdered);
  }
}

}  // namespace
