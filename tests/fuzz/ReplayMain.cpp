// Stand-in for libFuzzer's driver in the gcc sanitizer build: runs every seed file of the given
// folders or files through LLVMFuzzerTestOneInput, then deterministic mutations of the seeds (fixed
// generator seed; bit flips, byte inserts and deletes, interesting values, splices) until a count or
// a time budget runs out. A crash leaves the failing input in fuzz-crash-<target> in the working folder.
#include <fcntl.h>
#include <sanitizer/common_interface_defs.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace {

using Bytes = std::vector<uint8_t>;

// The input being run, written out when a sanitizer ends the process.
const Bytes* current = nullptr;
std::string crashFile;

// Called from a sanitizer's death callback or an abort signal: plain system calls only.
void SaveCurrentInput() {
  if (current == nullptr) return;
  const int fd = open(crashFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (fd < 0) return;
  [[maybe_unused]] const ssize_t written = write(fd, current->data(), current->size());
  close(fd);
  static constexpr char kNote[] = "replay: failing input written to ";
  [[maybe_unused]] ssize_t n = write(STDERR_FILENO, kNote, sizeof kNote - 1);
  n = write(STDERR_FILENO, crashFile.c_str(), crashFile.size());
  n = write(STDERR_FILENO, "\n", 1);
  current = nullptr;
}

// A broken property of a target aborts without going through a sanitizer.
void OnAbort(int signal) {
  SaveCurrentInput();
  std::signal(signal, SIG_DFL);
  std::raise(signal);
}

void Run(const Bytes& input) {
  current = &input;
  // A copy of the exact size, so that reads past the input's end are seen by AddressSanitizer.
  Bytes exact(input);
  LLVMFuzzerTestOneInput(exact.empty() ? nullptr : exact.data(), exact.size());
  current = nullptr;
}

// SplitMix64: a fixed, portable sequence.
class Random {
 public:
  explicit Random(uint64_t seed) : state_(seed) {}
  uint64_t Next() {
    uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }
  size_t Below(size_t n) { return n == 0 ? 0 : static_cast<size_t>(Next() % n); }

 private:
  uint64_t state_;
};

constexpr uint8_t kInteresting[] = {0x00, 0x01, 0x7F, 0x80, 0xFF, 0xD3, '\r', '\n', ',', '*', '$', '/', '=', ' '};

void Mutate(Bytes& b, const std::vector<Bytes>& seeds, Random& random, size_t maxSize) {
  switch (random.Below(7)) {
    case 0:  // flip a bit
      if (!b.empty()) b[random.Below(b.size())] ^= static_cast<uint8_t>(1u << random.Below(8));
      break;
    case 1:  // insert a random byte
      if (b.size() < maxSize) b.insert(b.begin() + static_cast<long>(random.Below(b.size() + 1)), random.Next() & 0xFF);
      break;
    case 2: {  // delete a run of bytes
      if (b.empty()) break;
      const size_t at = random.Below(b.size());
      const size_t n = 1 + random.Below(std::min<size_t>(16, b.size() - at));
      b.erase(b.begin() + static_cast<long>(at), b.begin() + static_cast<long>(at + n));
      break;
    }
    case 3:  // overwrite with a value that parsers treat specially
      if (!b.empty()) b[random.Below(b.size())] = kInteresting[random.Below(sizeof kInteresting)];
      break;
    case 4: {  // splice: a head of this input and a tail of another seed
      const Bytes& other = seeds[random.Below(seeds.size())];
      const size_t head = random.Below(b.size() + 1);
      const size_t from = random.Below(other.size() + 1);
      b.resize(head);
      b.insert(b.end(), other.begin() + static_cast<long>(from), other.end());
      break;
    }
    case 5: {  // duplicate a run of bytes in place
      if (b.empty()) break;
      const size_t at = random.Below(b.size());
      const size_t n = 1 + random.Below(std::min<size_t>(64, b.size() - at));
      const Bytes run(b.begin() + static_cast<long>(at), b.begin() + static_cast<long>(at + n));
      b.insert(b.begin() + static_cast<long>(random.Below(b.size() + 1)), run.begin(), run.end());
      break;
    }
    default:  // cut the end off
      b.resize(random.Below(b.size() + 1));
      break;
  }
  if (b.size() > maxSize) b.resize(maxSize);
}

bool ReadFile(const std::filesystem::path& path, Bytes& out) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  out.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return true;
}

}  // namespace

// replay [-runs=N] [-seconds=S] [-max_len=N] PATH...: PATH is a seed file or a folder of them.
int main(int argc, char** argv) {
  size_t runs = 20000;
  double seconds = 2.0;
  size_t maxLen = 8192;
  std::vector<std::filesystem::path> paths;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg.rfind("-runs=", 0) == 0) runs = std::strtoull(arg.c_str() + 6, nullptr, 10);
    else if (arg.rfind("-seconds=", 0) == 0) seconds = std::strtod(arg.c_str() + 9, nullptr);
    else if (arg.rfind("-max_len=", 0) == 0) maxLen = std::strtoull(arg.c_str() + 9, nullptr, 10);
    else paths.emplace_back(arg);
  }
  crashFile = "fuzz-crash-" + std::filesystem::path(argv[0]).filename().string();
  __sanitizer_set_death_callback(SaveCurrentInput);
  std::signal(SIGABRT, OnAbort);

  std::vector<std::filesystem::path> files;
  for (const auto& path : paths) {
    if (std::filesystem::is_directory(path)) {
      for (const auto& item : std::filesystem::directory_iterator(path))
        if (item.is_regular_file()) files.push_back(item.path());
    } else {
      files.push_back(path);
    }
  }
  std::sort(files.begin(), files.end());
  std::vector<Bytes> seeds;
  for (const auto& file : files) {
    Bytes bytes;
    if (!ReadFile(file, bytes)) {
      std::fprintf(stderr, "replay: cannot read %s\n", file.c_str());
      return 2;
    }
    seeds.push_back(std::move(bytes));
  }
  if (seeds.empty()) {
    std::fprintf(stderr, "replay: no seed files\n");
    return 2;
  }
  for (const Bytes& seed : seeds) Run(seed);

  Random random(0x4B6176726FULL);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
  size_t done = 0;
  for (; done < runs; ++done) {
    if (done % 64 == 0 && std::chrono::steady_clock::now() >= deadline) break;
    Bytes input = seeds[random.Below(seeds.size())];
    const size_t steps = 1 + random.Below(4);
    for (size_t s = 0; s < steps; ++s) Mutate(input, seeds, random, maxLen);
    Run(input);
  }
  std::printf("replay: %zu seeds, %zu mutations\n", seeds.size(), done);
  return 0;
}
