// Runs a fuzz target's entry point once per input file, without libFuzzer:
//   fuzz_scan_replay <file-or-directory>...
// Directories are read one level deep, their files in name order. Each name
// is printed before its input runs, so a crash or hang points at its file.
// Exits non-zero when an argument cannot be read or no input was found, so a
// missing or empty corpus never passes as a clean replay.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <system_error>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace fs = std::filesystem;

namespace {

bool run_file(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    std::fprintf(stderr, "cannot read %s\n", path.c_str());
    return false;
  }
  std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)),
                             std::istreambuf_iterator<char>());
  std::printf("%s (%zu bytes)\n", path.c_str(), bytes.size());
  std::fflush(stdout);
  // An empty input still gets a valid pointer, as libFuzzer gives it.
  static const uint8_t none = 0;
  LLVMFuzzerTestOneInput(bytes.empty() ? &none : bytes.data(), bytes.size());
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s <file-or-directory>...\n", argv[0]);
    return 2;
  }
  size_t ran = 0;
  bool ok = true;
  for (int i = 1; i < argc; i++) {
    std::error_code ec;
    fs::path arg(argv[i]);
    std::vector<fs::path> files;
    if (fs::is_directory(arg, ec)) {
      for (const auto& entry : fs::directory_iterator(arg, ec))
        if (entry.is_regular_file(ec)) files.push_back(entry.path());
      if (ec) {
        std::fprintf(stderr, "cannot list %s: %s\n", argv[i], ec.message().c_str());
        ok = false;
      }
      std::sort(files.begin(), files.end());
    } else {
      files.push_back(arg);
    }
    for (const fs::path& f : files) {
      if (run_file(f))
        ran++;
      else
        ok = false;
    }
  }
  std::printf("%zu inputs replayed\n", ran);
  if (ran == 0) std::fprintf(stderr, "no inputs found\n");
  return ok && ran > 0 ? 0 : 1;
}
