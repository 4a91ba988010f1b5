// Every file of every fuzz target's corpus (fuzz/corpus/<target>) fed to the
// target's entry, as the fuzzer feeds it. A broken property aborts the
// target, and with it this test.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>

#include "fuzz_targets.h"

namespace autodeliver::fuzz {
namespace {

class CorpusReplayTest : public ::testing::TestWithParam<Target> {};

TEST_P(CorpusReplayTest, EveryCorpusFileRunsCleanly) {
  const std::filesystem::path dir =
      std::filesystem::path(AUTODELIVER_SOURCE_DIR) / "fuzz/corpus" / GetParam().name;
  ASSERT_TRUE(std::filesystem::is_directory(dir)) << dir;
  std::vector<std::filesystem::path> files;
  for (const auto& entry : std::filesystem::directory_iterator(dir)) {
    if (entry.is_regular_file()) files.push_back(entry.path());
  }
  std::sort(files.begin(), files.end());
  ASSERT_GE(files.size(), 3u) << "a corpus of a few seeds at least";
  for (const std::filesystem::path& file : files) {
    // Named before the run: a broken property ends the process.
    std::fprintf(stderr, "replaying %s\n", file.c_str());
    const std::string bytes = ReadFile(file.string());
    EXPECT_EQ(GetParam().run(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()), 0) << file;
  }
}

INSTANTIATE_TEST_SUITE_P(Targets, CorpusReplayTest, ::testing::ValuesIn(Targets()),
                         [](const ::testing::TestParamInfo<Target>& info) {
                           return std::string(info.param.name);
                         });

}  // namespace
}  // namespace autodeliver::fuzz
