// The argument text, the command-line split and the open dialog's result.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "batch/command_line.h"
#include "batch/input_list.h"
#include "batch/selection.h"

namespace {

// Every path the command line yields, walked as the batch walks it.
std::vector<std::string> SplitAll(std::string_view argumentText) {
  BatchInput job;
  CaptureArguments(job, argumentText);
  std::vector<std::string> paths;
  if (BeginBatch(job) != InputMode::kCommandLine)
    return paths;
  while (job.currentFile < job.commandLineLength) {
    paths.emplace_back(SplitCurrentPath(job));
    EXPECT_GT(job.nextStart, job.currentFile);
    job.currentFile = job.nextStart;
  }
  return paths;
}

struct CaptureCase {
  std::string_view argumentText;
  std::string_view kept;
};

TEST(CaptureArguments, DropsEveryDoubleQuoteAndKeepsTheRest) {
  const CaptureCase cases[] = {
      {"", ""},
      {"\"\"", ""},
      {"\"\"\"\"", ""},
      {"\"C:\\My Pictures\\a b.jpg\"", "C:\\My Pictures\\a b.jpg"},
      {"C:\\a\"b.jpg", "C:\\ab.jpg"},
      {"  lead and trail  ", "  lead and trail  "},
      {"\"C:\\x.jpg\" \"C:\\y.jpg\"", "C:\\x.jpg C:\\y.jpg"},
  };
  for (const auto& c : cases) {
    BatchInput job;
    CaptureArguments(job, c.argumentText);
    EXPECT_EQ(job.commandLineLength, c.kept.size()) << c.argumentText;
    EXPECT_EQ(std::string_view(job.CommandLineBuffer.data()), c.kept) << c.argumentText;
  }
}

TEST(CaptureArguments, KeepsATextFarLongerThanAnyFixedBuffer) {
  std::string text;
  for (int i = 0; i < 2000; ++i)
    text += "\"C:\\photos\\img" + std::to_string(i) + ".jpg\" ";
  text.pop_back();
  const std::vector<std::string> paths = SplitAll(text);
  ASSERT_EQ(paths.size(), 2000u);
  EXPECT_EQ(paths.front(), "C:\\photos\\img0.jpg");
  EXPECT_EQ(paths.back(), "C:\\photos\\img1999.jpg");
}

TEST(BeginBatch, ChoosesTheModeByTheCommandLine) {
  BatchInput withArguments;
  CaptureArguments(withArguments, "C:\\a.jpg");
  withArguments.currentFile = 7;
  EXPECT_EQ(BeginBatch(withArguments), InputMode::kCommandLine);
  EXPECT_EQ(withArguments.currentFile, 0u);
  EXPECT_EQ(std::string(withArguments.SplitPrefix.data(), 3), "C:\\");

  BatchInput quotesOnly;
  CaptureArguments(quotesOnly, "\"\"");
  EXPECT_EQ(BeginBatch(quotesOnly), InputMode::kSelection);

  BatchInput none;
  EXPECT_EQ(BeginBatch(none), InputMode::kSelection);
}

TEST(BeginBatch, ShortCommandLinesTakeZeroBytesIntoThePrefix) {
  BatchInput job;
  CaptureArguments(job, "ab");
  BeginBatch(job);
  EXPECT_EQ(std::string(job.SplitPrefix.data(), 3), std::string("ab\0", 3));
}

struct SplitCase {
  std::string_view argumentText;
  std::vector<std::string> paths;
};

TEST(SplitCurrentPath, FindsEachPathWhereTheFirstThreeCharactersRecur) {
  const SplitCase cases[] = {
      {"C:\\pics\\img.jpg", {"C:\\pics\\img.jpg"}},
      {"\"C:\\pics\\a.jpg\" \"C:\\pics\\b.jpg\"", {"C:\\pics\\a.jpg", "C:\\pics\\b.jpg"}},
      {"C:\\a.jpg C:\\b c.jpg C:\\d.jpg", {"C:\\a.jpg", "C:\\b c.jpg", "C:\\d.jpg"}},
      // Other drives, or the same drive in other case, do not split.
      {"C:\\a.jpg D:\\b.jpg", {"C:\\a.jpg D:\\b.jpg"}},
      {"c:\\a.jpg C:\\b.jpg", {"c:\\a.jpg C:\\b.jpg"}},
      // A repetition inside a name cuts it there.
      {"abcabc.jpg", {"ab", "abc.jpg"}},
      {"a", {"a"}},
      {"ab", {"ab"}},
      // The repetition right after the first character leaves an empty path.
      {"aaaa", {"", "aaa"}},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(SplitAll(c.argumentText), c.paths) << c.argumentText;
  }
}

TEST(SplitCurrentPath, NextStartPointsAtTheRepetition) {
  BatchInput job;
  CaptureArguments(job, "abcabc.jpg");
  BeginBatch(job);
  EXPECT_STREQ(SplitCurrentPath(job), "ab");
  EXPECT_EQ(job.nextStart, 3u);
}

// Fills the open dialog's result: the strings given, each ended by a zero
// byte, then the closing zero byte, cut at the buffer's end as Wine's dialog
// cuts a list too long for it.
void SetSelection(BatchInput& job, const std::vector<std::string>& strings) {
  std::string result;
  for (const auto& s : strings)
    result.append(s).push_back('\0');
  result.push_back('\0');
  auto& buffer = job.SelectionBuffer;
  std::fill(buffer.begin(), buffer.end(), '\0');
  std::copy_n(result.begin(), std::min(result.size(), buffer.size()), buffer.begin());
}

std::vector<std::string> SelectedPaths(BatchInput& job) {
  EXPECT_TRUE(ParseSelection(job));
  std::vector<std::string> paths;
  for (int32_t k = 0; k < job.fileCount; ++k) {
    paths.emplace_back(BuildSelectedPath(job, static_cast<size_t>(k)) ? job.inputPath.data()
                                                                      : "<too long>");
  }
  return paths;
}

TEST(Selection, OneFileIsTheFullPathAsReturned) {
  BatchInput job;
  SetSelection(job, {"C:\\pics\\img.jpg"});
  EXPECT_EQ(SelectedPaths(job), std::vector<std::string>{"C:\\pics\\img.jpg"});
  EXPECT_EQ(job.fileCount, 1);
  EXPECT_EQ(job.directoryLength, 0u);
}

TEST(Selection, SeveralFilesAreFolderBackslashNameInTheDialogsOrder) {
  BatchInput job;
  SetSelection(job, {"C:\\pics", "b.jpg", "a.jpg", "c d.jpg"});
  EXPECT_EQ(SelectedPaths(job),
            (std::vector<std::string>{"C:\\pics\\b.jpg", "C:\\pics\\a.jpg", "C:\\pics\\c d.jpg"}));
  EXPECT_EQ(job.directoryLength, 7u);
}

TEST(Selection, ABackslashIsAlwaysInsertedAfterTheFolder) {
  BatchInput job;
  SetSelection(job, {"C:\\", "a.jpg", "b.jpg"});
  EXPECT_EQ(SelectedPaths(job), (std::vector<std::string>{"C:\\\\a.jpg", "C:\\\\b.jpg"}));
}

TEST(Selection, AnEmptyFolderBeforeNamesIsStillAFolder) {
  BatchInput job;
  SetSelection(job, {"", "a.jpg", "b.jpg"});
  EXPECT_EQ(SelectedPaths(job), (std::vector<std::string>{"\\a.jpg", "\\b.jpg"}));
}

// Names of eight bytes and their zero, "n0000000" onwards, after the folder
// C:\p: as many as make a result of `bytes` bytes, the last name longer to
// make up the rest.
std::vector<std::string> NamesFilling(size_t bytes) {
  std::vector<std::string> strings{"C:\\p"};
  size_t used = strings[0].size() + 2;  // its zero and the closing one
  while (used + 9 <= bytes) {
    char name[16];
    std::snprintf(name, sizeof name, "n%07zu", strings.size() - 1);
    strings.emplace_back(name);
    used += 9;
  }
  strings.back().append(bytes - used, 'x');
  return strings;
}

TEST(Selection, KeepsEveryNameOfAResultThatFillsTheBuffer) {
  // Its closing zero is the buffer's last byte: whole, far past any
  // 100-entry table.
  BatchInput job;
  const std::vector<std::string> strings = NamesFilling(kSelectionBytes);
  SetSelection(job, strings);
  ASSERT_EQ(job.SelectionBuffer.back(), '\0');
  ASSERT_NE(job.SelectionBuffer[kSelectionBytes - 3], '\0');
  const auto paths = SelectedPaths(job);
  ASSERT_EQ(paths.size(), strings.size() - 1);
  ASSERT_GT(paths.size(), 3600u);
  EXPECT_EQ(paths[0], "C:\\p\\n0000000");
  EXPECT_EQ(paths.back(), "C:\\p\\" + strings.back());
}

TEST(Selection, AResultCutAtTheBuffersEndIsNoChoice) {
  // Wine hands over the list's first bytes when it is longer than the
  // buffer; what is left must not pass for the files chosen.
  const std::vector<std::vector<std::string>> cuts = {
      NamesFilling(kSelectionBytes + 1),   // the closing zero lost
      NamesFilling(kSelectionBytes + 2),   // and the last name's zero
      NamesFilling(kSelectionBytes + 9),   // the last name cut before its end
      NamesFilling(2 * kSelectionBytes),   // many names lost
      {std::string(kSelectionBytes, 'x')}  // one path without an end
  };
  for (const auto& strings : cuts) {
    BatchInput job;
    SetSelection(job, strings);
    EXPECT_FALSE(ParseSelection(job)) << strings.size() << " strings";
    EXPECT_EQ(job.fileCount, 0);
    EXPECT_TRUE(job.nameOffsets.empty());
    EXPECT_EQ(job.inputPath[0], '\0');
  }
}

TEST(Selection, APathThatDoesNotFitIsReportedNotTruncated) {
  BatchInput job;
  const std::string folder = "C:\\" + std::string(250, 'f');
  SetSelection(job, {folder, "short.jpg", std::string(3, 'n')});
  const auto paths = SelectedPaths(job);
  EXPECT_EQ(paths[0], "<too long>");
  EXPECT_EQ(paths[1], folder + "\\nnn");  // 253 + 1 + 3 still fits
}

}  // namespace
