// Time of one card export (statement built, parsed, the pages it needs read,
// the row appended in place behind the undo journal, journal and file
// flushed) against a card database already holding N cards.
// The file is filled in memory first, then written once.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "bench_support.h"
#include "export/card_export.h"
#include "export/jet4/jet4_file.h"
#include "export/jet4/jet4_image.h"
#include "export/jet4/jet4_replace.h"
#include "io/file_io.h"

namespace autodeliver {
namespace {

// Writes the file and flushes it, so that the appends measured do not pay
// for writing out the whole freshly made file.
void WriteFlushed(const std::string& path, const std::string& bytes) {
  int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0 || !WriteFully(DefaultFileIo(), fd, bytes.data(), bytes.size(), 0) || ::fsync(fd) != 0)
    std::abort();
  ::close(fd);
}

void FillCards(const std::string& path, long cards) {
  jet4::Image image(jet4::CardDatabaseImage());
  jet4::TableDef def = image.ReadTableDef(*image.FindTable(u"biao"));
  for (long i = 0; i < cards; ++i) {
    std::string n = std::to_string(i);
    std::vector<jet4::CellBytes> cells = {
        jet4::EncodeText(std::u16string(u"2012112012") + std::u16string(n.begin(), n.end()), true),
        jet4::EncodeText(u"CARD-0000-0000-" + std::u16string(n.begin(), n.end()), true),
        jet4::EncodeText(u"PW-" + std::u16string(n.begin(), n.end()), true)};
    image.AppendRow(def, jet4::EncodeRow(def, cells));
  }
  WriteFlushed(path, image.bytes());
}

void BM_ExportCard(benchmark::State& state) {
  const bench::TempFolder folder;
  const std::string& dir = folder.path();
  const std::string path = folder / "card.mdb";
  FillCards(path, state.range(0));
  long i = 0;
  for (auto _ : state) {
    const bool ok = ExportCardToAccessAt(dir, "201211201234", "CARD-" + std::to_string(i++), "9x7").ok();
    if (!ok) state.SkipWithError("export failed");
  }
  state.counters["file_KiB"] = static_cast<double>(std::filesystem::file_size(path)) / 1024.0;
}
BENCHMARK(BM_ExportCard)->Arg(0)->Arg(1000)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace autodeliver

BENCHMARK_MAIN();
