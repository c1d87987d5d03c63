// Replays fuzz inputs without libFuzzer: calls LLVMFuzzerTestOneInput once
// for every file of the directories (or the files) named on the command line,
// in name order.  A directory that does not exist is skipped.  A failed
// property aborts, so the test fails with the name of the input printed last.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* aData, size_t nData);

namespace {

bool replayFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    std::fprintf(stderr, "cannot read %s\n", path.c_str());
    return false;
  }
  std::vector<char> aData((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::fprintf(stderr, "replaying %s\n", path.c_str());
  std::fflush(stderr);
  // An input of its own allocation, exactly sized, so that a read beyond it is caught.
  std::vector<uint8_t> aCopy(aData.begin(), aData.end());
  LLVMFuzzerTestOneInput(aCopy.empty() ? nullptr : aCopy.data(), aCopy.size());
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  int nRun = 0;
  bool bOk = true;
  for (int i = 1; i < argc; i++) {
    const std::filesystem::path path(argv[i]);
    std::error_code ec;
    if (std::filesystem::is_directory(path, ec)) {
      std::vector<std::filesystem::path> aFile;
      for (const auto& entry : std::filesystem::directory_iterator(path)) {
        if (entry.is_regular_file()) aFile.push_back(entry.path());
      }
      std::sort(aFile.begin(), aFile.end());
      for (const auto& file : aFile) {
        bOk = replayFile(file) && bOk;
        nRun++;
      }
    } else if (std::filesystem::is_regular_file(path, ec)) {
      bOk = replayFile(path) && bOk;
      nRun++;
    }
  }
  std::printf("%d inputs replayed\n", nRun);
  if (nRun == 0) {
    std::fprintf(stderr, "no inputs found\n");
    return 1;
  }
  return bOk ? 0 : 1;
}
